// The device file listing against a device that answers every page with
// 1,400 names never seen before: the time of the whole listing up to its
// caps, and of the last page alone (which, with a list search per name,
// grew with the names already listed).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "media/core/audio_broadcast.h"

namespace {

using namespace kelvara::media;

class NullSdk : public BroadcastSdk {
 public:
  int StartTalk(int, int, int, int, int) override { return 0; }
  int StopTalk() override { return 0; }
  int StartAudioCapture(int, int, int, CaptureCallback) override { return 0; }
  int StopAudioCapture() override { return 0; }
  int StartVoiceCom(int) override { return 0; }
  int StopVoiceCom(int) override { return 0; }
  int AddTalk(int) override { return 0; }
  int RemoveTalk(int) override { return 0; }
  int InputAudioData(int, const std::uint8_t*, std::size_t) override { return 0; }
  int GetDVRConfig(int, int) override { return 0; }
  int SetDVRConfig(int, int, const std::string&) override { return 0; }
  int SystemControl(int, int, const std::string&) override { return 0; }
  int SearchOEMMp3File(int, int) override { return 0; }
  int UploadOEMMp3File(int, const std::string&) override { return 0; }
  int UploadOEMAppFile(int, const std::string&) override { return 0; }
  int PlayMp3File(int, const std::string&) override { return 0; }
  int StopPlayMp3File(int) override { return 0; }
  int GetFileByName(int, const std::string&, const std::string&) override { return 0; }
  std::optional<std::string> AudioCaptureWithVolumes(const std::string&, int, int, int) override { return {}; }
};

class NullView : public BroadcastView {
 public:
  std::vector<int> CheckedLogins() override { return {}; }
  void ShowError(const std::string&) override {}
  void SetDeviceStatus(int, const std::string&) override {}
  void PostFileFinished(unsigned) override {}
};

std::vector<std::string> Pages(std::size_t count, std::size_t names) {
  std::vector<std::string> pages;
  std::size_t next = 0;
  for (std::size_t p = 0; p < count; ++p) {
    std::string xml = "<RESPONSE_PARAM>";
    for (std::size_t i = 0; i < names; ++i)
      xml += "<RECORD_FILE FilePath=\"/oem/mp3/endless-file-" + std::to_string(next++) + ".mp3\" FileLength=\"10\"/>";
    pages.push_back(xml + "</RESPONSE_PARAM>");
  }
  return pages;
}

void BM_EndlessListing(benchmark::State& state) {
  const std::vector<std::string> pages = Pages(124, 1400);
  NullSdk sdk;
  NullView view;
  std::size_t answered = 0, files = 0;
  for (auto _ : state) {
    DeviceFileList list(sdk, view);
    list.Query(1, DeviceFileKind::Mp3);
    answered = 0;
    while (list.Querying() && answered < pages.size()) list.OnSearchReply(1, 0, pages[answered++]);
    files = list.Files().size();
  }
  state.counters["pages"] = static_cast<double>(answered);
  state.counters["files"] = static_cast<double>(files);
}

// The page that reaches the file cap, after the pages before it.
void BM_LastPageOfListing(benchmark::State& state) {
  const std::size_t before = DeviceFileList::kMaxFiles / 1400;
  const std::vector<std::string> pages = Pages(before + 1, 1400);
  NullSdk sdk;
  NullView view;
  for (auto _ : state) {
    state.PauseTiming();
    DeviceFileList list(sdk, view);
    list.Query(1, DeviceFileKind::Mp3);
    for (std::size_t p = 0; p < before; ++p) list.OnSearchReply(1, 0, pages[p]);
    state.ResumeTiming();
    benchmark::DoNotOptimize(list.OnSearchReply(1, 0, pages[before]));
  }
}

BENCHMARK(BM_EndlessListing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LastPageOfListing)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
