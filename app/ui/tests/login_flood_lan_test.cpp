// A LAN host that forges search replies against the whole program, as a user
// runs it in the test LAN. 30 addresses of the host answer every search
// request with 100 new serial numbers each, all at the host's own address and
// without an account, so each automatic login would send the operator's
// default login there; a rogue login responder on those addresses speaks the
// SDK's login as far as the SDK's tag and counts each tag as one password
// guess. A real devsim device answers beside them with the same default
// login. The window searches by itself at start (that search stops by
// itself), then the test presses Search as a user would; the guesses per
// Search press, the program's threads, descriptors and memory are counted,
// and the real device must log in while the flood lasts and after it. Last,
// a crafted .xls list naming 20 of the rogue's addresses ten times each is
// imported: one guess per address.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/shell/main_layout.h"
#include "app/ui/device_list_seam.h"
#include "app/ui/linked_shell_sdk.h"
#include "app/ui/zq_dev_search_tool_app.h"
#include "app/ui/zq_dev_search_tool_dlg.h"
#include "common/language_table.h"
#include "common/save_param.h"
#include "discovery/core/context_menu.h"
#include "discovery/core/discovery_log.h"
#include "discovery/core/discovery_protocol.h"
#include "discovery/tests/reply_fixture.h"
#include "fake_device_login.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "whole_program_test.h"
#include "wire_frame.h"

namespace kelvara::ui {
namespace {

using kelvara::test::LanSide;
using kelvara::test::TestLan;
using kelvara::test::TestLanOptions;
namespace wire = varurovodiv::wire;

constexpr int kHostileAddresses = 30;
constexpr int kSerialsPerReply = 100;  // per hostile address and search request
constexpr std::uint16_t kRoguePort = 34567;
// Bounds of the waits for events, not timings: a loaded machine may take long.
constexpr int kEventBound_ms = 90000;

int Scaled(int ms) {
  const char* v = std::getenv("KELVARA_TEST_TIME_SCALE");
  const int scale = v != nullptr ? std::atoi(v) : 1;
  return ms * (scale < 1 ? 1 : scale);
}

int Entries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

// The program's threads, descriptors and resident memory.
struct Figures {
  int threads = 0;
  int descriptors = 0;
  long rss_kib = 0;
  static Figures Now() {
    Figures f;
    f.threads = Entries("/proc/self/task");
    f.descriptors = Entries("/proc/self/fd");
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
      std::fclose(statm);
    }
    f.rss_kib = resident * (sysconf(_SC_PAGESIZE) / 1024);
    return f;
  }
  void Max(const Figures& o) {
    threads = std::max(threads, o.threads);
    descriptors = std::max(descriptors, o.descriptors);
    rss_kib = std::max(rss_kib, o.rss_kib);
  }
};

// A thread of the test inside the LAN namespace until `stop` is set.
class LanThread {
 public:
  LanThread(TestLan& lan, std::function<void(const std::atomic<bool>& stop)> body)
      : thread_([this, &lan, body = std::move(body)] {
          entered_ = lan.EnterOnThisThread(LanSide::kLan);
          ready_ = true;
          if (entered_) body(stop_);
        }) {
    while (!ready_) std::this_thread::yield();
  }
  ~LanThread() {
    stop_ = true;
    thread_.join();
  }
  bool entered() const { return entered_; }

 private:
  std::atomic<bool> stop_{false}, ready_{false}, entered_{false};
  std::thread thread_;
};

// The forging host: every search request is answered from each of its
// addresses (a socket bound to each, so each is a sender of its own) with
// new serial numbers at that address.
class Forger {
 public:
  Forger(TestLan& lan, std::vector<std::string> addresses) : addresses_(std::move(addresses)) {
    thread_ = std::make_unique<LanThread>(lan, [this](const std::atomic<bool>& stop) { Run(stop); });
  }
  void SetAnswering(bool on) { answering_ = on; }
  bool ok() const { return thread_->entered() && bound_; }
  std::uint64_t Sent() const { return sent_; }

