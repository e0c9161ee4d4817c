#!/usr/bin/env python3
"""Reference model of the broadcast resampler's arithmetic.

usage: resample_model.py OUT_CH IN_CH OUT_RATE IN_RATE CHUNK_FRAMES INPUT OUTPUT

INPUT is interleaved 16-bit little-endian PCM, converted in pieces of
CHUNK_FRAMES sample frames; OUTPUT receives the converted PCM.
Float arithmetic is single precision, like the converter's.
"""
import math
import struct
import sys


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def sat(v):
    return max(-32768, min(32767, v))


class Channel:
    def __init__(self, ratio):
        a = f32(1.0 / ratio)
        self.int_ratio = max(1, int(math.floor(a)))
        self.increment = int(f32(f32(a / self.int_ratio) * 65536.0))
        self.fraction = 65536
        self.last = 0
        self.countdown = self.int_ratio
        self.sum = 0
        self.reciprocal = 65536 // self.int_ratio

    def step(self, samples):
        if self.int_ratio > 1:
            reduced = []
            for s in samples:
                self.sum += s
                self.countdown -= 1
                if self.countdown == 0:
                    reduced.append(sat((self.sum * self.reciprocal) >> 16))
                    self.sum = 0
                    self.countdown = self.int_ratio
            samples = reduced
        if self.increment == 65536:
            return list(samples)
        out = []
        if not samples:
            return out
        p, c, nxt = self.last, samples[0], 1
        while True:
            out.append(sat((p * (65536 - self.fraction) + c * self.fraction) >> 16))
            self.fraction += self.increment
            while self.fraction > 65535:
                self.fraction -= 65536
                if nxt >= len(samples):
                    self.last = c
                    return out
                p, c = c, samples[nxt]
                nxt += 1


def main():
    out_ch, in_ch, out_rate, in_rate, chunk = (int(v) for v in sys.argv[1:6])
    data = open(sys.argv[6], "rb").read()
    pcm = list(struct.unpack("<%dh" % (len(data) // 2), data))
    ratio = f32(f32(float(out_rate)) / f32(float(in_rate)))
    filters = [Channel(ratio) for _ in range(min(in_ch, out_ch, 2))]
    result = []
    for start in range(0, len(pcm) // in_ch, chunk):
        frames = pcm[start * in_ch:(start + chunk) * in_ch]
        n = len(frames) // in_ch
        if in_ch == 2 and out_ch == 1:
            streams = [[(frames[2 * i] + frames[2 * i + 1]) >> 1 for i in range(n)]]
        elif in_ch == 1:
            streams = [frames[:n]]
        else:
            streams = [frames[0:2 * n:2], frames[1:2 * n:2]]
        outs = [f.step(s) for f, s in zip(filters, streams)]
        m = len(outs[-1])
        if out_ch == 2 and len(filters) == 1:
            for v in outs[0][:m]:
                result += [v, v]
        elif out_ch == 2:
            for i in range(m):
                result += [outs[0][i], outs[1][i]]
        else:
            result += outs[0][:m]
    open(sys.argv[7], "wb").write(struct.pack("<%dh" % len(result), *result))


if __name__ == "__main__":
    main()
