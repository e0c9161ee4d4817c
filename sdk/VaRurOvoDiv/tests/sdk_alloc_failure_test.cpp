// Every C function of the SDK with its allocations made to fail one after
// another: each failed call returns its failure value and leaves nothing
// behind (no handle, no half-made login, no talk stuck half-way), no exception
// leaves the library, and the SDK works on afterwards. The device is the
// simulator on loopback.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "kelvara_test/alloc_failure.h"
#include "kelvara_test/export_sweep.h"
#include "kelvara_test/test_env.h"
#include "loopback_simulator.h"
#include "sdk_test_support.h"

namespace {

using kelvara::test::AllocationSweep;
using kelvara::test::SweepAllocationFailures;
using varurovodiv::test::EventRecorder;

using SdkCall = kelvara::test::ExportCase;

void SweepAll(const std::vector<SdkCall>& calls) { kelvara::test::SweepExports(calls); }

class SdkAllocationFailures : public ::testing::Test {
 protected:
  void SetUp() override {
    varurovodiv::test::SetTestSdkTimeouts();
    sim_ = varurovodiv::test::StartLoopbackDevice("pw");
    ASSERT_NE(sim_, nullptr);
    ASSERT_EQ(ZQ_NETSDK_IPC_Init(), 0);
    rec_.Register();
  }
  void TearDown() override {
    ZQ_NETSDK_IPC_StopTalk();
    EXPECT_EQ(ZQ_NETSDK_IPC_Cleanup(), 0);
    sim_->Stop();
  }

  int Login() { return ZQ_NETSDK_IPC_Login("127.0.0.1", sim_->command_port(0), "admin", "pw", 0); }
  int LoginOk() {
    const int h = Login();
    EXPECT_GT(h, 0);
    EXPECT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK));
    return h;
  }
  std::string LocalFile(const char* name) {
    const auto path = kelvara::test::HomeDir() / name;
    std::ofstream(path) << "0123456789";
    return path.string();
  }

  std::unique_ptr<kelvara::devsim::Simulator> sim_;
  EventRecorder rec_;
};

