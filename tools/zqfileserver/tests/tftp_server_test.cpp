// The server against outside clients (curl and the tftp-hpa client) on
// loopback, and against hand-made packets where a client cannot misbehave.
#include "tftp_server.h"
#include "tftp_packets.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "kelvara_test/test_env.h"
#include "tftp_test_client.h"

namespace kelvara::tftp {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

bool HaveTool(const char* name) { return std::system((std::string("command -v ") + name + " >/dev/null").c_str()) == 0; }

int Shell(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class TftpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::MakeTempDir("served");
    out_ = test::MakeTempDir("got");
    Start(ServerOptions{});
  }
  void Start(ServerOptions options) {
    Stop();
    options.folder = root_.string();
    options.port = 0;
    options.bind_address = htonl(INADDR_LOOPBACK);
    server_ = std::make_unique<TftpServer>(options);
    server_->SetLog([this](const std::string& line) {
      std::lock_guard l(m_);
      log_ += line + "\n";
    });
    std::string error;
    ASSERT_TRUE(server_->Open(error)) << error;
    thread_ = std::thread([this] { server_->Run(); });
  }
  void Stop() {
    if (!server_) return;
    server_->Stop();
    thread_.join();
    server_.reset();
  }
  void TearDown() override { Stop(); }
  std::string Url(const std::string& name) const {
    return "tftp://127.0.0.1:" + std::to_string(server_->port()) + "/" + name;
  }
  std::string Log() {
    std::lock_guard l(m_);
    return log_;
  }
  sockaddr_in ServerAddress() const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(server_->port());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
  }

  fs::path root_, out_;
  std::unique_ptr<TftpServer> server_;
  std::thread thread_;
  std::mutex m_;
  std::string log_;
};

TEST_F(TftpServerTest, CurlDownloadsByteIdenticalWithAndWithoutOptions) {
  if (!HaveTool("curl")) GTEST_SKIP() << "curl missing";
  struct Case {
    std::size_t size;
    const char* flags;
  };
  // Sizes around block boundaries: an exact multiple needs a final empty block.
  const Case cases[] = {{0, "--tftp-no-options"}, {511, "--tftp-no-options"}, {512, "--tftp-no-options"},
                        {1024, ""},              {100000, "--tftp-blksize 1468"}, {65464 * 2, "--tftp-blksize 65464"},
                        {3000, "--tftp-blksize 8"}};
  for (const auto& c : cases) {
    const std::string name = "f" + std::to_string(c.size);
    const std::string bytes = RandomBytes(c.size, static_cast<unsigned>(c.size));
    WriteAll(root_ / name, bytes);
    const fs::path got = out_ / name;
    ASSERT_EQ(Shell("curl -sS " + std::string(c.flags) + " -o " + got.string() + " " + Url(name)), 0) << name << Log();
    EXPECT_EQ(ReadAll(got), bytes) << name << " " << c.flags;
  }
}

TEST_F(TftpServerTest, FortyMegabytesCrossTheBlockRollOver) {
  if (!HaveTool("curl")) GTEST_SKIP() << "curl missing";
  // 40 MB at 512-byte blocks is 81,920 blocks: the block number wraps past 65535.
  const std::string bytes = RandomBytes(40u << 20, 40);
  WriteAll(root_ / "big.bin", bytes);
  ASSERT_EQ(Shell("curl -sS --tftp-no-options -o " + (out_ / "big.bin").string() + " " + Url("big.bin")), 0) << Log();
  EXPECT_TRUE(ReadAll(out_ / "big.bin") == bytes);
}