 private:
  static int Bound(const std::string& address, std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);  // devsim listens on the port too
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }
  void Run(const std::atomic<bool>& stop) {
    const int listener = Bound("0.0.0.0", discovery::kDiscoveryPort);
    std::vector<int> senders;
    for (const std::string& address : addresses_) senders.push_back(Bound(address, 0));
    bound_ = listener >= 0 && std::find(senders.begin(), senders.end(), -1) == senders.end();
    std::uint64_t serial = 0;
    char buf[8192];
    while (!stop && bound_) {
      pollfd p{listener, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = recvfrom(listener, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0 || !answering_) continue;
      if (std::string_view(buf, static_cast<size_t>(n)).find("Msg_code=\"1\"") == std::string_view::npos) continue;
      for (size_t a = 0; a < addresses_.size(); ++a) {
        for (int i = 0; i < kSerialsPerReply; ++i) {
          discovery::test::FakeDevice d;
          d.serial = "FORGED" + std::to_string(++serial);
          d.ip = addresses_[a];
          d.ptzPort = kRoguePort;
          d.withUser = false;  // the program sends its default login
          d.uuid = "";
          const std::string reply = discovery::test::ReplyText(d);
          if (sendto(senders[a], reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len) > 0) ++sent_;
        }
      }
    }
    for (int fd : senders)
      if (fd >= 0) close(fd);
    if (listener >= 0) close(listener);
  }

  const std::vector<std::string> addresses_;
  std::atomic<bool> answering_{true}, bound_{false};
  std::atomic<std::uint64_t> sent_{0};
  std::unique_ptr<LanThread> thread_;
};

// The rogue login responder: on every address of the LAN side, the device's
// part of the login up to the SDK's tag, which lets it test one password
// guess; it counts the tag as a guess (by the address the program called)
// and refuses the login.
class RogueLogin {
 public:
  explicit RogueLogin(TestLan& lan) {
    thread_ = std::make_unique<LanThread>(lan, [this](const std::atomic<bool>& stop) { Run(stop); });
  }
  bool ok() const { return thread_->entered() && listening_; }
  int Guesses() const { return guesses_; }
  std::map<std::string, int> ByAddress() {
    std::lock_guard lock(mutex_);
    return by_address_;
  }

 private:
  struct Conn {
    int fd;
    std::string local;
    wire::FrameParser parser;
    varurovodiv::test::FakeDeviceLogin login{"the rogue does not know it"};
  };
  void Run(const std::atomic<bool>& stop) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kRoguePort);
    listening_ = bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(listener, 4096) == 0;
    std::vector<std::unique_ptr<Conn>> conns;
    while (!stop) {
      std::vector<pollfd> p{{listener, POLLIN, 0}};
      for (const auto& c : conns) p.push_back({c->fd, POLLIN, 0});
      if (poll(p.data(), p.size(), 50) <= 0) continue;
      for (size_t i = conns.size(); i-- > 0;) {
        if (p[i + 1].revents == 0) continue;
        Conn& c = *conns[i];
        char buf[4096];
        const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        bool done = n <= 0 || !c.parser.Feed(buf, static_cast<size_t>(n));
        while (!done) {
          const auto f = c.parser.Next();
          if (!f) break;
          if (f->header.type == static_cast<uint16_t>(wire::FrameType::kLogin)) {
            ++guesses_;
            std::lock_guard lock(mutex_);
            ++by_address_[c.local];
          }
          const auto reply = c.login.Answer(*f);
          done = !reply || send(c.fd, reply->data(), reply->size(), MSG_NOSIGNAL) <= 0 ||
                 f->header.type == static_cast<uint16_t>(wire::FrameType::kLogin);
        }
        if (done) {
          close(c.fd);
          conns.erase(conns.begin() + static_cast<std::ptrdiff_t>(i));
        }
      }
      if (p[0].revents & POLLIN) {
        for (int fd; (fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
          auto c = std::make_unique<Conn>();
          c->fd = fd;
          sockaddr_in local{};
          socklen_t len = sizeof local;
          getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
          char text[INET_ADDRSTRLEN] = {};
          inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
          c->local = text;
          const std::string hello = c->login.HelloFrame();
          if (send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) <= 0) {
            close(fd);
            continue;
          }
          conns.push_back(std::move(c));
        }
      }
    }
    for (const auto& c : conns) close(c->fd);
    close(listener);
  }

  std::atomic<bool> listening_{false};
  std::atomic<int> guesses_{0};
  std::mutex mutex_;
  std::map<std::string, int> by_address_;
  std::unique_ptr<LanThread> thread_;
};

