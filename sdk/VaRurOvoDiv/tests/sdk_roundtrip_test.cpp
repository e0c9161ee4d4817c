// Round trips between the SDK and the device simulator over loopback: logins,
// blocks, control replies, transfers, faults, and the threading guarantees.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <sstream>
#include <vector>

#include "kelvara_test/test_env.h"
#include "loopback_server.h"
#include "raw_client.h"
#include "sdk_test_support.h"
#include "fake_device_login.h"
#include "digest.h"
#include "login_handshake.h"
#include "firmware/tests/image_builder.h"
#include "simulator.h"
#include "wire_frame.h"

namespace {

using kelvara::devsim::DeviceConfig;
using kelvara::devsim::SimConfig;
using kelvara::devsim::Simulator;
using varurovodiv::test::Delivered;
using varurovodiv::test::EventRecorder;
using varurovodiv::test::RawClient;
namespace wire = varurovodiv::wire;

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// SDK threads carry names beginning "vrod-".
int SdkThreads() {
  int n = 0;
  DIR* d = opendir("/proc/self/task");
  if (d == nullptr) return -1;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    n += name.rfind("vrod-", 0) == 0;
  }
  closedir(d);
  return n;
}

// The thread count once joined threads have left /proc: pthread_join returns
// when the thread's id is released, a moment before the kernel drops its task
// entry, so a count taken right after a join can still see it.
int SdkThreadsSettled(int expected) {
  int n = SdkThreads();
  for (int i = 0; i < 100 && n != expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    n = SdkThreads();
  }
  return n;
}

// The process's eventfd descriptors (each started login has one), once the
// count is `expected` or has stopped changing for a moment (-1: just settled).
int EventFdsSettled(int expected) {
  auto count = [] {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      n += std::filesystem::read_symlink(e.path(), ec).string() == "anon_inode:[eventfd]";
    }
    return n;
  };
  int n = count();
  for (int i = 0, same = 0; i < 100 && n != expected && same < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int m = count();
    same = m == n ? same + 1 : 0;
    n = m;
  }
  return n;
}

// Holds one SDK thread inside a signal handler until released: a login
// thread that is slow to end, wherever it waits. One at a time per process.
class ThreadHold {
 public:
  ThreadHold() {
    struct sigaction sa {};
    sa.sa_handler = &ThreadHold::Handler;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGUSR2, &sa, &old_);
  }
  ~ThreadHold() {
    Release();
    for (int i = 0; i < 500 && held_.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    sigaction(SIGUSR2, &old_, nullptr);
  }
  ThreadHold(const ThreadHold&) = delete;
  ThreadHold& operator=(const ThreadHold&) = delete;

  // Holds the first thread named `name`; false when there is none or it did
  // not stop within 5 s.
  bool Hold(const std::string& name) {
    DIR* d = opendir("/proc/self/task");
    if (d == nullptr) return false;
    pid_t tid = 0;
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
      std::string n;
      std::getline(comm, n);
      if (n == name) {
        tid = static_cast<pid_t>(std::atoi(e->d_name));
        break;
      }
    }
    closedir(d);
    if (tid == 0) return false;
    hold_.store(true);
    if (syscall(SYS_tgkill, getpid(), tid, SIGUSR2) != 0) return false;
    for (int i = 0; i < 500 && !held_.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return held_.load();
  }
  void Release() { hold_.store(false); }
  // Whether the thread is still held (false once it left the handler).
  bool holding() const { return held_.load(); }

 private:
  static void Handler(int) {
    const int saved = errno;
    held_.store(true);
    const timespec pause{0, 1000000};
    while (hold_.load()) nanosleep(&pause, nullptr);
    held_.store(false);
    errno = saved;
  }
  static inline std::atomic<bool> hold_{false};
  static inline std::atomic<bool> held_{false};
  struct sigaction old_ {};
};

// A device that accepts any login and upload, and resets the link right after
// its answer to the upload's end, as a device does when it reboots with bytes
// of ours still unread. Serves one connection at a time.
class ResettingDevice {
 public:
  uint16_t port() const { return server_.port(); }

 private:
  static void ServeAndReset(int fd) {
    timeval tv{3, 0};  // bounds every wait
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    Serve(fd);
    const linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  static bool Send(int fd, const std::string& bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  static void Serve(int fd) {
    varurovodiv::test::FakeDeviceLogin login("x");
    if (!Send(fd, login.HelloFrame())) return;
    wire::FrameParser parser;
    char buf[64 * 1024];
    for (;;) {
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0 || !parser.Feed(buf, static_cast<size_t>(n))) return;
      while (auto f = parser.Next()) {
        if (!login.seal()) {
          if (auto reply = login.Answer(*f); !reply || !Send(fd, *reply)) return;
          continue;
        }
        if (!login.seal()->Open(*f)) return;
        const auto type = static_cast<wire::FrameType>(f->header.type);
        if (type != wire::FrameType::kPutBegin && type != wire::FrameType::kPutEnd) {
          continue;
        }
        if (!Send(fd, login.seal()->Seal(f->header.type | wire::kReplyBit, f->header.sequence,
                                         f->header.handle, f->header.command, 0, {})) ||
            type == wire::FrameType::kPutEnd) {
          return;
        }
      }
    }
  }

  varurovodiv::test::LoopbackServer server_{[](int fd, int) { ServeAndReset(fd); }};
};


// The frames of one type the SDK sent, as a device's journal recorded them.
std::vector<std::string> SdkFramesOfType(const std::string& journal, wire::FrameType type) {
  std::vector<std::string> frames;
  std::istringstream lines(journal);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("sdk ", 0) != 0) continue;
    std::string bytes;
    for (size_t i = 4; i + 1 < line.size(); i += 2) {
      bytes.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
    }
    if (bytes.size() >= wire::kHeaderSize &&
        wire::DecodeHeader(reinterpret_cast<const unsigned char*>(bytes.data())).type ==
            static_cast<uint16_t>(type)) {
      frames.push_back(bytes);
    }
  }
  return frames;
}

class SdkRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    varurovodiv::test::SetTestSdkTimeouts();
    SimConfig c;
    c.discovery_port = 0;  // loopback only: no discovery responder
    for (int i = 0; i < 2; ++i) {
      DeviceConfig d;
      d.ip = "127.0.0.1";
      d.command_port = 0;
      d.log_port = 0;
      d.password = "s3cret\"pw";
      d.reboot_ms = 300;
      d.upgrade_ms = 100;
      kelvara::devsim::CompleteDevice(d, i);
      c.devices.push_back(d);
    }
    sim_ = std::make_unique<Simulator>(c);
    ASSERT_EQ(sim_->Start(), "");
    ASSERT_EQ(ZQ_NETSDK_IPC_Init(), 0);
    rec_.Register();
    ZQ_NETSDK_IPC_SetAutoReconnect(0, 1);
  }

  void TearDown() override {
    EXPECT_EQ(ZQ_NETSDK_IPC_Cleanup(), 0);
    EXPECT_EQ(SdkThreadsSettled(0), 0);
    sim_->Stop();
  }

  int LoginOk(int device = 0) {
    const int h = ZQ_NETSDK_IPC_Login("127.0.0.1", sim_->command_port(device), "admin",
                                      "s3cret\"pw", 0);
    EXPECT_GT(h, 0);
    EXPECT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK));
    return h;
  }

  std::string Control(const std::string& line) { return sim_->Control(line); }

  std::unique_ptr<Simulator> sim_;
  EventRecorder rec_;
};

TEST_F(SdkRoundTrip, LoginGoodBadAndUnreachable) {
  const int good = LoginOk();
  const int bad = ZQ_NETSDK_IPC_Login("127.0.0.1", sim_->command_port(0), "admin", "wrong", 0);
  ASSERT_GT(bad, good);  // handles only grow
  EXPECT_TRUE(rec_.WaitStatus(bad, STATUS_EVENT_LOGIN_REFUSED));

  // A port nobody listens on: reported once, not once per retry.
  const uint16_t closed = sim_->command_port(1);
  sim_->Control("reboot 1");  // its listener closes while it reboots
  const int gone = ZQ_NETSDK_IPC_Login("127.0.0.1", closed, "admin", "x", 0);
  EXPECT_TRUE(rec_.WaitStatus(gone, STATUS_EVENT_CONNECT_FAILED));

  // The password never crosses the wire: the login frame holds only the proof.
  const std::string journal = Control("journal 0");
  EXPECT_EQ(journal.find(wire::ToHex("s3cret")), std::string::npos);
  EXPECT_NE(journal.find(wire::ToHex("admin")), std::string::npos);
  // The good login may have been made again by the reconnection (a starved
  // heartbeat on a loaded machine); the bad one is refused exactly once.
  const std::string state = Control("state 0");
  EXPECT_NE(state.find(" logins_refused=1"), std::string::npos) << state;
  EXPECT_EQ(state.find("logins_ok=0 "), std::string::npos) << state;
  for (const Delivered& e : rec_.For(bad)) EXPECT_NE(e.code, STATUS_EVENT_LOGIN_OK);
}

// A LOGIN frame seen on the wire does not log anyone in again: the device's
// next challenge differs, and the proof is bound to it.
TEST_F(SdkRoundTrip, AReplayedLoginProofIsRefused) {
  // No reconnection: the device's count of good logins must stay at the one
  // made here, so a replay that got in would show.
  ZQ_NETSDK_IPC_SetAutoReconnect(0, 0);
  LoginOk();
  const auto logins = SdkFramesOfType(Control("journal 0"), wire::FrameType::kLogin);
  ASSERT_FALSE(logins.empty());
  const std::string captured = logins.front();

  RawClient client(sim_->command_port(0));
  ASSERT_TRUE(client.Next());  // a fresh HELLO
  ASSERT_TRUE(client.Send(captured));
  const auto verdict = client.Next();
  ASSERT_TRUE(verdict);
  EXPECT_EQ(verdict->header.result, wire::kResultBadCredentials);
  const std::string state = Control("state 0");
  EXPECT_NE(state.find("logins_ok=1 logins_refused=1"), std::string::npos) << state;
}

