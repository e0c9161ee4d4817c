// Refresh: the UI-thread cost of one 200-ms list refresh with 1,000 rows,
// when nothing changed and when every uptime changed.
// Replies: ParseSearchReply against TinyXML's bare parse of the same text, and
// the search thread's work per datagram against a plain socket read of the
// same datagrams; the two sides of a pair alternate their order and each
// pair's ratio is reported.
// Discovery: Search to every one of 2,000 devices in the rows, each answering
// from its own loopback address; and 500 devsim devices in a LAN of network
// namespaces. Counters report replies lost.
//
// Counters read by scripts/bench-table.py: "measured" and "goal" (the same
// unit, lower is better) and "ratio" (ours over the reference of the pair).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <ctime>
#include <thread>

#include "discovery/core/device_rows.h"
#include "discovery/core/discovery_log.h"
#include "discovery/core/discovery_protocol.h"
#include "discovery/core/xml_parse.h"
#include "device.h"
#include "discovery/core/search_reply.h"
#include "discovery/core/search_thread.h"
#include "discovery/tests/lan_fixture.h"
#include "discovery/tests/reply_fixture.h"
#include "kelvara_test/bench.h"
#include "simulator.h"

namespace kelvara::discovery {
namespace {

class CountingView : public RowView {
 public:
  void RowInserted(DeviceListRow&) override { ++inserted; }
  void CellText(DeviceListRow&, int, const std::string& text) override {
    ++cells;
    bytes += text.size();
  }
  void RowTextColour(DeviceListRow&, RowColour) override {}
  void RowsCleared() override {}
  long inserted = 0, cells = 0, bytes = 0;
};

RowFormatContext BenchContext() {
  RowFormatContext c;
  c.labels = RowLabels::FromLookup([](const char* key) { return std::string(key); });
  return c;
}

std::vector<std::string> Replies(int count, int uptime) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    test::FakeDevice d;
    d.serial = "BENCH" + std::to_string(100000 + i);
    d.ip = "10.77." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250);
    d.uptime_s = uptime + i;
    out.push_back(ReplyText(d));
  }
  return out;
}

void StoreAll(DeviceMap& map, const std::vector<std::string>& replies) {
  for (const auto& r : replies) OnSearchReply(r, "10.77.0.1", map, false);
}

std::vector<DeviceSearchInfo> Parsed(const std::vector<std::string>& replies) {
  std::vector<DeviceSearchInfo> out;
  for (const auto& r : replies) out.push_back(*ParseSearchReply(r));
  return out;
}

// The search thread's side without the parsing: records stored as parsed.
void StoreAll(DeviceMap& map, const std::vector<DeviceSearchInfo>& records) {
  for (const auto& r : records) map.AddOrUpdateDevice(r, "10.77.0.1", TickCount_ms());
}

void BM_RefreshTick(benchmark::State& state) {
  const bool everyUptimeChanged = state.range(0) != 0;
  constexpr int kRows = 1000;
  ColumnMap columns;
  columns.BuildColumnMap({});
  CountingView view;
  DeviceMap map;
  DeviceRows rows(columns, view);
  rows.SetFormatContext(BenchContext());
  StoreAll(map, Replies(kRows, 1000));
  rows.RefreshDeviceList(map, {});
  const auto first = Parsed(Replies(kRows, 2000)), second = Parsed(Replies(kRows, 3000));
  bool flip = false;
  long cells = 0;
  for (auto _ : state) {
    if (everyUptimeChanged) {
      // The search thread's side of the tick: 1,000 replies stored.
      state.PauseTiming();
      StoreAll(map, flip ? first : second);
      flip = !flip;
      state.ResumeTiming();
    }
    const long before = view.cells;
    auto relogin = rows.RefreshDeviceList(map, {});
    benchmark::DoNotOptimize(relogin);
    cells += view.cells - before;
  }
  state.counters["rows"] = static_cast<double>(rows.Count());
  state.counters["cells_written_per_tick"] =
      benchmark::Counter(static_cast<double>(cells) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_RefreshTick)->Arg(0)->Arg(1)->ArgNames({"every_uptime_changed"})->Unit(benchmark::kMicrosecond);

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// What devsim answers for its device i (the same text the LAN carries).
std::vector<std::string> DevsimReplies(int count) {
  devsim::SimConfig config;
  devsim::GenerateDevices(devsim::DeviceConfig{}, count, "10.77.1.1", "B", config.devices);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(devsim::Device(i, config.devices[static_cast<std::size_t>(i)]).SearchReplyText());
  return out;
}

// The loopback address device i answers from: 127.1.0.1, 127.1.0.2, ...
in_addr DeviceSource(int i) {
  in_addr a{};
  a.s_addr = htonl((127u << 24) | (1u << 16) | (static_cast<unsigned>(i / 250) << 8) | (1u + static_cast<unsigned>(i % 250)));
  return a;
}

int LoopbackSocket() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int big = 4 << 20;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &big, sizeof big);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  return fd;
}

