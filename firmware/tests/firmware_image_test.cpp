// The image reader and the folder listing against images written by an
// independent generator (make_images.py: Python's struct and zlib).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <utime.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "firmware/core/firmware_image.h"
#include "firmware/core/firmware_list.h"
#include "firmware/core/firmware_writer.h"
#include "firmware/core/image_check.h"
#include "kelvara_test/test_env.h"

namespace kelvara::firmware {
namespace {

namespace fs = std::filesystem;

struct Expected {
  std::string expect;
  std::string version;
  std::string notice;
};

class Fixtures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(test::MakeTempDir("images"));
    const std::string cmd =
        "python3 '" + (test::SourceDir() / "firmware/tests/make_images.py").string() + "' '" + dir_->string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(*dir_ / "manifest.txt");
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string name, expect, version, notice;
      std::getline(fields, name, '\t');
      std::getline(fields, expect, '\t');
      std::getline(fields, version, '\t');
      std::getline(fields, notice, '\t');
      manifest_[name] = {expect, version, notice};
    }
    ASSERT_GT(manifest_.size(), 50u);
  }
  static fs::path* dir_;
  static std::map<std::string, Expected> manifest_;
};
fs::path* Fixtures::dir_ = nullptr;
std::map<std::string, Expected> Fixtures::manifest_;

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes(kFirmwareHeaderSize);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

const std::map<std::string, HeaderError> kErrors = {
    {"ok", HeaderError::kNone},  {"part_crc", HeaderError::kNone},         {"crc", HeaderError::kCrc},
    {"short", HeaderError::kShort}, {"truncated", HeaderError::kTruncated},
};
const std::map<std::string, HeaderNotice> kNotices = {
    {"", HeaderNotice::kNone}, {"size", HeaderNotice::kSize}, {"magic", HeaderNotice::kMagic},
    {"part_sum", HeaderNotice::kPartSum}};

bool Accepted(const Expected& e) { return e.expect == "ok" || e.expect == "part_crc"; }

// The lines the check must write for a file of the manifest, in its own words:
// the report of what differs, then why the file is refused.
std::string ExpectedLines(const fs::path& path, const Expected& e) {
  std::string out;
  if (e.expect == "crc") return "crc error\n";
  if (e.expect == "short") return "read error\n";
  const std::uint64_t length = fs::file_size(path);
  if (e.notice == "size")
    out = "size error(header->file_size = " + std::to_string(DecodeFirmwareHeader(ReadBytes(path).data()).file_size) +
          ", total_size = " + std::to_string(length) + "\n";
  if (e.notice == "magic") out = "magic number error\n";
  if (e.notice == "part_sum") out = "size error\n";
  if (e.expect == "truncated") out += "truncated image: ";  // the rest is checked apart
  return out;
}

TEST_F(Fixtures, HeaderCheckMatchesTheGeneratorForEveryFile) {
  for (const auto& [name, e] : manifest_) {
    SCOPED_TRACE(name);
    const fs::path path = *dir_ / name;
    const FirmwareHeaderResult r = ReadFirmwareHeader(path);
    EXPECT_EQ(r.error, kErrors.at(e.expect)) << HeaderErrorText(r.error);
    if (e.expect != "crc" && e.expect != "short") {
      EXPECT_EQ(r.notice, kNotices.at(e.notice));
    }
    FirmwareImageHeader h;
    std::uint64_t length = 0;
    std::uint32_t sizes[5] = {9, 9, 9, 9, 9};
    const int rc = CheckFirmwareHeader(path, &h, &length, &sizes[0], &sizes[1], &sizes[2], &sizes[3], &sizes[4]);
    // Only a header that cannot be read or trusted, or parts beyond the end
    // of the file, fail the check; what differs otherwise is only reported.
    EXPECT_EQ(rc, Accepted(e) ? 0 : -1);
    EXPECT_EQ(length, fs::file_size(path));
    if (rc != 0) {
      for (auto s : sizes) EXPECT_EQ(s, 0u);
      continue;
    }
    // Sizes of present parts only, each inside the file at its offset.
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(sizes[i], h.Has(i) ? h.Part(i).size : 0u);
      if (h.Has(i)) {
        EXPECT_LE(h.Part(i).offset + std::uint64_t{sizes[i]}, length);
      }
    }
    EXPECT_EQ(h.RootfsName().substr(0, 255), e.version);
    EXPECT_EQ(CheckFirmwareParts(path, h), e.expect == "part_crc" ? HeaderError::kPartCrc : HeaderError::kNone);
  }
}

