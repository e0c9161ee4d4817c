// The broadcast end to end in the test LAN: the broadcast's rules over the
// real SDK to devsim devices, whose talk sinks show what each device heard.
// MP3 files go out as their frames (ffprobe names them), decoded files as
// our decoder's PCM in 40-ms pieces tagged with the format, paced in real
// time; the file capture source stands in for the microphone; devices that
// refuse, end the talk, or are unchecked while the broadcast runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "media/core/audio_broadcast.h"
#include "media/core/audio_capture_source.h"
#include "media/core/mp3_pcm_decoder.h"
#include "media/ui/zq_broadcast_sdk.h"
#include "broadcast_fakes.h"
#include "mp3_fixtures.h"
#include "simulator.h"

namespace kelvara::media {
namespace {

using devsim::TalkSession;
using kelvara::test::LanSide;
using kelvara::test::TestLan;
using kelvara::test::TestLanOptions;
using test::CommandOutput;
using test::EncodedMp3Dir;
using test::ReadFileBytes;

constexpr int kDevices = 4;

int TimeScale() {
  const char* v = std::getenv("KELVARA_TEST_TIME_SCALE");
  return v != nullptr && std::atoi(v) > 1 ? std::atoi(v) : 1;
}

// The window's side (the recording view of the unit tests) plus the SDK's
// status events, queued for the test thread as the window's thread would take them.
class LanView : public test::RecordingView {
 public:
  std::deque<std::pair<int, int>> events;  // login, status event
};

int OnStatus(int login, int event, const char*, void* user) {
  auto* view = static_cast<LanView*>(user);
  std::lock_guard lock(view->mutex);
  view->events.emplace_back(login, event);
  return 0;
}

class BroadcastLanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string why;
    lan_ = TestLan::Create(TestLanOptions{.lan_addresses = kDevices}, &why).release();
    if (lan_ == nullptr) {
      skip_ = why;
      return;
    }
    devsim::SimConfig config;
    config.discovery_port = 0;
    config.stdin_control = false;
    for (int i = 0; i < kDevices; ++i) {
      devsim::DeviceConfig d;
      d.ip = TestLan::LanAddress(i);
      d.command_port = 8091;
      d.log_port = 9999;
      d.rtsp = false;
      devsim::CompleteDevice(d, i);
      config.devices.push_back(d);
    }
    const std::string error = lan_->CallInThread(LanSide::kLan, [&] {
      sim_ = new devsim::Simulator(config);
      return sim_->Start();
    });
    if (!error.empty()) {
      skip_ = error;
      return;
    }
    // The SDK's threads start from this thread: they live on the PC side.
    if (!lan_->EnterOnThisThread(LanSide::kPc)) {
      skip_ = "cannot enter the PC namespace";
      return;
    }
    ZQ_NETSDK_IPC_Init();
    ready_ = true;
  }
  static void TearDownTestSuite() {
    if (ready_) ZQ_NETSDK_IPC_Cleanup();
    if (sim_ != nullptr) sim_->Stop();
    delete sim_;
    delete lan_;
  }

  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "test LAN unavailable (" << skip_ << ")";
    ZQ_NETSDK_IPC_SetStatusEventCallBack(&OnStatus, &view_);
    for (int i = 0; i < kDevices; ++i) {
      sim_->Control("talk " + std::to_string(i) + " refuse 0");
      const int h = ZQ_NETSDK_IPC_Login(TestLan::LanAddress(i).c_str(), 8091, "admin",
                                        sim_->device(i).config().password.c_str(), 0);
      ASSERT_GT(h, 0);
      logins_.push_back(h);
    }
    for (int h : logins_) ASSERT_TRUE(WaitEvent(h, STATUS_EVENT_LOGIN_OK)) << h;
  }
  void TearDown() override {
    broadcast_.reset();
    sdk_.reset();
    ZQ_NETSDK_IPC_SetStatusEventCallBack(nullptr, nullptr);
    for (int h : logins_) ZQ_NETSDK_IPC_Logout(h);
    for (int i = 0; ready_ && i < kDevices; ++i) sim_->Control("talk " + std::to_string(i) + " clear");
  }

  void MakeBroadcast(std::unique_ptr<AudioCaptureSource> capture) {
    sdk_ = std::make_unique<ZqBroadcastSdk>(std::move(capture));
    broadcast_ = std::make_unique<AudioBroadcast>(*sdk_, view_);
    // Generations count from 1 again with every broadcast object.
    std::lock_guard lock(view_.mutex);
    view_.finished.clear();
  }

  // Stops the broadcast and waits until every device it had started confirmed
  // the end of its talk.
  void StopAndSettle() {
    const std::vector<int> started = broadcast_->TalkDevices();
    seen_.clear();
    broadcast_->Stop();
    for (int login : started) EXPECT_TRUE(WaitEvent(login, STATUS_EVENT_TALK_STOPPED)) << login;
  }

  // The window's thread: talk events go to the broadcast as the main window
  // routes them; true once `until` holds.
  template <class Pred>
  bool Pump(Pred until, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit * TimeScale();
    for (;;) {
      std::deque<std::pair<int, int>> events;
      {
        std::lock_guard lock(view_.mutex);
        events.swap(view_.events);
      }
      for (const auto& [login, event] : events) {
        seen_.emplace_back(login, event);
        if (broadcast_) broadcast_->OnDeviceTalkEvent(login, event);
      }
      if (until()) return true;
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  bool WaitEvent(int login, int event) {
    return Pump([&] { return std::count(seen_.begin(), seen_.end(), std::make_pair(login, event)) > 0; },
                std::chrono::seconds(10));
  }
  // Broadcasts the file to the checked devices until its end.
  bool BroadcastToTheEnd(const BroadcastSettings& s) {
    if (!broadcast_->Start(s)) return false;
    const unsigned generation = broadcast_->Generation();
    const bool ended = Pump(
        [&] {
          std::lock_guard lock(view_.mutex);
          return std::find(view_.finished.begin(), view_.finished.end(), generation) != view_.finished.end();
        },
        std::chrono::seconds(30));
    StopAndSettle();
    return ended;
  }

  std::vector<TalkSession> Sessions(int device) { return sim_->device(device).talk().Sessions(); }
  // Equal audio, or where it first differs (never the bytes themselves).
  static ::testing::AssertionResult SameAudio(const std::string& heard, const std::string& want) {
    if (heard == want) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < heard.size() && at < want.size() && heard[at] == want[at]) ++at;
    return ::testing::AssertionFailure() << "heard " << heard.size() << " bytes, want " << want.size()
                                         << ", first difference at " << at;
  }
  static std::string Bytes(const TalkSession& s) {
    std::string out;
    for (const auto& c : s.chunks) out += c.bytes;
    return out;
  }

  static inline TestLan* lan_ = nullptr;
  static inline devsim::Simulator* sim_ = nullptr;
  static inline bool ready_ = false;
  static inline std::string skip_;

  LanView view_;
  std::vector<int> logins_;
  std::vector<std::pair<int, int>> seen_;
  std::unique_ptr<ZqBroadcastSdk> sdk_;
  std::unique_ptr<AudioBroadcast> broadcast_;
};

