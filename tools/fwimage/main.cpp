// fwimage: makes and checks firmware image files, with the program's own image
// writer and reader (firmware/core), so what it makes is what Kelvara's
// upgrade, the boot-recovery server and devsim's devices take.
//
//   fwimage make OUT.bin --version TEXT [--kernel FILE] [--rootfs FILE]
//                [--uboot FILE] [--tgz FILE] [--oem FILE] [--kernel-name TEXT]
//                [--fill BYTES]
//   fwimage check FILE...
//
// Exit status: 0 done, 1 an image refused or not written, 2 a bad argument.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/atomic_file.h"
#include "firmware/core/firmware_image.h"
#include "firmware/core/firmware_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace kelvara::firmware;

constexpr const char* kUsage =
    "usage: fwimage make OUT.bin --version TEXT [--kernel FILE] [--rootfs FILE] [--uboot FILE]\n"
    "                    [--tgz FILE] [--oem FILE] [--kernel-name TEXT] [--fill BYTES]\n"
    "       fwimage check FILE...\n"
    "make writes an image whose version text (the rootfs name) is TEXT, with the parts\n"
    "read from the files given; without any part file, a kernel and a rootfs of filler\n"
    "bytes, BYTES in all (262144 by default). A device comes back from an upgrade or a\n"
    "boot recovery with TEXT as its version; the recovery server offers an image only\n"
    "to a device whose type TEXT contains. check reads images as Kelvara does before\n"
    "an upgrade (header CRC, every part inside the file, every part's CRC).\n";

constexpr std::uint64_t kDefaultFill = 256 * 1024;
constexpr std::uint64_t kMaxFill = 1024ull * 1024 * 1024;
constexpr const char* kPartOptions[kFirmwarePartCount] = {"--kernel", "--rootfs", "--uboot", "--tgz", "--oem"};

int Usage(const std::string& why) {
  std::fprintf(stderr, "fwimage: %s\n%s", why.c_str(), kUsage);
  return 2;
}

std::optional<std::string> ReadWhole(const fs::path& path, std::string& error) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    error = "not a regular file";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot be opened";
    return std::nullopt;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "read error";
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::uint64_t> ParseCount(std::string_view text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return v;
}

// Checks one image as the upgrade's image check does; prints what it found.
bool CheckOne(const fs::path& path) {
  FirmwareImageHeader header;
  std::uint64_t length = 0;
  if (CheckFirmwareHeader(path, &header, &length, nullptr, nullptr, nullptr, nullptr, nullptr) != 0) {
    std::printf("%s: refused (header)\n", path.c_str());
    return false;
  }
  if (const HeaderError parts = CheckFirmwareParts(path, header); parts != HeaderError::kNone) {
    std::printf("%s: refused: %s\n", path.c_str(), HeaderErrorText(parts));
    return false;
  }
  std::string present;
  for (int i = 0; i < kFirmwarePartCount; ++i)
    if (header.Has(i))
      present += std::string(" ") + (kPartOptions[i] + 2) + "=" + std::to_string(header.Part(i).size);
  std::printf("%s: ok, version \"%s\", %llu bytes, parts%s\n", path.c_str(), header.RootfsName().c_str(),
              static_cast<unsigned long long>(length), present.c_str());
  return true;
}

int Make(const std::vector<std::string>& args) {
  std::optional<std::string> out, version, kernel_name;
  std::optional<std::uint64_t> fill;
  std::optional<std::string> part_files[kFirmwarePartCount];
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() > 2 && a.starts_with("--")) {
      if (i + 1 >= args.size()) return Usage(a + " needs a value");
      const std::string& value = args[++i];
      bool known = true;
      if (a == "--version") {
        version = value;
      } else if (a == "--kernel-name") {
        kernel_name = value;
      } else if (a == "--fill") {
        fill = ParseCount(value);
        if (!fill || *fill > kMaxFill) return Usage("--fill takes a byte count up to " + std::to_string(kMaxFill));
      } else {
        known = false;
        for (int p = 0; p < kFirmwarePartCount; ++p)
          if (a == kPartOptions[p]) {
            part_files[p] = value;
            known = true;
          }
      }
      if (!known) return Usage("unknown option " + a);
    } else if (!out) {
      out = a;
    } else {
      return Usage("more than one output file: " + a);
    }
  }
  if (!out) return Usage("no output file");
  if (!version || version->empty()) return Usage("--version TEXT is needed: it is the version the device reports");

  FirmwareImageContent content;
  content.rootfs_name = *version;
  bool any_file = false;
  for (int p = 0; p < kFirmwarePartCount; ++p) {
    if (!part_files[p]) continue;
    any_file = true;
    std::string error;
    auto bytes = ReadWhole(*part_files[p], error);
    if (!bytes) {
      std::fprintf(stderr, "fwimage: %s %s: %s\n", kPartOptions[p], part_files[p]->c_str(), error.c_str());
      return 1;
    }
    content.parts[static_cast<std::size_t>(p)] = std::move(*bytes);
  }
  if (any_file && fill) return Usage("--fill makes the parts when no part file is given; not both");
  if (!any_file) {
    // A kernel of a quarter and a rootfs of the rest, seeded by the version text.
    const std::uint64_t total = fill.value_or(kDefaultFill);
    content.parts[0] = FirmwareFillerBytes(static_cast<std::size_t>(total / 4), "kernel " + *version);
    content.parts[1] = FirmwareFillerBytes(static_cast<std::size_t>(total - total / 4), "rootfs " + *version);
  }
  content.kernel_name = kernel_name.value_or(content.parts[0] ? "uImage" : "");

  std::string error;
  const auto image = BuildFirmwareImage(content, error);
  if (!image) {
    std::fprintf(stderr, "fwimage: %s\n", error.c_str());
    return 1;
  }
  if (!kelvara::WriteFileAtomically(*out, *image, &error)) {
    std::fprintf(stderr, "fwimage: %s: %s\n", out->c_str(), error.c_str());
    return 1;
  }
  // Read back with the program's own check.
  return CheckOne(*out) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command");
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "make") return Make(args);
  if (command == "check") {
    if (args.empty()) return Usage("check needs at least one file");
    bool all = true;
    for (const std::string& file : args) all = CheckOne(file) && all;
    return all ? 0 : 1;
  }
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return Usage("unknown command " + command);
}