// Each file's report and refusal on standard output, in the check's own words.
TEST_F(Fixtures, CheckWritesItsLinesOnStandardOutput) {
  for (const auto& [name, e] : manifest_) {
    SCOPED_TRACE(name);
    const fs::path path = *dir_ / name;
    testing::internal::CaptureStdout();
    const int rc = CheckFirmwareHeader(path, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, Accepted(e) ? 0 : -1);
    const std::string want = ExpectedLines(path, e);
    if (e.expect != "truncated") {
      EXPECT_EQ(out, want);
      continue;
    }
    // A truncated image says which part ends where, and how long the file is.
    EXPECT_EQ(out.substr(0, want.size()), want) << out;
    EXPECT_NE(out.find("beyond the end of the file (" + std::to_string(fs::file_size(path)) + " bytes)\n"),
              std::string::npos)
        << out;
  }
  testing::internal::CaptureStdout();
  CheckFirmwareHeader(*dir_ / "truncated.bin", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("truncated image: tgz part ends at " +
                                                        std::to_string(kFirmwareHeaderSize + 1000)),
            std::string::npos);
  testing::internal::CaptureStdout();
  const fs::path missing = *dir_ / "missing.bin";
  EXPECT_EQ(CheckFirmwareHeader(missing, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "open file (" + missing.string() + ") fail(" + std::strerror(ENOENT) + ")\n");
}

// The listing runs the same check on every .bin file of the folder, in name
// order: its lines reach standard output, and every file it accepts is listed.
TEST_F(Fixtures, ListingRunsTheCheckOnEveryBinFileAndListsWhatPasses) {
  std::map<std::string, std::string> want;
  std::string want_out;
  constexpr std::string_view kTruncated = "truncated image: ";
  for (const auto& [name, e] : manifest_) {  // byte order of the names, as the listing walks
    if (Accepted(e)) want[name] = e.version;
    std::string lines = ExpectedLines(*dir_ / name, e);
    if (e.expect == "truncated") lines.resize(lines.size() - kTruncated.size());  // its report only
    want_out += lines;
  }
  testing::internal::CaptureStdout();
  const FirmwareList list = ListFirmwareFiles(dir_->string());
  const std::string out = testing::internal::GetCapturedStdout();
  // The refusals of the truncated images are checked apart; the rest is exact.
  std::string kept;
  int truncated = 0;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(kTruncated)) {
      ++truncated;
    } else {
      kept += line + "\n";
    }
  }
  EXPECT_EQ(truncated, 3);
  EXPECT_EQ(kept, want_out);
  std::map<std::string, std::string> got;
  for (const auto& [name, entry] : list) {
    got[name] = entry.version;
    struct stat st {};
    ASSERT_EQ(stat((*dir_ / name).c_str(), &st), 0);
    EXPECT_EQ(entry.modified, static_cast<std::int64_t>(st.st_mtim.tv_sec)) << name;
  }
  EXPECT_EQ(got, want);
  EXPECT_EQ(got.count("not_an_image.txt"), 0u);
  EXPECT_EQ(got["long_version.bin"].size(), 255u);
}

TEST_F(Fixtures, FolderTextWithBackslashesListsTheSameFiles) {
  std::string back = dir_->string();
  for (char& c : back)
    if (c == '/') c = '\\';
  const FirmwareList a = ListFirmwareFiles(dir_->string() + "/");
  const FirmwareList b = ListFirmwareFiles(back);
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a.size(), b.size());
  for (const auto& [name, entry] : a) EXPECT_EQ(b.at(name).version, entry.version);
  EXPECT_TRUE(ListFirmwareFiles(dir_->string() + "/missing").empty());
}

