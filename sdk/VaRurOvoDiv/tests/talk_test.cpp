// The talk calls against the device simulator over loopback: what each device
// hears (parameters, tags, bytes, order), the device's refusals and its own
// end of a talk, the calls' state errors, the bounded queue of a device that
// stops reading, and the capture source.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sdk_test_support.h"
#include "simulator.h"

namespace {

using kelvara::devsim::DeviceConfig;
using kelvara::devsim::SimConfig;
using kelvara::devsim::Simulator;
using kelvara::devsim::TalkSession;
using varurovodiv::test::EventRecorder;

class SdkTalk : public ::testing::Test {
 protected:
  void SetUp() override {
    varurovodiv::test::SetTestSdkTimeouts();
    SimConfig c;
    c.discovery_port = 0;  // loopback only
    for (int i = 0; i < 2; ++i) {
      DeviceConfig d;
      d.ip = "127.0.0.1";
      d.command_port = 0;
      d.log_port = 0;
      d.password = "pw";
      kelvara::devsim::CompleteDevice(d, i);
      c.devices.push_back(d);
    }
    sim_ = std::make_unique<Simulator>(c);
    ASSERT_EQ(sim_->Start(), "");
    ASSERT_EQ(ZQ_NETSDK_IPC_Init(), 0);
    rec_.Register();
  }

  void TearDown() override {
    ZQ_NETSDK_IPC_StopTalk();
    EXPECT_EQ(ZQ_NETSDK_IPC_Cleanup(), 0);
    sim_->Stop();
  }