TEST_F(SdkAllocationFailures, RequestsReturnTheInternalErrorAndTheLoginServesOn) {
  const int h = LoginOk();
  const std::string upload = LocalFile("upload.bin");
  const std::string download = (kelvara::test::HomeDir() / "got.bin").string();
  const char* set_text = "<Video><Capture Brightness=\"50\" /></Video>";
  const int set_length = static_cast<int>(std::strlen(set_text));
  std::vector<SdkCall> calls = {
      {"GetSDKVersion", [] { return ZQ_NETSDK_IPC_GetSDKVersion(); }, ZQ_NETSDK_ERR_INTERNAL, {}},
      {"GetSDKBuildData", [] { return ZQ_NETSDK_IPC_GetSDKBuildData(); }, ZQ_NETSDK_ERR_INTERNAL, {}},
      // Each unregisters, then the recorder registers again.
      {"SetStatusEventCallBack",
       [&] {
         const int r = ZQ_NETSDK_IPC_SetStatusEventCallBack(nullptr, nullptr);
         rec_.Register();
         return r;
       },
       ZQ_NETSDK_ERR_INTERNAL, 0},
      {"SetAUXResponseCallBack",
       [&] {
         const int r = ZQ_NETSDK_IPC_SetAUXResponseCallBack(nullptr, nullptr);
         rec_.Register();
         return r;
       },
       ZQ_NETSDK_ERR_INTERNAL, 0},
      {"SetAutoReconnect", [&] { return ZQ_NETSDK_IPC_SetAutoReconnect(h, 1); }, ZQ_NETSDK_ERR_INTERNAL, 0},
      {"SystemControl", [&] { return ZQ_NETSDK_IPC_SystemControl(h, 1001, nullptr, "<REQUEST_PARAM />"); },
       ZQ_NETSDK_ERR_INTERNAL, 0},
      {"GetDVRConfig", [&] { return ZQ_NETSDK_IPC_GetDVRConfig(h, 504, 0, "<REQUEST_PARAM />", nullptr, 0); },
       ZQ_NETSDK_ERR_INTERNAL, 0},
      {"SetDVRConfig", [&] { return ZQ_NETSDK_IPC_SetDVRConfig(h, 524, 0, set_text, set_length); },
       ZQ_NETSDK_ERR_INTERNAL, 0},
      {"SetDevcieConfig", [&] { return ZQ_NETSDK_IPC_SetDevcieConfig(h, 524, set_text, set_length); },
       ZQ_NETSDK_ERR_INTERNAL, 0},
      {"PTZControl", [&] { return ZQ_NETSDK_IPC_PTZControl(h, 26, 0, 0); }, ZQ_NETSDK_ERR_INTERNAL, 0},
      {"PTZPreset", [&] { return ZQ_NETSDK_IPC_PTZPreset(h, 39, 1); }, ZQ_NETSDK_ERR_INTERNAL, 0},
      {"CreateIFrame", [&] { return ZQ_NETSDK_IPC_CreateIFrame(h, 0, 0); }, ZQ_NETSDK_ERR_INTERNAL, 0},
      {"SetConfigFile", [&] { return ZQ_NETSDK_IPC_SetConfigFile(h, upload.c_str()); }, ZQ_NETSDK_ERR_INTERNAL, 0},
      {"GetConfigFile", [&] { return ZQ_NETSDK_IPC_GetConfigFile(h, download.c_str()); }, ZQ_NETSDK_ERR_INTERNAL,
       0},
      {"GetFileByName",
       [&] { return ZQ_NETSDK_IPC_GetFileByName(h, ZQ_FILE_KIND_DEVICE_PATH, "/mnt/a-file-name-long-enough.txt",
                                                download.c_str()); },
       ZQ_NETSDK_ERR_INTERNAL, 0},
      {"GetUpgradeProgress", [&] { return ZQ_NETSDK_IPC_GetUpgradeProgress(h); }, ZQ_NETSDK_ERR_INTERNAL, {}},
      {"UploadOEMAppFile", [&] { return ZQ_NETSDK_IPC_UploadOEMAppFile(h, upload.c_str()); },
       ZQ_NETSDK_ERR_INTERNAL, 0},
      {"SearchOEMMp3File", [&] { return ZQ_NETSDK_IPC_SearchOEMMp3File(h, 0); }, ZQ_NETSDK_ERR_INTERNAL, 0},
      {"UploadOEMMp3File", [&] { return ZQ_NETSDK_IPC_UploadOEMMp3File(h, upload.c_str(), 0); },
       ZQ_NETSDK_ERR_INTERNAL, 0},
      {"PlayMp3File", [&] { return ZQ_NETSDK_IPC_PlayMp3File(h, "a-song-with-a-long-name.mp3", 0); },
       ZQ_NETSDK_ERR_INTERNAL, 0},
      {"StopPlayMp3File", [&] { return ZQ_NETSDK_IPC_StopPlayMp3File(h); }, ZQ_NETSDK_ERR_INTERNAL, 0},
      {"GetTalkDropped",
       [&] {
         unsigned long long dropped = 0;
         return ZQ_NETSDK_IPC_GetTalkDropped(h, &dropped);
       },
       ZQ_NETSDK_ERR_INTERNAL, 0},
      {"SetAudioCaptureSource", [] { return ZQ_NETSDK_IPC_SetAudioCaptureSource(nullptr); },
       ZQ_NETSDK_ERR_INTERNAL, 0},
      {"StartAudioCapture",
       [] { return ZQ_NETSDK_IPC_StartAudioCapture(8000, 16, 1, [](const char*, int, void*) { return 0; }, nullptr); },
       ZQ_NETSDK_ERR_INTERNAL, ZQ_NETSDK_ERR_NO_DEVICE},
      {"StopAudioCapture", [] { return ZQ_NETSDK_IPC_StopAudioCapture(); }, ZQ_NETSDK_ERR_INTERNAL, 0},
      {"Upgrade", [&] { return ZQ_NETSDK_IPC_Upgrade(h, upload.c_str()); }, ZQ_NETSDK_ERR_INTERNAL, 0},
      // Last: both take the device down for a while.
      {"RestoreConfig", [&] { return ZQ_NETSDK_IPC_RestoreConfig(h); }, ZQ_NETSDK_ERR_INTERNAL, 0},
      {"RebootDVR", [&] { return ZQ_NETSDK_IPC_RebootDVR(h); }, ZQ_NETSDK_ERR_INTERNAL, 0},
  };
  SweepAll(calls);
  // The login's requests were answered: the session thread saw no failure.
  EXPECT_TRUE(rec_.WaitAux(h, 1001));
  EXPECT_TRUE(rec_.WaitAux(h, 504));
}