TEST_F(TftpServerTest, TftpHpaClientBinaryAndNetascii) {
  if (!HaveTool("tftp")) GTEST_SKIP() << "tftp-hpa client missing";
  const std::string bytes = RandomBytes(70000, 7);
  WriteAll(root_ / "img.bin", bytes);
  const std::string port = std::to_string(server_->port());
  ASSERT_EQ(Shell("cd " + out_.string() + " && tftp -m binary 127.0.0.1 " + port + " -c get img.bin"), 0);
  EXPECT_EQ(ReadAll(out_ / "img.bin"), bytes);
  // Text in netascii arrives as it was (the client turns CR LF back into LF).
  const std::string text = "line one\nline two\r\nbare cr\rend\n";
  WriteAll(root_ / "notes.txt", text);
  ASSERT_EQ(Shell("cd " + out_.string() + " && tftp -m ascii 127.0.0.1 " + port + " -c get notes.txt"), 0);
  EXPECT_EQ(ReadAll(out_ / "notes.txt"), text);
}

TEST_F(TftpServerTest, RefusesTraversalLinksOutSpecialFilesAndWrites) {
  if (!HaveTool("curl")) GTEST_SKIP() << "curl missing";
  const fs::path outside = root_.parent_path() / "secret.txt";
  WriteAll(outside, "secret");
  fs::create_directories(root_ / "sub");
  WriteAll(root_ / "sub" / "inner.bin", "inner");
  fs::create_symlink(outside, root_ / "out_abs");
  fs::create_symlink("../secret.txt", root_ / "out_rel");
  fs::create_symlink("sub/inner.bin", root_ / "in_link");
  ASSERT_EQ(mkfifo((root_ / "pipe").c_str(), 0600), 0);

  const std::string refused[] = {"../secret.txt", "sub/../../secret.txt", "out_abs", "out_rel",
                                 "sub", "pipe", "%2Fetc%2Fpasswd", "..%5Csecret.txt"};
  for (const auto& name : refused) {
    const fs::path got = out_ / "x";
    fs::remove(got);
    EXPECT_NE(Shell("curl -sS --tftp-no-options -o " + got.string() + " " + Url(name)), 0) << name;
    EXPECT_NE(ReadAll(got), "secret") << name;
  }
  // A link that stays inside the folder is served.
  ASSERT_EQ(Shell("curl -sS -o " + (out_ / "in").string() + " " + Url("in_link")), 0);
  EXPECT_EQ(ReadAll(out_ / "in"), "inner");
  ASSERT_EQ(Shell("curl -sS -o " + (out_ / "inner").string() + " " + Url("sub/inner.bin")), 0);

  // Writes: curl's upload and tftp-hpa's put are both refused; nothing appears.
  WriteAll(out_ / "up.bin", "upload");
  EXPECT_NE(Shell("curl -sS -T " + (out_ / "up.bin").string() + " " + Url("up.bin")), 0);
  if (HaveTool("tftp"))
    Shell("cd " + out_.string() + " && tftp -m binary 127.0.0.1 " + std::to_string(server_->port()) +
        " -c put up.bin");
  EXPECT_FALSE(fs::exists(root_ / "up.bin"));
  EXPECT_NE(Log().find("write requests are refused"), std::string::npos);
  EXPECT_EQ(Shell("curl -sS -o /dev/null " + Url("missing.bin")), 68) << "TFTP file not found";
}

