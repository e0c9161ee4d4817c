// The maintenance commands and the batch reboot as batch jobs over the six
// rows (accepted, offline, not logged in, error result, reply dropped,
// unchecked) against the recording SDK and a recording broadcast side; the
// cyclic reboot test by serial.
#include "device/core/maintenance_commands.h"

#include <gtest/gtest.h>

#include <map>

#include "device/core/batch_runner.h"
#include "device/core/command_codes.h"
#include "device/core/cyclic_reboot.h"
#include "device/core/request_builders.h"
#include "device/core/sdk_tap.h"
#include "device/tests/command_fixture.h"

namespace kelvara::device::test {
namespace {

using namespace std::chrono_literals;

// The login-free side: the operator's credentials and the broadcasts.
class RecordingNetwork : public NetworkCommands {
 public:
  bool GetOperatorAuth(discovery::OperatorAuth& auth) override {
    ++authAsked;
    if (!authGiven) return false;
    auth = {"admin", "op-pw"};
    return true;
  }
  long RebootDevByBD(const std::string& serial, const discovery::OperatorAuth& auth) override {
    sent.push_back("reboot " + serial + " " + auth.userName + "/" + auth.password);
    return serial == refusedSerial ? -1 : 0;
  }
  long SetFactoryModeByBD(const std::string& serial, int mode) override {
    sent.push_back("factory " + serial + " " + std::to_string(mode));
    return serial == refusedSerial ? -1 : 0;
  }
  bool authGiven = true;
  int authAsked = 0;
  std::string refusedSerial;
  std::vector<std::string> sent;
};

class MaintenanceTest : public CommandFixture {
 protected:
  MaintenanceTest() {
    tap.SetInner(&sdk);
    DeviceCommands::Options o;
    o.sdk = &tap;
    o.lookup = [](const char* key) { return std::string(key); };
    o.broadcastRebootSwitch = [this] { return broadcastOnly; };
    o.seams.network = &network;
    commands = std::make_unique<DeviceCommands>(rows, o);
    runner = std::make_unique<BatchRunner>(*commands, tap, 5000ms, [this] { return now; });
    runner->onFinished = [this](const BatchSummary& s) { summaries.push_back(s); };
    const char* serials[] = {"S-OK", "S-OFF", "S-NOLOGIN", "S-ERR", "S-DROP", "S-UNCHECKED"};
    int handle = 101;
    for (const char* s : serials) {
      discovery::test::FakeDevice d;
      d.serial = s;
      d.ip = "10.77.1." + std::to_string(handle - 90);
      AddRow(d, handle++);
    }
    Row("S-OFF").m_online = false;
    rows.SetLoginHandle(Row("S-NOLOGIN"), 0);
  }
  discovery::DeviceListRow& Row(const std::string& serial) { return *rows.FindByKey(serial); }
  std::vector<discovery::DeviceListRow*> Checked() {
    std::vector<discovery::DeviceListRow*> out;
    for (const char* s : {"S-OK", "S-OFF", "S-NOLOGIN", "S-ERR", "S-DROP"}) out.push_back(&Row(s));
    return out;
  }
  // The device side: S-OK answers 0, S-ERR answers 5, S-DROP never answers.
  void AnswerRequests() {
    const std::vector<SdkCall> calls = sdk.calls;
    for (const SdkCall& c : calls) {
      if (c.handle == 101) runner->OnReply(101, c.code, 0);
      if (c.handle == 104) runner->OnReply(104, c.code, 5);
    }
  }