// A login that fails leaves no handle behind: every handle between the last
// login that was made and the next one is unknown, and none of them gets an event.
TEST_F(SdkAllocationFailures, AFailedLoginLeavesNoHandleAndTheNextLogsIn) {
  const int before = LoginOk();
  const AllocationSweep s = SweepAllocationFailures([&] { return Login(); }, ZQ_NETSDK_ERR_INTERNAL);
  EXPECT_EQ(s.escaped, 0) << s.first_escape;
  EXPECT_EQ(s.wrong_results, 0);
  ASSERT_TRUE(s.completed);
  const int after = static_cast<int>(s.last_result);
  ASSERT_GT(after, before);
  EXPECT_TRUE(rec_.WaitStatus(after, STATUS_EVENT_LOGIN_OK));
  for (int h = before + 1; h < after; ++h) {
    EXPECT_EQ(ZQ_NETSDK_IPC_GetUpgradeProgress(h), ZQ_NETSDK_ERR_BAD_HANDLE) << h;
  }
  for (const auto& e : rec_.Snapshot()) EXPECT_FALSE(e.handle > before && e.handle < after) << e.handle;
  LoginOk();
}

// A logout that fails ends nothing: the login stays and serves requests.
TEST_F(SdkAllocationFailures, AFailedLogoutLeavesTheLoginServing) {
  const int a = LoginOk();
  const int b = LoginOk();
  SweepAllocationFailures([&] { return ZQ_NETSDK_IPC_Logout(a); }, ZQ_NETSDK_ERR_INTERNAL, 400, [&] {
    EXPECT_EQ(ZQ_NETSDK_IPC_SystemControl(a, 1001, nullptr, "<REQUEST_PARAM />"), 0);
  });
  SweepAll({{"Logout", [&] { return ZQ_NETSDK_IPC_Logout(b); }, ZQ_NETSDK_ERR_INTERNAL, 0}});
  EXPECT_EQ(ZQ_NETSDK_IPC_GetUpgradeProgress(b), ZQ_NETSDK_ERR_BAD_HANDLE);
  const int c = LoginOk();
  SweepAll({{"LogoutAll", [] { return ZQ_NETSDK_IPC_LogoutAll(); }, ZQ_NETSDK_ERR_INTERNAL, 0}});
  EXPECT_EQ(ZQ_NETSDK_IPC_GetUpgradeProgress(c), ZQ_NETSDK_ERR_BAD_HANDLE);
  LoginOk();
}

// Init after Cleanup with its allocations failing: the SDK that comes up at
// last delivers events (a failed start left no dispatcher marked running
// without its thread).
TEST_F(SdkAllocationFailures, AFailedInitLeavesTheNextOneWhole) {
  LoginOk();
  SweepAll({{"Cleanup", [] { return ZQ_NETSDK_IPC_Cleanup(); }, ZQ_NETSDK_ERR_INTERNAL, 0},
            {"Init", [] { return ZQ_NETSDK_IPC_Init(); }, ZQ_NETSDK_ERR_INTERNAL, 0}});
  rec_.Register();
  LoginOk();
}