// Before an upgrade, only an image that is certainly broken is kept back;
// every other file the check accepts is sent, and one without the magic goes
// as it stands.
TEST_F(Fixtures, ImageCheckKeepsBackOnlyBrokenImagesAndReadsEachFileOnce) {
  ImageCheckCache cache;
  for (const auto& [name, e] : manifest_) {
    SCOPED_TRACE(name);
    const ImageVerdict v = cache.Check(*dir_ / name);
    const std::vector<std::uint8_t> bytes = ReadBytes(*dir_ / name);
    const bool has_magic = fs::file_size(*dir_ / name) >= 8 && HasFirmwareMagic(bytes.data());
    EXPECT_EQ(v.has_magic, has_magic);
    EXPECT_EQ(v.sendable, !has_magic || e.expect == "ok") << HeaderErrorText(v.error);
    if (has_magic && e.expect != "ok") {
      EXPECT_EQ(v.error, e.expect == "part_crc" ? HeaderError::kPartCrc : kErrors.at(e.expect));
    }
  }
  for (const char* name : {"padded_4k.bin", "signature_trailer.bin", "aligned_4k.bin", "unknown_flag.bin",
                           "absent_crc_set.bin", "other_magic.bin", "out_of_order.bin"})
    EXPECT_TRUE(cache.Check(*dir_ / name).sendable) << name;
  for (const char* name : {"bad_crc.bin", "truncated.bin", "bad_part_crc.bin", "aligned_wrong_crc.bin"})
    EXPECT_FALSE(cache.Check(*dir_ / name).sendable) << name;
  const int reads = cache.reads();
  for (int i = 0; i < 500; ++i) cache.Check(*dir_ / "flags_31.bin");
  EXPECT_EQ(cache.reads(), reads);
  // A changed file is read again.
  const fs::path copy = *dir_ / "copy.bin";
  fs::copy_file(*dir_ / "flags_31.bin", copy);
  EXPECT_TRUE(cache.Check(copy).sendable);
  {
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(kFirmwareHeaderSize + 5);
    f.put('\x7f');
  }
  struct timespec times[2] = {{0, UTIME_NOW}, {1000, 0}};
  utimensat(AT_FDCWD, copy.c_str(), times, 0);
  const ImageVerdict changed = cache.Check(copy);
  EXPECT_FALSE(changed.sendable);
  EXPECT_EQ(changed.error, HeaderError::kPartCrc);
  fs::remove(copy);
}

// The writer against the independent generator: for every combination of
// parts, the plain image it writes is byte for byte the generator's.
TEST_F(Fixtures, TheWriterMakesTheGeneratorsPlainImagesByteForByte) {
  const std::size_t sizes[kFirmwarePartCount] = {300, 500, 70, 130, 20};
  for (unsigned flags = 0; flags < 32; ++flags) {
    SCOPED_TRACE(flags);
    FirmwareImageContent content;
    for (int i = 0; i < kFirmwarePartCount; ++i) {
      if ((flags & (1u << i)) == 0) continue;
      std::string part(sizes[i], '\0');
      for (std::size_t k = 0; k < part.size(); ++k) part[k] = static_cast<char>((i * 37 + k * 11) & 0xFF);
      content.parts[static_cast<std::size_t>(i)] = part;
    }
    if (flags & kPartKernel) content.kernel_name = "uImage";
    char name[16];
    std::snprintf(name, sizeof name, "flags_%02u.bin", flags);
    if (flags & kPartRootfs) content.rootfs_name = manifest_.at(name).version;
    std::string error;
    const auto image = BuildFirmwareImage(content, error);
    ASSERT_TRUE(image) << error;
    std::ifstream in(*dir_ / name, std::ios::binary);
    EXPECT_EQ(*image, std::string(std::istreambuf_iterator<char>(in), {}));
  }
}