  SdkTap tap;
  RecordingNetwork network;
  int broadcastOnly = 0;
  std::unique_ptr<BatchRunner> runner;
  std::chrono::steady_clock::time_point now{};
  std::vector<BatchSummary> summaries;
};

TEST(MaintenanceRequests, IdsAndTexts) {
  struct IoCase {
    int id, channel, output;
  };
  for (const IoCase& c : {IoCase{32802, 1, 0}, IoCase{32803, 1, 1}, IoCase{32805, 2, 1}, IoCase{32808, 4, 0},
                          IoCase{32809, 4, 1}}) {
    const auto m = MaintenanceCommandFor(c.id);
    ASSERT_TRUE(m) << c.id;
    EXPECT_EQ(m->kind, MaintenanceKind::kIoOutput);
    EXPECT_EQ(m->channel, c.channel) << c.id;
    EXPECT_EQ(m->value, c.output) << c.id;
  }
  EXPECT_EQ(BuildIoOutputRequest(2, 1), "<REQUEST_PARAM ChannelNo=\"2\"Output=\"1\"/>\n");
  EXPECT_EQ(BuildFactoryModeRequest(1), "<REQUEST_PARAM Mode=\"1\"/>\n");
  EXPECT_EQ(BuildVideoTypeRequest("H265+"),
            "<Encode>\n"
            "\t<EncodeConfig Stream=\"1\" Resolution=\"INVALID\" EncodeFormat=\"H265+\" BitRateControl=\"VBR\" "
            "Initquant=\"100\" BitRate=\"200000\" FrameRate=\"25\" />\n"
            "\t<EncodeConfig Stream=\"2\" Resolution=\"INVALID\" EncodeFormat=\"H265+\" BitRateControl=\"VBR\" "
            "Initquant=\"100\" BitRate=\"200000\" FrameRate=\"25\" />\n"
            "</Encode>\n");
  EXPECT_EQ(MaintenanceCommandFor(23)->value, 200);
  EXPECT_EQ(MaintenanceCommandFor(24)->value, 201);
  EXPECT_EQ(MaintenanceCommandFor(32908)->codec, "H265");
  EXPECT_EQ(MaintenanceCommandFor(33013)->value, 1);
  EXPECT_EQ(MaintenanceCommandFor(32970)->value, 1);  // 50 Hz PAL
  EXPECT_EQ(MaintenanceCommandFor(32978)->value, 0);
  for (int id : {22, 32801, 32810, 32906, 32910, 33011, 33455, 33458}) EXPECT_FALSE(MaintenanceCommandFor(id)) << id;
}

// Every command answered by a device reply: the exact requests to the
// online, logged-in rows only, and one terminal state per checked row. The
// rows keep their texts (the reply handlers, not fed here, write theirs);
// the job writes only the not-logged-in text and its own time-out.
TEST_F(MaintenanceTest, ReplyCommandsOverTheSixRows) {
  struct Case {
    int id;
    std::vector<SdkCall> perRow;  // handle filled in per row
  };
  const Case cases[] = {
      {32805, {{"SystemControl", 0, SYS_CTRL_SET_IO_OUTPUT, "<REQUEST_PARAM ChannelNo=\"2\"Output=\"1\"/>\n"}}},
      {32907, {{"SetDVRConfig", 0, SET_CFG_VIDEO_ENCODE, BuildVideoTypeRequest("H264")}}},
      {33456, {{"SystemControl", 0, SYS_CTRL_FORMAT_STORAGE, kFormatStorageRequest}}},
      {33457, {{"SystemControl", 0, SYS_CTRL_GET_STORAGE_INFO, ""}}},
      // TV system and ONVIF all-net read their block first (the set that
      // follows is covered end to end against devsim).
      {32970, {{"GetDVRConfig", 0, GET_CFG_VIDEO_CAPTURE, ""}}},
      {32977, {{"GetDVRConfig", 0, GET_CFG_NETWORK_LAN, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    sdk.calls.clear();
    summaries.clear();
    for (const char* s : {"S-OK", "S-OFF", "S-NOLOGIN", "S-ERR", "S-DROP", "S-UNCHECKED"})
      rows.SetCellTextIfChanged(Row(s), discovery::kColState, "-");
    ASSERT_TRUE(runner->Run(Checked(), MakeMaintenanceCommand(*commands, *runner, *MaintenanceCommandFor(c.id))));
    std::vector<SdkCall> want;
    for (int h : {101, 104, 105})
      for (SdkCall call : c.perRow) {
        call.handle = h;
        want.push_back(call);
      }
    EXPECT_EQ(sdk.calls, want);
    AnswerRequests();
    now += 5000ms;
    runner->OnTick();
    ASSERT_EQ(runner->ActiveJobs(), 0u);
    EXPECT_EQ(Status(Row("S-OK")), "-");
    EXPECT_EQ(Status(Row("S-OFF")), "-");
    EXPECT_EQ(Status(Row("S-NOLOGIN")), "MSGTIP40");
    EXPECT_EQ(Status(Row("S-ERR")), "-");
    EXPECT_EQ(Status(Row("S-DROP")), "BATCH_STATE_TIMED_OUT");
    EXPECT_EQ(Status(Row("S-UNCHECKED")), "-");
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_EQ(summaries[0].Total(), 5);
    for (BatchState state : {BatchState::kDone, BatchState::kSkippedOffline, BatchState::kNotLoggedIn,
                             BatchState::kFailed, BatchState::kTimedOut})
      EXPECT_EQ(summaries[0].Count(state), 1) << BatchStateKey(state);
  }
}

// The SDK answers one handle's requests in order, each with its reply, its
// time-out (255) or the lost link (254): a late answer to an older request
// of the same code is not the newer row's.
TEST_F(MaintenanceTest, RepliesToOlderRequestsOfTheSameCodeAreSkipped) {
  const auto io = *MaintenanceCommandFor(32805);
  runner->Run({&Row("S-OK")}, MakeMaintenanceCommand(*commands, *runner, io));
  now += 5000ms;
  runner->OnTick();  // the first row timed out; its request is still owed an answer
  EXPECT_EQ(Status(Row("S-OK")), "BATCH_STATE_TIMED_OUT");
  ASSERT_EQ(summaries.size(), 1u);
  rows.SetCellTextIfChanged(Row("S-OK"), discovery::kColState, "-");
  runner->Run({&Row("S-OK"), &Row("S-ERR")}, MakeMaintenanceCommand(*commands, *runner, io));
  runner->OnReply(101, SYS_CTRL_SET_IO_OUTPUT, kReplyResultTimedOut);  // the older request's
  EXPECT_EQ(Status(Row("S-OK")), "-");
  EXPECT_EQ(runner->ActiveJobs(), 1u);
  runner->OnReply(101, SYS_CTRL_SET_IO_OUTPUT, 0);
  runner->OnReply(104, SYS_CTRL_SET_IO_OUTPUT, kReplyResultLinkLost);
  ASSERT_EQ(summaries.size(), 2u);
  EXPECT_EQ(summaries[1].Count(BatchState::kDone), 1);
  EXPECT_EQ(summaries[1].Count(BatchState::kLinkLost), 1);
  // The SDK's own time-out is an answer: its handler writes the row's text, not the job.
  runner->Run({&Row("S-DROP")}, MakeMaintenanceCommand(*commands, *runner, io));
  runner->OnReply(105, SYS_CTRL_SET_IO_OUTPUT, kReplyResultTimedOut);
  ASSERT_EQ(summaries.size(), 3u);
  EXPECT_EQ(summaries[2].Count(BatchState::kTimedOut), 1);
  EXPECT_NE(Status(Row("S-DROP")), "BATCH_STATE_TIMED_OUT");
  EXPECT_EQ(runner->ActiveJobs(), 0u);
}

TEST_F(MaintenanceTest, BadPixelPresetEndsByTheSdksAcceptance) {
  ASSERT_FALSE(runner->Run(Checked(), MakeMaintenanceCommand(*commands, *runner, *MaintenanceCommandFor(23))));
  EXPECT_EQ(sdk.calls, (std::vector<SdkCall>{{"PTZPreset", 101, 8, "200"},
                                             {"PTZPreset", 104, 8, "200"},
                                             {"PTZPreset", 105, 8, "200"}}));
  EXPECT_EQ(Status(Row("S-OK")), "<unset>");  // accepted: nothing to say
  EXPECT_EQ(Status(Row("S-NOLOGIN")), "MSGTIP40");
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0].Count(BatchState::kDone), 3);
  sdk.result = -1;
  runner->Run({&Row("S-OK")}, MakeMaintenanceCommand(*commands, *runner, *MaintenanceCommandFor(24)));
  EXPECT_EQ(Status(Row("S-OK")), "SET_PRESET_FAILED");
  EXPECT_EQ(summaries.back().Count(BatchState::kRefused), 1);
}

// Factory mode and the batch reboot reach every checked row by broadcast,
// offline or not logged in too; the SDK request only where there is a login;
// a row whose upgrade runs is skipped and says so.
TEST_F(MaintenanceTest, BroadcastCommandsSkipUpgradingRowsAndEndAsSent) {
  Row("S-DROP").m_busy = true;
  network.refusedSerial = "S-ERR";
  runner->Run(Checked(), MakeMaintenanceCommand(*commands, *runner, *MaintenanceCommandFor(33013)));
  const std::string mode1 = BuildFactoryModeRequest(1);
  EXPECT_EQ(sdk.calls, (std::vector<SdkCall>{{"SystemControl", 101, SYS_CTRL_SET_FACTORY_MODE, mode1},
                                             {"SystemControl", 104, SYS_CTRL_SET_FACTORY_MODE, mode1}}));
  EXPECT_EQ(network.sent, (std::vector<std::string>{"factory S-OK 1", "factory S-OFF 1", "factory S-NOLOGIN 1",
                                                    "factory S-ERR 1"}));
  // Broadcasts are never answered and write nothing; only the skipped row says why.
  const std::map<std::string, std::string> want = {
      {"S-OK", "<unset>"},   {"S-OFF", "<unset>"}, {"S-NOLOGIN", "<unset>"},
      {"S-ERR", "<unset>"},  {"S-DROP", "BATCH_STATE_UPGRADING"}};
  for (const auto& [serial, text] : want) EXPECT_EQ(Status(Row(serial)), text) << serial;
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0].Count(BatchState::kSent), 3);
  EXPECT_EQ(summaries[0].Count(BatchState::kRefused), 1);