// A login that is not made holds little of the device: a user name over 255
// bytes is refused at the share step (the SDK does not take one), and a
// LOGIN_SHARE announcing more than the longest login message ends the
// connection at its header, before the device buffers what it announces.
TEST_F(SdkRoundTrip, LongUserNamesAreRefusedAtTheShareStep) {
  EXPECT_EQ(ZQ_NETSDK_IPC_Login("127.0.0.1", sim_->command_port(0), std::string(256, 'u').c_str(), "x", 0),
            ZQ_NETSDK_ERR_BAD_ARGUMENT);
  struct Case {
    const char* name;
    size_t user_size;
    bool whole_frame;  // else the header alone is sent
    bool answered;     // a share comes back (as for any unknown user)
  };
  const Case cases[] = {
      {"255 bytes", 255, true, true},
      {"256 bytes", 256, true, false},
      {"1 MiB announced", 1 << 20, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient client(sim_->command_port(0));
    ASSERT_TRUE(client.Next());  // HELLO
    const wire::LoginExchange pake(wire::LoginExchange::Side::kClient, "x", "u", std::string(16, 'd'),
                                   std::string(16, 'c'));
    std::string frame = wire::EncodeFrame(wire::FrameType::kLoginShare, 1, 0, 0, 0,
                                          wire::EncodeLoginShare({std::string(c.user_size, 'u'),
                                                                  std::string(16, 'c'), pake.share()}));
    if (!c.whole_frame) frame.resize(wire::kHeaderSize);
    ASSERT_TRUE(client.Send(frame));
    EXPECT_EQ(client.Next().has_value(), c.answered);
    if (!c.answered) {
      EXPECT_TRUE(client.ClosedByPeer());
    }
  }
}

// An eavesdropper's record holds nothing to test passwords against: the
// values of a login that depend on the password (its share and its tag) are
// new in the next login with the same password, down to any 8 bytes of them.
TEST_F(SdkRoundTrip, TwoLoginsWithOnePasswordRepeatNoValueOnTheWire) {
  ZQ_NETSDK_IPC_SetAutoReconnect(0, 0);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(ZQ_NETSDK_IPC_Logout(LoginOk()), 0);
  const std::string journal = Control("journal 0");
  const auto shares = SdkFramesOfType(journal, wire::FrameType::kLoginShare);
  const auto tags = SdkFramesOfType(journal, wire::FrameType::kLogin);
  ASSERT_EQ(shares.size(), 2u);
  ASSERT_EQ(tags.size(), 2u);
  std::string values[2];
  for (int i = 0; i < 2; ++i) {
    const auto share = wire::DecodeLoginShare(shares[i].substr(wire::kHeaderSize));
    ASSERT_TRUE(share);
    EXPECT_EQ(share->user, "admin");
    values[i] = share->nonce + share->share + tags[i].substr(wire::kHeaderSize);
    ASSERT_EQ(values[i].size(), wire::kNonceSize + wire::kShareSize + wire::kTagSize);
  }
  for (size_t at = 0; at + 8 <= values[0].size(); ++at) {
    EXPECT_EQ(values[1].find(values[0].substr(at, 8)), std::string::npos) << at;
  }
}

TEST_F(SdkRoundTrip, UnknownAndStaleHandlesFailWithoutCrash) {
  EXPECT_NE(ZQ_NETSDK_IPC_SystemControl(12345, 1019, nullptr, "RESPONSE_PARAM"), 0);
  EXPECT_NE(ZQ_NETSDK_IPC_GetDVRConfig(-1, 504, 0, "", nullptr, 0), 0);
  EXPECT_NE(ZQ_NETSDK_IPC_Logout(0), 0);
  EXPECT_LT(ZQ_NETSDK_IPC_GetUpgradeProgress(99999), 0);
  EXPECT_LT(ZQ_NETSDK_IPC_Login(nullptr, 1, "a", "b", 0), 0);
  EXPECT_NE(ZQ_NETSDK_IPC_SetDVRConfig(1, 524, 0, nullptr, 5), 0);
  const int h = LoginOk();
  EXPECT_EQ(ZQ_NETSDK_IPC_Logout(h), 0);
  EXPECT_NE(ZQ_NETSDK_IPC_Logout(h), 0);
  EXPECT_NE(ZQ_NETSDK_IPC_SystemControl(h, 1019, nullptr, ""), 0);
  // A new login never gets the old handle back.
  EXPECT_GT(LoginOk(), h);
}

// Every call that puts the caller's data into a frame takes what one frame
// carries and refuses what it cannot, at the call: the session never holds a
// request it cannot send. (The calls not listed carry numbers only, and the
// record helpers build texts for the caller, not frames.)
TEST_F(SdkRoundTrip, EveryCallRefusesAtTheCallWhatOneFrameCannotCarry) {
  const int h = LoginOk();
  const auto dir = kelvara::test::MakeTempDir("frame-limits");
  const size_t frame = wire::kMaxPayload;
  // An upload's PUT_BEGIN carries the 8-byte size, then the file's base name.
  const auto local_named = [&](size_t n) { return (dir / std::string(n, 'n')).string(); };
  struct Case {
    const char* name;
    size_t largest;  // the most bytes the call takes
    std::function<int(const std::string& data)> call;
    int at_largest;  // the call's result with `largest` bytes
    int aux = 0;     // the answer that shows the largest one went out
    int status = 0;
  };
  const Case cases[] = {
      {"SystemControl request", frame,
       [&](const std::string& d) { return ZQ_NETSDK_IPC_SystemControl(h, 1019, nullptr, d.c_str()); }, 0, 1019},
      {"GetDVRConfig request", frame,
       [&](const std::string& d) { return ZQ_NETSDK_IPC_GetDVRConfig(h, 504, 0, d.c_str(), nullptr, 0); }, 0, 504},
      {"SetDVRConfig block", frame,
       [&](const std::string& d) {
         return ZQ_NETSDK_IPC_SetDVRConfig(h, 524, 0, d.c_str(), static_cast<int>(d.size()));
       },
       0, 524},
      {"SetDevcieConfig text", frame,
       [&](const std::string& d) {
         return ZQ_NETSDK_IPC_SetDevcieConfig(h, 829, d.c_str(), static_cast<int>(d.size()));
       },
       0, 829},
      {"GetFileByName device path", frame,
       [&](const std::string& d) {
         return ZQ_NETSDK_IPC_GetFileByName(h, ZQ_FILE_KIND_DEVICE_PATH, d.c_str(), (dir / "got").c_str());
       },
       0, 0, STATUS_EVENT_DOWNLOAD_FAILED},
      // No file has a name that long: at the largest the call looks for it.
      {"SetConfigFile name", frame - 8,
       [&](const std::string& d) { return ZQ_NETSDK_IPC_SetConfigFile(h, local_named(d.size()).c_str()); },
       ZQ_NETSDK_ERR_FILE},
      {"Upgrade name", frame - 8,
       [&](const std::string& d) { return ZQ_NETSDK_IPC_Upgrade(h, local_named(d.size()).c_str()); },
       ZQ_NETSDK_ERR_FILE},
      {"UploadOEMAppFile name", frame - 8,
       [&](const std::string& d) { return ZQ_NETSDK_IPC_UploadOEMAppFile(h, local_named(d.size()).c_str()); },
       ZQ_NETSDK_ERR_FILE},
      {"UploadOEMMp3File name", frame - 8,
       [&](const std::string& d) { return ZQ_NETSDK_IPC_UploadOEMMp3File(h, local_named(d.size()).c_str(), 0); },
       ZQ_NETSDK_ERR_FILE},
      {"PlayMp3File name", 1024,
       [&](const std::string& d) { return ZQ_NETSDK_IPC_PlayMp3File(h, d.c_str(), 0); }, 0, 1022},
      {"Login user", 255,
       [&](const std::string& d) {
         const int login = ZQ_NETSDK_IPC_Login("127.0.0.1", sim_->command_port(1), d.c_str(), "x", 0);
         return login > 0 ? ZQ_NETSDK_IPC_Logout(login) : login;
       },
       0},
      {"Login password", 255,
       [&](const std::string& d) {
         const int login = ZQ_NETSDK_IPC_Login("127.0.0.1", sim_->command_port(1), "admin", d.c_str(), 0);
         return login > 0 ? ZQ_NETSDK_IPC_Logout(login) : login;
       },
       0},
      {"InputAudioData piece", 64 * 1024,
       [&](const std::string& d) {
         EXPECT_EQ(ZQ_NETSDK_IPC_StartTalk(1, 3, 8000, 16, 1), 0);
         const int r = ZQ_NETSDK_IPC_InputAudioData(3, d.data(), static_cast<int>(d.size()));
         EXPECT_EQ(ZQ_NETSDK_IPC_StopTalk(), 0);
         return r;
       },
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(std::string(c.largest + 1, 'x')), ZQ_NETSDK_ERR_BAD_ARGUMENT);
    EXPECT_EQ(c.call(std::string(c.largest, 'x')), c.at_largest);
    if (c.aux != 0) {
      EXPECT_TRUE(rec_.WaitAux(h, c.aux));
    }
    if (c.status != 0) {
      EXPECT_TRUE(rec_.WaitStatus(h, c.status));
    }
  }
  // Nothing of it troubled the link.
  for (const Delivered& e : rec_.For(h)) {
    EXPECT_TRUE(e.aux || e.code == STATUS_EVENT_LOGIN_OK || e.code == STATUS_EVENT_DOWNLOAD_FAILED)
        << e.code;
  }
}

// A device path over 1 MiB used to be taken, and the login's thread then
// ended the process when it could not seal the request: it is refused at the
// call now, and the login goes on.
TEST_F(SdkRoundTrip, ADevicePathOverOneFrameLeavesTheProcessAndTheLoginWhole) {
  const int h = LoginOk();
  const auto local = kelvara::test::MakeTempDir("long-path") / "x";
  const std::string path = "/" + std::string(2u << 20, 'p');
  EXPECT_EQ(ZQ_NETSDK_IPC_GetFileByName(h, ZQ_FILE_KIND_DEVICE_PATH, path.c_str(), local.c_str()),
            ZQ_NETSDK_ERR_BAD_ARGUMENT);
  ASSERT_EQ(ZQ_NETSDK_IPC_SystemControl(h, 1019, nullptr, ""), 0);
  ASSERT_TRUE(rec_.WaitAux(h, 1019));
  const auto events = rec_.For(h);
  EXPECT_NE(events.back().data.find("SerialNumber=\"SIM00000001\""), std::string::npos);
  EXPECT_EQ(EventRecorder::Count(events, h, STATUS_EVENT_LOGIN_OK, false), 1u);
  EXPECT_EQ(EventRecorder::Count(events, h, STATUS_EVENT_DOWNLOAD_FAILED, false), 0u);
}

TEST_F(SdkRoundTrip, LinkLostAndRestoredUnderTheSameHandle) {
  const int h = LoginOk();
  Control("drop 0");
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LINK_LOST));
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK, 2));
  // A reboot command drops the link; the login comes back after the reboot.
  ASSERT_EQ(ZQ_NETSDK_IPC_RebootDVR(h), 0);
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LINK_LOST, 2));
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK, 3));
  EXPECT_NE(Control("state 0").find("reboots=1"), std::string::npos);
  // In order: login, lost, login, lost, (connect failed while down,) login.
  std::vector<int> codes;
  for (const Delivered& e : rec_.For(h)) codes.push_back(e.code);
  ASSERT_GE(codes.size(), 5u);
  EXPECT_EQ(codes.front(), STATUS_EVENT_LOGIN_OK);
  EXPECT_EQ(codes[1], STATUS_EVENT_LINK_LOST);
  EXPECT_EQ(codes[2], STATUS_EVENT_LOGIN_OK);
  EXPECT_EQ(codes.back(), STATUS_EVENT_LOGIN_OK);
}