struct Press {
  std::string name;
  int guesses = 0;
  std::map<std::string, int> by_address;
  std::size_t rows = 0;
  int logins_at_hostile = 0;  // rows at the host's addresses holding a login
  int refused_shown = 0;      // rows there showing the refusal
  bool real_online = false;
  Figures peak;
  std::string totals;
  std::uint64_t forged = 0;       // replies the host sent
  std::size_t log_lines = 0;      // of the discovery code
  int not_listed_lines = 0;       // "device list full ..."
};

// The discovery code's log lines (from any thread).
class LogLines {
 public:
  LogLines() {
    discovery::SetLogSink([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~LogLines() { discovery::SetLogSink({}); }
  std::vector<std::string> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(lines_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

TEST(LoginFloodLan, ForgedRepliesGetOneGuessPerAddressAndLeaveTheProgramWhole) {
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 1 + kHostileAddresses}));
  const std::string real_address = TestLan::LanAddress(0);
  std::vector<std::string> hostile;
  for (int i = 1; i <= kHostileAddresses; ++i) hostile.push_back(TestLan::LanAddress(i));
  // The real device takes the program's default login, the very credentials
  // the forged rows would send to the rogue.
  const CSaveParam shipped;
  ASSERT_GT(lan->Spawn(LanSide::kLan, {(kelvara::test::BinDir() / "devsim").string(), "--count", "1", "--base-ip",
                                       real_address, "--no-stdin", "--set", "reply_account=0", "--set",
                                       "user=" + shipped.default_user, "--set",
                                       "password=" + shipped.default_password}),
            0);
  RogueLogin rogue(*lan);
  Forger forger(*lan, hostile);
  ASSERT_TRUE(QTest::qWaitFor([&] { return rogue.ok() && forger.ok(); }, 5000));

  const std::string workbook = (kelvara::test::MakeTempDir("flood") / "rogue.xls").string();
  {
    // 20 of the rogue's addresses, ten rows each.
    std::string command = "/usr/bin/python3 '" + (kelvara::test::SourceDir() / "discovery/tests/xls_oracle.py").string() +
                          "' at '" + workbook + "' " + std::to_string(kRoguePort);
    for (int n = 0; n < 200; ++n) command += " " + hostile[static_cast<size_t>(n % 20)];
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  ASSERT_TRUE(lan->EnterOnThisThread(LanSide::kPc));
  std::vector<Press> presses;
  std::vector<std::string> failures;
  Figures start;
  LogLines log;
  test::MessageBoxCloser boxes;

  QTimer::singleShot(0, [&] {
    CZqDevSearchToolDlg* dlg = nullptr;
    if (!QTest::qWaitFor([&] { return (dlg = test::MainWindow()) != nullptr; }, 10000)) {
      failures.push_back("no main window");
      return;
    }
    auto* seam = dynamic_cast<discovery::DeviceListSeamImpl*>(dlg->Services().device_list);
    auto* search = dlg->ControlAs<QPushButton>(shell::ids::kSearch);
    if (seam == nullptr || search == nullptr) {
      failures.push_back("no device list or search button");
      dlg->close();
      return;
    }
    discovery::DeviceListController& list = seam->Controller();
    const std::string refused = LangText("IDS_STR_ZH_CN_USERERROR");
    Figures peak = Figures::Now();
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { peak.Max(Figures::Now()); });
    sampler.start(50);
    const auto real_row = [&]() -> discovery::DeviceListRow* {
      discovery::DeviceRows& rows = list.Rows();
      for (std::size_t i = 0; i < rows.Count(); ++i)
        if (rows.At(i).m_searchInfo.lanConfig.ipAddress == real_address) return &rows.At(i);
      return nullptr;
    };
    int counted = 0;
    std::uint64_t forged_counted = 0;
    const auto began = std::chrono::steady_clock::now();
    std::map<std::string, int> seen;
    // Rows at the host's addresses holding a login: each login made there
    // reaches the rogue's tag, one guess.
    const auto logins_at_host = [&] {
      int n = 0;
      discovery::DeviceRows& rows = list.Rows();
      for (std::size_t i = 0; i < rows.Count(); ++i)
        n += rows.At(i).m_loginHandle > 0 && rows.At(i).m_searchInfo.lanConfig.ipAddress != real_address;
      return n;
    };
    // What one press did, once the guesses its logins draw have come in
    // (the last ones arrive after the search stopped), and no more follow.
    const auto finish = [&](const std::string& name, bool real_online) {
      (void)QTest::qWaitFor([&] { return rogue.Guesses() - counted >= logins_at_host(); }, Scaled(kEventBound_ms));
      QTest::qWait(Scaled(500));
      Press p;
      p.name = name;
      p.guesses = rogue.Guesses() - counted;
      p.forged = forger.Sent() - forged_counted;
      forged_counted = forger.Sent();
      counted = rogue.Guesses();
      for (const auto& [address, n] : rogue.ByAddress()) {
        if (n - seen[address] > 0) p.by_address[address] = n - seen[address];
        seen[address] = n;
      }
      discovery::DeviceRows& rows = list.Rows();
      p.rows = rows.Count();
      p.logins_at_hostile = logins_at_host();
      for (std::size_t i = 0; i < rows.Count(); ++i) {
        const discovery::DeviceListRow& r = rows.At(i);
        if (r.m_searchInfo.lanConfig.ipAddress != real_address)
          p.refused_shown += r.shownText[discovery::kColState] == refused;
      }
      p.real_online = real_online;
      peak.Max(Figures::Now());
      p.peak = peak;
      peak = Figures::Now();
      p.totals = dlg->GetItemText(shell::ids::kStatusText).toStdString();
      for (const std::string& line : log.Take()) {
        ++p.log_lines;
        p.not_listed_lines += line.rfind("device list full", 0) == 0;
      }
      std::printf("%s done after %.1f s: %d guesses, %zu rows\n", name.c_str(),
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(), p.guesses, p.rows);
      std::fflush(stdout);
      presses.push_back(p);
    };
    const auto real_logs_in = [&](int ms) {
      return QTest::qWaitFor([&] { return real_row() != nullptr && real_row()->m_online; }, Scaled(ms));
    };

    // The search button as a user presses it, to start or to stop a search.
    const auto press = [&](bool start_search) {
      search->click();
      if (dlg->IsSearchRunning() != start_search) failures.push_back("Search did not " + std::string(start_search ? "start" : "stop"));
    };

    // 1. The search the window starts by itself; it stops by itself (after
    // 52 list ticks).
    start = Figures::Now();
    bool online = real_logs_in(kEventBound_ms);
    if (!QTest::qWaitFor([&] { return !dlg->IsSearchRunning(); }, Scaled(kEventBound_ms))) {
      failures.push_back("no auto-stop");
      press(false);
    }
    finish("first search", online);

    // 2, 3. Search pressed by hand, the flood going on; stopped by hand once
    // the list is full and the real device is in.
    for (const char* name : {"second search", "third search"}) {
      press(true);
      online = real_logs_in(kEventBound_ms);
      (void)QTest::qWaitFor([&] { return list.Rows().Count() >= discovery::kMaxDevices; }, Scaled(kEventBound_ms));
      QTest::qWait(Scaled(2000));  // more replies, more ticks
      press(false);
      finish(name, online);
    }

    // 4. The flood over: the real device logs in, nothing goes to the rogue.
    forger.SetAnswering(false);
    press(true);
    online = real_logs_in(kEventBound_ms);
    QTest::qWait(Scaled(1500));
    press(false);
    finish("search after the flood", online);

    // 5. The crafted list, imported as the list's menu does.
    QTimer picker;
    QObject::connect(&picker, &QTimer::timeout, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* files = qobject_cast<QFileDialog*>(w);
        if (files == nullptr || !files->isVisible()) continue;
        // As typed into the name box, then Open.
        if (auto* name = files->findChild<QLineEdit*>("fileNameEdit")) name->setText(QString::fromStdString(workbook));
        QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
      }
    });
    picker.start(20);
    dlg->Services().device_list->OnCommand(discovery::menu_id::kImportExcel);
    picker.stop();
    (void)QTest::qWaitFor([&] { return list.Rows().Count() == 200; }, Scaled(kEventBound_ms));
    finish("import", false);

    sampler.stop();
    dlg->close();
  });