  sdk.calls.clear();
  network.sent.clear();
  runner->Run(Checked(), MakeBatchRebootCommand(*commands, {"admin", "op-pw"}, false));
  EXPECT_EQ(sdk.calls, (std::vector<SdkCall>{{"RebootDVR", 101, 0, ""}, {"RebootDVR", 104, 0, ""}}));
  EXPECT_EQ(network.sent,
            (std::vector<std::string>{"reboot S-OK admin/op-pw", "reboot S-OFF admin/op-pw",
                                      "reboot S-NOLOGIN admin/op-pw", "reboot S-ERR admin/op-pw"}));
  // The reboot of a logged-in row writes its own texts ("RESTARTING", "MSGTIP23").
  EXPECT_EQ(Status(Row("S-OK")), "RESTARTING");
  EXPECT_EQ(Status(Row("S-NOLOGIN")), "MSGTIP23");
  EXPECT_EQ(Status(Row("S-ERR")), "RESTARTING");
  EXPECT_EQ(Status(Row("S-OFF")), "<unset>");
  EXPECT_EQ(Status(Row("S-DROP")), "BATCH_STATE_UPGRADING");

  // Broadcast only (operation-password mode): no SDK reboot at all.
  sdk.calls.clear();
  runner->Run(Checked(), MakeBatchRebootCommand(*commands, {"admin", "op-pw"}, true));
  EXPECT_TRUE(sdk.calls.empty());