TEST_F(SdkRoundTrip, WithoutReconnectALostLinkStaysDown) {
  ZQ_NETSDK_IPC_SetAutoReconnect(0, 0);
  const int h = LoginOk();
  Control("drop 0");
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LINK_LOST));
  EXPECT_FALSE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK, 2, std::chrono::milliseconds(500)));
  EXPECT_NE(ZQ_NETSDK_IPC_SystemControl(h, 1019, nullptr, ""), 0);
  // Switching reconnection on for the handle brings it back.
  ASSERT_EQ(ZQ_NETSDK_IPC_SetAutoReconnect(h, 1), 0);
  EXPECT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK, 2));
}

TEST_F(SdkRoundTrip, GetAndSetABlock) {
  const int h = LoginOk();
  ASSERT_EQ(ZQ_NETSDK_IPC_GetDVRConfig(h, 504, 0, "", nullptr, 0), 0);
  ASSERT_TRUE(rec_.WaitAux(h, 504));
  std::string block;
  for (const Delivered& e : rec_.For(h)) {
    if (e.aux && e.code == 504) block = e.data;
  }
  EXPECT_NE(block.find("TVSystem=\"1\""), std::string::npos);

  const std::string changed = "<Video><Capture TVSystem=\"0\" IrcutMode=\"3\" /></Video>";
  ASSERT_EQ(ZQ_NETSDK_IPC_SetDVRConfig(h, 524, 0, changed.c_str(),
                                       static_cast<int>(changed.size())),
            0);
  ASSERT_TRUE(rec_.WaitAux(h, 524));
  EXPECT_EQ(rec_.For(h).back().result, 0);
  ASSERT_EQ(ZQ_NETSDK_IPC_GetDVRConfig(h, 504, 0, "", nullptr, 0), 0);
  ASSERT_TRUE(rec_.WaitAux(h, 504, 2));
  EXPECT_EQ(rec_.For(h).back().data, changed);

  // What the device received, byte for byte: the set frame with the text.
  const std::string frame_hex = wire::ToHex(changed);
  EXPECT_NE(Control("journal 0").find(frame_hex), std::string::npos);

  // A malformed block is refused by the device; the old one stays.
  const char* broken = "<Video><Capture";
  ASSERT_EQ(ZQ_NETSDK_IPC_SetDVRConfig(h, 524, 0, broken, 15), 0);
  ASSERT_TRUE(rec_.WaitAux(h, 524, 2));
  EXPECT_EQ(rec_.For(h).back().result, wire::kResultBadRequest);
  EXPECT_EQ(Control("get 0 504"), "ok " + wire::ToHex(changed));

  // The length argument bounds the text sent.
  ASSERT_EQ(ZQ_NETSDK_IPC_SetDevcieConfig(h, 829, "<PD Enable=\"1\" />trailing", 17), 0);
  ASSERT_TRUE(rec_.WaitAux(h, 829));
  EXPECT_EQ(Control("get 0 829"), "ok " + wire::ToHex("<PD Enable=\"1\" />"));
}