// The frames of an MP3 file as ffprobe finds them.
std::string FramesByFfprobe(const std::filesystem::path& file) {
  const auto bytes = ReadFileBytes(file);
  std::istringstream packets(CommandOutput("ffprobe -v error -select_streams a:0 -show_entries packet=pos,size -of csv=p=0 '" +
                                           file.string() + "'"));
  std::string out, line;
  while (std::getline(packets, line)) {
    const auto comma = line.find(',');
    if (comma == std::string::npos) continue;
    const size_t size = std::stoul(line.substr(0, comma));
    const size_t pos = std::stoul(line.substr(comma + 1));
    out.append(reinterpret_cast<const char*>(bytes.data()) + pos, size);
  }
  return out;
}

// Our decoder's whole output at the broadcast's rate and channels.
std::string DecodedPcm(const std::filesystem::path& file, int rate, int channels) {
  Mp3PcmStream stream(file.string(), rate, channels);
  if (stream.Start() != Mp3DecodeStatus::Ok) return {};
  std::string out;
  std::uint8_t buf[4096];
  while (const size_t n = stream.Read(buf, sizeof buf)) out.append(reinterpret_cast<const char*>(buf), n);
  return out;
}

// Arrival of piece k against the first piece plus k periods.
void ExpectPaced(const TalkSession& s, double periodSeconds) {
  const double tolerance = 0.3 * TimeScale();  // a loaded machine holds threads off the CPU
  ASSERT_GE(s.chunks.size(), 2u);
  double worst = 0;
  for (size_t k = 0; k < s.chunks.size(); ++k) {
    const double at = (s.chunks[k].at_us - s.chunks[0].at_us) / 1e6;
    worst = std::max(worst, std::abs(at - k * periodSeconds));
  }
  EXPECT_LT(worst, tolerance) << "pieces of " << periodSeconds << " s";
}

