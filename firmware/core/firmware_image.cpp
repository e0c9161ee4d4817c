#include "firmware/core/firmware_image.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace kelvara::firmware {
namespace {

namespace off = header_offset;

std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

FirmwarePart GetPart(const std::uint8_t* p) { return {GetU32(p), GetU32(p + 4), GetU32(p + 8)}; }

void PutPart(std::uint8_t* p, const FirmwarePart& part) {
  PutU32(p, part.offset);
  PutU32(p + 4, part.size);
  PutU32(p + 8, part.crc);
}

std::string NameOf(const std::array<char, kFirmwareNameSize>& name) {
  const void* nul = std::memchr(name.data(), '\0', name.size());
  const std::size_t n = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - name.data()) : name.size();
  return std::string(name.data(), n);
}

}  // namespace

const FirmwarePart& FirmwareImageHeader::Part(int index) const {
  switch (index) {
    case 0: return kernel;
    case 1: return rootfs;
    case 2: return uboot;
    case 3: return tgz;
    default: return oem;
  }
}

std::string FirmwareImageHeader::KernelName() const { return NameOf(kernel_name); }
std::string FirmwareImageHeader::RootfsName() const { return NameOf(rootfs_name); }

const char* HeaderErrorText(HeaderError error) {
  switch (error) {
    case HeaderError::kNone: return "valid image";
    case HeaderError::kOpen: return "the file cannot be opened";
    case HeaderError::kShort: return "the file is shorter than an image header";
    case HeaderError::kCrc: return "header CRC error";
    case HeaderError::kSize: return "the image size differs from the file size";
    case HeaderError::kMagic: return "unknown image magic";
    case HeaderError::kPartSum: return "the part sizes do not add up to the image size";
    case HeaderError::kPartLayout: return "the parts do not follow the header in order inside the file";
    case HeaderError::kPartCrc: return "a part's CRC does not match its content";
  }
  return "unknown error";
}

std::uint32_t FirmwareCrc32(const void* data, std::size_t length) {
  uLong crc = crc32(0L, Z_NULL, 0);
  const auto* p = static_cast<const Bytef*>(data);
  // zlib takes a uInt length: feed large buffers in pieces.
  while (length > 0) {
    const uInt n = static_cast<uInt>(std::min<std::size_t>(length, 1u << 30));
    crc = crc32(crc, p, n);
    p += n;
    length -= n;
  }
  return static_cast<std::uint32_t>(crc);
}

std::uint32_t FirmwareHeaderCrc(const std::uint8_t* header) {
  std::array<std::uint8_t, kFirmwareHeaderSize> copy;
  std::memcpy(copy.data(), header, kFirmwareHeaderSize);
  PutU32(copy.data() + off::kHeaderCrc, 0);
  return FirmwareCrc32(copy.data(), copy.size());
}

bool HasFirmwareMagic(const std::uint8_t* first8) {
  return std::memcmp(first8, kFirmwareMagic, 8) == 0 || std::memcmp(first8, kFirmwareMagicAlt, 8) == 0;
}

FirmwareImageHeader DecodeFirmwareHeader(const std::uint8_t* b) {
  FirmwareImageHeader h;
  std::memcpy(h.magic.data(), b + off::kMagic, 8);
  h.header_crc = GetU32(b + off::kHeaderCrc);
  h.file_size = GetU32(b + off::kFileSize);
  h.flags = GetU32(b + off::kFlags);
  h.kernel = GetPart(b + off::kKernel);
  std::memcpy(h.kernel_name.data(), b + off::kKernelName, kFirmwareNameSize);
  h.rootfs.offset = GetU32(b + off::kRootfs);
  h.rootfs.size = GetU32(b + off::kRootfs + 4);
  std::memcpy(h.rootfs_name.data(), b + off::kRootfsName, kFirmwareNameSize);
  h.rootfs.crc = GetU32(b + off::kRootfsCrc);
  h.uboot = GetPart(b + off::kUboot);
  h.tgz = GetPart(b + off::kTgz);
  h.oem = GetPart(b + off::kOem);
  return h;
}

std::array<std::uint8_t, kFirmwareHeaderSize> EncodeFirmwareHeader(const FirmwareImageHeader& h) {
  std::array<std::uint8_t, kFirmwareHeaderSize> b{};
  std::memcpy(b.data() + off::kMagic, h.magic.data(), 8);
  PutU32(b.data() + off::kHeaderCrc, h.header_crc);
  PutU32(b.data() + off::kFileSize, h.file_size);
  PutU32(b.data() + off::kFlags, h.flags);
  PutPart(b.data() + off::kKernel, h.kernel);
  std::memcpy(b.data() + off::kKernelName, h.kernel_name.data(), kFirmwareNameSize);
  PutU32(b.data() + off::kRootfs, h.rootfs.offset);
  PutU32(b.data() + off::kRootfs + 4, h.rootfs.size);
  std::memcpy(b.data() + off::kRootfsName, h.rootfs_name.data(), kFirmwareNameSize);
  PutU32(b.data() + off::kRootfsCrc, h.rootfs.crc);
  PutPart(b.data() + off::kUboot, h.uboot);
  PutPart(b.data() + off::kTgz, h.tgz);
  PutPart(b.data() + off::kOem, h.oem);
  return b;
}

