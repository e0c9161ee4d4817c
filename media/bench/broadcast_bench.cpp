// Broadcast cost: a decoded MP3 file (PCM, 16 kHz mono) and the same file as
// MP3 frames, to 64 devsim devices in the test LAN, through the broadcast's
// rules and the SDK as the program runs them. The figure is this process's
// CPU time per second of audio; the same broadcast to one device, in the same
// run, shows what each further device costs. Needs the test LAN (root).
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

}  // namespace

int main() {
  kelvara::test::SetUpTestHome();
  std::string why;
  auto lan = TestLan::Create(kelvara::test::TestLanOptions{.lan_addresses = kDevices}, &why);
  if (!lan) {
    std::printf("broadcast_bench: skipped (test LAN unavailable: %s)\n", why.c_str());
    return 0;
  }
  const auto dir = kelvara::test::MakeTempDir("bench");
  const std::string file = (dir / "tone.mp3").string();
  constexpr double kAudioSeconds = 20;
  if (std::system(("ffmpeg -v error -nostdin -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=20 "
                   "-ac 2 -c:a libmp3lame -b:a 128k '" + file + "'").c_str()) != 0) {
    std::printf("broadcast_bench: ffmpeg could not make the file\n");
    return 1;
  }
  const std::string bin = (kelvara::test::BinDir() / "devsim").string();
  lan->Spawn(LanSide::kLan, {bin, "--count", std::to_string(kDevices), "--base-ip", TestLan::LanAddress(0),
                             "--set", "rtsp=0", "--discovery-port", "0", "--no-stdin", "--max-seconds", "900"});
  if (!lan->EnterOnThisThread(LanSide::kPc)) return 1;
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
    std::printf("broadcast_bench: only %d of %d devices logged in\n", static_cast<int>(loggedIn()), kDevices);
    return 1;
  }
  {
    std::lock_guard lock(view.mutex);
    view.events.clear();
  }
  // A first broadcast pays one-time costs (threads, the decoder's tables,
  // first touches of memory): not measured.
  Run(view, {logins[0]}, kFormatPCM, file, kAudioSeconds);
  const double pcm1 = Run(view, {logins[0]}, kFormatPCM, file, kAudioSeconds);
  const double pcm64 = Run(view, logins, kFormatPCM, file, kAudioSeconds);
  const double mp3_1 = Run(view, {logins[0]}, kFormatMP3, file, kAudioSeconds);
  const double mp3_64 = Run(view, logins, kFormatMP3, file, kAudioSeconds);
  std::printf("broadcast_bench: CPU ms per second of audio (decoded PCM 16 kHz mono / MP3 frames 128 kbit/s)\n");
  std::printf("  1 device:   %.2f / %.2f\n", pcm1 * 1000, mp3_1 * 1000);
  std::printf("  64 devices: %.2f / %.2f (per further device %.3f / %.3f)\n", pcm64 * 1000, mp3_64 * 1000,
              (pcm64 - pcm1) * 1000 / (kDevices - 1), (mp3_64 - mp3_1) * 1000 / (kDevices - 1));
  for (int h : logins) {
    unsigned long long dropped = 0;
    ZQ_NETSDK_IPC_GetTalkDropped(h, &dropped);
    if (dropped != 0) std::printf("  login %d dropped %llu pieces\n", h, dropped);
  }
  ZQ_NETSDK_IPC_Cleanup();
  return pcm64 < 0 || mp3_64 < 0 ? 1 : 0;
}
