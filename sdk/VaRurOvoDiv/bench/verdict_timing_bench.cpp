// Whether the time a device takes for its verdict tells an unknown user from
// a wrong password. A client on loopback runs the login against the
// simulator up to its tag, alternately as an unknown user (a name as long as
// the known one) and as the known user with a wrong password, and times from
// sending the tag to the verdict.
// Eight batches of 500 pairs; per batch the median of (unknown - wrong) in
// microseconds. Prints per batch
//   measured devsim_verdict_unknown_minus_wrong_us <median> us goal -
// and once the number of batches whose unknown-user verdicts came sooner
//   measured devsim_verdict_batches_unknown_sooner <count of 8> batches goal -
// (about 4 of 8 when the verdicts do not differ; 8 of 8 with a shortcut).
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "kelvara_test/bench.h"
#include "login_handshake.h"
#include "simulator.h"
#include "wire_frame.h"

namespace {

namespace wire = varurovodiv::wire;
using Clock = std::chrono::steady_clock;

std::optional<wire::Frame> ReadFrame(int fd, wire::FrameParser& parser) {
  char buf[4096];
  for (;;) {
    if (auto f = parser.Next()) return f;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0 || !parser.Feed(buf, static_cast<size_t>(n))) return std::nullopt;
  }
}

// Microseconds from sending the tag to the verdict's arrival; negative on failure.
double VerdictMicros(uint16_t port, const std::string& user, const std::string& password) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  timeval tv{3, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  double us = -1;
  wire::FrameParser parser;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    const auto hello_frame = ReadFrame(fd, parser);
    const auto hello = hello_frame ? wire::DecodeHello(hello_frame->payload) : std::nullopt;
    if (hello) {
      const std::string nonce = wire::RandomBytes(wire::kNonceSize);
      wire::LoginExchange pake(wire::LoginExchange::Side::kClient, password, user, hello->nonce, nonce);
      const std::string share =
          wire::EncodeFrame(wire::FrameType::kLoginShare, 1, 0, 0, 0, wire::EncodeLoginShare({user, nonce, pake.share()}));
      send(fd, share.data(), share.size(), MSG_NOSIGNAL);
      const auto reply = ReadFrame(fd, parser);
      if (reply && pake.TakePeerShare(reply->payload)) {
        const std::string tag = wire::EncodeFrame(wire::FrameType::kLogin, 2, 0, 0, 0, pake.Tag());
        const auto t0 = Clock::now();
        send(fd, tag.data(), tag.size(), MSG_NOSIGNAL);
        if (ReadFrame(fd, parser)) us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
      }
    }
  }
  close(fd);
  return us;
}

void BM_VerdictTiming(benchmark::State& state) {
  kelvara::devsim::SimConfig c;
  c.discovery_port = 0;
  kelvara::devsim::DeviceConfig d;
  d.ip = "127.0.0.1";
  d.command_port = 0;
  d.log_port = 0;
  d.password = "the right one";
  d.rtsp = 0;
  kelvara::devsim::CompleteDevice(d, 0);
  c.devices.push_back(d);
  kelvara::devsim::Simulator sim(c);
  if (!sim.Start().empty()) {
    state.SkipWithError("simulator did not start");
    return;
  }
  const uint16_t port = sim.command_port(0);
  constexpr int kBatches = 8, kPairs = 500;
  int sooner = 0;
  for (auto _ : state) {
    for (int b = 0; b < kBatches; ++b) {
      std::vector<double> diffs;
      for (int i = 0; i < kPairs; ++i) {
        // The order alternates from pair to pair.
        double unknown, wrong;
        if (i % 2 == 0) {
          unknown = VerdictMicros(port, "admim", "guess");
          wrong = VerdictMicros(port, d.user, "guess");
        } else {
          wrong = VerdictMicros(port, d.user, "guess");
          unknown = VerdictMicros(port, "admim", "guess");
        }
        if (unknown >= 0 && wrong >= 0) diffs.push_back(unknown - wrong);
      }
      if (diffs.empty()) {
        state.SkipWithError("no verdicts");
        return;
      }
      std::nth_element(diffs.begin(), diffs.begin() + diffs.size() / 2, diffs.end());
      const double median = diffs[diffs.size() / 2];
      sooner += median < 0;
      kelvara::bench::PrintMeasured("devsim_verdict_unknown_minus_wrong_us", median, "us", "-");
    }
  }
  kelvara::bench::PrintMeasured("devsim_verdict_batches_unknown_sooner", sooner, "batches", "-");
  state.counters["batches_unknown_sooner"] = sooner;
  sim.Stop();
}

BENCHMARK(BM_VerdictTiming)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