TEST_F(SdkRoundTrip, SystemControlRepliesCarryResultAndCommand) {
  const int h = LoginOk();
  for (int code : {1012, 1019, 1020, 1095, 1014}) {
    ASSERT_EQ(ZQ_NETSDK_IPC_SystemControl(h, code, nullptr, "RESPONSE_PARAM"), 0);
  }
  ASSERT_TRUE(rec_.WaitAux(h, 1014));
  std::map<int, std::string> texts;
  for (const Delivered& e : rec_.For(h)) {
    if (e.aux) {
      EXPECT_EQ(e.result, 0);
      texts[e.code] = e.data;
    }
  }
  EXPECT_NE(texts[1019].find("SerialNumber=\"SIM00000001\""), std::string::npos);
  EXPECT_NE(texts[1012].find("FileSystemVersion="), std::string::npos);
  EXPECT_NE(texts[1014].find("DevName=\"sd1\""), std::string::npos);
  // Replies arrive in request order.
  std::vector<int> order;
  for (const Delivered& e : rec_.For(h)) {
    if (e.aux) order.push_back(e.code);
  }
  EXPECT_EQ(order, (std::vector<int>{1012, 1019, 1020, 1095, 1014}));
}

// The OEM MP3 calls: an upload of kind 5 lands in the device's MP3 store
// under its base name; the listing and play requests carry names with XML
// specials intact; bad arguments are refused before anything is sent.
TEST_F(SdkRoundTrip, OemMp3UploadListPlayAndStop) {
  const int h = LoginOk();
  const auto dir = kelvara::test::MakeTempDir("mp3");
  const auto path = dir / "a<&\"b.mp3";
  std::ofstream(path, std::ios::binary) << "frames";
  ASSERT_EQ(ZQ_NETSDK_IPC_UploadOEMMp3File(h, path.c_str(), 0), 0);
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_UPLOAD_DONE));
  std::string done;
  for (const Delivered& e : rec_.For(h))
    if (!e.aux && e.code == STATUS_EVENT_UPLOAD_DONE) done = e.data;
  EXPECT_EQ(done, "<RESPONSE_PARAM Result=\"0\" Kind=\"5\" />");

  ASSERT_EQ(ZQ_NETSDK_IPC_SearchOEMMp3File(h, 0), 0);
  ASSERT_EQ(ZQ_NETSDK_IPC_SearchOEMMp3File(h, 1), 0);
  ASSERT_EQ(ZQ_NETSDK_IPC_PlayMp3File(h, "/oem/mp3/a<&\"b.mp3", 1), 0);
  ASSERT_EQ(ZQ_NETSDK_IPC_PlayMp3File(h, "missing.mp3", 0), 0);
  ASSERT_TRUE(rec_.WaitAux(h, 1022, 2));
  std::vector<std::pair<int, int>> replies;  // code, result
  std::vector<std::string> pages;
  for (const Delivered& e : rec_.For(h)) {
    if (!e.aux) continue;
    replies.emplace_back(e.code, e.result);
    if (e.code == 1021) pages.push_back(e.data);
  }
  EXPECT_EQ(replies, (std::vector<std::pair<int, int>>{{1021, 0}, {1021, 0}, {1022, 0}, {1022, 2}}));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_NE(pages[0].find("FilePath='/oem/mp3/a&lt;&amp;&quot;b.mp3' FileLength=\"6\""), std::string::npos)
      << pages[0];
  EXPECT_EQ(pages[1].find("RECORD_FILE"), std::string::npos);
  EXPECT_EQ(Control("oem 0 play"), "ok playing /oem/mp3/a<&\"b.mp3 loop=1 plays=1");
  ASSERT_EQ(ZQ_NETSDK_IPC_StopPlayMp3File(h), 0);
  ASSERT_TRUE(rec_.WaitAux(h, 1022, 3));
  EXPECT_EQ(Control("oem 0 play"), "ok stopped plays=1");

  const std::string longName(1025, 'a');
  for (const char* bad : {"", "tab\there", longName.c_str()})
    EXPECT_EQ(ZQ_NETSDK_IPC_PlayMp3File(h, bad, 1), ZQ_NETSDK_ERR_BAD_ARGUMENT) << bad;
  EXPECT_EQ(ZQ_NETSDK_IPC_PlayMp3File(h, nullptr, 1), ZQ_NETSDK_ERR_BAD_ARGUMENT);
  EXPECT_EQ(ZQ_NETSDK_IPC_SearchOEMMp3File(h, -1), ZQ_NETSDK_ERR_BAD_ARGUMENT);
  EXPECT_EQ(ZQ_NETSDK_IPC_UploadOEMMp3File(h, (dir / "none.mp3").c_str(), 0), ZQ_NETSDK_ERR_FILE);
  EXPECT_NE(ZQ_NETSDK_IPC_StopPlayMp3File(h + 1000), 0);
}

TEST_F(SdkRoundTrip, AlarmsArriveInOrderWithTheirRecord) {
  const int h = LoginOk();
  for (int i = 0; i < 20; ++i) Control("alarm 0 " + std::to_string(100 + i) + " @@alarmjpg1=/a.jpg");
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_ALARM, 20));
  int expected = 100;
  for (const Delivered& e : rec_.For(h)) {
    if (e.code != STATUS_EVENT_ALARM) continue;
    ASSERT_EQ(e.data.size(), 168u);
    int32_t code;
    std::memcpy(&code, e.data.data() + 28, 4);
    EXPECT_EQ(code, expected++);
    EXPECT_STREQ(e.data.data() + 40, "@@alarmjpg1=/a.jpg");
  }
}

TEST_F(SdkRoundTrip, ShortRecordEventsArriveZeroPaddedToTheirRecordSize) {
  const int h = LoginOk();
  for (int code : {23, 24, 25, 30}) Control("event 0 " + std::to_string(code) + " abc");
  ASSERT_TRUE(rec_.WaitFor([&](const std::vector<Delivered>& all) {
    int n = 0;
    for (const Delivered& e : all) n += e.handle == h && e.code >= 23 && e.code <= 30;
    return n == 4;
  }));
  for (const Delivered& e : rec_.For(h)) {
    if (e.code < 23 || e.code > 30) continue;
    EXPECT_EQ(e.data.substr(0, 3), "abc") << e.code;
    EXPECT_EQ(e.data.find_first_not_of('\0', 3), std::string::npos) << e.code;
  }
}