HeaderError ParseFirmwareHeader(const std::uint8_t* bytes, std::uint64_t file_length, FirmwareImageHeader& out) {
  const FirmwareImageHeader h = DecodeFirmwareHeader(bytes);
  if (FirmwareHeaderCrc(bytes) != h.header_crc) return HeaderError::kCrc;
  if (h.file_size != file_length) return HeaderError::kSize;
  if (!HasFirmwareMagic(bytes)) return HeaderError::kMagic;
  std::uint64_t sum = kFirmwareHeaderSize;
  for (int i = 0; i < kFirmwarePartCount; ++i)
    if (h.Has(i)) sum += h.Part(i).size;
  if (sum != h.file_size) return HeaderError::kPartSum;
  // Each present part starts where the previous one ended; absent parts are all zero.
  if ((h.flags & ~0x1Fu) != 0) return HeaderError::kPartLayout;
  std::uint64_t next = kFirmwareHeaderSize;
  for (int i = 0; i < kFirmwarePartCount; ++i) {
    const FirmwarePart& p = h.Part(i);
    if (!h.Has(i)) {
      if (p.offset != 0 || p.size != 0 || p.crc != 0) return HeaderError::kPartLayout;
      continue;
    }
    if (p.offset != next) return HeaderError::kPartLayout;
    next += p.size;
    if (next > file_length) return HeaderError::kPartLayout;
  }
  out = h;
  return HeaderError::kNone;
}

FirmwareHeaderResult ReadFirmwareHeader(const std::filesystem::path& path) {
  FirmwareHeaderResult r;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    r.error = HeaderError::kOpen;
    r.detail = std::strerror(errno);
    return r;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  if (end < 0) {
    r.error = HeaderError::kOpen;
    r.detail = "not a seekable file";
    return r;
  }
  r.file_length = static_cast<std::uint64_t>(end);
  in.seekg(0);
  std::array<std::uint8_t, kFirmwareHeaderSize> bytes;
  if (!in.read(reinterpret_cast<char*>(bytes.data()), bytes.size())) {
    r.error = HeaderError::kShort;
    return r;
  }
  r.error = ParseFirmwareHeader(bytes.data(), r.file_length, r.header);
  if (r.error != HeaderError::kNone) r.header = DecodeFirmwareHeader(bytes.data());
  return r;
}

namespace {

// The check's diagnostics on standard output, one line per refused file. A size
// or magic mismatch, or parts that do not add up, refuse the file as well: an
// image whose header disagrees with its content is never offered to a device.
void PrintHeaderCheckLine(const std::filesystem::path& path, const FirmwareHeaderResult& r) {
  switch (r.error) {
    case HeaderError::kNone: return;
    case HeaderError::kOpen: std::printf("open file (%s) fail(%s)\n", path.c_str(), r.detail.c_str()); break;
    case HeaderError::kShort: std::printf("read error\n"); break;
    case HeaderError::kCrc: std::printf("crc error\n"); break;
    case HeaderError::kSize:
      std::printf("size error(header->file_size = %u, total_size = %llu\n", r.header.file_size,
                  static_cast<unsigned long long>(r.file_length));
      break;
    case HeaderError::kMagic: std::printf("magic number error\n"); break;
    case HeaderError::kPartSum: std::printf("size error\n"); break;
    case HeaderError::kPartLayout: std::printf("part layout error\n"); break;
    case HeaderError::kPartCrc: std::printf("part crc error\n"); break;
  }
  std::fflush(stdout);
}

}  // namespace

int CheckFirmwareHeader(const std::filesystem::path& path, FirmwareImageHeader* header, std::uint64_t* file_length,
                        std::uint32_t* kernel_size, std::uint32_t* rootfs_size, std::uint32_t* uboot_size,
                        std::uint32_t* tgz_size, std::uint32_t* oem_size) {
  std::uint32_t* sizes[kFirmwarePartCount] = {kernel_size, rootfs_size, uboot_size, tgz_size, oem_size};
  for (auto* s : sizes)
    if (s) *s = 0;
  const FirmwareHeaderResult r = ReadFirmwareHeader(path);
  if (file_length) *file_length = r.file_length;
  PrintHeaderCheckLine(path, r);
  if (r.error != HeaderError::kNone) return -1;
  if (header) *header = r.header;
  for (int i = 0; i < kFirmwarePartCount; ++i)
    if (sizes[i] && r.header.Has(i)) *sizes[i] = r.header.Part(i).size;
  return 0;
}

HeaderError CheckFirmwareParts(const std::filesystem::path& path, const FirmwareImageHeader& header) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return HeaderError::kOpen;
  std::vector<char> buf(1 << 20);
  for (int i = 0; i < kFirmwarePartCount; ++i) {
    if (!header.Has(i)) continue;
    const FirmwarePart& p = header.Part(i);
    in.seekg(p.offset);
    uLong crc = crc32(0L, Z_NULL, 0);
    std::uint64_t left = p.size;
    while (left > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buf.size()));
      if (!in.read(buf.data(), static_cast<std::streamsize>(n))) return HeaderError::kShort;
      crc = crc32(crc, reinterpret_cast<const Bytef*>(buf.data()), static_cast<uInt>(n));
      left -= n;
    }
    if (static_cast<std::uint32_t>(crc) != p.crc) return HeaderError::kPartCrc;
  }
  return HeaderError::kNone;
}

}  // namespace kelvara::firmware
