// Live view cost: 16 sub streams (640x360) and 4 main streams (1920x1080)
// from devsim, decoded and painted offscreen in a 4 x 5 grid for 20 s. The
// reference is `ffmpeg -threads 1 -i <stream> -f null -` over the same
// streams in the same run. Both sides are measured over the same length of
// steady play only: ours once every pane shows pictures, ffmpeg's once every
// process reports decoded frames (its start-up and stream probing are left
// out, as our panes' are). Three pairs, the order alternating; each prints
// "ratio live_view_cpu_over_ffmpeg <value> goal <=1.2". Needs the test LAN
// (root).
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <QElapsedTimer>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "kelvara_test/bench.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "media/ui/live_view.h"
#include "media/ui/wnd_manager.h"
#include "zq_player.h"

using kelvara::test::LanSide;
using kelvara::test::TestLan;

namespace {
constexpr int kMain = 4, kSub = 16, kSeconds = 20, kPairs = 3;

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }
double CpuOf(const rusage& r) { return Seconds(r.ru_utime) + Seconds(r.ru_stime); }

std::string Url(int device, int stream) {
  return "rtsp://admin:admin123@" + TestLan::LanAddress(device) + ":554/stream" + std::to_string(stream);
}

// CPU seconds a running process has used so far (/proc/<pid>/stat).
double ProcessCpu(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string f;
  unsigned long long utime = 0, stime = 0;
  // Fields after the name: state is the 3rd of the line, utime the 14th, stime the 15th.
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stoull(f);
    if (i == 15) stime = std::stoull(f);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The last "frame=N" of an ffmpeg progress file.
long long ProgressFrames(const std::filesystem::path& file) {
  std::ifstream in(file);
  long long frames = 0;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("frame=", 0) == 0) frames = std::atoll(line.c_str() + 6);
  return frames;
}

struct Side {
  double cpu = 0;
  long long frames = 0;
  long rssKb = 0;
};

// One ffmpeg per stream, all at once; their CPU over kSeconds of steady play.
Side FfmpegSide() {
  const kelvara::bench::TempFolder dir("kelvara-live-bench");
  std::vector<pid_t> pids;
  for (int i = 0; i < kMain + kSub; ++i) {
    const std::string progress = (dir / ("p" + std::to_string(i))).string();
    std::filesystem::remove(progress);
    const pid_t pid = fork();
    if (pid == 0) {
      const std::string url = Url(i, i < kMain ? 0 : 1);
      const std::string t = std::to_string(kSeconds + 60);  // ended by the benchmark
      execlp("ffmpeg", "ffmpeg", "-v", "quiet", "-nostdin", "-progress", progress.c_str(), "-threads", "1",
             "-rtsp_transport", "tcp", "-i", url.c_str(), "-t", t.c_str(), "-f", "null", "-",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    pids.push_back(pid);
  }
  auto allDecoding = [&] {
    for (int i = 0; i < kMain + kSub; ++i)
      if (ProgressFrames(dir / ("p" + std::to_string(i))) == 0) return false;
    return true;
  };
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!allDecoding() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (!allDecoding()) std::printf("live_view_bench: not every ffmpeg decodes\n");
  Side side;
  double cpu0 = 0;
  long long frames0 = 0;
  for (int i = 0; i < kMain + kSub; ++i) {
    cpu0 += ProcessCpu(pids[static_cast<std::size_t>(i)]);
    frames0 += ProgressFrames(dir / ("p" + std::to_string(i)));
  }
  std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
  double cpu1 = 0;
  long long frames1 = 0;
  for (int i = 0; i < kMain + kSub; ++i) {
    cpu1 += ProcessCpu(pids[static_cast<std::size_t>(i)]);
    frames1 += ProgressFrames(dir / ("p" + std::to_string(i)));
  }
  for (pid_t pid : pids) kill(pid, SIGTERM);
  for (pid_t pid : pids) {
    int status = 0;
    rusage r{};
    wait4(pid, &status, 0, &r);
    side.rssKb = std::max(side.rssKb, r.ru_maxrss);
  }
  side.cpu = cpu1 - cpu0;
  side.frames = frames1 - frames0;  // progress is written every 0.5 s
  return side;
}

void BM_LiveView20(benchmark::State& state) {
  kelvara::test::ScopedTestHome home;
  std::string why;
  auto lan = TestLan::Create(kelvara::test::TestLanOptions{.lan_addresses = kMain + kSub}, &why);
  if (!lan) {
    kelvara::bench::Skip(state, "test LAN unavailable: " + why);
    return;
  }
  const std::string bin = (kelvara::test::BinDir() / "devsim").string();
  lan->Spawn(LanSide::kLan, {bin, "--count", std::to_string(kMain + kSub), "--base-ip", TestLan::LanAddress(0),
                             "--set", "device_type=DAV-ODUVE-BENCH", "--no-stdin", "--max-seconds", "600"});
  if (!lan->EnterOnThisThread(LanSide::kPc)) {
    state.SkipWithError("cannot enter the PC side of the test LAN");
    return;
  }
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
  // Our side: the grid decoding and painting; CPU over kSeconds of steady play.
  auto kelvaraSide = [&] {
    Side side;
    kelvara::ui::CDialogVideo video;
    auto* grid = new kelvara::ui::CWndManager();
    grid->SetHostWindow(&video);
    video.SetGrid(grid);
    video.resize(1600, 900);
    grid->SetGrid(4, 5);
    video.SetVisible(5);
    kelvara::media::LiveView view(host);
    view.Attach(grid, &video);
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
    side.frames = counts().second - f0;
    side.cpu = CpuOf(after) - CpuOf(before);
    view.CloseAllPreviews();
    return side;
  };
  QTest::qWait(2000);  // devsim binds its servers
  std::printf("live_view_bench: %d main + %d sub streams, %d s of steady play per side\n", kMain, kSub, kSeconds);
  for (auto _ : state) for (int pair = 0; pair < kPairs; ++pair) {
    Side ours, reference;
    for (int side = 0; side < 2; ++side) {
      if ((side == 0) == (pair % 2 == 0))
        ours = kelvaraSide();
      else
        reference = FfmpegSide();
    }
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    std::printf("  pair %d: kelvara (decode + paint) %.2f s CPU, %lld pictures, peak RSS %ld MiB; "
                "ffmpeg -threads 1 x %d %.2f s CPU, %lld frames, peak RSS %ld MiB per process\n",
                pair + 1, ours.cpu, ours.frames, self.ru_maxrss / 1024, kMain + kSub, reference.cpu,
                reference.frames, reference.rssKb / 1024);
    if (ours.frames <= 0 || reference.frames <= 0 || reference.cpu <= 0) {
      state.SkipWithError("a side decoded nothing");
      break;
    }
    kelvara::bench::PrintRatio("live_view_cpu_over_ffmpeg", ours.cpu / reference.cpu, "<=1.2");
  }
  ZQ_RTSP_CLINET_LIB_ReleaseLib();
}
BENCHMARK(BM_LiveView20)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  return kelvara::bench::RunBenchmarks(argc, argv);
}