// The talk's calls, each swept in turn: no failed call leaves the talk or a
// device's part in it half made, so each next step is taken as it would be.
TEST_F(SdkAllocationFailures, TheTalkGoesOnAfterFailedTalkCalls) {
  const int h = LoginOk();
  const std::string audio(320, 'a');
  auto input = [&] { return ZQ_NETSDK_IPC_InputAudioData(0, audio.data(), static_cast<int>(audio.size())); };
  SweepAll({{"StartTalk", [] { return ZQ_NETSDK_IPC_StartTalk(1, 0, 8000, 16, 1); }, ZQ_NETSDK_ERR_INTERNAL, 0},
            {"StartVoiceCom", [&] { return ZQ_NETSDK_IPC_StartVoiceCom(h, 0, 1, 0, 0); }, ZQ_NETSDK_ERR_INTERNAL,
             0}});
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_TALK_STARTED));
  SweepAll({{"AddTalk", [&] { return ZQ_NETSDK_IPC_AddTalk(h); }, ZQ_NETSDK_ERR_INTERNAL, 0}});
  // A piece the login's queue has no memory for is dropped and counted for
  // that login, as one that finds the queue full: the call has handed it to
  // every other device of the talk, so it returns 0.
  unsigned long long dropped = 0;
  const AllocationSweep s = SweepAllocationFailures(
      [&] {
        const int r = input();
        return r == 0 && ZQ_NETSDK_IPC_GetTalkDropped(h, &dropped) == 0 && dropped == 1 ? ZQ_NETSDK_ERR_INTERNAL : r;
      },
      ZQ_NETSDK_ERR_INTERNAL);
  EXPECT_EQ(s.escaped, 0) << s.first_escape;
  EXPECT_EQ(s.wrong_results, 0);
  EXPECT_TRUE(s.completed);
  ASSERT_EQ(ZQ_NETSDK_IPC_GetTalkDropped(h, &dropped), 0);
  EXPECT_EQ(dropped, 1u);
  SweepAll({{"RemoveTalk", [&] { return ZQ_NETSDK_IPC_RemoveTalk(h); }, ZQ_NETSDK_ERR_INTERNAL, 0},
            {"StopVoiceCom", [&] { return ZQ_NETSDK_IPC_StopVoiceCom(h); }, ZQ_NETSDK_ERR_INTERNAL, 0},
            {"StartVoiceCom again", [&] { return ZQ_NETSDK_IPC_StartVoiceCom(h, 0, 1, 0, 0); },
             ZQ_NETSDK_ERR_INTERNAL, 0}});
  // The device joins again: no failed stop or start left the login's part
  // in the talk half made.
  ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_TALK_STARTED, 2));
  SweepAll({{"StopTalk", [] { return ZQ_NETSDK_IPC_StopTalk(); }, ZQ_NETSDK_ERR_INTERNAL, 0},
            {"StartTalk again", [] { return ZQ_NETSDK_IPC_StartTalk(1, 0, 8000, 16, 1); }, ZQ_NETSDK_ERR_INTERNAL,
             0}});
}

