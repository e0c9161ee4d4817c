#pragma once
// Firmware image files: a fixed 1556-byte header (all integers little-endian)
// followed by up to five parts (kernel, rootfs, uboot, tgz, oem), present by
// their flags and read at the offsets the header gives. The rootfs name is the
// image's version text.
//
// Images in the field differ from the plain layout (parts following the
// header without gaps, total size = header plus parts): padding to a block
// size, a signature trailer after the parts, parts aligned at 4 KiB, flag
// bits of newer formats, CRC fields of absent parts left set, magics of other
// makers. The check therefore refuses only what makes the image unreadable:
// a header CRC that differs, and a present part that ends beyond the end of
// the file (a truncated download). A total size, magic or part sum that
// differs is only reported. Sums are 64-bit, so sizes near 4 GiB cannot
// wrap. Reading the header never reads the parts; CheckFirmwareParts reads
// them for their CRCs.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace kelvara::firmware {

inline constexpr std::size_t kFirmwareHeaderSize = 1556;
inline constexpr char kFirmwareMagic[] = "VELOR888";
inline constexpr char kFirmwareMagicAlt[] = "FIRMWARE";
inline constexpr std::size_t kFirmwareNameSize = 256;

enum FirmwarePartFlag : std::uint32_t {
  kPartKernel = 0x01,
  kPartRootfs = 0x02,
  kPartUboot = 0x04,
  kPartTgz = 0x08,
  kPartOem = 0x10,
};
inline constexpr int kFirmwarePartCount = 5;

struct FirmwarePart {
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
  std::uint32_t crc = 0;
};

// Field offsets within the header.
namespace header_offset {
inline constexpr std::size_t kMagic = 0, kHeaderCrc = 8, kFileSize = 12, kFlags = 16;
inline constexpr std::size_t kKernel = 20, kKernelName = 32;             // offset, size, crc
inline constexpr std::size_t kRootfs = 288, kRootfsName = 296, kRootfsCrc = 552;  // offset, size
inline constexpr std::size_t kUboot = 556, kTgz = 568, kOem = 580;       // offset, size, crc
inline constexpr std::size_t kReserved = 592;
}  // namespace header_offset

struct FirmwareImageHeader {
  std::array<char, 8> magic{};
  std::uint32_t header_crc = 0;
  std::uint32_t file_size = 0;
  std::uint32_t flags = 0;
  FirmwarePart kernel;
  std::array<char, kFirmwareNameSize> kernel_name{};
  FirmwarePart rootfs;
  std::array<char, kFirmwareNameSize> rootfs_name{};
  FirmwarePart uboot;
  FirmwarePart tgz;
  FirmwarePart oem;

  // The parts in file order with their flags: kernel, rootfs, uboot, tgz, oem.
  const FirmwarePart& Part(int index) const;
  static std::uint32_t FlagOf(int index) { return 1u << index; }
  bool Has(int index) const { return (flags & FlagOf(index)) != 0; }
  // Names without their NUL padding; a 256-character name is kept whole.
  std::string KernelName() const;
  std::string RootfsName() const;
};

// Why an image is refused.
enum class HeaderError {
  kNone,
  kOpen,       // the file cannot be opened
  kShort,      // fewer than 1556 bytes
  kCrc,        // header CRC differs
  kTruncated,  // a present part ends beyond the end of the file
  kPartCrc,    // a part's bytes do not match its CRC (CheckFirmwareParts)
};

// What the check reports about a readable image without refusing it.
enum class HeaderNotice {
  kNone,
  kSize,     // total-size field differs from the file's length
  kMagic,    // neither "VELOR888" nor "FIRMWARE"
  kPartSum,  // 1556 plus the present parts' sizes differs from the total
};

// A short English text for log lines and message boxes.
const char* HeaderErrorText(HeaderError error);

// CRC-32 (IEEE 802.3, reflected, as zlib computes it).
std::uint32_t FirmwareCrc32(const void* data, std::size_t length);
// The header CRC of 1556 header bytes, computed with the CRC field as zero.
std::uint32_t FirmwareHeaderCrc(const std::uint8_t* header);

// Decodes 1556 bytes into the record (no checks).
FirmwareImageHeader DecodeFirmwareHeader(const std::uint8_t* bytes);
// Encodes the record; the CRC field is written as given.
std::array<std::uint8_t, kFirmwareHeaderSize> EncodeFirmwareHeader(const FirmwareImageHeader& header);

// Checks 1556 header bytes of a file of `file_length` bytes: kCrc, kTruncated
// or kNone; on kNone `out` holds the header, and every present part lies
// inside the file (offset plus size, in 64 bits), so its bytes can be read at
// its offset.
HeaderError ParseFirmwareHeader(const std::uint8_t* bytes, std::uint64_t file_length, FirmwareImageHeader& out);

// The first of the header's reports, in this order: the total size against
// the file's length, then the magic, then the sum of the present parts
// against the total size.
HeaderNotice FirmwareHeaderNotice(const FirmwareImageHeader& header, std::uint64_t file_length);

struct FirmwareHeaderResult {
  HeaderError error = HeaderError::kOpen;
  HeaderNotice notice = HeaderNotice::kNone;  // of a header that passed its CRC
  FirmwareImageHeader header;
  std::uint64_t file_length = 0;
  std::string detail;  // the system's error text for kOpen
};
// Opens the file and checks its header. After an error found in the header's
// bytes, `header` holds them decoded but unchecked.
FirmwareHeaderResult ReadFirmwareHeader(const std::filesystem::path& path);
// The same on an open descriptor (read with pread; its offset is untouched).
FirmwareHeaderResult ReadFirmwareHeader(int fd);

// 0 when the header was read, its CRC is right and its present parts lie
// inside the file, else -1. Writes the check's lines on standard output:
// why the file is refused ("open file (..) fail(..)", "read error", "crc
// error", "truncated image: ..."), and for an image that passes, what differs
// without refusing it ("size error(header->file_size = .., total_size = ..",
// "magic number error", "size error"). On 0 the header and the sizes of the
// present parts are filled (absent parts: 0); every size output is 0 on -1.
// Null outputs are skipped.
int CheckFirmwareHeader(const std::filesystem::path& path, FirmwareImageHeader* header, std::uint64_t* file_length,
                        std::uint32_t* kernel_size, std::uint32_t* rootfs_size, std::uint32_t* uboot_size,
                        std::uint32_t* tgz_size, std::uint32_t* oem_size);
// The same check on a file already open; `shown` names it in the lines.
int CheckFirmwareHeader(int fd, const std::filesystem::path& shown, FirmwareImageHeader* header);

// Reads the present parts of a file whose header passed, each at its offset,
// and compares their CRCs: kNone, kPartCrc, kOpen or kShort (the file changed
// under us).
HeaderError CheckFirmwareParts(const std::filesystem::path& path, const FirmwareImageHeader& header);

// True when the first eight bytes are one of the two magics.
bool HasFirmwareMagic(const std::uint8_t* first8);

}  // namespace kelvara::firmware