  // The format skips the upgrading row as well.
  runner->Run({&Row("S-DROP")}, MakeMaintenanceCommand(*commands, *runner, *MaintenanceCommandFor(33456)));
  EXPECT_TRUE(sdk.calls.empty());
  EXPECT_EQ(Status(Row("S-DROP")), "BATCH_STATE_UPGRADING");
}

TEST_F(MaintenanceTest, CyclicRebootKeepsTheSerialAndAsksForCredentialsOnce) {
  CyclicRebootTest test(*commands);
  int stopped = 0;
  test.onStopped = [&] { ++stopped; };
  EXPECT_EQ(test.Start(nullptr), CyclicRebootTest::StartResult::kNoRow);
  network.authGiven = false;  // an empty operation password: no start, no ticks
  EXPECT_EQ(test.Start(&Row("S-OK")), CyclicRebootTest::StartResult::kNoAuth);
  EXPECT_FALSE(test.Running());
  test.Step();
  EXPECT_TRUE(network.sent.empty());

  network.authGiven = true;
  network.authAsked = 0;
  ASSERT_EQ(test.Start(&Row("S-OK")), CyclicRebootTest::StartResult::kStarted);
  for (int i = 0; i < 3; ++i) test.Step();
  EXPECT_EQ(network.authAsked, 1);
  EXPECT_EQ(network.sent, std::vector<std::string>(3, "reboot S-OK admin/op-pw"));
  EXPECT_EQ(sdk.calls, std::vector<SdkCall>(3, SdkCall{"RebootDVR", 101, 0, ""}));

  // The list is rebuilt: the old row is freed, the next tick finds the new
  // one (logged in with another handle) by its key.
  rows.Clear();
  map.Clear();
  discovery::test::FakeDevice d;
  d.serial = "S-OK";
  AddRow(d, 301);
  sdk.calls.clear();
  test.Step();
  EXPECT_EQ(sdk.calls, (std::vector<SdkCall>{{"RebootDVR", 301, 0, ""}}));

  // No reboot while the device's upgrade runs; the row says so.
  rows.FindByKey("S-OK")->m_busy = true;
  sdk.calls.clear();
  test.Step();
  EXPECT_TRUE(sdk.calls.empty());
  EXPECT_EQ(network.sent.size(), 4u);
  EXPECT_EQ(Status(*rows.FindByKey("S-OK")), "BATCH_STATE_UPGRADING");
  commands->RebootSelectedRow(rows.FindByKey("S-OK"));
  EXPECT_TRUE(sdk.calls.empty());
  EXPECT_EQ(network.sent.size(), 4u);
  rows.FindByKey("S-OK")->m_busy = false;

  // Broadcast-only mode: the broadcast alone.
  broadcastOnly = 1;
  sdk.calls.clear();
  test.Step();
  EXPECT_TRUE(sdk.calls.empty());
  EXPECT_EQ(network.sent.size(), 5u);

  test.Stop();
  EXPECT_EQ(stopped, 1);
  test.Step();
  EXPECT_EQ(network.sent.size(), 5u);
  test.Stop();
  EXPECT_EQ(stopped, 1);
}

}  // namespace
}  // namespace kelvara::device::test