  int LoginOk(int device) {
    const int h = ZQ_NETSDK_IPC_Login("127.0.0.1", sim_->command_port(device), "admin", "pw", 0);
    EXPECT_GT(h, 0);
    EXPECT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK));
    return h;
  }

  std::vector<TalkSession> Sessions(int device) { return sim_->device(device).talk().Sessions(); }

  // Waits until the device's last session holds `chunks` pieces.
  bool WaitChunks(int device, size_t chunks) {
    for (int i = 0; i < 500 * varurovodiv::test::TimeScale(); ++i) {
      const auto s = Sessions(device);
      if (!s.empty() && s.back().chunks.size() >= chunks) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  static int Input(int tag, const std::string& bytes) {
    return ZQ_NETSDK_IPC_InputAudioData(tag, bytes.data(), static_cast<int>(bytes.size()));
  }

  std::unique_ptr<Simulator> sim_;
  EventRecorder rec_;
};

TEST_F(SdkTalk, JoinedDevicesHearEveryPieceInOrderWithItsTag) {
  const int a = LoginOk(0);
  const int b = LoginOk(1);
  ASSERT_EQ(ZQ_NETSDK_IPC_StartTalk(1, 3, 16000, 16, 1), 0);
  ASSERT_EQ(ZQ_NETSDK_IPC_StartVoiceCom(a, 0, 1, 0, 0), 0);
  ASSERT_EQ(ZQ_NETSDK_IPC_StartVoiceCom(b, 0, 1, 0, 0), 0);
  // Input before the devices answered waits for AddTalk instead of being lost.
  std::vector<std::pair<int, std::string>> sent;
  for (int i = 0; i < 3; ++i) sent.emplace_back(3, std::string(1280, static_cast<char>('a' + i)));
  for (const auto& [tag, bytes] : sent) ASSERT_EQ(Input(tag, bytes), 0);
  ASSERT_TRUE(rec_.WaitStatus(a, STATUS_EVENT_TALK_STARTED));
  ASSERT_TRUE(rec_.WaitStatus(b, STATUS_EVENT_TALK_STARTED));
  EXPECT_EQ(Sessions(0).back().chunks.size(), 0u);  // nothing before AddTalk
  ASSERT_EQ(ZQ_NETSDK_IPC_AddTalk(a), 0);
  ASSERT_EQ(ZQ_NETSDK_IPC_AddTalk(b), 0);
  for (int i = 0; i < 20; ++i) {
    sent.emplace_back(i % 2 ? 5 : 3, std::string(417 + i, static_cast<char>(i)));
    ASSERT_EQ(Input(sent.back().first, sent.back().second), 0);
  }
  for (int device : {0, 1}) {
    ASSERT_TRUE(WaitChunks(device, sent.size())) << device;
    const auto sessions = Sessions(device);
    ASSERT_EQ(sessions.size(), 1u);
    const TalkSession& s = sessions[0];
    varurovodiv::wire::TalkParams want;
    want.transport = 1;
    want.format = 3;
    want.rate = 16000;
    want.channels = 1;
    EXPECT_EQ(s.params, want);
    ASSERT_EQ(s.chunks.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(s.chunks[i].tag, static_cast<uint32_t>(sent[i].first)) << i;
      EXPECT_EQ(s.chunks[i].bytes, sent[i].second) << i;
    }
  }
  // RemoveTalk holds the audio back; the device stays in the talk.
  ASSERT_EQ(ZQ_NETSDK_IPC_RemoveTalk(b), 0);
  ASSERT_EQ(Input(3, "held back"), 0);
  // A stop right after the last piece: the piece still arrives, before the stop.
  ASSERT_EQ(ZQ_NETSDK_IPC_StopVoiceCom(a), 0);
  EXPECT_TRUE(rec_.WaitStatus(a, STATUS_EVENT_TALK_STOPPED));
  EXPECT_EQ(Sessions(0).back().state, TalkSession::State::kStopped);
  ASSERT_EQ(Sessions(0).back().chunks.size(), sent.size() + 1);
  EXPECT_EQ(Sessions(0).back().chunks.back().bytes, "held back");
  ASSERT_EQ(ZQ_NETSDK_IPC_StopTalk(), 0);  // ends b's talk too
  EXPECT_TRUE(rec_.WaitStatus(b, STATUS_EVENT_TALK_STOPPED));
  EXPECT_EQ(Sessions(1).back().chunks.size(), sent.size());
  EXPECT_EQ(Sessions(1).back().state, TalkSession::State::kStopped);
}

TEST_F(SdkTalk, RefusalsBecomeTheirEventsAndTheDeviceHearsNothing) {
  struct Case {
    const char* control;  // on device 0
    int event;
  };
  const Case cases[] = {
      {"talk 0 refuse 4", STATUS_EVENT_TALK_BUSY},
      {"talk 0 refuse 3", STATUS_EVENT_TALK_PARAM_ERROR},
      {"talk 0 refuse 6", STATUS_EVENT_TALK_UNSUPPORTED},
      {"fault 0 drop_replies 1", STATUS_EVENT_TALK_UNSUPPORTED},  // no answer in time
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    ASSERT_EQ(sim_->Control("talk 0 refuse 0"), "ok");
    ASSERT_EQ(sim_->Control("fault 0 clear 0"), "ok");
    const int h = LoginOk(0);
    ASSERT_EQ(sim_->Control(c.control), "ok");
    ASSERT_EQ(ZQ_NETSDK_IPC_StartTalk(0, 3, 32000, 16, 1), 0);
    ASSERT_EQ(ZQ_NETSDK_IPC_StartVoiceCom(h, 0, 1, 0, 0), 0);
    ASSERT_TRUE(rec_.WaitStatus(h, c.event));
    EXPECT_EQ(ZQ_NETSDK_IPC_AddTalk(h), ZQ_NETSDK_ERR_TALK_STATE);
    EXPECT_EQ(ZQ_NETSDK_IPC_StopVoiceCom(h), 0);
    EXPECT_EQ(ZQ_NETSDK_IPC_StopTalk(), 0);
    EXPECT_EQ(rec_.Count(rec_.Snapshot(), h, STATUS_EVENT_TALK_STARTED, false), 0u);
    EXPECT_EQ(ZQ_NETSDK_IPC_Logout(h), 0);
  }
  EXPECT_TRUE(Sessions(0).empty());
}

TEST_F(SdkTalk, ADeviceThatEndsItsTalkGetsNoMoreAudio) {
  const int a = LoginOk(0);
  const int b = LoginOk(1);
  ASSERT_EQ(ZQ_NETSDK_IPC_StartTalk(0, 3, 8000, 16, 1), 0);
  for (int h : {a, b}) {
    ASSERT_EQ(ZQ_NETSDK_IPC_StartVoiceCom(h, 0, 1, 0, 0), 0);
    ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_TALK_STARTED));
    ASSERT_EQ(ZQ_NETSDK_IPC_AddTalk(h), 0);
  }
  ASSERT_EQ(Input(3, std::string(640, 'x')), 0);
  ASSERT_TRUE(WaitChunks(0, 1));
  ASSERT_EQ(sim_->Control("talk 0 end 37"), "ok 1");
  ASSERT_TRUE(rec_.WaitStatus(a, STATUS_EVENT_TALK_UNSUPPORTED));
  const auto ended = Sessions(0).back();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(Input(3, std::string(640, 'y')), 0);
  ASSERT_TRUE(WaitChunks(1, 11));
  // Device 1 heard all eleven; device 0 nothing after its end, not even late.
  EXPECT_EQ(Sessions(0).back().chunks.size(), ended.chunks.size());
  EXPECT_EQ(Sessions(0).back().late, ended.late);
  EXPECT_EQ(ZQ_NETSDK_IPC_StopVoiceCom(a), 0);  // already out: nothing is sent
  EXPECT_EQ(ZQ_NETSDK_IPC_StopTalk(), 0);
  EXPECT_TRUE(rec_.WaitStatus(b, STATUS_EVENT_TALK_STOPPED));
  EXPECT_EQ(rec_.Count(rec_.Snapshot(), a, STATUS_EVENT_TALK_STOPPED, false), 0u);
}