  CZqDevSearchToolApp app;
  LinkedShellSdk sdk;
  EXPECT_EQ(app.InitInstance(sdk), 0);
  boxes.Stop();
  EXPECT_TRUE(failures.empty()) << failures.front();
  ASSERT_EQ(presses.size(), 5u);

  for (const Press& p : presses) {
    SCOPED_TRACE(p.name);
    std::string spread;
    for (const auto& [address, n] : p.by_address) spread += " " + address + "=" + std::to_string(n);
    std::printf("%-24s forged replies %6llu, guesses %4d (addresses %2zu), rows %4zu, logins at the host %2d, "
                "refusals shown %4d, log lines %zu, peak threads %+d descriptors %+d RSS %+ld MiB (from the window's start)\n",
                p.name.c_str(), static_cast<unsigned long long>(p.forged), p.guesses, p.by_address.size(), p.rows, p.logins_at_hostile, p.refused_shown, p.log_lines,
                p.peak.threads - start.threads, p.peak.descriptors - start.descriptors,
                (p.peak.rss_kib - start.rss_kib) / 1024);
    RecordProperty(p.name + " guesses", p.guesses);
    RecordProperty(p.name + " peak threads", p.peak.threads - start.threads);
    RecordProperty(p.name + " peak descriptors", p.peak.descriptors - start.descriptors);
    RecordProperty(p.name + " peak RSS KiB", static_cast<int>(p.peak.rss_kib - start.rss_kib));
    // One guess per address at most, whatever the number of forged rows.
    for (const auto& [address, n] : p.by_address) EXPECT_EQ(n, 1) << address;
    EXPECT_LE(p.rows, discovery::kMaxDevices);
    EXPECT_LE(p.logins_at_hostile, kHostileAddresses);
    // Threads and descriptors: a refused login gives its own back, so at
    // most the logins under way count, one per address (a thread, its
    // wake-up descriptor and its socket, whose other end, the rogue's, is
    // in this process too), and the program's own.
    EXPECT_LT(p.peak.threads - start.threads, 64);
    EXPECT_LT(p.peak.descriptors - start.descriptors, 160);
    EXPECT_LT(p.peak.rss_kib - start.rss_kib, 256L * 1024);
  }
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(presses[static_cast<size_t>(i)].name);
    const Press& p = presses[static_cast<size_t>(i)];
    EXPECT_GT(p.guesses, 0) << "the flood reached the program";
    EXPECT_LE(p.guesses, kHostileAddresses);
    EXPECT_TRUE(p.real_online) << "the real device logs in during the flood";
    EXPECT_EQ(p.rows, discovery::kMaxDevices) << "the list is full";
    EXPECT_GT(p.refused_shown, 0) << "rows at the host show the refusal";
    EXPECT_NE(p.totals.find(LangText("DEVICES_NOT_LISTED")), std::string::npos) << p.totals;
    EXPECT_EQ(p.not_listed_lines, 1) << "one line per search for what was not listed";
    EXPECT_LT(p.log_lines, p.forged / 10) << "the log does not grow with the replies";
  }
  EXPECT_EQ(presses[3].guesses, 0);
  EXPECT_EQ(presses[3].not_listed_lines + presses[4].not_listed_lines, 0);
  EXPECT_TRUE(presses[3].real_online) << "the real device logs in after the flood";
  EXPECT_EQ(presses[4].rows, 200u);
  EXPECT_EQ(presses[4].guesses, 20) << "one guess per address of the list";
  EXPECT_EQ(presses[4].by_address.size(), 20u);
  EXPECT_GT(forger.Sent(), 0u);
  for (const std::string& box : boxes.Texts()) EXPECT_EQ(box.find("fail"), std::string::npos) << box;
}

}  // namespace
}  // namespace kelvara::ui