// Readers leave the caller's record as it was when they fail; builders give
// null, and their text once they run through. The readers' sweeps fail the
// SDK's own allocations (the XML guard's among them): TinyXML's parser is not
// safe against an allocation failing inside it (it loses the node it was
// making), so its own are left alone.
TEST(SdkRecordAllocationFailures, ReadersLeaveTheRecordAndBuildersGiveNull) {
  struct Reader {
    const char* name;
    std::function<int(void*)> read;
    size_t size;
  };
  const std::vector<Reader> readers = {
      {"Media_getVideoCaptureByXml",
       [](void* r) {
         return ZQ_NETSDK_IPC_Media_getVideoCaptureByXml(static_cast<ZQ_VIDEO_CAPTURE_CONFIG*>(r),
                                                          "<Video><Capture Brightness=\"7\" Contrast=\"9\" /></Video>");
       },
       sizeof(ZQ_VIDEO_CAPTURE_CONFIG)},
      {"Network_getLANCfgByXml",
       [](void* r) {
         return ZQ_NETSDK_IPC_Network_getLANCfgByXml(static_cast<ZQ_LAN_CONFIG*>(r),
                                                     "<LANConfig DHCP=\"1\" IPAddress=\"10.1.2.3\" />");
       },
       sizeof(ZQ_LAN_CONFIG)},
      {"Media_getVideoOverlayByXml",
       [](void* r) {
         return ZQ_NETSDK_IPC_Media_getVideoOverlayByXml(
             static_cast<ZQ_VIDEO_OVERLAY_CONFIG*>(r),
             "<Overlay Enable=\"1\"><TimeOverlay PosX=\"4\" /><TitleOverlay PosY=\"5\" /></Overlay>");
       },
       sizeof(ZQ_VIDEO_OVERLAY_CONFIG)},
      {"Media_getAudioCaptureByXml",
       [](void* r) {
         return ZQ_NETSDK_IPC_Media_getAudioCaptureByXml(static_cast<ZQ_AUDIO_CAPTURE_CONFIG*>(r),
                                                         "<Capture Volume=\"3\" VolumePlay=\"4\" />");
       },
       sizeof(ZQ_AUDIO_CAPTURE_CONFIG)},
      {"GetAlarmConfigByXml",
       [](void* r) {
         return ZQ_NETSDK_IPC_GetAlarmConfigByXml(
             static_cast<ZQ_ALARM_CONFIG*>(r),
             "<Alarm><PDAlarm Enable=\"1\"><Region><Point X=\"1\" Y=\"2\" /></Region></PDAlarm>"
             "<AudioAlarm Enable=\"1\" /><MDAlarm Enable=\"1\" /></Alarm>");
       },
       sizeof(ZQ_ALARM_CONFIG)},
  };
  std::string escaped;
  int failed_calls = 0;
  for (const Reader& r : readers) {
    SCOPED_TRACE(r.name);
    std::vector<unsigned char> record(r.size, 0xA5);
    const std::vector<unsigned char> original = record;
    const AllocationSweep s =
        SweepAllocationFailures([&] { return r.read(record.data()); }, ZQ_NETSDK_ERR_INTERNAL, 400,
                                [&] { EXPECT_EQ(record, original); }, reinterpret_cast<const void*>(&ZQ_NETSDK_IPC_Init));
    if (s.escaped != 0) escaped += std::string(" ") + r.name;
    EXPECT_EQ(s.escaped, 0) << s.first_escape;
    EXPECT_EQ(s.wrong_results, 0);
    failed_calls += s.failed_calls;
    EXPECT_TRUE(s.completed);
    EXPECT_EQ(s.last_result, 0);
    EXPECT_NE(record, original);
  }
  if (!escaped.empty()) std::printf("exports an exception left:%s\n", escaped.c_str());
  EXPECT_GT(failed_calls, 0);  // the SDK's own code allocates while reading

  ZQ_ALARM_CONFIG alarm{};
  ZQ_VIDEO_CAPTURE_CONFIG video{};
  ZQ_LAN_CONFIG lan{};
  ZQ_AUDIO_CAPTURE_CONFIG audio{};
  using Builder = std::function<char*()>;
  const std::vector<std::pair<const char*, Builder>> builders = {
      {"XMLGET_VideoCaptureConfig", [&] { return ZQ_NETSDK_IPC_XMLGET_VideoCaptureConfig(&video); }},
      {"XMLGET_NetworkLANConfig", [&] { return ZQ_NETSDK_IPC_XMLGET_NetworkLANConfig(&lan); }},
      {"XMLGET_AudioCaptureConfig", [&] { return ZQ_NETSDK_IPC_XMLGET_AudioCaptureConfig(&audio); }},
      {"XMLGET_PDAlarmConfig", [&] { return ZQ_NETSDK_IPC_XMLGET_PDAlarmConfig(&alarm); }},
      {"XMLGET_MDAlarmConfig", [&] { return ZQ_NETSDK_IPC_XMLGET_MDAlarmConfig(&alarm); }},
      {"XMLGET_AudioAlarmConfig", [&] { return ZQ_NETSDK_IPC_XMLGET_AudioAlarmConfig(&alarm); }},
  };
  std::vector<SdkCall> calls;
  for (const auto& entry : builders) {
    const Builder build = entry.second;
    calls.push_back({entry.first,
                     [build] {
                       char* text = build();
                       const long made = text != nullptr ? 1 : 0;
                       ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(text);
                       return made;
                     },
                     0, 1});
  }
  SweepAll(calls);
}

}  // namespace
