#include "common/folder_functions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/known_devices.h"
#include "common/paths.h"
#include "kelvara_test/test_env.h"

namespace kelvara {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(Folders, ProgramAndShellFolders) {
  EXPECT_EQ(GetModuleFolder(), fs::read_symlink("/proc/self/exe").parent_path());
  // "Documents" means one folder everywhere: downloads, snapshots and device
  // logs lie below the same folder as the shared documents.
  EXPECT_EQ(GetShellFolderPath(5), test::HomeDir() / "Documents" / "Kelvara");
  EXPECT_EQ(GetShellFolderPath(5), GetCommonDocumentsFolder());
  EXPECT_EQ(GetCommonDocumentsFolder(), test::HomeDir() / "Documents" / "Kelvara");
  EXPECT_TRUE(GetShellFolderPath(46).empty());  // not among the known numbers
  EXPECT_TRUE(GetShellFolderPath(28).empty());
  EXPECT_TRUE(GetShellFolderPath(35).empty());
  EXPECT_TRUE(GetShellFolderPath(3).empty());   // control panel: no folder on Linux
  EXPECT_TRUE(GetShellFolderPath(-1).empty());
  // Every known folder lies below the test home: nothing escapes KELVARA_HOME.
  for (int csidl : {0, 16, 20, 21, 25, 26, 32}) {
    const auto p = GetShellFolderPath(csidl).string();
    EXPECT_EQ(p.rfind(test::HomeDir().string(), 0), 0u) << csidl << " " << p;
  }
}

TEST(Folders, CreateChains) {
  const auto root = test::MakeTempDir();
  fs::create_directories(root / "a");
  EXPECT_EQ(CreateFolderPath(root / "a" / "b" / "c"), 0);
  EXPECT_TRUE(fs::is_directory(root / "a" / "b" / "c"));
  CreateFolderPathNormalized(root.string() + "\\x//y\\\\z");
  EXPECT_TRUE(fs::is_directory(root / "x" / "y" / "z"));
  // A file in the way: nothing is created, nothing thrown.
  std::ofstream(root / "file") << "x";
  EXPECT_EQ(CreateFolderPath(root / "file" / "sub"), 0);
  EXPECT_FALSE(fs::exists(root / "file" / "sub"));
}

TEST(Folders, PathExistsOnLocalFileSystems) {
  const auto root = test::MakeTempDir();
  EXPECT_EQ(PathExistsWithTimeout(root, 800), 1);
  EXPECT_EQ(PathExistsWithTimeout(root / "missing", 800), 0);
  EXPECT_EQ(PathExistsWithTimeout("", 800), 0);
}

TEST(Folders, MountTypeOfAPath) {
  const std::string mountinfo =
      "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
      "40 22 0:50 / /mnt/nas rw,relatime shared:3 - nfs4 srv:/export rw\n"
      "41 22 0:51 / /mnt/nas\\040two rw - cifs //srv/share rw\n"
      "42 22 0:52 / /home/u/remote rw - fuse.sshfs u@h: rw\n"
      "43 40 0:53 / /mnt/nas/local rw - tmpfs tmpfs rw\n"
      "broken line\n";
  const struct {
    const char* path;
    const char* type;
  } cases[] = {{"/mnt/nas/x/y", "nfs4"}, {"/mnt/nas", "nfs4"},       {"/mnt/nasx", "ext4"},
               {"/mnt/nas two/a", "cifs"}, {"/home/u/remote/f", "fuse.sshfs"}, {"/mnt/nas/local/f", "tmpfs"},
               {"/etc", "ext4"}};
  for (const auto& c : cases) EXPECT_EQ(folder_detail::FsTypeOf(mountinfo, c.path), c.type) << c.path;
  EXPECT_TRUE(folder_detail::IsNetworkFsType("nfs4"));
  EXPECT_TRUE(folder_detail::IsNetworkFsType("cifs"));
  EXPECT_TRUE(folder_detail::IsNetworkFsType("fuse.sshfs"));
  EXPECT_FALSE(folder_detail::IsNetworkFsType("ext4"));
  EXPECT_FALSE(folder_detail::IsNetworkFsType("tmpfs"));
}

TEST(Folders, HangingProbeTimesOutAndItsWorkerEndsSafelyLater) {
  auto finished = std::make_shared<std::atomic<bool>>(false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(folder_detail::ProbeWithTimeout(
                [finished] {
                  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a dead server
                  finished->store(true);
                  return true;
                },
                50),
            0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  for (int i = 0; i < 200 && !finished->load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(finished->load());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it drop its reference
  EXPECT_EQ(folder_detail::ProbeWithTimeout([] { return true; }, 1000), 1);
  EXPECT_EQ(folder_detail::ProbeWithTimeout([] { return false; }, 1000), 0);
}

TEST(Folders, StartFolders) {
  const auto root = test::MakeTempDir();
  const auto def = test::MakeTempDir();
  EXPECT_EQ(GetStartFolder("", ""), GetModuleFolder());
  EXPECT_EQ(GetStartFolder("", def), def);
  EXPECT_EQ(GetStartFolder(root, def), root);
  EXPECT_EQ(GetStartFolder(root / "gone", def), def);
  EXPECT_EQ(GetStartFolderForFile(root / "fw.bin", def), root);  // the file need not exist
  EXPECT_EQ(GetStartFolderForFile(root / "gone" / "fw.bin", def), def);
  EXPECT_EQ(GetStartFolderForFile("fw.bin", def), def);  // no folder part
  EXPECT_EQ(GetStartFolderForFile("", ""), GetModuleFolder());
}

TEST(Files, WriteFileBuffer) {
  const auto root = test::MakeTempDir();
  const std::string text = R"(<EXECUTE_USER_CMD><CMD DATA="touch /tmp/flag.open.slog.tcp" /></EXECUTE_USER_CMD>)";
  EXPECT_EQ(WriteFileBuffer(root / "openslog.xml", text.data(), text.size()), static_cast<int>(text.size()));
  EXPECT_EQ(ReadAll(root / "openslog.xml"), text);
  EXPECT_EQ(WriteFileBuffer(root / "openslog.xml", "a\nb", 3), 3);  // replaced whole, bytes as given
  EXPECT_EQ(ReadAll(root / "openslog.xml"), "a\nb");
  testing::internal::CaptureStdout();
  EXPECT_EQ(WriteFileBuffer(root / "no" / "such" / "dir.xml", "x", 1), -1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("open file "), std::string::npos);
}

TEST(Numbers, RoundUpAndFileTime) {
  EXPECT_EQ(RoundUpToMultiple(1000, 512), 1024u);
  EXPECT_EQ(RoundUpToMultiple(1024, 512), 1024u);
  EXPECT_EQ(RoundUpToMultiple(0, 512), 0u);
  EXPECT_EQ(RoundUpToMultiple(4294967295u, 512), 4294967296ull);  // no wrap
  EXPECT_EQ(RoundUpToMultiple(7, 0), 7u);
  std::int64_t out = -1;
  EXPECT_EQ(FileTimeToUnixTime(116444736000000000ull, &out), 0);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(FileTimeToUnixTime(116444736000000000ull + 10000000ull * 86400), 86400);
  EXPECT_EQ(FileTimeToUnixTime(0), -11644473600);
}

TEST(KnownDevices, FirstListWinsAndCodesAreFoundInside) {
  const KnownDevice first[] = {{"0011223344556677", "ABCDEFGHIJKLMNOPQRSTUV"}};
  const KnownDevice second[] = {{"0011223344556677", "ABCDEFGHIJKLMNOPQRSTUV"},
                                {"8899AABBCCDDEEFF", "0123456789012345678901"}};
  EXPECT_EQ(MatchKnownDevice("0011223344556677", "xxABCDEFGHIJKLMNOPQRSTUVyy", first, second), 1);
  EXPECT_EQ(MatchKnownDevice("8899AABBCCDDEEFF", "p2p-0123456789012345678901", first, second), 2);
  EXPECT_EQ(MatchKnownDevice("8899aabbccddeeff", "p2p-0123456789012345678901", first, second), 0);  // exact serial
  EXPECT_EQ(MatchKnownDevice("0011223344556677", "ABCDEFGHIJKLMNOPQRSTU", first, second), 0);
  EXPECT_EQ(MatchKnownDevice("0011223344556677", "ABCDEFGHIJKLMNOPQRSTUV"), 0);  // no lists shipped
}

}  // namespace
}  // namespace kelvara