TEST(FirmwareWriter, RefusesWhatItsFieldsCannotHold) {
  FirmwareImageContent content;
  std::string error;
  content.rootfs_name.assign(kFirmwareNameSize, 'v');
  EXPECT_TRUE(BuildFirmwareImage(content, error)) << error;
  content.rootfs_name += 'v';
  EXPECT_FALSE(BuildFirmwareImage(content, error));
  EXPECT_EQ(error, "the version text is longer than 256 bytes");
  content.rootfs_name = "V1";
  content.kernel_name.assign(kFirmwareNameSize + 1, 'k');
  EXPECT_FALSE(BuildFirmwareImage(content, error));
  EXPECT_EQ(error, "the kernel name is longer than 256 bytes");
  content.kernel_name.clear();
  content.magic = "SHORT";
  EXPECT_FALSE(BuildFirmwareImage(content, error));
  EXPECT_EQ(error, "the magic must be 8 characters");
  // Filler bytes: the same seed the same bytes, another seed others.
  EXPECT_EQ(FirmwareFillerBytes(1000, "a"), FirmwareFillerBytes(1000, "a"));
  EXPECT_NE(FirmwareFillerBytes(1000, "a"), FirmwareFillerBytes(1000, "b"));
}

TEST(FirmwareCrc, IsTheIeeeCrcOfZlibAndTheKnownCheckValue) {
  const char text[] = "123456789";
  EXPECT_EQ(FirmwareCrc32(text, 9), 0xCBF43926u);
  EXPECT_EQ(FirmwareCrc32(text, 0), 0u);
}

TEST(FirmwareHeader, EveryHeaderByteIsCoveredByTheCrc) {
  FirmwareImageHeader h;
  std::memcpy(h.magic.data(), "VELOR888", 8);
  h.file_size = kFirmwareHeaderSize;
  auto bytes = EncodeFirmwareHeader(h);
  h.header_crc = FirmwareHeaderCrc(bytes.data());
  bytes = EncodeFirmwareHeader(h);
  FirmwareImageHeader out;
  ASSERT_EQ(ParseFirmwareHeader(bytes.data(), kFirmwareHeaderSize, out), HeaderError::kNone);
  for (std::size_t i = 0; i < kFirmwareHeaderSize; i += 7) {
    if (i >= 8 && i < 12) continue;
    auto changed = bytes;
    changed[i] ^= 0x20;
    EXPECT_EQ(ParseFirmwareHeader(changed.data(), kFirmwareHeaderSize, out), HeaderError::kCrc) << i;
  }
}

// --- choosing an image for a model ---

void Touch(const fs::path& path, std::int64_t mtime) {
  std::ofstream(path) << "x";
  struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

TEST(FirmwareForModel, KeyIsALiteralTextVariantsAndNewestWin) {
  const fs::path dir = test::MakeTempDir("models");
  Touch(dir / "firmware_X5_AF_v1.bin", 1000);
  Touch(dir / "firmware_X5_v2.bin", 2000);
  Touch(dir / "firmware_Y7_v1.bin", 1000);
  Touch(dir / "firmware_Y7_v2.bin", 1000);  // equal time: the path sorting last wins
  Touch(dir / "firmware_Z[1]_v1.bin", 1000);
  Touch(dir / "firmware_Z1_v9.bin", 3000);
  Touch(dir / "firmware_Q*_v1.bin", 1000);
  Touch(dir / "firmware_Q9.bin", 5000);
  Touch(dir / "other_X5_v3.bin", 9000);
  Touch(dir / "firmware_X5_v4.txt", 9000);

  struct Case {
    std::string device_type;
    std::string want;
  };
  const Case cases[] = {
      {"DAV-ODUVE-X5_AF", "firmware_X5_AF_v1.bin"},
      {"DAV-ODUVE-X5", "firmware_X5_v2.bin"},
      {"NVS-NVR-Y7", "firmware_Y7_v2.bin"},
      {"DAV-ODUVE-Z[1]", "firmware_Z[1]_v1.bin"},  // brackets are no character class
      {"Q*", "firmware_Q*_v1.bin"},                // nor is '*' a wildcard
      {"DAV-ODUVE-", ""},                          // empty key matches nothing
      {"", ""},
      {"W2", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device_type);
    const std::string key = ModelKeyOf(c.device_type);
    const fs::path got = FindFirmwareForModel(dir.string(), key, IsVariantKey(key));
    EXPECT_EQ(got.empty() ? "" : got.filename().string(), c.want);
  }
  EXPECT_EQ(ModelKeyOf("DAV-ODUVE-NVS-NVR-A DAV-ODUVE-B"), "A B");
}

}  // namespace
}  // namespace kelvara::firmware