TEST_F(SdkTalk, CallsOutOfStateOrWithBadArgumentsAreRefused) {
  const int h = LoginOk(0);
  const std::string piece(100, 'p');
  EXPECT_EQ(Input(3, piece), ZQ_NETSDK_ERR_TALK_STATE);  // no talk
  EXPECT_EQ(ZQ_NETSDK_IPC_StartVoiceCom(h, 0, 1, 0, 0), ZQ_NETSDK_ERR_TALK_STATE);
  EXPECT_EQ(ZQ_NETSDK_IPC_StopTalk(), ZQ_NETSDK_ERR_TALK_STATE);
  for (const auto& [transport, format, rate, bits, channels] :
       std::vector<std::tuple<int, int, int, int, int>>{
           {3, 3, 8000, 16, 1}, {0, 5, 8000, 16, 1}, {0, 3, 7999, 16, 1}, {0, 3, 48001, 16, 1},
           {0, 3, 8000, 8, 1}, {0, 3, 8000, 16, 3}, {-1, 3, 8000, 16, 1}}) {
    EXPECT_EQ(ZQ_NETSDK_IPC_StartTalk(transport, format, rate, bits, channels), ZQ_NETSDK_ERR_BAD_ARGUMENT)
        << transport << " " << format << " " << rate << " " << bits << " " << channels;
  }
  ASSERT_EQ(ZQ_NETSDK_IPC_StartTalk(0, 3, 8000, 16, 1), 0);
  EXPECT_EQ(ZQ_NETSDK_IPC_StartTalk(0, 3, 8000, 16, 1), ZQ_NETSDK_ERR_TALK_STATE);
  EXPECT_EQ(ZQ_NETSDK_IPC_StartVoiceCom(h + 100, 0, 1, 0, 0), ZQ_NETSDK_ERR_BAD_HANDLE);
  EXPECT_EQ(ZQ_NETSDK_IPC_StartVoiceCom(h, 0, 2, 0, 0), ZQ_NETSDK_ERR_BAD_ARGUMENT);
  EXPECT_EQ(ZQ_NETSDK_IPC_AddTalk(h), ZQ_NETSDK_ERR_TALK_STATE);  // never asked to join
  ASSERT_EQ(ZQ_NETSDK_IPC_StartVoiceCom(h, 0, 1, 0, 0), 0);
  EXPECT_EQ(ZQ_NETSDK_IPC_StartVoiceCom(h, 0, 1, 0, 0), ZQ_NETSDK_ERR_TALK_STATE);
  EXPECT_EQ(ZQ_NETSDK_IPC_InputAudioData(4, piece.data(), 100), ZQ_NETSDK_ERR_BAD_ARGUMENT);
  EXPECT_EQ(ZQ_NETSDK_IPC_InputAudioData(3, piece.data(), 0), ZQ_NETSDK_ERR_BAD_ARGUMENT);
  EXPECT_EQ(ZQ_NETSDK_IPC_InputAudioData(3, nullptr, 10), ZQ_NETSDK_ERR_BAD_ARGUMENT);
  const std::string too_long(64 * 1024 + 1, 'l');
  EXPECT_EQ(Input(3, too_long), ZQ_NETSDK_ERR_BAD_ARGUMENT);
  EXPECT_EQ(Input(3, too_long.substr(1)), 0);
  EXPECT_EQ(ZQ_NETSDK_IPC_StopVoiceCom(h + 100), ZQ_NETSDK_ERR_TALK_STATE);
  unsigned long long dropped = 1;
  EXPECT_EQ(ZQ_NETSDK_IPC_GetTalkDropped(h, &dropped), 0);
  EXPECT_EQ(dropped, 0u);
}