std::uint16_t PortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// Sends `text` to `to` with device i's loopback address as its source.
void SendFrom(int fd, int i, const std::string& text, const sockaddr_in& to) {
  iovec iov{const_cast<char*>(text.data()), text.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr msg{};
  msg.msg_name = const_cast<sockaddr_in*>(&to);
  msg.msg_namelen = sizeof to;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  cmsghdr* c = CMSG_FIRSTHDR(&msg);
  c->cmsg_level = IPPROTO_IP;
  c->cmsg_type = IP_PKTINFO;
  c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  in_pktinfo info{};
  info.ipi_spec_dst = DeviceSource(i);
  std::memcpy(CMSG_DATA(c), &info, sizeof info);
  // A full send buffer only delays the device; its reply must not be lost here.
  while (sendmsg(fd, &msg, 0) < 0 && errno == ENOBUFS) std::this_thread::sleep_for(std::chrono::microseconds(50));
}

// Devices on loopback: every search request (Msg_code 1) is answered by each
// device from its own address, as devices on a LAN do. No broadcast: the
// requests come to 127.0.0.1 and the replies go back to their sender.
class LoopbackDevices {
 public:
  explicit LoopbackDevices(std::vector<std::string> replies) : replies_(std::move(replies)) {
    fd_ = LoopbackSocket();
    thread_ = std::thread([this] { Loop(); });
  }
  ~LoopbackDevices() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  Destination Address() const { return {htonl(INADDR_LOOPBACK), PortOf(fd_)}; }

 private:
  void Loop() {
    std::vector<char> buffer(65536);
    pollfd p{fd_, POLLIN, 0};
    while (!stop_) {
      if (poll(&p, 1, 50) <= 0) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0 || std::string_view(buffer.data(), static_cast<std::size_t>(n)).find("Msg_code=\"1\"") == std::string_view::npos)
        continue;
      for (std::size_t i = 0; i < replies_.size(); ++i) SendFrom(fd_, static_cast<int>(i), replies_[i], from);
    }
  }
  std::vector<std::string> replies_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ParseSearchReply against TinyXML's parse of the same text alone.
void BM_ParseSearchReplyPair(benchmark::State& state) {
  const auto replies = DevsimReplies(200);
  double ours = 0, reference = 0;
  bool oursFirst = true;
  auto runOurs = [&] {
    const double t = ThreadCpuSeconds();
    for (const auto& r : replies) benchmark::DoNotOptimize(ParseSearchReply(r));
    ours += ThreadCpuSeconds() - t;
  };
  auto runReference = [&] {
    const double t = ThreadCpuSeconds();
    for (const auto& r : replies) {
      TiXmlDocument doc;
      doc.Parse(r.c_str());
      benchmark::DoNotOptimize(doc.RootElement());
    }
    reference += ThreadCpuSeconds() - t;
  };
  for (auto _ : state) {
    if (oursFirst) runOurs(), runReference();
    else runReference(), runOurs();
    oursFirst = !oursFirst;
  }
  const double n = static_cast<double>(state.iterations() * static_cast<std::int64_t>(replies.size()));
  state.counters["measured"] = ours / n * 1e6;  // us of CPU per reply
  state.counters["goal"] = 30;
  state.counters["reference_us"] = reference / n * 1e6;
  state.counters["ratio"] = ours / reference;
}
BENCHMARK(BM_ParseSearchReplyPair)->Unit(benchmark::kMillisecond);

// The search thread's work per datagram (read, header check, parse, store)
// against a plain read of the same datagrams, each from its own sender.
void BM_ReplyOnSearchThreadPair(benchmark::State& state) {
  constexpr int kDevices = 1000;
  const auto replies = DevsimReplies(kDevices);
  const int sender = LoopbackSocket(), receiver = LoopbackSocket();
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(PortOf(receiver));
  SetLogSink([](const std::string&) {});
  std::vector<char> buffer(kReceiveBufferSize + 1);
  double ours = 0, reference = 0;
  long stored = 0;
  auto drain = [&](bool handle) {
    for (int i = 0; i < kDevices; ++i) SendFrom(sender, i, replies[static_cast<std::size_t>(i)], to);
    DeviceMap map;
    const double t = ThreadCpuSeconds();
    for (int i = 0; i < kDevices; ++i) {
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = recvfrom(receiver, buffer.data(), kReceiveBufferSize, MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0 || !handle) continue;
      char source[INET_ADDRSTRLEN] = "?";
      inet_ntop(AF_INET, &from.sin_addr, source, sizeof source);
      const std::string_view text(buffer.data(), static_cast<std::size_t>(n));
      ReplyHeader header;
      TiXmlDocument parsed;
      if (ParseReplyHeader({}, text, header, nullptr, &parsed) != kHeaderOk || AtoI(header.msgCode) != kMsgSearchReply)
        continue;
      OnSearchReply(text, parsed, "127.0.0.1", map, false, {}, source);
    }
    (handle ? ours : reference) += ThreadCpuSeconds() - t;
    if (handle) stored += static_cast<long>(map.Size());
  };
  bool oursFirst = true;
  for (auto _ : state) {
    if (oursFirst) drain(true), drain(false);
    else drain(false), drain(true);
    oursFirst = !oursFirst;
  }
  SetLogSink({});
  close(sender);
  close(receiver);
  const double n = static_cast<double>(state.iterations() * kDevices);
  state.counters["us_per_reply"] = ours / n * 1e6;
  state.counters["reference_us_per_read"] = reference / n * 1e6;
  state.counters["ratio"] = ours / reference;
  state.counters["stored_per_run"] = static_cast<double>(stored) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReplyOnSearchThreadPair)->Unit(benchmark::kMillisecond);

// Search to every one of 2,000 devices listed, with the UI's 200-ms refresh
// ticks; each device answers from its own loopback address. Paired with a
// plain socket that sends the same request and reads the same 2,000 replies.
// The ratio is the time to list (Search to the last row shown) over the
// plain read's; the listing waits for the tick after the last reply, so its
// floor is the first tick (200 ms). The time to fill the map is a counter of
// its own (to_map_ms).
void BM_Discover2000Pair(benchmark::State& state) {
  constexpr int kDevices = 2000;
  using Clock = std::chrono::steady_clock;
  const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  LoopbackDevices lan(DevsimReplies(kDevices));
  SetLogSink([](const std::string&) {});
  double listed = 0, toMap = 0, plain = 0, lost = 0, worst = 0;
  auto search = [&] {
    DeviceMap map;
    ColumnMap columns;
    columns.BuildColumnMap({});
    CountingView view;
    DeviceRows rows(columns, view);
    rows.SetFormatContext(BenchContext());
    SearchThread thread([&](std::string_view text, const TiXmlDocument& parsed, const std::string& adapter,
                            const std::string& sender) { OnSearchReply(text, parsed, adapter, map, false, {}, sender); });
    SearchConfig config;
    config.adapters = [] { return std::vector<Ipv4>{}; };  // the any-address socket only
    config.destination = lan.Address();
    const auto start = Clock::now();
    thread.Start(config);
    auto nextTick = start + std::chrono::milliseconds(200);
    double mapFull = 1500;
    while (rows.Count() < kDevices && Clock::now() - start < std::chrono::milliseconds(1500)) {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      if (mapFull >= 1500 && map.Size() >= kDevices) mapFull = ms(Clock::now() - start);
      if (Clock::now() >= nextTick) {
        rows.RefreshDeviceList(map, {});
        nextTick += std::chrono::milliseconds(200);
      }
    }
    const double t = ms(Clock::now() - start);
    thread.Stop();
    listed += t;
    worst = std::max(worst, t);
    toMap += mapFull;
    lost += kDevices - static_cast<double>(rows.Count());
  };
  auto plainRead = [&] {
    const int fd = LoopbackSocket();
    const Destination d = lan.Address();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = d.address;
    to.sin_port = htons(d.port);
    std::vector<char> buffer(kReceiveBufferSize + 1);
    const std::string request = BuildDiscoveryMessage(kMsgSearch, std::nullopt, 0);
    const auto start = Clock::now();
    sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    for (int got = 0; got < kDevices && Clock::now() - start < std::chrono::milliseconds(1500);) {
      if (poll(&p, 1, 100) <= 0) continue;
      if (recv(fd, buffer.data(), kReceiveBufferSize, MSG_DONTWAIT) > 0) ++got;
    }
    plain += ms(Clock::now() - start);
    close(fd);
  };
  bool oursFirst = true;
  for (auto _ : state) {
    if (oursFirst) search(), plainRead();
    else plainRead(), search();
    oursFirst = !oursFirst;
  }
  SetLogSink({});
  const double runs = static_cast<double>(state.iterations());
  state.counters["measured"] = worst;  // ms from Search to the last row, worst run
  state.counters["goal"] = 300;
  state.counters["listed_ms"] = listed / runs;
  state.counters["to_map_ms"] = toMap / runs;
  state.counters["plain_read_ms"] = plain / runs;
  state.counters["ratio"] = listed / plain;
  state.counters["replies_lost_per_search"] = lost / runs;
}
BENCHMARK(BM_Discover2000Pair)->Iterations(6)->Unit(benchmark::kMillisecond);

// The same search against the device simulator playing 500 devices, each
// answering from its own address.
void BM_Discover500Devsim(benchmark::State& state) {
  constexpr int kDevices = 500;
  std::string why;
  if (!test::LanFixture::Enter(1, &why)) {
    bench::Skip(state, "test LAN unavailable: " + why);
    return;
  }
  const std::string ns = test::LanFixture::LanNamespace();
  // Every address of 10.77.1.0/24 and 10.77.2.0/24 is the LAN side's own.
  test::LanFixture::Shell("ip -n " + ns + " route add local 10.77.1.0/24 dev lan0 2>/dev/null; ip -n " + ns +
                          " route add local 10.77.2.0/24 dev lan0 2>/dev/null");
  devsim::SimConfig config;
  config.stdin_control = false;
  devsim::GenerateDevices(devsim::DeviceConfig{}, kDevices, "10.77.1.1", "B", config.devices);
  std::unique_ptr<devsim::Simulator> sim;
  std::string error = "not started";
  test::LanFixture::RunInLan([&] {
    sim = std::make_unique<devsim::Simulator>(config);
    error = sim->Start();
  });
  if (!error.empty()) {
    state.SkipWithError(("devsim: " + error).c_str());
    return;
  }
  double lost = 0, runs = 0;
  for (auto _ : state) {
    DeviceMap map;
    ColumnMap columns;
    columns.BuildColumnMap({});
    CountingView view;
    DeviceRows rows(columns, view);
    rows.SetFormatContext(BenchContext());
    SearchThread search([&](std::string_view text, const TiXmlDocument& parsed, const std::string& adapter,
                            const std::string& sender) { OnSearchReply(text, parsed, adapter, map, false, {}, sender); });
    const auto start = std::chrono::steady_clock::now();
    search.Start({});
    while (rows.Count() < kDevices && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      rows.RefreshDeviceList(map, {});
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    search.Stop();
    lost += kDevices - static_cast<double>(rows.Count());
    runs += 1;
  }
  state.counters["replies_lost_per_search"] = lost / runs;
  sim->Stop();
}
BENCHMARK(BM_Discover500Devsim)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvara::discovery

BENCHMARK_MAIN();