// The device's answer that arrives together with its reset is still read:
// the upload succeeded and is reported so, exactly once.
TEST_F(SdkRoundTrip, AnAnswerFollowedByALinkResetIsStillRead) {
  ResettingDevice device;
  const auto cfg = kelvara::test::MakeTempDir("sdk-reset") / "cfg.xml";
  std::ofstream(cfg) << "<CONFIG />";
  for (int i = 0; i < 20; ++i) {
    const int h = ZQ_NETSDK_IPC_Login("127.0.0.1", device.port(), "admin", "x", 0);
    ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK)) << i;
    ASSERT_EQ(ZQ_NETSDK_IPC_SetConfigFile(h, cfg.c_str()), 0);
    ASSERT_TRUE(rec_.WaitFor([&](const std::vector<Delivered>& ev) {
      return EventRecorder::Count(ev, h, STATUS_EVENT_UPLOAD_DONE, false) +
                 EventRecorder::Count(ev, h, STATUS_EVENT_UPLOAD_FAILED, false) >=
             1;
    })) << i;
    ASSERT_EQ(ZQ_NETSDK_IPC_Logout(h), 0);
    const auto events = rec_.For(h);
    EXPECT_EQ(EventRecorder::Count(events, h, STATUS_EVENT_UPLOAD_DONE, false), 1u) << i;
    EXPECT_EQ(EventRecorder::Count(events, h, STATUS_EVENT_UPLOAD_FAILED, false), 0u) << i;
  }
}

TEST_F(SdkRoundTrip, UploadDownloadAndUpgradeEndInOneTerminalEvent) {
  const int h = LoginOk();
  const auto dir = kelvara::test::MakeTempDir("sdk");
  const auto cfg = dir / "openslog.xml";
  std::ofstream(cfg) << "<EXECUTE_USER_CMD><CMD DATA=\"touch /tmp/x\" /></EXECUTE_USER_CMD>";
  ASSERT_EQ(ZQ_NETSDK_IPC_SetConfigFile(h, cfg.c_str()), 0);
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_UPLOAD_DONE));
  EXPECT_NE(Control("state 0").find("config_file_bytes=" +
                                    std::to_string(std::filesystem::file_size(cfg))),
            std::string::npos);

  const auto down = dir / "config_SIM00000001_127.0.0.1.dev.xml";
  ASSERT_EQ(ZQ_NETSDK_IPC_GetConfigFile(h, down.c_str()), 0);
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_DOWNLOAD_DONE));
  EXPECT_NE(ReadFile(down).find("<DEVICE_CONFIG SerialNumber=\"SIM00000001\">"), std::string::npos);
  EXPECT_EQ(rec_.For(h).back().data,
            "<RESPONSE_PARAM LocalFileName=\"" + down.string() + "\" />");

  // A file of several chunks fetched by its device path arrives whole.
  std::string picture(200 * 1024, '\0');
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 13 + 1);
  ASSERT_EQ(Control("file 0 /mnt/alarm/a.jpg " + wire::ToHex(picture)), "ok");
  const auto got = dir / "a.jpg";
  ASSERT_EQ(ZQ_NETSDK_IPC_GetFileByName(h, 1, "/mnt/alarm/a.jpg", got.c_str()), 0);
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_DOWNLOAD_DONE, 2));
  EXPECT_EQ(ReadFile(got), picture);

  // A file the device does not have: one failure, no partial file left.
  const auto missing = dir / "missing.jpg";
  ASSERT_EQ(ZQ_NETSDK_IPC_GetFileByName(h, 1, "/mnt/none.jpg", missing.c_str()), 0);
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_DOWNLOAD_FAILED));
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.jpg.part"));

  // Firmware of a few chunks: progress rises to 100, one terminal event, reboot.
  const auto image = dir / "fw.bin";
  // (a sound image: the device checks what it gets)
  const std::string bytes = kelvara::firmware::test::BuildImage("V_sdk", 300 * 1024);
  std::ofstream(image, std::ios::binary) << bytes;
  ASSERT_EQ(ZQ_NETSDK_IPC_Upgrade(h, image.c_str()), 0);
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_UPLOAD_DONE, 2));
  EXPECT_EQ(ZQ_NETSDK_IPC_GetUpgradeProgress(h), 100);
  int last = -1;
  for (const Delivered& e : rec_.For(h)) {
    if (e.code == STATUS_EVENT_PROGRESS_A) {
      const int pct = std::atoi(e.data.c_str());
      EXPECT_GT(pct, last);
      last = pct;
    }
  }
  EXPECT_EQ(last, 100);
  const std::string state = Control("state 0");
  EXPECT_NE(state.find("upgrades=1 "), std::string::npos);
  EXPECT_NE(state.find("firmware=" + wire::ToHex(wire::DigestBytes(wire::Sha256Of(bytes))) +
                       ":" + std::to_string(bytes.size())),
            std::string::npos);
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LINK_LOST));
  EXPECT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK, 2));
  EXPECT_EQ(rec_.Count(rec_.Snapshot(), h, STATUS_EVENT_UPLOAD_DONE, false), 2u);
  EXPECT_EQ(rec_.Count(rec_.Snapshot(), h, STATUS_EVENT_UPLOAD_FAILED, false), 0u);
  // A local file that cannot be read is refused at once.
  EXPECT_NE(ZQ_NETSDK_IPC_Upgrade(h, (dir / "nope.bin").c_str()), 0);
}

TEST_F(SdkRoundTrip, LinkDroppedMidTransferFailsEveryAcceptedTransferOnce) {
  const int h = LoginOk();
  const auto dir = kelvara::test::MakeTempDir("sdk");
  const auto image = dir / "fw.bin";
  std::ofstream(image, std::ios::binary) << std::string(512 * 1024, 'f');
  Control("fault 0 drop_after_bytes 100000");
  Control("fault 0 delay_ms 300");  // holds the first transfer until both are queued
  ASSERT_EQ(ZQ_NETSDK_IPC_Upgrade(h, image.c_str()), 0);
  ASSERT_EQ(ZQ_NETSDK_IPC_UploadOEMAppFile(h, image.c_str()), 0);  // queued behind it
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_UPLOAD_FAILED, 2));
  Control("fault 0 clear");
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK, 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(rec_.Count(rec_.Snapshot(), h, STATUS_EVENT_UPLOAD_FAILED, false), 2u);
  EXPECT_EQ(rec_.Count(rec_.Snapshot(), h, STATUS_EVENT_UPLOAD_DONE, false), 0u);
  // Each outcome names its transfer kind: the image first, then the OEM file.
  std::vector<std::string> failures;
  for (const Delivered& e : rec_.For(h))
    if (e.code == STATUS_EVENT_UPLOAD_FAILED) failures.push_back(e.data);
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0], "<RESPONSE_PARAM Error=\"link lost\" Kind=\"2\" />");
  EXPECT_EQ(failures[1], "<RESPONSE_PARAM Error=\"link lost\" Kind=\"3\" />");
}

