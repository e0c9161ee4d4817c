// fwimage as a user runs it: the images it makes pass the program's image
// check with the version text asked for, their parts are the files given
// with zlib's CRCs, and every mistake gets a message and leaves no file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "firmware/core/firmware_image.h"
#include "kelvara_test/test_env.h"

namespace kelvara::firmware {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string output;  // standard output and error
};

ToolRun Fwimage(const std::string& args) {
  ToolRun r;
  const std::string command = "'" + (test::BinDir() / "fwimage").string() + "' " + args + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buf[512];
  while (fgets(buf, sizeof buf, p) != nullptr) r.output += buf;
  const int w = pclose(p);
  r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
  return r;
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

std::uint32_t ZlibCrc(const std::string& s) {
  return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

FirmwareImageHeader CheckedHeader(const fs::path& p) {
  FirmwareImageHeader h;
  std::uint64_t length = 0;
  EXPECT_EQ(CheckFirmwareHeader(p, &h, &length, nullptr, nullptr, nullptr, nullptr, nullptr), 0) << p;
  EXPECT_EQ(CheckFirmwareParts(p, h), HeaderError::kNone) << p;
  EXPECT_EQ(length, fs::file_size(p));
  return h;
}

TEST(Fwimage, MakesAnImageOfFillerPartsThatTheCheckPassesWithItsVersion) {
  const fs::path dir = test::MakeTempDir("fw");
  const ToolRun made = Fwimage("make '" + (dir / "firmware_NVS-5M_V9.bin").string() + "' --version DAV-ODUVE-NVS-5M_V9.0");
  ASSERT_EQ(made.status, 0) << made.output;
  EXPECT_NE(made.output.find("ok, version \"DAV-ODUVE-NVS-5M_V9.0\""), std::string::npos) << made.output;
  const FirmwareImageHeader h = CheckedHeader(dir / "firmware_NVS-5M_V9.bin");
  EXPECT_EQ(h.RootfsName(), "DAV-ODUVE-NVS-5M_V9.0");
  EXPECT_EQ(h.KernelName(), "uImage");
  EXPECT_EQ(h.flags, kPartKernel | kPartRootfs);
  EXPECT_EQ(std::string(h.magic.data(), 8), kFirmwareMagic);
  EXPECT_EQ(fs::file_size(dir / "firmware_NVS-5M_V9.bin"), kFirmwareHeaderSize + 256 * 1024);
  // The same command gives the same bytes; another version other parts.
  ASSERT_EQ(Fwimage("make '" + (dir / "again.bin").string() + "' --version DAV-ODUVE-NVS-5M_V9.0").status, 0);
  EXPECT_EQ(Read(dir / "again.bin"), Read(dir / "firmware_NVS-5M_V9.bin"));
  ASSERT_EQ(Fwimage("make '" + (dir / "other.bin").string() + "' --version V10 --fill 5000").status, 0);
  const FirmwareImageHeader other = CheckedHeader(dir / "other.bin");
  EXPECT_EQ(other.kernel.size + other.rootfs.size, 5000u);
  EXPECT_NE(other.kernel.crc, h.kernel.crc);
}

TEST(Fwimage, PutsTheGivenFilesInFileOrderWithTheirCrcs) {
  const fs::path dir = test::MakeTempDir("fw");
  const std::string kernel(1000, 'k'), rootfs = "root file system", oem(70000, '\x5a');
  Write(dir / "k", kernel);
  Write(dir / "r", rootfs);
  Write(dir / "o", oem);
  Write(dir / "u", "");  // an empty part is present, of size 0
  const ToolRun made = Fwimage("make '" + (dir / "img.bin").string() + "' --version V2 --oem '" + (dir / "o").string() +
                           "' --rootfs '" + (dir / "r").string() + "' --kernel '" + (dir / "k").string() +
                           "' --uboot '" + (dir / "u").string() + "' --kernel-name vmlinux");
  ASSERT_EQ(made.status, 0) << made.output;
  const FirmwareImageHeader h = CheckedHeader(dir / "img.bin");
  EXPECT_EQ(h.flags, kPartKernel | kPartRootfs | kPartUboot | kPartOem);
  EXPECT_EQ(h.KernelName(), "vmlinux");
  EXPECT_EQ(h.RootfsName(), "V2");
  const std::string image = Read(dir / "img.bin");
  EXPECT_EQ(image.substr(kFirmwareHeaderSize), kernel + rootfs + oem);
  EXPECT_EQ(h.kernel.offset, kFirmwareHeaderSize);
  EXPECT_EQ(h.rootfs.offset, kFirmwareHeaderSize + kernel.size());
  EXPECT_EQ(h.oem.offset, kFirmwareHeaderSize + kernel.size() + rootfs.size());
  EXPECT_EQ(h.kernel.crc, ZlibCrc(kernel));
  EXPECT_EQ(h.rootfs.crc, ZlibCrc(rootfs));
  EXPECT_EQ(h.oem.crc, ZlibCrc(oem));
  EXPECT_EQ(h.uboot.size, 0u);
  EXPECT_EQ(h.tgz.offset + h.tgz.size + h.tgz.crc, 0u);
  EXPECT_EQ(h.file_size, image.size());
  EXPECT_EQ(FirmwareHeaderNotice(h, image.size()), HeaderNotice::kNone);
}

TEST(Fwimage, MistakesAreSaidAndLeaveNoFile) {
  const fs::path dir = test::MakeTempDir("fw");
  Write(dir / "part", "p");
  Write(dir / "kept.bin", "old");
  const std::string out = "'" + (dir / "out.bin").string() + "'";
  const struct {
    std::string args;
    int status;
    const char* said;
  } cases[] = {
      {"", 2, "no command"},
      {"frobnicate", 2, "unknown command"},
      {"make " + out, 2, "--version TEXT is needed"},
      {"make " + out + " --version ''", 2, "--version TEXT is needed"},
      {"make --version V1", 2, "no output file"},
      {"make " + out + " --version", 2, "--version needs a value"},
      {"make " + out + " --version V1 --colour red", 2, "unknown option --colour"},
      {"make " + out + " x.bin --version V1", 2, "more than one output file"},
      {"make " + out + " --version V1 --fill 12k", 2, "--fill takes a byte count"},
      {"make " + out + " --version V1 --fill 99999999999", 2, "--fill takes a byte count"},
      {"make " + out + " --version V1 --fill 10 --kernel '" + (dir / "part").string() + "'", 2, "not both"},
      {"make " + out + " --version V1 --rootfs '" + (dir / "missing").string() + "'", 1, "missing: not a regular file"},
      {"make " + out + " --version V1 --rootfs '" + dir.string() + "'", 1, "not a regular file"},
      {"make " + out + " --version " + std::string(257, 'v'), 1, "version text is longer than 256 bytes"},
      {"make " + out + " --version V1 --kernel-name " + std::string(257, 'k'), 1, "kernel name is longer"},
      {"make '" + (dir / "no/such/folder/out.bin").string() + "' --version V1", 1, "out.bin"},
      {"check", 2, "check needs at least one file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun r = Fwimage(c.args);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.said), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
  }
  // An existing file stays as it was when the new one cannot be made.
  const ToolRun r = Fwimage("make '" + (dir / "kept.bin").string() + "' --version V1 --oem '" + (dir / "nope").string() + "'");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_EQ(Read(dir / "kept.bin"), "old");
  // A 256-byte version text fills its field whole and is read back whole.
  ASSERT_EQ(Fwimage("make " + out + " --version " + std::string(256, 'v')).status, 0);
  EXPECT_EQ(CheckedHeader(dir / "out.bin").RootfsName(), std::string(256, 'v'));
  // Nothing but the image is left in the folder (no temporary files).
  int files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++files;
  EXPECT_EQ(files, 3);  // part, kept.bin, out.bin
}

TEST(Fwimage, CheckPassesSoundImagesAndSaysWhyItRefusesBrokenOnes) {
  const fs::path dir = test::MakeTempDir("fw");
  ASSERT_EQ(Fwimage("make '" + (dir / "good.bin").string() + "' --version V3 --fill 3000").status, 0);
  const std::string good = Read(dir / "good.bin");
  std::string header_changed = good, part_changed = good;
  header_changed[300] ^= 1;
  part_changed[kFirmwareHeaderSize + 2000] ^= 1;
  Write(dir / "header.bin", header_changed);
  Write(dir / "part.bin", part_changed);
  Write(dir / "short.bin", good.substr(0, good.size() - 1));

  ToolRun r = Fwimage("check '" + (dir / "good.bin").string() + "'");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("good.bin: ok, version \"V3\", 4556 bytes, parts kernel=750 rootfs=2250"),
            std::string::npos)
      << r.output;
  const struct {
    const char* file;
    const char* said;
  } broken[] = {{"header.bin", "crc error"},
                {"part.bin", "refused: a part's CRC does not match its content"},
                {"short.bin", "truncated image"},
                {"none.bin", "fail"}};
  for (const auto& b : broken) {
    SCOPED_TRACE(b.file);
    r = Fwimage("check '" + (dir / "good.bin").string() + "' '" + (dir / b.file).string() + "'");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(b.said), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("good.bin: ok"), std::string::npos) << r.output;
  }
}

}  // namespace
}  // namespace kelvara::firmware