TEST_F(BroadcastLanTest, AnMp3FileReachesEveryDeviceAsItsFramesTaggedFive) {
  MakeBroadcast(std::make_unique<NoCaptureSource>());
  view_.checked = logins_;
  const auto file = EncodedMp3Dir() / "cbr_32000_mono.mp3";
  const std::string frames = FramesByFfprobe(file);
  ASSERT_FALSE(frames.empty());
  BroadcastSettings s;
  s.format = kFormatMP3;
  s.rate = 32000;
  s.source = AudioSource::File;
  s.file = file.string();
  ASSERT_TRUE(BroadcastToTheEnd(s)) << (view_.errors.empty() ? "" : view_.errors[0]);
  for (int i = 0; i < kDevices; ++i) {
    SCOPED_TRACE(i);
    const auto sessions = Sessions(i);
    ASSERT_EQ(sessions.size(), 1u);
    const TalkSession& t = sessions[0];
    EXPECT_EQ(t.params.format, 3u);  // the talk opens as PCM
    EXPECT_EQ(t.params.rate, 32000u);
    EXPECT_EQ(t.state, TalkSession::State::kStopped);
    EXPECT_TRUE(SameAudio(Bytes(t), frames));
    for (const auto& c : t.chunks) ASSERT_EQ(c.tag, 5u);
    ExpectPaced(t, 1152.0 / 32000);
  }
}

TEST_F(BroadcastLanTest, DecodedFilesArriveAsOurPcmInFortyMillisecondPiecesTaggedWithTheFormat) {
  struct Case {
    int format;
    int rate;
    const char* file;
  };
  for (const Case& c : {Case{kFormatPCM, 16000, "cbr_44100_mono.mp3"}, Case{kFormatG711A, 8000, "cbr_16000_mono.mp3"},
                        Case{kFormatAAC, 48000, "vbr_22050_stereo.mp3"}}) {
    SCOPED_TRACE(c.file);
    MakeBroadcast(std::make_unique<NoCaptureSource>());
    view_.checked = {logins_[0], logins_[1]};
    const int channels = c.format == kFormatAAC ? 2 : 1;
    const auto file = EncodedMp3Dir() / c.file;
    const std::string pcm = DecodedPcm(file, c.rate, channels);
    ASSERT_FALSE(pcm.empty());
    BroadcastSettings s;
    s.format = c.format;
    s.rate = c.rate;
    s.transport = 1;
    s.source = AudioSource::File;
    s.file = file.string();
    ASSERT_TRUE(BroadcastToTheEnd(s));
    const size_t piece = static_cast<size_t>(CAudioDecodeMp3::ChunkBytes(c.rate, channels));
    EXPECT_EQ(piece, static_cast<size_t>(c.rate / 25 * channels * 2));
    for (int i = 0; i < 2; ++i) {
      const TalkSession t = Sessions(i).back();
      EXPECT_EQ(t.params.format, static_cast<uint32_t>(c.format));
      EXPECT_EQ(t.params.channels, static_cast<uint32_t>(channels));
      EXPECT_EQ(t.params.transport, 1u);
      EXPECT_TRUE(SameAudio(Bytes(t), pcm));
      for (size_t k = 0; k < t.chunks.size(); ++k) {
        ASSERT_EQ(t.chunks[k].tag, static_cast<uint32_t>(c.format));
        if (k + 1 < t.chunks.size()) {
          ASSERT_EQ(t.chunks[k].length, piece) << k;
        }
      }
      ExpectPaced(t, 0.04);
    }
    EXPECT_TRUE(Sessions(2).empty());
    broadcast_.reset();
    sdk_.reset();
  }
}