TEST_F(SdkRoundTrip, ADeviceThatAnswersNothingIsSeenToGoAndComesBack) {
  const int h = LoginOk();
  // drop_replies silences heartbeat replies too: the link is declared lost.
  ASSERT_EQ(Control("fault 0 drop_replies 1"), "ok");
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_HEARTBEAT_LOST));
  // While it stays silent the re-login gets no answer either.
  EXPECT_FALSE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK, 2, std::chrono::milliseconds(800)));
  ASSERT_EQ(Control("fault 0 clear"), "ok");
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK, 2));

  // offline: connections are refused until the device is online again.
  ASSERT_EQ(Control("offline 0"), "ok");
  EXPECT_NE(Control("state 0").find("up=0 offline=1"), std::string::npos);
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LINK_LOST));
  const int other = ZQ_NETSDK_IPC_Login("127.0.0.1", sim_->command_port(0), "admin", "s3cret\"pw", 0);
  EXPECT_TRUE(rec_.WaitStatus(other, STATUS_EVENT_CONNECT_FAILED));
  ASSERT_EQ(Control("online 0"), "ok");
  EXPECT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK, 3));
}

TEST_F(SdkRoundTrip, FaultsGiveErrorsAndClosedLinksNeverCrashes) {
  const int h = LoginOk();
  // A dropped reply times out as result 255 with its command.
  Control("fault 0 drop_replies 1");
  ASSERT_EQ(ZQ_NETSDK_IPC_SystemControl(h, 1019, nullptr, ""), 0);
  ASSERT_TRUE(rec_.WaitAux(h, 1019));
  EXPECT_EQ(rec_.For(h).back().result, ZQ_AUX_RESULT_TIMEOUT);
  Control("fault 0 clear");

  // Malformed and oversize replies close the link as a protocol error; the
  // pending request is answered as link lost; the login comes back.
  struct Case { const char* fault; size_t logins; };
  const Case cases[] = {{"malformed_reply", 2}, {"oversize_reply", 3}};
  size_t errors = 0;
  for (const Case& c : cases) {
    Control(std::string("fault 0 ") + c.fault + " 1");
    ASSERT_EQ(ZQ_NETSDK_IPC_GetDVRConfig(h, 504, 0, "", nullptr, 0), 0);
    ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_PROTOCOL_ERROR, ++errors)) << c.fault;
    Control("fault 0 clear");
    ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK, c.logins)) << c.fault;
  }
  size_t link_lost_replies = 0;
  for (const Delivered& e : rec_.For(h)) {
    link_lost_replies += e.aux && e.code == 504 && e.result == ZQ_AUX_RESULT_LINK_LOST;
  }
  EXPECT_EQ(link_lost_replies, 2u);

  // A device that stalls is declared lost by the heartbeat.
  Control("fault 0 stall 1");
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_HEARTBEAT_LOST, 1, varurovodiv::test::Scaled(std::chrono::milliseconds(6000))));
  Control("fault 0 clear");
  EXPECT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK, 4));

  // Refused logins on reconnection.
  Control("fault 0 refuse_login 1");
  Control("drop 0");
  EXPECT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_REFUSED));
}

TEST_F(SdkRoundTrip, NoCallbackAfterUnregisterLogoutOrCleanup) {
  const int h = LoginOk();
  const int other = LoginOk(1);
  ASSERT_EQ(ZQ_NETSDK_IPC_Logout(h), 0);
  const size_t before = rec_.For(h).size();
  for (int i = 0; i < 5; ++i) Control("alarm 0 14 after-logout");
  Control("alarm 1 14 other");
  ASSERT_TRUE(rec_.WaitStatus(other, STATUS_EVENT_ALARM));
  EXPECT_EQ(rec_.For(h).size(), before);

  ZQ_NETSDK_IPC_SetStatusEventCallBack(nullptr, nullptr);
  ZQ_NETSDK_IPC_SetAUXResponseCallBack(nullptr, nullptr);
  const size_t total = rec_.Snapshot().size();
  Control("alarm 1 14 unregistered");
  ZQ_NETSDK_IPC_SystemControl(other, 1019, nullptr, "");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(rec_.Snapshot().size(), total);

  rec_.Register();
  EXPECT_GT(SdkThreads(), 0);
  ASSERT_EQ(ZQ_NETSDK_IPC_Cleanup(), 0);
  EXPECT_EQ(SdkThreadsSettled(0), 0);
  const size_t after_cleanup = rec_.Snapshot().size();
  Control("alarm 1 14 after-cleanup");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(rec_.Snapshot().size(), after_cleanup);
  EXPECT_NE(ZQ_NETSDK_IPC_SystemControl(other, 1019, nullptr, ""), 0);
  // Init again works, with fresh handles.
  ASSERT_EQ(ZQ_NETSDK_IPC_Init(), 0);
  rec_.Register();
  EXPECT_GT(LoginOk(), other);
}

TEST_F(SdkRoundTrip, AStalledDeviceHoldsUpNoOtherLogin) {
  Control("fault 0 stall 1");  // answers nothing after its challenge
  const int slow = ZQ_NETSDK_IPC_Login("127.0.0.1", sim_->command_port(0), "admin", "s3cret\"pw", 0);
  const int fast = LoginOk(1);
  ASSERT_EQ(ZQ_NETSDK_IPC_SystemControl(fast, 1019, nullptr, ""), 0);
  EXPECT_TRUE(rec_.WaitAux(fast, 1019));
  // The stalled one ends its attempt only after the reply time-out, after the
  // other login went through.
  EXPECT_TRUE(rec_.WaitStatus(slow, STATUS_EVENT_CONNECT_FAILED));
  const auto events = rec_.Snapshot();
  auto at = [&](int handle, int code) {
    for (size_t i = 0; i < events.size(); ++i) {
      if (!events[i].aux && events[i].handle == handle && events[i].code == code) return i;
    }
    return events.size();
  };
  EXPECT_LT(at(fast, STATUS_EVENT_LOGIN_OK), at(slow, STATUS_EVENT_CONNECT_FAILED));
  EXPECT_EQ(rec_.Count(events, slow, STATUS_EVENT_LOGIN_OK, false), 0u);
}

