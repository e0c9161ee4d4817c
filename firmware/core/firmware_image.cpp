#include "firmware/core/firmware_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
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
    case HeaderError::kTruncated: return "truncated image: a part ends beyond the end of the file";
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
  for (int i = 0; i < kFirmwarePartCount; ++i) {
    if (!h.Has(i)) continue;
    const FirmwarePart& p = h.Part(i);
    if (static_cast<std::uint64_t>(p.offset) + p.size > file_length) return HeaderError::kTruncated;
  }
  out = h;
  return HeaderError::kNone;
}

HeaderNotice FirmwareHeaderNotice(const FirmwareImageHeader& h, std::uint64_t file_length) {
  if (h.file_size != file_length) return HeaderNotice::kSize;
  if (!HasFirmwareMagic(reinterpret_cast<const std::uint8_t*>(h.magic.data()))) return HeaderNotice::kMagic;
  std::uint64_t sum = kFirmwareHeaderSize;
  for (int i = 0; i < kFirmwarePartCount; ++i)
    if (h.Has(i)) sum += h.Part(i).size;
  return sum != h.file_size ? HeaderNotice::kPartSum : HeaderNotice::kNone;
}

FirmwareHeaderResult ReadFirmwareHeader(int fd) {
  FirmwareHeaderResult r;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    r.detail = std::strerror(errno);
    return r;
  }
  if (!S_ISREG(st.st_mode)) {
    r.detail = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    return r;
  }
  r.file_length = static_cast<std::uint64_t>(st.st_size);
  std::array<std::uint8_t, kFirmwareHeaderSize> bytes;
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got < bytes.size()) {
    r.error = HeaderError::kShort;
    return r;
  }
  r.error = ParseFirmwareHeader(bytes.data(), r.file_length, r.header);
  if (r.error != HeaderError::kNone) r.header = DecodeFirmwareHeader(bytes.data());
  if (r.error != HeaderError::kCrc) r.notice = FirmwareHeaderNotice(r.header, r.file_length);
  return r;
}

FirmwareHeaderResult ReadFirmwareHeader(const std::filesystem::path& path) {
  // Non-blocking: a FIFO under an image's name must not hang the reader.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    FirmwareHeaderResult r;
    r.detail = std::strerror(errno);
    return r;
  }
  FirmwareHeaderResult r = ReadFirmwareHeader(fd);
  close(fd);
  return r;
}

namespace {

// The check's lines on standard output: why a file is refused, or what
// differs in an image that passes.
void PrintHeaderCheckLines(const std::filesystem::path& path, const FirmwareHeaderResult& r) {
  switch (r.error) {
    case HeaderError::kOpen: std::printf("open file (%s) fail(%s)\n", path.c_str(), r.detail.c_str()); break;
    case HeaderError::kShort: std::printf("read error\n"); break;
    case HeaderError::kCrc: std::printf("crc error\n"); break;
    default: break;
  }
  switch (r.error == HeaderError::kNone || r.error == HeaderError::kTruncated ? r.notice : HeaderNotice::kNone) {
    case HeaderNotice::kNone: break;
    case HeaderNotice::kSize:
      std::printf("size error(header->file_size = %u, total_size = %llu\n", r.header.file_size,
                  static_cast<unsigned long long>(r.file_length));
      break;
    case HeaderNotice::kMagic: std::printf("magic number error\n"); break;
    case HeaderNotice::kPartSum: std::printf("size error\n"); break;
  }
  if (r.error == HeaderError::kTruncated) {
    // Name the first part that does not fit.
    static constexpr const char* kNames[kFirmwarePartCount] = {"kernel", "rootfs", "uboot", "tgz", "oem"};
    for (int i = 0; i < kFirmwarePartCount; ++i) {
      const FirmwarePart& p = r.header.Part(i);
      const std::uint64_t end = static_cast<std::uint64_t>(p.offset) + p.size;
      if (!r.header.Has(i) || end <= r.file_length) continue;
      std::printf("truncated image: %s part ends at %llu, beyond the end of the file (%llu bytes)\n", kNames[i],
                  static_cast<unsigned long long>(end), static_cast<unsigned long long>(r.file_length));
      break;
    }
  }
  std::fflush(stdout);
}

int FinishCheck(const std::filesystem::path& shown, const FirmwareHeaderResult& r, FirmwareImageHeader* header,
                std::uint32_t* const (&sizes)[kFirmwarePartCount]) {
  for (auto* s : sizes)
    if (s) *s = 0;
  PrintHeaderCheckLines(shown, r);
  if (r.error != HeaderError::kNone) return -1;
  if (header) *header = r.header;
  for (int i = 0; i < kFirmwarePartCount; ++i)
    if (sizes[i] && r.header.Has(i)) *sizes[i] = r.header.Part(i).size;
  return 0;
}

}  // namespace

int CheckFirmwareHeader(const std::filesystem::path& path, FirmwareImageHeader* header, std::uint64_t* file_length,
                        std::uint32_t* kernel_size, std::uint32_t* rootfs_size, std::uint32_t* uboot_size,
                        std::uint32_t* tgz_size, std::uint32_t* oem_size) {
  std::uint32_t* const sizes[kFirmwarePartCount] = {kernel_size, rootfs_size, uboot_size, tgz_size, oem_size};
  const FirmwareHeaderResult r = ReadFirmwareHeader(path);
  if (file_length) *file_length = r.file_length;
  return FinishCheck(path, r, header, sizes);
}

int CheckFirmwareHeader(int fd, const std::filesystem::path& shown, FirmwareImageHeader* header) {
  std::uint32_t* const sizes[kFirmwarePartCount] = {};
  return FinishCheck(shown, ReadFirmwareHeader(fd), header, sizes);
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