TEST_F(BroadcastLanTest, TheFileSourceStandsInForTheMicrophone) {
  const auto raw = kelvara::test::MakeTempDir("mic") / "voice.pcm";
  std::vector<std::uint8_t> voice(640 * 10);
  for (size_t i = 0; i < voice.size(); ++i) voice[i] = static_cast<std::uint8_t>(i * 7 + i / 640);
  test::WriteFileBytes(raw, voice);
  MakeBroadcast(std::make_unique<FileCaptureSource>(raw.string()));
  view_.checked = {logins_[0]};
  BroadcastSettings s;
  s.rate = 8000;  // 640 bytes per 40 ms
  ASSERT_TRUE(broadcast_->Start(s));
  ASSERT_TRUE(Pump([&] { return !Sessions(0).empty() && Sessions(0).back().chunks.size() >= 25; },
                   std::chrono::seconds(10)));
  StopAndSettle();
  const TalkSession t = Sessions(0).back();
  EXPECT_EQ(t.state, TalkSession::State::kStopped);
  const std::string heard = Bytes(t);
  ASSERT_EQ(heard.size() % 640, 0u);
  // Whole pieces of the looping file, in order, from wherever the talk joined.
  const std::string loop(voice.begin(), voice.end());
  const size_t first = loop.find(heard.substr(0, 640));
  ASSERT_NE(first, std::string::npos);
  for (size_t at = 0; at < heard.size(); at += 640) {
    ASSERT_TRUE(heard.compare(at, 640, loop, (first + at) % loop.size(), 640) == 0) << at;
  }
  for (const auto& c : t.chunks) ASSERT_EQ(c.tag, 3u);
  ExpectPaced(t, 0.04);

  // "No microphone": the start fails, says why and opens nothing.
  broadcast_.reset();
  sdk_.reset();
  MakeBroadcast(std::make_unique<NoCaptureSource>());
  const size_t before = Sessions(1).size();
  view_.checked = {logins_[1]};
  EXPECT_FALSE(broadcast_->Start(s));
  EXPECT_EQ(view_.errors, (std::vector<std::string>{"STRING_NO_MICROPHONE"}));
  EXPECT_EQ(broadcast_->State(), BroadcastState::Idle);
  EXPECT_EQ(Sessions(1).size(), before);
  EXPECT_EQ(ZQ_NETSDK_IPC_StartTalk(0, 3, 8000, 16, 1), 0);  // the failed start closed its talk
  EXPECT_EQ(ZQ_NETSDK_IPC_StopTalk(), 0);
}

TEST_F(BroadcastLanTest, RefusingEndingAndUncheckedDevicesDuringABroadcast) {
  MakeBroadcast(std::make_unique<NoCaptureSource>());
  ASSERT_EQ(sim_->Control("talk 1 refuse 6"), "ok");
  view_.checked = {logins_[0], logins_[1], logins_[2]};
  const auto file = EncodedMp3Dir() / "cbr_44100_mono.mp3";
  const std::string pcm = DecodedPcm(file, 16000, 1);
  BroadcastSettings s;
  s.rate = 16000;
  s.source = AudioSource::File;
  s.file = file.string();
  ASSERT_TRUE(broadcast_->Start(s));
  // Device 1 refuses: out of the broadcast, its row says so.
  ASSERT_TRUE(WaitEvent(logins_[1], STATUS_EVENT_TALK_UNSUPPORTED));
  EXPECT_EQ(broadcast_->TalkDevices(), (std::vector<int>{logins_[0], logins_[2]}));
  EXPECT_NE(std::find(view_.statuses.begin(), view_.statuses.end(),
                      std::make_pair(logins_[1], std::string("STRING_STARTTALK_FAILED"))),
            view_.statuses.end());
  // Once audio flows, device 2 ends its talk and device 0 is unchecked.
  ASSERT_TRUE(Pump([&] { return !Sessions(2).empty() && Sessions(2).back().chunks.size() >= 3; },
                   std::chrono::seconds(10)));
  ASSERT_EQ(sim_->Control("talk 2 end 36"), "ok 1");
  ASSERT_TRUE(WaitEvent(logins_[2], STATUS_EVENT_TALK_PARAM_ERROR));
  EXPECT_EQ(broadcast_->TalkDevices(), (std::vector<int>{logins_[0]}));
  view_.checked = {logins_[3]};
  const unsigned generation = broadcast_->Generation();
  ASSERT_TRUE(Pump(
      [&] {
        std::lock_guard lock(view_.mutex);
        return std::find(view_.finished.begin(), view_.finished.end(), generation) != view_.finished.end();
      },
      std::chrono::seconds(30)));
  const size_t heardByTwo = Sessions(2).back().chunks.size();
  StopAndSettle();
  // The started device heard the whole file and its talk was stopped; the one
  // checked later heard nothing; the ending one nothing after its end.
  EXPECT_TRUE(SameAudio(Bytes(Sessions(0).back()), pcm));
  EXPECT_EQ(Sessions(0).back().state, TalkSession::State::kStopped);
  EXPECT_TRUE(Sessions(1).empty());
  EXPECT_EQ(Sessions(2).back().state, TalkSession::State::kEnded);
  EXPECT_LT(heardByTwo, Sessions(0).back().chunks.size());
  EXPECT_EQ(Sessions(2).back().chunks.size(), heardByTwo);
  EXPECT_TRUE(Sessions(3).empty());
}

}  // namespace
}  // namespace kelvara::media
