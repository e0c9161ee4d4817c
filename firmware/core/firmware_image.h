#pragma once
// Firmware image files: a fixed 1556-byte header (all integers little-endian)
// followed by up to five parts (kernel, rootfs, uboot, tgz, oem), present by
// their flags, contiguous and in that order from offset 1556. The rootfs name
// is the image's version text.
//
// The reader checks everything a device would: the header CRC, the total size
// against the file, the magic, every present part lying inside the file right
// after the previous one, and the absent parts' fields being zero. Sums are
// 64-bit, so sizes near 4 GiB cannot wrap. Reading the header never reads the
// parts; CheckFirmwareParts reads them for their CRCs.
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

enum class HeaderError {
  kNone,
  kOpen,        // the file cannot be opened
  kShort,       // fewer than 1556 bytes
  kCrc,         // header CRC differs
  kSize,        // total-size field differs from the file's length
  kMagic,       // neither "VELOR888" nor "FIRMWARE"
  kPartSum,     // 1556 plus the present parts' sizes differs from the total
  kPartLayout,  // a part outside the file, overlapping, out of order, or an absent part with fields set
  kPartCrc,     // a part's bytes do not match its CRC (CheckFirmwareParts)
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

// Checks 1556 header bytes of a file of `file_length` bytes; on kNone `out` holds the header.
HeaderError ParseFirmwareHeader(const std::uint8_t* bytes, std::uint64_t file_length, FirmwareImageHeader& out);

struct FirmwareHeaderResult {
  HeaderError error = HeaderError::kOpen;
  FirmwareImageHeader header;
  std::uint64_t file_length = 0;
  std::string detail;  // the system's error text for kOpen
};
// Opens the file and checks its header. After an error found in the header's
// bytes, `header` holds them decoded but unchecked.
FirmwareHeaderResult ReadFirmwareHeader(const std::filesystem::path& path);

// 0 when the header was read and passes every check, else -1, with one line
// on standard output saying why ("open file (..) fail(..)", "read error",
// "crc error", "size error(...", "magic number error", "size error"). On 0 the header
// and the sizes of the present parts are filled (absent parts: 0); every size
// output is 0 on -1. Null outputs are skipped.
int CheckFirmwareHeader(const std::filesystem::path& path, FirmwareImageHeader* header, std::uint64_t* file_length,
                        std::uint32_t* kernel_size, std::uint32_t* rootfs_size, std::uint32_t* uboot_size,
                        std::uint32_t* tgz_size, std::uint32_t* oem_size);

// Reads the present parts of a file whose header passed and compares their
// CRCs: kNone, kPartCrc, kOpen or kShort (the file changed under us).
HeaderError CheckFirmwareParts(const std::filesystem::path& path, const FirmwareImageHeader& header);

// True when the first eight bytes are one of the two magics.
bool HasFirmwareMagic(const std::uint8_t* first8);

}  // namespace kelvara::firmware
