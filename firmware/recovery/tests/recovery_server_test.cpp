#include "firmware/recovery/recovery_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "common/served_file.h"
#include "firmware/recovery/device_ids.h"
#include "firmware/tests/image_builder.h"
#include "kelvara_test/test_env.h"
#include "tftp_server.h"

namespace kelvara::firmware {
namespace {

std::uint32_t Addr(const char* dotted) { return inet_addr(dotted); }

std::map<std::string, std::string> Fields(const std::string& reply) {
  std::map<std::string, std::string> out;
  std::size_t start = 0;
  while (start <= reply.size()) {
    const auto end = reply.find(';', start);
    const std::string piece = reply.substr(start, end - start);
    const auto eq = piece.find('=');
    out[piece.substr(0, eq)] = piece.substr(eq + 1);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

// A server on adapter 192.168.1.253 whose probes find `busy` addresses in use
// and cannot probe `unknown` ones; its clock moves only when a test moves it.
struct Fixture {
  std::mutex m;
  std::vector<std::string> log;
  std::vector<BootDeviceInfo> posted;
  std::set<std::string> busy;
  std::set<std::string> unknown;
  std::chrono::steady_clock::time_point clock{std::chrono::hours(1)};
  RecoveryServer server;

  Fixture()
      : server(RecoveryHooks{
            [](std::string_view key) { return "T:" + std::string(key); },
            [this](const std::string& line) { std::lock_guard l(m); log.push_back(line); },
            [this](const BootDeviceInfo& d) { std::lock_guard l(m); posted.push_back(d); },
            [this](std::uint32_t a) {
              in_addr in{a};
              const std::string dotted = inet_ntoa(in);
              std::lock_guard l(m);
              if (unknown.count(dotted)) return -1;
              return busy.count(dotted) ? 1 : 0;
            },
            {},
            [this] { return clock; }}) {
    server.SetAdapterAddress(Addr("192.168.1.253"));
    server.SetFirmwareList({{"ipc_a.bin", {100, "IPC-A_V1.0"}}, {"nvr.bin", {200, "NVR-B_V2"}}});
  }
  std::string Ask(const std::string& text, const char* from = "192.168.1.20") {
    return server.HandleRequest(Addr(from), text);
  }
};

TEST(RecoveryServer, NewDeviceGetsImageAddressAndMac) {
  Fixture f;
  const auto reply = f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=zq0001");
  EXPECT_EQ(reply.find('\0'), std::string::npos);
  auto r = Fields(reply);
  EXPECT_EQ(r["CMD_CODE"], "2");
  EXPECT_EQ(r["RESULT"], "0");
  EXPECT_EQ(r["TFTP_SERVER"], "192.168.1.253");
  EXPECT_EQ(r["FIRMWARE_FILE"], "ipc_a.bin");
  EXPECT_EQ(r["DEV_IP"], "192.168.1.3");  // the first candidate: (2 + 0) % 255 + 1
  EXPECT_EQ(r["DEV_MAC"].substr(0, 3), "00 ");
  EXPECT_EQ(r["UUID"], "zq0001");
  ASSERT_EQ(f.posted.size(), 1u);
  EXPECT_EQ(f.posted[0].step, 0);
  EXPECT_EQ(f.posted[0].state_text, "T:UPDATE_PROCESS_INIT");
  EXPECT_EQ(f.log, (std::vector<std::string>{"IPC-A", "IPC-A:ipc_a.bin"}));

  // Again: same MAC, the next free address of the round robin.
  auto again = Fields(f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=zq0001;STEP=3"));
  EXPECT_EQ(again["RESULT"], "0");
  EXPECT_EQ(again["DEV_MAC"], r["DEV_MAC"]);
  EXPECT_NE(again["DEV_IP"], r["DEV_IP"]);
  EXPECT_EQ(f.server.Devices()[0].address, r["DEV_IP"]);  // the first address stays stored
  EXPECT_EQ(f.server.Devices()[0].step, 3);
  EXPECT_EQ(f.log.back(), "IPC-A:zq0001:T:UPDATE_PROCESS_INIT");
}

TEST(RecoveryServer, RefusalsAndSilence) {
  Fixture f;
  struct Case {
    const char* name;
    std::string request;
    std::string reply;
  };
  const Case cases[] = {
      {"no code", "DEV_TYPE=IPC-A;UUID=a", ""},
      {"negative code", "CMD_CODE=-1;UUID=a", ""},
      {"other code", "CMD_CODE=7;DEV_TYPE=IPC-A;UUID=a", ""},
      {"no image", "CMD_CODE=1;DEV_TYPE=CAM-Z;UUID=a",
       "CMD_CODE=2;RESULT=-1;TFTP_SERVER=192.168.1.253;FIRMWARE_FILE=;DEV_IP=;DEV_MAC=;UUID=a"},
      // An empty type matches nothing (never every image).
      {"empty type", "CMD_CODE=1;DEV_TYPE=;UUID=a",
       "CMD_CODE=2;RESULT=-1;TFTP_SERVER=192.168.1.253;FIRMWARE_FILE=;DEV_IP=;DEV_MAC=;UUID=a"},
      {"progress of unknown", "CMD_CODE=3;UUID=nobody;STEP=10", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(f.Ask(c.request), c.reply) << c.name;
  EXPECT_TRUE(f.posted.empty());
  EXPECT_TRUE(f.server.Devices().empty());
  EXPECT_EQ(std::count(f.log.begin(), f.log.end(), "CAM-Z:firmware not found"), 1);
  EXPECT_EQ(std::count(f.log.begin(), f.log.end(), ":firmware not found"), 1);

  f.server.SetAdapterAddress(0);
  EXPECT_EQ(f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=a"),
            "CMD_CODE=2;RESULT=-1;TFTP_SERVER=;FIRMWARE_FILE=ipc_a.bin;DEV_IP=;DEV_MAC=;UUID=a");
  EXPECT_EQ(f.log.back(), "IPC-A:netcard not selected");
}

TEST(RecoveryServer, StepsAndKnownDeviceRules) {
  Fixture f;
  auto first = Fields(f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=u1"));
  for (int step = 1; step <= 13; ++step) f.Ask("CMD_CODE=3;DEV_TYPE=IPC-A;UUID=u1;STEP=" + std::to_string(step));
  EXPECT_EQ(f.server.Devices()[0].step, 13);
  EXPECT_EQ(f.server.Devices()[0].state_text, "");  // no key for 13
  ASSERT_EQ(f.posted.size(), 14u);
  EXPECT_EQ(f.posted[10].state_text, "T:UPDATE_STATUS_SUCCESS");

  f.Ask("CMD_CODE=3;UUID=u1;STEP=10");
  // Recovered with this image: refused, with the stored address and MAC.
  auto refused = Fields(f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=u1"));
  EXPECT_EQ(refused["RESULT"], "-1");
  EXPECT_EQ(refused["DEV_IP"], first["DEV_IP"]);
  EXPECT_EQ(refused["DEV_MAC"], first["DEV_MAC"]);
  EXPECT_EQ(f.posted.back().step, 10);

  // A newer image in the folder lets it recover again.
  f.server.SetFirmwareList({{"ipc_a.bin", {100, "IPC-A_V1.0"}}, {"ipc_a2.bin", {150, "IPC-A_V1.1"}}});
  auto newer = Fields(f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=u1"));
  EXPECT_EQ(newer["RESULT"], "0");
  EXPECT_EQ(newer["FIRMWARE_FILE"], "ipc_a2.bin");
  EXPECT_EQ(newer["DEV_MAC"], first["DEV_MAC"]);
  EXPECT_EQ(f.server.Devices()[0].step, 0);
}

TEST(RecoveryServer, ChoosesNewestMatchingImage) {
  Fixture f;
  f.server.SetFirmwareList({{"b.bin", {50, "X-CAM v2"}},
                            {"a.bin", {50, "X-CAM v1"}},  // equal times: first in name order
                            {"c.bin", {-5, "X-CAM old"}},
                            {"d.bin", {60, "Y-CAM"}}});
  EXPECT_EQ(f.server.ChooseFirmwareFile("X-CAM"), "a.bin");
  EXPECT_EQ(f.server.ChooseFirmwareFile("CAM"), "d.bin");
  EXPECT_EQ(f.server.ChooseFirmwareFile("old"), "c.bin");
  EXPECT_EQ(f.server.ChooseFirmwareFile(""), "");
}

// The factory image follows the header check's verdicts: a file that is no
// image or a truncated one is passed over, one padded to 4 KiB is offered.
TEST(RecoveryServer, FactoryImageFallbackIsCheckedAndNamedInFolder) {
  Fixture f;
  const auto dir = kelvara::test::MakeTempDir("fw");
  test::WriteFile(dir / "firmware_a_factory_zq.bin", "not an image at all");
  const std::string image = test::BuildImage("FACTORY");
  test::WriteFile(dir / "firmware_b_factory_zq.bin", image.substr(0, image.size() - 100));
  test::WriteFile(dir / "firmware_c_factory_zq.bin", image + std::string(4096 - image.size() % 4096, '\xff'));
  test::WriteFile(dir / "factory_zq.bin", image);
  f.server.SetFirmwareFolder(dir.string());
  f.server.SetFirmwareList({});
  EXPECT_EQ(f.server.ChooseFirmwareFile("ANY"), "firmware_c_factory_zq.bin");
  std::filesystem::remove(dir / "firmware_c_factory_zq.bin");
  EXPECT_EQ(f.server.ChooseFirmwareFile("ANY"), "");

  // The listing itself comes from the folder.
  test::WriteFile(dir / "cam.bin", test::BuildImage("IPC-Q_V3"));
  f.server.RebuildFirmwareList();
  EXPECT_EQ(f.server.ChooseFirmwareFile("IPC-Q"), "cam.bin");
}

// What is offered is exactly what the TFTP helper serves from the folder: a
// newer image linked in from elsewhere is not offered (the helper would
// refuse the fetch), nor is the factory image when it is such a link; links
// that stay inside are offered and fetched.
TEST(RecoveryServer, OffersOnlyImagesTheHelperServes) {
  namespace fs = std::filesystem;
  const fs::path root = kelvara::test::MakeTempDir("offer");
  const fs::path dir = root / "fw", outside = root / "elsewhere";
  fs::create_directories(dir / "sub");
  fs::create_directories(outside);
  test::WriteFile(dir / "old.bin", test::BuildImage("IPC-A_V1"));
  fs::last_write_time(dir / "old.bin", fs::file_time_type::clock::now() - std::chrono::hours(24));
  test::WriteFile(outside / "new.bin", test::BuildImage("IPC-A_V2"));
  fs::create_symlink(outside / "new.bin", dir / "new_abs.bin");
  fs::create_symlink("../elsewhere/new.bin", dir / "new_rel.bin");
  fs::create_symlink(outside / "missing.bin", dir / "dangling.bin");
  test::WriteFile(dir / "sub" / "inner.bin", test::BuildImage("IPC-B_V1"));
  fs::create_symlink("sub/inner.bin", dir / "inner_link.bin");
  fs::create_symlink("sub", dir / "folder.bin");
  ASSERT_EQ(mkfifo((dir / "pipe.bin").c_str(), 0600), 0);
  test::WriteFile(outside / "factory.bin", test::BuildImage("FACTORY-OUT"));
  fs::create_symlink(outside / "factory.bin", dir / "firmware_a_factory_zq.bin");  // first in name order
  test::WriteFile(dir / "firmware_b_factory_zq.bin", test::BuildImage("FACTORY"));

  const FirmwareList list = ListFirmwareFiles(dir.string());
  std::set<std::string> listed;
  for (const auto& [name, entry] : list) listed.insert(name);
  EXPECT_EQ(listed, (std::set<std::string>{"firmware_b_factory_zq.bin", "inner_link.bin", "old.bin"}));

  Fixture f;
  f.server.SetFirmwareFolder(dir.string());
  f.server.RebuildFirmwareList();
  EXPECT_EQ(f.server.ChooseFirmwareFile("IPC-A"), "old.bin");
  EXPECT_EQ(f.server.ChooseFirmwareFile("IPC-B"), "inner_link.bin");
  f.server.SetFirmwareList({});
  EXPECT_EQ(f.server.ChooseFirmwareFile("ANY"), "firmware_b_factory_zq.bin");

  // The helper itself, on loopback: every offered name is fetched whole, every
  // name left out is refused.
  if (std::system("command -v curl >/dev/null") != 0) GTEST_SKIP() << "curl missing";
  tftp::ServerOptions options;
  options.folder = dir.string();
  options.port = 0;
  options.bind_address = htonl(INADDR_LOOPBACK);
  tftp::TftpServer helper(options);
  std::string error;
  ASSERT_TRUE(helper.Open(error)) << error;
  std::thread serving([&] { helper.Run(); });
  const fs::path got = root / "got.bin";
  auto fetch = [&](const std::string& name) {
    fs::remove(got);
    const std::string command = "curl -sS -o " + got.string() + " tftp://127.0.0.1:" + std::to_string(helper.port()) +
                                "/" + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  };
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    EXPECT_EQ(fetch(name), listed.count(name) == 1);
    if (listed.count(name)) {
      std::ifstream in(got, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(bytes.size(), fs::file_size(entry.path()));
    }
  }
  helper.Stop();
  serving.join();
}

// A candidate whose probe could not run at all is handed out, and said to be
// unchecked; one that answers never is.
TEST(RecoveryServer, AddressesSkipBusyAndHandedOutAndTakeUncheckedOnes) {
  Fixture f;
  f.busy = {"192.168.1.3"};
  f.unknown = {"192.168.1.5"};
  bool unchecked = false;
  EXPECT_EQ(f.server.PickDeviceIp(0, "d", &unchecked), "192.168.1.5");
  EXPECT_TRUE(unchecked);
  EXPECT_EQ(f.server.PickDeviceIp(0, "e", &unchecked), "192.168.1.7");
  EXPECT_FALSE(unchecked);
  std::set<std::string> seen{"192.168.1.5", "192.168.1.7"};
  // Every address handed out differs, and none is the adapter's or a busy
  // one; once all 251 others are out, nothing more is given.
  for (int call = 0; call < 1000; ++call) {
    const std::string ip = f.server.PickDeviceIp(0, "d" + std::to_string(call));
    if (!ip.empty()) {
      ASSERT_TRUE(seen.insert(ip).second) << ip;
    }
  }
  EXPECT_EQ(seen.size(), 251u);
  EXPECT_EQ(f.server.HeldAddresses(), 251u);
  EXPECT_EQ(seen.count("192.168.1.3"), 0u);
  EXPECT_EQ(seen.count("192.168.1.253"), 0u);
  f.server.SetAdapterAddress(0);
  EXPECT_EQ(f.server.PickDeviceIp(0, "x"), "");
}

// When every candidate answers, not even the first device gets an address
// (rather than one in use). When no probe can run at all, devices are still
// recovered, each on an address of its own, and the log says it could not
// be checked.
TEST(RecoveryServer, AnsweringAddressesAreNeverHandedOutUncheckedOnesAreWithALogLine) {
  {
    std::vector<std::string> log;
    RecoveryHooks hooks;
    hooks.log = [&](const std::string& line) { log.push_back(line); };
    hooks.probe = [](std::uint32_t) { return 1; };
    RecoveryServer server(hooks);
    server.SetAdapterAddress(Addr("192.168.1.253"));
    server.SetFirmwareList({{"ipc_a.bin", {100, "IPC-A_V1.0"}}});
    for (const char* uuid : {"first", "second"}) {
      EXPECT_EQ(server.HandleRequest(Addr("192.168.1.20"), std::string("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=") + uuid),
                std::string("CMD_CODE=2;RESULT=-1;TFTP_SERVER=192.168.1.253;FIRMWARE_FILE=ipc_a.bin;DEV_IP=;DEV_MAC=;"
                            "UUID=") + uuid);
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), "IPC-A:no free address"), 2);
    EXPECT_TRUE(server.Devices().empty());
    EXPECT_EQ(server.HeldAddresses(), 0u);
  }
  struct Case {
    const char* name;
    std::function<int(std::uint32_t)> probe;
  };
  const Case cases[] = {
      {"no probe can run", [](std::uint32_t) { return -1; }},
      {"no probe at all", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> log;
    RecoveryHooks hooks;
    hooks.log = [&](const std::string& line) { log.push_back(line); };
    hooks.probe = c.probe;
    RecoveryServer server(hooks);
    server.SetAdapterAddress(Addr("192.168.1.253"));
    server.SetFirmwareList({{"ipc_a.bin", {100, "IPC-A_V1.0"}}});
    std::set<std::string> addresses;
    for (const char* uuid : {"first", "second"}) {
      auto reply = Fields(server.HandleRequest(Addr("192.168.1.20"), std::string("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=") + uuid));
      EXPECT_EQ(reply["RESULT"], "0");
      addresses.insert(reply["DEV_IP"]);
      EXPECT_EQ(std::count(log.begin(), log.end(),
                           "IPC-A:" + reply["DEV_IP"] + ":the address could not be checked (no address probe could run)"),
                1);
    }
    EXPECT_EQ(addresses, (std::set<std::string>{"192.168.1.3", "192.168.1.4"}));
    EXPECT_EQ(server.Devices().size(), 2u);
  }
}

// 252 spoofed requests take every address; each way a holder leaves gives
// its address back, so a real device is served again.
TEST(RecoveryServer, SpoofedRequestsHoldAddressesOnlyUntilTheyLeave) {
  enum class Leave { kFinished, kBadImage, kFlashFail, kSilent, kClearHistory };
  for (const Leave leave : {Leave::kFinished, Leave::kBadImage, Leave::kFlashFail, Leave::kSilent, Leave::kClearHistory}) {
    SCOPED_TRACE(static_cast<int>(leave));
    Fixture f;
    for (int i = 0; i < 252; ++i)
      ASSERT_EQ(Fields(f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=spoof" + std::to_string(i)))["RESULT"], "0");
    EXPECT_EQ(f.server.HeldAddresses(), 252u);
    EXPECT_EQ(Fields(f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=real"))["RESULT"], "-1");

    // spoof0 stays alive throughout: a device heard within the silence time keeps its address.
    const std::string kept = f.server.Devices()[0].address;
    ASSERT_EQ(f.server.Devices()[0].uuid, "spoof0");
    f.clock += kSilentDeviceRelease - std::chrono::seconds(1);
    f.Ask("CMD_CODE=3;UUID=spoof0;STEP=7");
    EXPECT_EQ(Fields(f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=real"))["RESULT"], "-1") << "nobody silent long enough yet";
    switch (leave) {
      case Leave::kFinished:
      case Leave::kBadImage:
      case Leave::kFlashFail: {
        const int step = leave == Leave::kFinished ? 10 : leave == Leave::kBadImage ? 11 : 12;
        for (int i = 1; i < 252; ++i) f.Ask("CMD_CODE=3;UUID=spoof" + std::to_string(i) + ";STEP=" + std::to_string(step));
        break;
      }
      case Leave::kSilent:
        f.clock += std::chrono::seconds(2);
        break;
      case Leave::kClearHistory:
        f.server.ClearHistory();
        break;
    }
    EXPECT_EQ(f.server.HeldAddresses(), leave == Leave::kClearHistory ? 0u : 1u);
    auto real = Fields(f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=real"));
    EXPECT_EQ(real["RESULT"], "0");
    if (leave != Leave::kClearHistory) {
      EXPECT_NE(real["DEV_IP"], kept);
    }
  }
}

// A request that ends without a reply (the listener stops while it is being
// answered) leaves no address claimed: the next device gets that very one.
TEST(RecoveryServer, RequestCancelledDuringTheProbeHoldsNothing) {
  RecoveryServer* self = nullptr;
  bool cancel = true;
  RecoveryHooks hooks;
  hooks.probe = [&](std::uint32_t) {
    if (cancel) self->SetCancelled(true);
    return 0;
  };
  RecoveryServer server(hooks);
  self = &server;
  server.SetAdapterAddress(Addr("192.168.1.253"));
  server.SetFirmwareList({{"ipc_a.bin", {100, "IPC-A_V1.0"}}});
  EXPECT_EQ(Fields(server.HandleRequest(Addr("192.168.1.20"), "CMD_CODE=1;DEV_TYPE=IPC-A;UUID=a"))["RESULT"], "-1");
  EXPECT_EQ(server.HeldAddresses(), 0u);
  cancel = false;
  server.SetCancelled(false);
  // All 252 addresses are still there to be handed out, the first probed one too.
  std::set<std::string> handed;
  for (int i = 0; i < 300; ++i) {
    const std::string ip = server.PickDeviceIp(0, "d" + std::to_string(i));
    if (!ip.empty()) handed.insert(ip);
  }
  EXPECT_EQ(handed.size(), 252u);
  EXPECT_EQ(handed.count("192.168.1.3"), 1u);
}

// Device texts reach the log escaped: a line break in them forges no line.
TEST(RecoveryServer, DeviceTextsAreEscapedInTheLog) {
  Fixture f;
  f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A\n00099:forged;UUID=x");
  f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=u\r\n1");
  f.Ask("CMD_CODE=3;DEV_TYPE=IPC-A;UUID=u\r\n1;STEP=1");
  for (const std::string& line : f.log) EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
  EXPECT_EQ(f.log, (std::vector<std::string>{"IPC-A\\n00099:forged", "IPC-A\\n00099:forged:firmware not found",
                                             "IPC-A", "IPC-A:ipc_a.bin", "IPC-A",
                                             "IPC-A:u\\r\\n1:T:UPDATE_PROCESS_DOWN_FW_START"}));
}

TEST(RecoveryServer, DeviceAskingAgainGivesBackItsAddress) {
  // A device that keeps failing asks again and again: each answer moves it to
  // a new address and frees the old one, so a long run never runs dry and no
  // two devices hold the same address.
  Fixture f;
  std::string held_by_u1, held_by_u2;
  for (int i = 0; i < 600; ++i) {
    auto r = Fields(f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=u1"));
    ASSERT_EQ(r["RESULT"], "0") << "request " << i;
    ASSERT_NE(r["DEV_IP"], held_by_u1);
    ASSERT_NE(r["DEV_IP"], held_by_u2);  // u2 keeps its address while u1 goes on asking
    held_by_u1 = r["DEV_IP"];
    if (i == 300) {
      auto other = Fields(f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=u2"));
      ASSERT_EQ(other["RESULT"], "0");
      EXPECT_NE(other["DEV_IP"], held_by_u1);
      held_by_u2 = other["DEV_IP"];
    }
  }
}

TEST(RecoveryServer, ConcurrentDevicesNeverShareAddressOrMac) {
  Fixture f;
  // A generator that repeats itself: the server must still hand out distinct MACs.
  std::vector<std::thread> threads;
  std::mutex m;
  std::set<std::string> ips, macs;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        auto r = Fields(f.Ask("CMD_CODE=1;DEV_TYPE=NVR-B;UUID=d" + std::to_string(t * 10 + i)));
        std::lock_guard l(m);
        EXPECT_TRUE(ips.insert(r["DEV_IP"]).second);
        EXPECT_TRUE(macs.insert(r["DEV_MAC"]).second);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(ips.size(), 80u);
  EXPECT_EQ(f.server.Devices().size(), 80u);
}

TEST(RecoveryServer, RepeatingRandomSourceStillGivesDistinctMacs) {
  int calls = 0;
  RecoveryHooks hooks;
  hooks.random_mac = [&] {
    ++calls;
    return std::array<std::uint8_t, 6>{0, 1, 2, 3, 4, static_cast<std::uint8_t>(calls / 3)};
  };
  RecoveryServer server(hooks);
  EXPECT_EQ(server.MakeRandomMac(), "00 01 02 03 04 00");
  EXPECT_EQ(server.MakeRandomMac(), "00 01 02 03 04 01");
  EXPECT_EQ(calls, 3);
}

TEST(RecoveryServer, FactoryRestoreQueries) {
  Fixture f;
  const std::string search_uuid = "4660";  // maps to zq123400000000
  const std::string key = MakeDeviceUuid(search_uuid);
  f.Ask("CMD_CODE=1;DEV_TYPE=IPC-A;UUID=" + key);
  EXPECT_FALSE(f.server.NeedsFactoryRestore(search_uuid));  // step 0
  f.Ask("CMD_CODE=3;UUID=" + key + ";STEP=10");
  EXPECT_FALSE(f.server.NeedsFactoryRestore(""));
  f.server.SetRestoreEnabled(false);
  EXPECT_FALSE(f.server.NeedsFactoryRestore(search_uuid));
  f.server.SetRestoreEnabled(true);
  int rounds = 0;
  while (f.server.NeedsFactoryRestore(search_uuid) && rounds < 20) {
    f.server.CountFactoryRestore(search_uuid);
    ++rounds;
  }
  EXPECT_EQ(rounds, 5);
  // By its own UUID too.
  EXPECT_FALSE(f.server.NeedsFactoryRestore(key));
  // A new success report allows five more; so does clearing the list.
  f.Ask("CMD_CODE=3;UUID=" + key + ";STEP=10");
  EXPECT_TRUE(f.server.NeedsFactoryRestore(key));
  for (int i = 0; i < 5; ++i) f.server.CountFactoryRestore(key);
  EXPECT_FALSE(f.server.NeedsFactoryRestore(key));
  f.server.ClearRestoreAttempts();
  EXPECT_TRUE(f.server.NeedsFactoryRestore(search_uuid));
  f.server.CountFactoryRestore("");  // nothing
  f.server.ClearHistory();
  EXPECT_FALSE(f.server.NeedsFactoryRestore(search_uuid));
  // Clear history: the same report adds nothing.
  f.Ask("CMD_CODE=3;UUID=" + key + ";STEP=10");
  EXPECT_TRUE(f.server.Devices().empty());
}

}  // namespace
}  // namespace kelvara::firmware
