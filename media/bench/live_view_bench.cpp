// Live view cost: 16 sub streams (640x360) and 4 main streams (1920x1080)
// from devsim, decoded and painted offscreen in a 4 x 5 grid for 30 s. The
// reference is `ffmpeg -threads 1 -i <stream> -f null -` over the same
// streams in the same run; the figure is the ratio of CPU times (goal: at
// most 1.2). Needs the test LAN (root).
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "media/ui/live_view.h"
#include "media/ui/wnd_manager.h"
#include "zq_player.h"

using kelvara::test::LanSide;
using kelvara::test::TestLan;

namespace {
constexpr int kMain = 4, kSub = 16, kSeconds = 30;

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }
double CpuOf(const rusage& r) { return Seconds(r.ru_utime) + Seconds(r.ru_stime); }

std::string Url(int device, int stream) {
  return "rtsp://admin:admin123@" + TestLan::LanAddress(device) + ":554/stream" + std::to_string(stream);
}
}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  kelvara::test::SetUpTestHome();
  std::string why;
  auto lan = TestLan::Create(kelvara::test::TestLanOptions{.lan_addresses = kMain + kSub}, &why);
  if (!lan) {
    std::printf("live_view_bench: skipped (test LAN unavailable: %s)\n", why.c_str());
    return 0;
  }
  const std::string bin = (kelvara::test::BinDir() / "devsim").string();
  lan->Spawn(LanSide::kLan, {bin, "--count", std::to_string(kMain + kSub), "--base-ip", TestLan::LanAddress(0),
                             "--set", "device_type=DAV-ODUVE-BENCH", "--no-stdin", "--max-seconds", "600"});
  if (!lan->EnterOnThisThread(LanSide::kPc)) return 1;
  ZQ_PLAYER_Init();
  ZQ_RTSP_CLINET_LIB_InitLib();

  CSaveParam settings;
  settings.default_user = "admin";
  settings.default_password = "admin123";
  kelvara::media::LiveViewHost host;
  host.settings = &settings;
  host.row_at = [](int row) -> std::optional<kelvara::media::LiveRow> {
    if (row < 0 || row >= kMain + kSub) return std::nullopt;
    kelvara::media::LiveRow r;
    r.serial = "B" + std::to_string(row);
    r.device_type = "DAV-ODUVE-BENCH";
    r.ip = TestLan::LanAddress(row);
    return r;
  };
  double kelvara_cpu = 0;
  long long frames = 0;
  {
    kelvara::ui::CDialogVideo video;
    auto* grid = new kelvara::ui::CWndManager();
    grid->SetHostWindow(&video);
    video.SetGrid(grid);
    video.resize(1600, 900);
    grid->SetGrid(4, 5);
    video.SetVisible(5);
    kelvara::media::LiveView view(host);
    view.Attach(grid, &video);
    QTest::qWait(2000);  // devsim binds its servers
    for (int i = 0; i < kMain + kSub; ++i) view.StartPanePreview(i, 0, i < kMain ? 0 : 1, i, 0);
    auto counts = [&] {
      long long total = 0;
      bool all = true;
      for (int i = 0; i < kMain + kSub; ++i) {
        long long d = 0;
        ZQ_PLAYER_GetFrameCounts(grid->GetPanePlayer(i), &d, nullptr);
        all = all && d > 0;
        total += d;
      }
      return std::make_pair(all, total);
    };
    if (!QTest::qWaitFor([&] { return counts().first; }, 30000)) std::printf("live_view_bench: not every pane plays\n");
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const long long f0 = counts().second;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kSeconds * 1000) QTest::qWait(50);
    getrusage(RUSAGE_SELF, &after);
    frames = counts().second - f0;
    kelvara_cpu = CpuOf(after) - CpuOf(before);
    view.CloseAllPreviews();
  }
  rusage self{};
  getrusage(RUSAGE_SELF, &self);

  // The reference: one ffmpeg per stream, all at once, for as long.
  std::vector<pid_t> pids;
  for (int i = 0; i < kMain + kSub; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      const std::string url = Url(i, i < kMain ? 0 : 1);
      const std::string t = std::to_string(kSeconds);
      execlp("ffmpeg", "ffmpeg", "-v", "quiet", "-threads", "1", "-rtsp_transport", "tcp", "-i", url.c_str(), "-t",
             t.c_str(), "-f", "null", "-", static_cast<char*>(nullptr));
      _exit(127);
    }
    pids.push_back(pid);
  }
  double ffmpeg_cpu = 0;
  long ffmpeg_rss_kb = 0;
  for (pid_t pid : pids) {
    int status = 0;
    rusage r{};
    wait4(pid, &status, 0, &r);
    ffmpeg_cpu += CpuOf(r);
    ffmpeg_rss_kb = std::max(ffmpeg_rss_kb, r.ru_maxrss);
  }
  std::printf("live_view_bench: %d main + %d sub streams, %d s\n", kMain, kSub, kSeconds);
  std::printf("  kelvara (decode + paint): %.2f s CPU, %lld pictures, peak RSS %ld MiB\n", kelvara_cpu, frames,
              self.ru_maxrss / 1024);
  std::printf("  ffmpeg -threads 1 x %d:   %.2f s CPU, peak RSS %ld MiB per process\n", kMain + kSub, ffmpeg_cpu,
              ffmpeg_rss_kb / 1024);
  std::printf("  ratio kelvara / ffmpeg:    %.2f (goal <= 1.2)\n", ffmpeg_cpu > 0 ? kelvara_cpu / ffmpeg_cpu : 0.0);
  ZQ_RTSP_CLINET_LIB_ReleaseLib();
  kelvara::test::TearDownTestHome();
  return 0;
}