// A client that asks and never acknowledges: it holds one transfer slot until
// its time-out, and past the bound further requests are refused.
TEST_F(TftpServerTest, BoundedTransfersEndAfterTheirTimeOut) {
  ServerOptions options;
  options.max_transfers = 1;
  options.retries = 1;
  Start(options);
  WriteAll(root_ / "f.bin", RandomBytes(5000, 3));
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in to = ServerAddress();
  const std::string rrq = std::string("\0\1f.bin\0octet\0timeout\0001\0", 24);
  sendto(s, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  char buffer[600];
  pollfd p{s, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  ASSERT_GT(recv(s, buffer, sizeof buffer, 0), 1);
  EXPECT_EQ(buffer[1], kOack);
  EXPECT_EQ(server_->active_transfers(), 1);

  const int s2 = socket(AF_INET, SOCK_DGRAM, 0);
  sendto(s2, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  pollfd p2{s2, POLLIN, 0};
  ASSERT_EQ(poll(&p2, 1, 2000), 1);
  const ssize_t n = recv(s2, buffer, sizeof buffer, 0);
  ASSERT_GT(n, 4);
  EXPECT_EQ(buffer[1], kError);
  EXPECT_EQ(std::string(buffer + 4), "too many transfers");

  // Timeout 1 s with one retransmission: the slot frees within about 2 s.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (server_->active_transfers() != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(server_->active_transfers(), 0);
  EXPECT_NE(Log().find("ended without completion"), std::string::npos);
  close(s);
  close(s2);
}

// A lost packet is sent again once the client's time-out has passed (not
// before), a stale ACK brings no second copy, and the transfer then ends.
TEST_F(TftpServerTest, RetransmitsAfterTheTimeOutAndIgnoresStaleAcks) {
  Start({});
  const std::string content = RandomBytes(700, 9);  // two blocks of 512
  WriteAll(root_ / "r.bin", content);
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in to = ServerAddress();
  const std::string rrq = std::string("\0\1r.bin\0octet\0timeout\0001\0", 24);
  sendto(s, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  char buffer[600];
  sockaddr_in from{};
  socklen_t length = sizeof from;
  auto receive = [&](int ms) -> ssize_t {
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return -1;
    length = sizeof from;
    return recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
  };
  ASSERT_GT(receive(2000), 1);
  ASSERT_EQ(buffer[1], kOack);
  // No ACK: the same OACK again after about one second.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_GT(receive(4000), 1);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(buffer[1], kOack);
  EXPECT_GE(waited, std::chrono::milliseconds(700));
  auto ack = [&](int block) {
    const char a[4] = {0, kAck, static_cast<char>(block >> 8), static_cast<char>(block & 0xFF)};
    sendto(s, a, sizeof a, 0, reinterpret_cast<sockaddr*>(&from), length);
  };
  ack(0);
  ASSERT_EQ(receive(2000), 4 + 512);
  EXPECT_EQ(buffer[3], 1);
  ack(0);  // stale: no second block 1
  ack(1);
  ASSERT_EQ(receive(2000), 4 + 188);
  EXPECT_EQ(buffer[3], 2);
  EXPECT_EQ(std::string(buffer + 4, 188), content.substr(512));
  EXPECT_EQ(receive(300), -1);  // nothing more while block 2 waits for its ACK
  ack(2);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (server_->active_transfers() != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_NE(Log().find("sent 700 bytes"), std::string::npos) << Log();
  close(s);
}

// Clients that hold a slot without progress: one answers every DATA with a
// stale ACK ten times a second, one asks for the longest time-out and stays
// silent. Both slots come free once the awaited ACK has not come within the
// retransmissions' time (here 2 time-outs of 1 s and of the 3-s default).
TEST_F(TftpServerTest, StaleAcksAndLongTimeOutsDoNotHoldASlot) {
  ServerOptions options;
  options.retries = 1;
  Start(options);
  WriteAll(root_ / "f.bin", RandomBytes(5000, 4));
  const sockaddr_in to = ServerAddress();
  const int stale = socket(AF_INET, SOCK_DGRAM, 0);
  const int slow = socket(AF_INET, SOCK_DGRAM, 0);
  const std::string rrq_stale = std::string("\0\1f.bin\0octet\0timeout\0001\0", 24);
  const std::string rrq_slow = std::string("\0\1f.bin\0octet\0timeout\000255\0", 26);
  sendto(stale, rrq_stale.data(), rrq_stale.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  sendto(slow, rrq_slow.data(), rrq_slow.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  char buffer[600];
  sockaddr_in from{};
  socklen_t length = sizeof from;
  // The slow client's first packet: DATA 1 at once, its 255-s time-out not acknowledged.
  pollfd p{slow, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  ASSERT_EQ(recv(slow, buffer, sizeof buffer, 0), 4 + 512);
  EXPECT_EQ(buffer[1], kData);

  const auto start = std::chrono::steady_clock::now();
  bool stale_ended = false;
  while (server_->active_transfers() > 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    pollfd q{stale, POLLIN, 0};
    if (poll(&q, 1, 100) == 1) {
      length = sizeof from;
      recvfrom(stale, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    }
    if (from.sin_port != 0 && !stale_ended) {
      const char ack0[4] = {0, kAck, 0, 0};  // never the block awaited
      sendto(stale, ack0, sizeof ack0, 0, reinterpret_cast<sockaddr*>(&from), length);
    }
    if (!stale_ended && server_->active_transfers() == 1) {
      stale_ended = true;
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << "the stale client's slot";
    }
  }
  EXPECT_EQ(server_->active_transfers(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "the slow client's slot";
  const std::string log = Log();
  std::size_t ended = 0;
  for (auto at = log.find("ended without completion"); at != std::string::npos;
       at = log.find("ended without completion", at + 1))
    ++ended;
  EXPECT_EQ(ended, 2u) << log;
  close(stale);
  close(slow);
}

int TftpTimeScale() {
  const char* v = std::getenv("KELVARA_TEST_TIME_SCALE");
  const int n = v != nullptr ? std::atoi(v) : 1;
  return n > 0 ? n : 1;
}

// A client socket on its own loopback address (any of 127.0.0.0/8 is local).
using test_client::SocketOn;

// 64 slow clients (8-byte blocks, an ACK 250 ms after each packet: 32 bytes a
// second) from 16 addresses take every slot; a fifth transfer from one of
// those addresses is refused as such, and a device in boot recovery on
// another address is turned away. After the first window (1 s here) every
// slow transfer is below the floor of 512 bytes a second and ends with an
// error. The device then fetches its image in 8-byte blocks over several
// windows (250 ms here): small blocks at a LAN's pace stay above the floor.
TEST_F(TftpServerTest, SlowClientsLoseTheirSlotsWhileSmallBlocksStayAllowed) {
  const std::chrono::milliseconds kWindow(1000 * TftpTimeScale());
  ServerOptions options;
  options.rate_window = kWindow;
  // No slot changes hands here: the slow clients acknowledge within 250 ms,
  // but only from the loop below on, and filling the slots may take a loaded
  // machine longer than the 2 s after which the device could take one.
  options.min_wait_to_take_slot = std::chrono::hours(1);
  Start(options);
  const std::string image = RandomBytes(192000, 11);
  WriteAll(root_ / "fw.bin", image);
  const sockaddr_in to = ServerAddress();
  const std::string rrq = std::string("\0\1fw.bin\0octet\0blksize\0008\0timeout\0003\0", 35);
  // The first packet a fresh client gets back (an OACK, or an error's text).
  auto first_reply = [&](int s) -> std::string {
    sendto(s, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, 2000 * TftpTimeScale()) != 1) return "(nothing)";
    char buffer[600];
    const ssize_t n = recv(s, buffer, sizeof buffer, 0);
    if (n > 4 && buffer[1] == kError) return std::string(buffer + 4);
    return n >= 2 && buffer[1] == kOack ? "OACK" : "(other)";
  };
  struct Slow {
    int fd = -1;
    std::chrono::steady_clock::time_point ack_at{};
    char ack[4] = {0, kAck, 0, 0};
    bool due = false;
    std::string error;
  };
  std::vector<Slow> slow(64);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 64; ++i) {
    slow[i].fd = SocketOn("127.0.1." + std::to_string(1 + i / 4));
    ASSERT_GE(slow[i].fd, 0);
    sendto(slow[i].fd, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (i == 3) {
      const int fifth = SocketOn("127.0.1.1");
      EXPECT_EQ(first_reply(fifth), "too many transfers from this address");
      close(fifth);
    }
  }
  const auto deadline = start + 10 * kWindow;
  while (server_->active_transfers() < 64 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(server_->active_transfers(), 64);
  const int device = SocketOn("127.0.2.1");
  EXPECT_EQ(first_reply(device), "too many transfers");
  close(device);
  ASSERT_LT(std::chrono::steady_clock::now() - start, kWindow) << "too slow to fill the slots in one window";

  // Each slow client answers every packet of its transfer with its ACK 250 ms later.
  int ended = 0;
  while (ended < 64 && std::chrono::steady_clock::now() < deadline) {
    std::vector<pollfd> fds;
    for (const Slow& c : slow) fds.push_back({c.fd, POLLIN, 0});
    poll(fds.data(), fds.size(), 20);
    const auto now = std::chrono::steady_clock::now();
    for (size_t i = 0; i < slow.size(); ++i) {
      Slow& c = slow[i];
      if (!c.error.empty()) continue;
      if (fds[i].revents & POLLIN) {
        char buffer[600];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(c.fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n > 4 && buffer[1] == kError) {
          c.error = std::string(buffer + 4);
          ++ended;
          continue;
        }
        connect(c.fd, reinterpret_cast<sockaddr*>(&from), length);  // the transfer's port
        if (n >= 4 && buffer[1] == kData) std::memcpy(c.ack + 2, buffer + 2, 2);
        c.due = true;
        c.ack_at = now + std::chrono::milliseconds(250);
      }
      if (c.due && now >= c.ack_at) {
        send(c.fd, c.ack, sizeof c.ack, 0);
        c.due = false;
      }
    }
  }
  for (const Slow& c : slow) {
    EXPECT_EQ(c.error, "transfer too slow");
    close(c.fd);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3 * kWindow);
  while (server_->active_transfers() > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(server_->active_transfers(), 0);
  EXPECT_NE(Log().find("ended: fewer than 512 bytes per second"), std::string::npos);

  if (!HaveTool("curl")) GTEST_SKIP() << "curl missing";
  options.rate_window = std::chrono::milliseconds(250 * TftpTimeScale());
  Start(options);
  const auto fetch_start = std::chrono::steady_clock::now();
  ASSERT_EQ(Shell("curl -sS --tftp-blksize 8 -o " + (out_ / "fw.bin").string() + " " + Url("fw.bin")), 0) << Log();
  EXPECT_EQ(ReadAll(out_ / "fw.bin"), image);
  RecordProperty("small_block_fetch_ms", std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                             std::chrono::steady_clock::now() - fetch_start)
                                                             .count()));
}

// What a client socket receives next: the opcode, the block or error code,
// an error's text and the sender (the transfer's TID).
struct Reply {
  int op = -1;  // -1: nothing within the wait
  std::uint16_t number = 0;
  std::string text;
  sockaddr_in from{};
};
Reply Receive(int fd, std::chrono::milliseconds wait) {
  Reply reply;
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(wait.count())) != 1) return reply;
  char buffer[600];
  socklen_t length = sizeof reply.from;
  const ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&reply.from), &length);
  if (n < 4) return reply;
  reply.op = buffer[1];
  reply.number = static_cast<std::uint16_t>((static_cast<unsigned char>(buffer[2]) << 8) |
                                            static_cast<unsigned char>(buffer[3]));
  if (reply.op == kError) reply.text.assign(buffer + 4, strnlen(buffer + 4, static_cast<std::size_t>(n - 4)));
  return reply;
}

// A flood of refused requests (unknown files, writes, bad opcodes) from 50
// loopback addresses, each answered before the next goes so every one was
// handled: at most the bound per address and per window is written, and the
// rest are counted in one line when the server stops. A device's fetch from
// another address after the flood still logs its "sent" line.
TEST_F(TftpServerTest, FloodOfRefusedRequestsWritesBoundedLinesAndOneCount) {
  ServerOptions options;
  options.log_per_address = 3;
  options.log_per_window = 20;
  Start(options);
  const std::string image = RandomBytes(3000, 12);
  WriteAll(root_ / "fw.bin", image);
  const sockaddr_in to = ServerAddress();
  const std::string requests[] = {test_client::ReadRequest("missing.bin"), std::string("\0\2fw.bin\0octet\0", 15),
                                  std::string("\0\7x", 3)};
  constexpr int kAddresses = 50, kEach = 60;
  for (int a = 0; a < kAddresses; ++a) {
    const int s = SocketOn("127.0.4." + std::to_string(1 + a));
    ASSERT_GE(s, 0);
    for (int i = 0; i < kEach; ++i) {
      const std::string& r = requests[i % 3];
      sendto(s, r.data(), r.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      ASSERT_EQ(Receive(s, std::chrono::milliseconds(5000)).op, kError) << a << "/" << i;
    }
    close(s);
  }
  const int device = SocketOn("127.0.5.1");
  const test_client::SmallBlockFetch fetch = test_client::FetchInSmallBlocks(device, to, "fw.bin");
  close(device);
  EXPECT_TRUE(fetch.ok && fetch.data == image) << fetch.error;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Log().find("fw.bin sent 3000 bytes") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  Stop();

  std::map<std::string, int> per_address;
  int refused = 0, lines = 0;
  long counted = -1;
  std::istringstream in(Log());
  for (std::string line; std::getline(in, line);) {
    ++lines;
    if (line.find(" refused: ") != std::string::npos) {
      ++refused;
      ++per_address[line.substr(0, line.find(':'))];
    }
    std::smatch m;
    if (std::regex_search(line, m, std::regex("^zqfileserver: (\\d+) lines about refused requests not written")))
      counted = std::stol(m[1]);
  }
  std::printf("%d refused requests: %d lines written, %ld counted\n", kAddresses * kEach, lines, counted);
  EXPECT_EQ(refused, 20);
  for (const auto& [address, n] : per_address) EXPECT_LE(n, 3) << address;
  EXPECT_EQ(counted, kAddresses * kEach - refused) << Log();
  EXPECT_NE(Log().find("127.0.5.1:"), std::string::npos);
  EXPECT_NE(Log().find(" fw.bin sent 3000 bytes"), std::string::npos) << Log();
  EXPECT_EQ(lines, refused + 2) << Log();  // the count and the device's line
}

// The count comes at the end of each window while the server runs, not only
// as it stops; each window's counts and lines add up to the requests.
TEST_F(TftpServerTest, HeldBackLinesAreCountedAtTheEndOfEachWindow) {
  ServerOptions options;
  options.log_per_address = 1;
  options.log_window = std::chrono::milliseconds(200);
  Start(options);
  const sockaddr_in to = ServerAddress();
  const int s = SocketOn("127.0.4.1");
  const std::string rrq = test_client::ReadRequest("missing.bin");
  for (int i = 0; i < 20; ++i) {
    sendto(s, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ASSERT_EQ(Receive(s, std::chrono::milliseconds(5000)).op, kError);
  }
  close(s);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Log().find("lines about refused requests") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::string running = Log();
  Stop();
  EXPECT_EQ(Log(), running);  // nothing was left to count at the stop
  long counted = 0;
  const std::regex count("zqfileserver: (\\d+) lines about refused requests not written, from 1 client address\n");
  for (std::sregex_iterator m(running.begin(), running.end(), count), end; m != end; ++m) counted += std::stol((*m)[1]);
  EXPECT_EQ(counted, 19) << running;
  EXPECT_EQ(running.find(" refused: "), running.rfind(" refused: ")) << running;  // one refusal line
}

// Every slot taken by three transfers: a prompt client fetching in 8-byte
// blocks, one acknowledging only its first packet (late), one silent. Once
// they have waited, newcomers take the silent one's slot before the late
// one's, though the late one waited longer, then the late one's; never the
// prompt one's. A request from an address that has a transfer is refused
// however long the others waited. Each transfer that lost its slot gets an
// error, and the prompt client fetches its whole file.
TEST_F(TftpServerTest, NewcomersTakeTheSlotsOfSilentClientsNeverOfPromptOnes) {
  const std::chrono::milliseconds kMinWait(500 * TftpTimeScale());
  ServerOptions options;
  options.max_transfers = 3;
  options.min_wait_to_take_slot = kMinWait;
  options.min_bytes_per_second = 0;  // the rate floor is another test's; a starved machine may fall under it
  Start(options);
  WriteAll(root_ / "f.bin", RandomBytes(5000, 5));
  const std::string small = RandomBytes(16 << 10, 6);  // 2,048 blocks of 8 bytes
  WriteAll(root_ / "small.bin", small);
  const sockaddr_in to = ServerAddress();
  const std::string rrq = test_client::ReadRequest("f.bin", {{"timeout", "10"}});
  auto request = [&](int fd) {
    sendto(fd, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return Receive(fd, std::chrono::milliseconds(5000));
  };
  const std::chrono::milliseconds kWait(5000);
  const std::string kTaken = "no acknowledgement in time: the slot went to another client";

  const int prompt = SocketOn("127.0.3.1");
  ASSERT_GE(prompt, 0);
  std::atomic<bool> prompt_done{false};
  test_client::SmallBlockFetch fetch;
  // An ACK 1 ms after each block (scaled like the waits): the fetch takes
  // over 2 s, longer than the newcomers' two waits of 0.5 s below.
  std::thread prompt_client([&] {
    fetch = test_client::FetchInSmallBlocks(prompt, to, "small.bin", std::chrono::milliseconds(TftpTimeScale()));
    prompt_done = true;
  });
  const int late = SocketOn("127.0.1.1");
  Reply r = request(late);
  ASSERT_EQ(r.op, kOack);
  test_client::SendAck(late, r.from, 0);
  ASSERT_EQ(Receive(late, kWait).op, kData);  // DATA 1, never acknowledged
  const int silent = SocketOn("127.0.1.2");
  ASSERT_EQ(request(silent).op, kOack);
  const auto silent_since = std::chrono::steady_clock::now();
  ASSERT_EQ(server_->active_transfers(), 3);

  std::this_thread::sleep_until(silent_since + kMinWait);
  const int first = SocketOn("127.0.2.1");
  r = request(first);
  ASSERT_EQ(r.op, kOack) << r.text;
  test_client::SendAck(first, r.from, 0);  // acknowledged, then silent on DATA 1
  r = Receive(silent, kWait);
  EXPECT_EQ(r.op, kError);
  EXPECT_EQ(r.text, kTaken);
  ASSERT_EQ(Receive(first, kWait).op, kData);

  const int second = SocketOn("127.0.2.2");
  r = request(second);
  ASSERT_EQ(r.op, kOack) << r.text;
  const auto second_since = std::chrono::steady_clock::now();
  r = Receive(late, kWait);
  EXPECT_EQ(r.op, kError);
  EXPECT_EQ(r.text, kTaken);

  std::this_thread::sleep_until(second_since + kMinWait);
  const int first_again = SocketOn("127.0.2.1");
  EXPECT_EQ(request(first_again).text, "too many transfers");
  const int third = SocketOn("127.0.2.3");
  EXPECT_EQ(request(third).op, kOack);
  r = Receive(second, kWait);
  EXPECT_EQ(r.op, kError);
  EXPECT_EQ(r.text, kTaken);
  EXPECT_FALSE(prompt_done.load()) << "the prompt client finished before the newcomers came";

  prompt_client.join();
  EXPECT_TRUE(fetch.ok) << fetch.error;
  EXPECT_TRUE(fetch.data == small);
  const std::string log = Log();
  EXPECT_NE(log.find(" f.bin ended: its slot went to 127.0.2.1:"), std::string::npos) << log;
  EXPECT_NE(log.find(" f.bin ended: its slot went to 127.0.2.2:"), std::string::npos) << log;
  EXPECT_NE(log.find(" f.bin ended: its slot went to 127.0.2.3:"), std::string::npos) << log;
  for (int fd : {prompt, late, silent, first, second, first_again, third}) close(fd);
}

// The first packet's ACK is awaited at most first_ack_wait whatever time-out
// the client asked for: a silent client asking for 10 s gets one OACK and
// loses its slot before the server would even send it again.
TEST_F(TftpServerTest, TheFirstAckIsAwaitedAtMostTheCap) {
  ServerOptions options;
  options.first_ack_wait = std::chrono::milliseconds(1000);
  Start(options);
  WriteAll(root_ / "f.bin", RandomBytes(5000, 8));
  const sockaddr_in to = ServerAddress();
  const int s = SocketOn("127.0.0.1");
  const std::string rrq = test_client::ReadRequest("f.bin", {{"timeout", "10"}});
  sendto(s, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Receive(s, std::chrono::milliseconds(5000)).op, kOack);
  while (server_->active_transfers() != 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(9))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(server_->active_transfers(), 0) << "still waiting for the first ACK";
  EXPECT_EQ(Receive(s, std::chrono::milliseconds(0)).op, -1) << "the OACK was sent again";
  EXPECT_NE(Log().find("f.bin ended without completion"), std::string::npos) << Log();
  close(s);
}

// The rule with the shipped defaults, on values: who may take a slot, and
// how long an ACK is awaited.
TEST(TftpSlotRules, DefaultsTakeASlotAfterTwoSecondsAndWaitFifteenForTheFirstAck) {
  using std::chrono::milliseconds;
  const ServerOptions defaults;
  struct Case {
    const char* what;
    std::vector<SlotState> slots;
    std::optional<std::size_t> taken;
  };
  const SlotState prompt{true, milliseconds(40)};
  const Case cases[] = {
      {"none", {}, std::nullopt},
      {"all waited under 2 s", {prompt, {false, milliseconds(1999)}, {true, milliseconds(1999)}}, std::nullopt},
      {"2 s exactly", {prompt, {true, milliseconds(2000)}}, 1},
      {"unacknowledged first, though waiting less",
       {{true, milliseconds(40000)}, prompt, {false, milliseconds(2000)}, {false, milliseconds(14000)}},
       3},
      {"unacknowledged under 2 s: the longest waiting",
       {{false, milliseconds(1000)}, {true, milliseconds(3000)}, prompt, {true, milliseconds(44000)}},
       3},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ChooseSlotToTake(c.slots, defaults.min_wait_to_take_slot), c.taken) << c.what;

  // The first ACK: 15 s at most, whatever the time-out; later ones: the
  // retransmissions' time (6 time-outs).
  EXPECT_EQ(AckWait(defaults, 10, true), milliseconds(15000));
  EXPECT_EQ(AckWait(defaults, 3, true), milliseconds(15000));
  EXPECT_EQ(AckWait(defaults, 1, true), milliseconds(6000));
  EXPECT_EQ(AckWait(defaults, 10, false), milliseconds(60000));
  EXPECT_EQ(AckWait(defaults, 3, false), milliseconds(18000));
}

// The requested name is the client's bytes: a line break in it forges no
// line of the helper's output, which the recovery window shows line by line.
TEST_F(TftpServerTest, RequestedNamesAreEscapedInTheLog) {
  const std::string names[] = {"x\n00042:zq: recovered", "y\r\nz.bin"};
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in to = ServerAddress();
  for (const std::string& name : names) {
    const std::string rrq = std::string("\0\1", 2) + name + std::string("\0octet\0", 7);
    sendto(s, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    pollfd p{s, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    char buffer[600];
    recv(s, buffer, sizeof buffer, 0);
  }
  // The line is written after the error goes out.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Log().find("z.bin") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::string log = Log();
  EXPECT_NE(log.find("refused: file not found: x\\n00042:zq: recovered\n"), std::string::npos) << log;
  EXPECT_NE(log.find("refused: file not found: y\\r\\nz.bin\n"), std::string::npos) << log;
  std::size_t lines = 0;
  for (char c : log) lines += c == '\n';
  EXPECT_EQ(lines, 2u) << log;
  close(s);
}

TEST(TftpServerOpen, ReportsABusyPort) {
  ServerOptions options;
  options.folder = test::MakeTempDir("busy").string();
  options.port = 0;
  options.bind_address = htonl(INADDR_LOOPBACK);
  TftpServer first(options);
  std::string error;
  ASSERT_TRUE(first.Open(error));
  options.port = first.port();
  TftpServer second(options);
  EXPECT_FALSE(second.Open(error));
  EXPECT_NE(error.find("cannot bind UDP port " + std::to_string(first.port())), std::string::npos) << error;
  options.folder = "/nonexistent/folder";
  TftpServer third(options);
  EXPECT_FALSE(third.Open(error));
  EXPECT_NE(error.find("cannot open folder"), std::string::npos);
}

}  // namespace
}  // namespace kelvara::tftp
