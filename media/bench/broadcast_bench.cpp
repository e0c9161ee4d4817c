// Broadcast cost: a decoded MP3 file (PCM, 16 kHz mono) and the same file as
// MP3 frames, to 64 devsim devices in the test LAN, through the broadcast's
// rules and the SDK as the program runs them. The figure is this process's
// CPU time per second of audio; the same broadcast to one device, in the same
// run, shows what each further device costs. Absolute figures without a goal,
// one line each: "measured broadcast_<pcm|mp3>_<1|64>_devices_cpu_ms_per_s
// <ms> ms/s goal -" and "measured broadcast_<pcm|mp3>_per_further_device_cpu_ms_per_s".
// Needs the test LAN (root).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "kelvara_test/bench.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "media/core/audio_broadcast.h"
#include "media/ui/zq_broadcast_sdk.h"

using kelvara::test::LanSide;
using kelvara::test::TestLan;
using namespace kelvara::media;

namespace {

constexpr int kDevices = 64;

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }
double Cpu() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return Seconds(r.ru_utime) + Seconds(r.ru_stime);
}

class BenchView : public BroadcastView {
 public:
  std::vector<int> CheckedLogins() override { return checked; }
  void ShowError(const std::string& key) override { std::fprintf(stderr, "error %s\n", key.c_str()); }
  void SetDeviceStatus(int login, const std::string& key) override {
    std::fprintf(stderr, "device %d: %s\n", login, key.c_str());
  }
  void PostFileFinished(unsigned generation) override {
    std::lock_guard lock(mutex);
    finished = generation;
  }
  std::vector<int> checked;
  std::mutex mutex;
  unsigned finished = 0;
  std::deque<std::pair<int, int>> events;
};

int OnStatus(int login, int event, const char*, void* user) {
  auto* view = static_cast<BenchView*>(user);
  std::lock_guard lock(view->mutex);
  view->events.emplace_back(login, event);
  return 0;
}

// One whole file broadcast; CPU seconds of this process per second of audio.
double Run(BenchView& view, const std::vector<int>& logins, int format, const std::string& file,
           double audioSeconds) {
  ZqBroadcastSdk sdk(std::make_unique<NoCaptureSource>());
  AudioBroadcast broadcast(sdk, view);
  view.checked = logins;
  {
    // Every broadcast object numbers its starts from 1: the last run's end
    // must not count as this one's.
    std::lock_guard lock(view.mutex);
    view.finished = 0;
  }
  BroadcastSettings s;
  s.format = format;
  s.rate = 16000;
  s.source = AudioSource::File;
  s.file = file;
  const double before = Cpu();
  if (!broadcast.Start(s)) return -1;
  const unsigned generation = broadcast.Generation();
  for (;;) {
    std::deque<std::pair<int, int>> events;
    bool done;
    {
      std::lock_guard lock(view.mutex);
      events.swap(view.events);
      done = view.finished == generation;
    }
    for (const auto& [login, event] : events) broadcast.OnDeviceTalkEvent(login, event);
    if (done) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  broadcast.Stop();
  return (Cpu() - before) / audioSeconds;
}

void BM_Broadcast64(benchmark::State& state) {
  kelvara::test::ScopedTestHome home;
  std::string why;
  auto lan = TestLan::Create(kelvara::test::TestLanOptions{.lan_addresses = kDevices}, &why);
  if (!lan) {
    kelvara::bench::Skip(state, "test LAN unavailable: " + why);
    return;
  }
  const auto dir = kelvara::test::MakeTempDir("bench");
  const std::string file = (dir / "tone.mp3").string();
  constexpr double kAudioSeconds = 20;
  if (std::system(("ffmpeg -v error -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=20 "
                   "-ac 2 -c:a libmp3lame -b:a 128k '" + file + "'").c_str()) != 0) {
    state.SkipWithError("ffmpeg could not make the file");
    return;
  }
  const std::string bin = (kelvara::test::BinDir() / "devsim").string();
  lan->Spawn(LanSide::kLan, {bin, "--count", std::to_string(kDevices), "--base-ip", TestLan::LanAddress(0),
                             "--set", "rtsp=0", "--discovery-port", "0", "--no-stdin", "--max-seconds", "900"});
  if (!lan->EnterOnThisThread(LanSide::kPc)) {
    state.SkipWithError("cannot enter the PC side of the test LAN");
    return;
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ZQ_NETSDK_IPC_Init();
  BenchView view;
  ZQ_NETSDK_IPC_SetStatusEventCallBack(&OnStatus, &view);
  std::vector<int> logins;
  for (int i = 0; i < kDevices; ++i) {
    logins.push_back(ZQ_NETSDK_IPC_Login(TestLan::LanAddress(i).c_str(), 8091, "admin", "admin123", 0));
  }
  // Every login answered.
  const auto loggedIn = [&view] {
    std::lock_guard lock(view.mutex);
    return std::count_if(view.events.begin(), view.events.end(),
                         [](const auto& e) { return e.second == STATUS_EVENT_LOGIN_OK; });
  };
  for (int wait = 0; wait < 600 && loggedIn() < kDevices; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (loggedIn() < kDevices) {
    state.SkipWithError(("only " + std::to_string(loggedIn()) + " devices logged in").c_str());
    ZQ_NETSDK_IPC_Cleanup();
    return;
  }
  {
    std::lock_guard lock(view.mutex);
    view.events.clear();
  }
  double pcm1 = -1, pcm64 = -1, mp3_1 = -1, mp3_64 = -1;
  for (auto _ : state) {
    // A first broadcast pays one-time costs (threads, the decoder's tables,
    // first touches of memory): not measured.
    Run(view, {logins[0]}, kFormatPCM, file, kAudioSeconds);
    pcm1 = Run(view, {logins[0]}, kFormatPCM, file, kAudioSeconds);
    pcm64 = Run(view, logins, kFormatPCM, file, kAudioSeconds);
    mp3_1 = Run(view, {logins[0]}, kFormatMP3, file, kAudioSeconds);
    mp3_64 = Run(view, logins, kFormatMP3, file, kAudioSeconds);
  }
  using kelvara::bench::PrintMeasured;
  PrintMeasured("broadcast_pcm_1_device_cpu_ms_per_s", pcm1 * 1000, "ms/s", "-");
  PrintMeasured("broadcast_pcm_64_devices_cpu_ms_per_s", pcm64 * 1000, "ms/s", "-");
  PrintMeasured("broadcast_pcm_per_further_device_cpu_ms_per_s", (pcm64 - pcm1) * 1000 / (kDevices - 1), "ms/s", "-");
  PrintMeasured("broadcast_mp3_1_device_cpu_ms_per_s", mp3_1 * 1000, "ms/s", "-");
  PrintMeasured("broadcast_mp3_64_devices_cpu_ms_per_s", mp3_64 * 1000, "ms/s", "-");
  PrintMeasured("broadcast_mp3_per_further_device_cpu_ms_per_s", (mp3_64 - mp3_1) * 1000 / (kDevices - 1), "ms/s", "-");
  for (int h : logins) {
    unsigned long long dropped = 0;
    ZQ_NETSDK_IPC_GetTalkDropped(h, &dropped);
    if (dropped != 0) std::printf("  login %d dropped %llu pieces\n", h, dropped);
  }
  ZQ_NETSDK_IPC_Cleanup();
  if (pcm1 < 0 || pcm64 < 0 || mp3_1 < 0 || mp3_64 < 0) state.SkipWithError("a broadcast did not start");
}
BENCHMARK(BM_Broadcast64)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) { return kelvara::bench::RunBenchmarks(argc, argv); }