// A device that stops reading: input goes on returning at once, the login's
// queue stays bounded and counts what it dropped.
TEST_F(SdkTalk, AStalledDeviceDropsAudioWithoutBlockingTheCaller) {
  const int a = LoginOk(0);
  const int b = LoginOk(1);
  ASSERT_EQ(ZQ_NETSDK_IPC_StartTalk(0, 3, 48000, 16, 2), 0);
  for (int h : {a, b}) {
    ASSERT_EQ(ZQ_NETSDK_IPC_StartVoiceCom(h, 0, 1, 0, 0), 0);
    ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_TALK_STARTED));
    ASSERT_EQ(ZQ_NETSDK_IPC_AddTalk(h), 0);
  }
  ASSERT_EQ(sim_->Control("fault 0 stall 1"), "ok");
  const std::string piece(32 * 1024, 's');
  constexpr unsigned kPieces = 1500;  // 48 MiB: far beyond what the socket buffers hold
  for (unsigned i = 0; i < kPieces; ++i) ASSERT_EQ(Input(3, piece), 0);
  unsigned long long dropped_a = 0, dropped_b = 0;
  ASSERT_EQ(ZQ_NETSDK_IPC_GetTalkDropped(a, &dropped_a), 0);
  EXPECT_GT(dropped_a, kPieces / 2);
  // The reading device, on a queue of its own, hears every piece not dropped.
  ASSERT_EQ(ZQ_NETSDK_IPC_GetTalkDropped(b, &dropped_b), 0);
  ASSERT_TRUE(WaitChunks(1, kPieces - dropped_b));
  EXPECT_EQ(Sessions(1).back().chunks.size(), kPieces - dropped_b);
  ASSERT_EQ(sim_->Control("fault 0 clear 0"), "ok");
}

// A capture source like the program's: a thread delivering pieces until stopped.
struct FakeSource {
  std::atomic<bool> run{false};
  std::thread thread;
  int rate = 0;
  static int Start(int rate, int, int, ZQ_AUDIO_DELIVER deliver, void* context, void* user) {
    auto* self = static_cast<FakeSource*>(user);
    if (rate == 11025) return -1;  // a rate the sound card refuses
    self->rate = rate;
    self->run = true;
    self->thread = std::thread([self, deliver, context] {
      const std::string piece(320, 'm');
      while (self->run) {
        deliver(piece.data(), static_cast<int>(piece.size()), context);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    return 0;
  }
  static void Stop(void* user) {
    auto* self = static_cast<FakeSource*>(user);
    self->run = false;
    if (self->thread.joinable()) self->thread.join();
  }
};

TEST_F(SdkTalk, CaptureRunsTheRegisteredSourceUntilStopped) {
  std::atomic<int> calls{0};
  auto callback = [](const char*, int length, void* user) {
    static_cast<std::atomic<int>*>(user)->fetch_add(length == 320 ? 1 : 1000);
    return 0;
  };
  EXPECT_EQ(ZQ_NETSDK_IPC_StartAudioCapture(8000, 16, 1, callback, &calls), ZQ_NETSDK_ERR_NO_DEVICE);
  FakeSource fake;
  const ZQ_AUDIO_CAPTURE_SOURCE source{&FakeSource::Start, &FakeSource::Stop, &fake};
  ASSERT_EQ(ZQ_NETSDK_IPC_SetAudioCaptureSource(&source), 0);
  EXPECT_EQ(ZQ_NETSDK_IPC_StartAudioCapture(11025, 16, 1, callback, &calls), ZQ_NETSDK_ERR_NO_DEVICE);
  ASSERT_EQ(ZQ_NETSDK_IPC_StartAudioCapture(16000, 16, 1, callback, &calls), 0);
  EXPECT_EQ(fake.rate, 16000);
  EXPECT_EQ(ZQ_NETSDK_IPC_StartAudioCapture(16000, 16, 1, callback, &calls), ZQ_NETSDK_ERR_TALK_STATE);
  while (calls.load() < 5) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(ZQ_NETSDK_IPC_StopAudioCapture(), 0);
  const int after = calls.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(calls.load(), after);  // no callback once Stop returned
  EXPECT_LT(after, 1000);  // every piece whole
  EXPECT_EQ(ZQ_NETSDK_IPC_SetAudioCaptureSource(nullptr), 0);
  EXPECT_EQ(ZQ_NETSDK_IPC_StartAudioCapture(8000, 16, 1, callback, &calls), ZQ_NETSDK_ERR_NO_DEVICE);
}

}  // namespace
