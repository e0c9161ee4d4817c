#!/usr/bin/env bash
# Makes the MP3 test files in folder $1 with Debian's encoders: LAME through
# ffmpeg at every MPEG sampling rate, mono and stereo, CBR and VBR, with and
# without the Xing/Info frame, ID3v2.3/2.4 and ID3v1; APEv2 through mutagen.
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
tone() {  # name rate channels seconds encoder-options...
  local name=$1 rate=$2 ch=$3 secs=$4
  shift 4
  ffmpeg -v error -nostdin -y -f lavfi -i "sine=frequency=440:sample_rate=$rate:duration=$secs" \
    -ac "$ch" -c:a libmp3lame "$@" "$name"
}
for rate in 8000 11025 12000 16000 22050 24000 32000 44100 48000; do
  tone "cbr_${rate}_mono.mp3" $rate 1 1 -b:a 32k -id3v2_version 0 -write_xing 0
  tone "vbr_${rate}_stereo.mp3" $rate 2 1 -q:a 4 -id3v2_version 4
done
tone cbr_44100_stereo_xing.mp3 44100 2 2 -b:a 128k -id3v2_version 3 -write_id3v1 1 \
  -metadata title=Tone -metadata track=7
tone vbr_44100_stereo_id3v1.mp3 44100 2 2 -q:a 2 -id3v2_version 4 -write_id3v1 1 -metadata title=Tone
tone plain_44100_stereo.mp3 44100 2 2 -b:a 128k -id3v2_version 0 -write_xing 0
# APEv2 (with header) after the audio, then the ID3v1 tag again after it.
/usr/bin/python3 - vbr_44100_stereo_id3v1.mp3 ape_id3v1.mp3 <<'PY'
import sys
from mutagen.apev2 import APEv2
data = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(data[:-128])
t = APEv2()
t["Title"] = "Broadcast tone"
t["Artist"] = "Kelvara tests"
t.save(sys.argv[2])
open(sys.argv[2], "ab").write(data[-128:])
PY