TEST_F(SdkRoundTrip, ManyLoginsAtOnceAndLogoutAll) {
  std::vector<int> handles;
  for (int i = 0; i < 40; ++i) {
    handles.push_back(ZQ_NETSDK_IPC_Login("127.0.0.1", sim_->command_port(i % 2), "admin",
                                          "s3cret\"pw", 0));
  }
  for (int h : handles) ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK)) << h;
  for (int h : handles) ZQ_NETSDK_IPC_SystemControl(h, 1019, nullptr, "");
  for (int h : handles) ASSERT_TRUE(rec_.WaitAux(h, 1019)) << h;
  ASSERT_EQ(ZQ_NETSDK_IPC_LogoutAll(), 0);
  EXPECT_EQ(SdkThreadsSettled(2), 2);  // only the event thread and the starter stay
  for (int h : handles) EXPECT_NE(ZQ_NETSDK_IPC_Logout(h), 0);
}

// Login returns before the login's thread exists: logins ended while they wait
// for it (a logout, LogoutAll, Cleanup) must neither start later nor leave a
// thread, a descriptor or a callback behind.
TEST_F(SdkRoundTrip, LoginsEndedBeforeTheirThreadStartedLeaveNothingBehind) {
  constexpr int kLogins = 200;
  const int eventfds = EventFdsSettled(-1);
  auto login_many = [&] {
    std::vector<int> handles;
    for (int i = 0; i < kLogins; ++i) {
      handles.push_back(ZQ_NETSDK_IPC_Login("127.0.0.1", sim_->command_port(i % 2), "admin", "s3cret\"pw", 0));
      EXPECT_GT(handles.back(), 0);
    }
    return handles;
  };
  auto quiet_after = [&](const char* what) {
    const size_t seen = rec_.Snapshot().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(rec_.Snapshot().size(), seen) << "callbacks after " << what;
  };

  // The last logins are logged out first: they are still waiting for their thread.
  std::vector<int> handles = login_many();
  for (auto h = handles.rbegin(); h != handles.rend(); ++h) EXPECT_EQ(ZQ_NETSDK_IPC_Logout(*h), 0);
  quiet_after("the logouts");
  EXPECT_EQ(SdkThreadsSettled(2), 2);  // the event thread and the starter
  EXPECT_EQ(EventFdsSettled(eventfds), eventfds);
  LoginOk();

  login_many();
  ASSERT_EQ(ZQ_NETSDK_IPC_LogoutAll(), 0);
  quiet_after("LogoutAll");
  EXPECT_EQ(SdkThreadsSettled(2), 2);
  EXPECT_EQ(EventFdsSettled(eventfds), eventfds);

  login_many();
  ASSERT_EQ(ZQ_NETSDK_IPC_Cleanup(), 0);
  EXPECT_EQ(SdkThreadsSettled(0), 0);  // Cleanup joined the starter and every login
  quiet_after("Cleanup");
  EXPECT_EQ(EventFdsSettled(eventfds), eventfds);

  // The SDK starts again as new.
  ASSERT_EQ(ZQ_NETSDK_IPC_Init(), 0);
  rec_.Register();
  LoginOk(1);
}

// A logout never waits for a login's thread: with one thread held fast (as if
// it were slow to end), Logout of every login and LogoutAll both return while
// it is still held, deliver no callback of the ended logins afterwards (not
// even the failures of requests still queued), and Cleanup right after waits
// for the held thread and leaves no thread and no descriptor behind.
TEST_F(SdkRoundTrip, LogoutsReturnWithoutWaitingForTheLoginThreads) {
  constexpr int kLogins = 40;
  const int eventfds = EventFdsSettled(-1);
  for (const bool all : {false, true}) {
    SCOPED_TRACE(all ? "LogoutAll" : "Logout of each");
    if (all) {
      ASSERT_EQ(ZQ_NETSDK_IPC_Init(), 0);
      rec_.Register();
    }
    std::vector<int> handles;
    for (int i = 0; i < kLogins; ++i) {
      handles.push_back(ZQ_NETSDK_IPC_Login("127.0.0.1", sim_->command_port(i % 2), "admin", "s3cret\"pw", 0));
    }
    for (int h : handles) ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK)) << h;
    ThreadHold held;
    ASSERT_TRUE(held.Hold("vrod-login"));
    // The held thread goes on 300 ms after Cleanup began, or after 5 s when a
    // logout waits for it (as it must not).
    std::atomic<bool> cleanup_started{false};
    std::jthread release([&] {  // joined however the round ends
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (!cleanup_started.load() && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      held.Release();
    });
    // Requests in flight: the held login's, at least, fails as its link ends.
    for (int h : handles) ASSERT_EQ(ZQ_NETSDK_IPC_SystemControl(h, 1019, nullptr, ""), 0);
    if (all) {
      ASSERT_EQ(ZQ_NETSDK_IPC_LogoutAll(), 0);
    } else {
      for (int h : handles) ASSERT_EQ(ZQ_NETSDK_IPC_Logout(h), 0);
    }
    EXPECT_TRUE(held.holding()) << "the logout waited for the held thread";
    const size_t delivered = rec_.Snapshot().size();
    for (int h : handles) EXPECT_EQ(ZQ_NETSDK_IPC_SystemControl(h, 1019, nullptr, ""), ZQ_NETSDK_ERR_BAD_HANDLE);

    // Released only after Cleanup began: Cleanup must wait for it.
    cleanup_started.store(true);
    ASSERT_EQ(ZQ_NETSDK_IPC_Cleanup(), 0);
    EXPECT_FALSE(held.holding()) << "Cleanup returned before the held thread ended";
    release.join();
    EXPECT_EQ(SdkThreadsSettled(0), 0);
    EXPECT_EQ(EventFdsSettled(eventfds), eventfds);
    EXPECT_EQ(rec_.Snapshot().size(), delivered) << "callbacks after the logout returned";
  }
}

}  // namespace
