// Batch commands end to end: every batch command id over six simulated
// devices (accepted, offline, login refused, error result, replies dropped,
// unchecked) on loopback. The frames each device received are decoded from
// the simulator's journal: exactly the command's requests for the devices
// that take it, nothing for the offline, refused and unchecked ones; every
// checked row reaches its terminal state within the job's time-out, and the
// device's state shows what was set.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>

#include "device/core/batch_runner.h"
#include "device/core/command_codes.h"
#include "device/core/maintenance_commands.h"
#include "device/core/request_builders.h"
#include "device/tests/devsim_fixture.h"
#include "kelvara_test/test_env.h"

namespace kelvara::device {
namespace {

using namespace std::chrono_literals;
using Answer = BatchCommand::Answer;

enum Dev { kOk, kOff, kRefusedLogin, kErr, kDrop, kUnchecked, kDevices };

// Broadcasts are not sent on loopback: their side is recorded.
class RecordingNetwork : public NetworkCommands {
 public:
  bool GetOperatorAuth(discovery::OperatorAuth& auth) override {
    auth = {"admin", "pw"};
    return true;
  }
  long RebootDevByBD(const std::string& serial, const discovery::OperatorAuth&) override {
    sent.push_back("reboot " + serial);
    return 0;
  }
  long SetFactoryModeByBD(const std::string& serial, int mode) override {
    sent.push_back("factory " + serial + " " + std::to_string(mode));
    return 0;
  }
  std::vector<std::string> sent;
};

// One command: how it is made, the frames the accepting device must get
// (code, exact text or any text), how its rows end.
struct Command {
  int id;
  std::function<BatchCommand(DeviceCommands&, BatchRunner&)> make;
  std::vector<std::pair<int, std::optional<std::string>>> frames;
  Answer answer = Answer::kReply;
  // The frames after the first follow its reply (set after get).
  bool chained = false;
  // devsim's view of the accepting device afterwards: a control line and
  // the text its answer must contain (empty: not checked).
  std::string stateQuery, stateHas;
};

std::string Hex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

std::vector<Command> AllCommands() {
  std::vector<Command> out;
  auto maintenance = [&out](int id, std::vector<std::pair<int, std::optional<std::string>>> frames,
                            Answer answer = Answer::kReply, std::string query = {}, std::string has = {}) {
    out.push_back({id,
                   [id](DeviceCommands& c, BatchRunner& r) {
                     return MakeMaintenanceCommand(c, r, *MaintenanceCommandFor(id));
                   },
                   std::move(frames), answer, false, std::move(query), std::move(has)});
  };
  for (int preset : {200, 201})
    maintenance(preset == 200 ? 23 : 24,
                {{2002, "<PTZ_PRESET Operation=\"8\" Preset=\"" + std::to_string(preset) + "\" />"}},
                Answer::kAccepted);
  for (int id = 32802; id <= 32809; ++id) {
    const std::string text = BuildIoOutputRequest((id - 32802) / 2 + 1, (id - 32802) % 2);
    maintenance(id, {{SYS_CTRL_SET_IO_OUTPUT, text}}, Answer::kReply, "get {} 1042", Hex(text));
  }
  const char* codecs[] = {"H264", "H265", "H265+"};
  for (int id = 32907; id <= 32909; ++id) {
    const std::string text = BuildVideoTypeRequest(codecs[id - 32907]);
    maintenance(id, {{SET_CFG_VIDEO_ENCODE, text}}, Answer::kReply, "get {} 503", Hex(text));
  }
  maintenance(33010, {{SYS_CTRL_SET_FACTORY_MODE, BuildFactoryModeRequest(0)}}, Answer::kBroadcast, "state {}",
              "factory_mode=0");
  maintenance(33013, {{SYS_CTRL_SET_FACTORY_MODE, BuildFactoryModeRequest(1)}}, Answer::kBroadcast, "state {}",
              "factory_mode=1");
  maintenance(33456, {{SYS_CTRL_FORMAT_STORAGE, kFormatStorageRequest}}, Answer::kReply, "get {} 1017",
              Hex(kFormatStorageRequest));
  maintenance(33457, {{SYS_CTRL_GET_STORAGE_INFO, ""}});
  for (int id : {32971, 32970}) {  // the device starts on PAL: NTSC first, so both change it
    maintenance(id, {{GET_CFG_VIDEO_CAPTURE, ""}, {SET_CFG_VIDEO_CAPTURE, std::nullopt}}, Answer::kReply,
                "get {} 504", Hex(id == 32970 ? "TVSystem=\"1\"" : "TVSystem=\"0\""));
    out.back().chained = true;
  }
  for (int id : {32977, 32978}) {
    maintenance(id, {{GET_CFG_NETWORK_LAN, ""}, {SET_CFG_NETWORK_LAN, std::nullopt}});
    out.back().chained = true;
  }

  // The context menu's ranges (shape A) and the MCU test through their workers.
  auto worker = [&out](int id, std::function<void(DeviceCommands&, discovery::DeviceListRow*)> w,
                       std::vector<std::pair<int, std::optional<std::string>>> frames, std::string query = {},
                       std::string has = {}) {
    out.push_back({id,
                   [w](DeviceCommands& c, BatchRunner& r) {
                     return r.FromWorker([&c, w](discovery::DeviceListRow* row) { w(c, row); });
                   },
                   std::move(frames), Answer::kReply, false, std::move(query), std::move(has)});
  };
  const char* languages[] = {"zh-cn", "en-us", "zh-tw", "ru-ru",  "german",   "italian", "turkey",
                             "croatian", "korean", "pt-pt", "pl-pl", "Japanese", "Ukraine"};
  for (int kc : {0, 1})
    for (int i = 0; i < 13; ++i) {
      const std::string code = languages[i];
      worker((kc == 0 ? 33360 : 33340) + i,
             [i, code, kc](DeviceCommands& c, discovery::DeviceListRow* row) { c.SetRowLanguageAndWeb(row, i, code, kc); },
             {{SET_CFG_MISC_LANGUAGE, BuildLanguageRequest(DeviceLanguageFor(code))},
              {SYS_CTRL_SET_WEB_LANGUAGE, BuildWebLanguageRequest(i, kc, code)}},
             "get {} 1119", Hex(*BuildWebLanguageRequest(i, kc, code)));
    }
  for (int on : {1, 0})
    worker(on ? 33002 : 33003, [on](DeviceCommands& c, discovery::DeviceListRow* row) { c.SetRowP2PConfig(row, on); },
           {{SET_CFG_P2P, BuildP2PRequest(on)}}, "get {} 315", Hex(BuildP2PRequest(on)));
  // The access switches read the stream-access block; the set follows only
  // when the switch changes, so its frame is not counted here.
  using Switch = int (DeviceCommands::*)(discovery::DeviceListRow*, int);
  const std::pair<int, Switch> switches[] = {{33005, &DeviceCommands::RequestHikAccessChange},
                                             {33007, &DeviceCommands::RequestStreamAccessChange},
                                             {33020, &DeviceCommands::RequestDhAccessChange},
                                             {33022, &DeviceCommands::RequestVendorAccessChange}};
  for (const auto& [first, change] : switches)
    for (int off : {0, 1}) {
      const Switch f = change;
      worker(first + off, [f, off](DeviceCommands& c, discovery::DeviceListRow* row) { (c.*f)(row, off ? 0 : 1); },
             {{GET_CFG_MEDIA_STREAM, ""}});
      out.back().chained = true;
    }
  for (int id = 32794; id <= 32797; ++id) {
    const std::string code = id == 32797 ? "zh_tw" : id == 32795 ? "zh_cn" : "en_us";
    worker(id, [code](DeviceCommands& c, discovery::DeviceListRow* row) { c.SetRowLanguage(row, code); },
           {{SET_CFG_MISC_LANGUAGE, std::nullopt}});
  }
  worker(1306, [](DeviceCommands& c, discovery::DeviceListRow* row) { c.TestRowMcu(row); },
         {{SYS_CTRL_MCU_TEST, std::nullopt}}, "get {} 1130", "");
  // The dialog commands' workers with the texts a dialog gives (the dialogs'
  // own texts are checked against devsim in the dialogs' tests).
  auto text = [&worker](int id, int code, std::string t,
                        int (DeviceCommands::*set)(discovery::DeviceListRow*, const std::string&), int block) {
    worker(id, [set, t](DeviceCommands& c, discovery::DeviceListRow* row) { (c.*set)(row, t); }, {{code, t}},
           "get {} " + std::to_string(block), Hex(t));
  };
  text(17, SET_CFG_VIDEO_ENCODE, "<VideoEncode><Stream No=\"0\" Codec=\"H264\" /></VideoEncode>",
       &DeviceCommands::SetRowVideoEncode, 503);
  text(32924, SET_CFG_AUDIO_ENCODE, "<Encode Enable=\"1\" Codec=\"G711U\" />", &DeviceCommands::SetRowAudioEncode,
       508);
  text(32974, SET_CFG_AUDIO_CAPTURE, "<Capture Volume=\"40\" VolumePlay=\"90\" amplify=\"1\" ra_answer=\"0\" />",
       &DeviceCommands::SetRowAudioCapture, 507);
  text(18, SYS_CTRL_SET_IMAGE_PARAM, "<REQUEST_PARAM mctf=\"-1\" gain=\"30\" shuttermax=\"-1\" />",
       &DeviceCommands::SetRowImageParam, 1081);
  text(33000, SET_CFG_VIDEO_CAPTURE, "<Video><Capture Brightness=\"100\" TVSystem=\"1\" /></Video>",
       &DeviceCommands::SetRowVideoCapture, 504);
  text(1031, SET_CFG_TIMED_MAINTENANCE, "<MaintainConfig Enable=\"1\" Day=\"3\" Time=\"04:00:00\" />",
       &DeviceCommands::SetRowMaintenance, 208);
  text(32911, SET_CFG_TIME,
       "<TimeConfig TimeMode=\"NTP\" TimeZone=\"1200\"><NTPConfig ServerPort=\"123\" RefreshInterval=\"3600\" />"
       "</TimeConfig>",
       &DeviceCommands::SetRowTimeConfig, 202);
  text(32912, SET_CFG_ALARM_CLOCK,
       "<AlarmClock><AlarmOnEveryHour enable=\"0\" from_hour=\"8\" from_minute=\"0\" to_hour=\"20\" to_minute=\"0\" />"
       "<alarmclock><clock enable=\"1\" hour=\"7\" minute=\"30\" second=\"0\" /></alarmclock></AlarmClock>",
       &DeviceCommands::SetRowAlarmClock, 210);
  {
    OverlayConfig overlay;
    overlay.enable = 1;
    overlay.title_utf8_hex = Hex("Gate");
    worker(10, [overlay](DeviceCommands& c, discovery::DeviceListRow* row) { c.SetRowOsdTitle(row, overlay, {}); },
           {{SET_CFG_VIDEO_OVERLAY, *BuildOverlayRequest(overlay, Hex("Gate"))}}, "get {} 505",
           Hex("TitleUtf8=\"" + Hex("Gate") + "\""));
  }
  worker(11, [](DeviceCommands& c, discovery::DeviceListRow* row) {
    c.SetRowPlatformConfig(row, 1, "10.9.9.9", 7661, "cam", "pw", 0, 0, 0);
  }, {{SET_CFG_PLATFORM, BuildPlatformRequest(1, "10.9.9.9", 7661, "cam", "pw", 0)}});
  worker(13, [](DeviceCommands& c, discovery::DeviceListRow* row) {
    c.SetRowMotionDetect(row, 1, 22 * 65536 + 18, std::string(396, '1'), 70, 30);
  }, {{SET_CFG_MOTION_DETECT_ALARM, *BuildMotionDetectRequest(1, 22 * 65536 + 18, std::string(396, '1'), 70, 30)}});
  // The set-after-get commands: the sets follow the get's reply.
  worker(33388, [](DeviceCommands& c, discovery::DeviceListRow* row) { c.RequestLightChange(row, MediaLightConfig{}); },
         {{GET_CFG_VIDEO_CAPTURE, ""}, {SET_CFG_VIDEO_CAPTURE, std::nullopt}});
  out.back().chained = true;
  worker(1298, [](DeviceCommands& c, discovery::DeviceListRow* row) { c.RequestAlarmConfigChange(row, BatchPDSettings{}); },
         {{GET_CFG_ALARM, ""}, {829, std::nullopt}, {822, std::nullopt}, {827, std::nullopt}});
  out.back().chained = true;
  worker(1303, [](DeviceCommands& c, discovery::DeviceListRow* row) { c.RequestNightModeDemo(row); },
         {{GET_CFG_VIDEO_CAPTURE, ""}, {SET_CFG_VIDEO_CAPTURE, std::nullopt}, {SYS_CTRL_SET_IRCUT_MODE, kNightModeRequest}},
         "get {} 1046", Hex(kNightModeRequest));
  out.back().chained = true;
  // The new password is the one later logins must use.
  worker(14, [](DeviceCommands& c, discovery::DeviceListRow* row) { c.SetRowAdminPassword(row, "Np4x9"); },
         {{SET_CFG_USER, BuildAdminPasswordRequest("Np4x9")}}, "get {} 203", Hex("Np4x9"));
  // The broadcast reboot last: the device goes away for a moment.
  out.push_back({7, [](DeviceCommands& c, BatchRunner&) { return MakeBatchRebootCommand(c, {"admin", "pw"}, false); },
                 {}, Answer::kBroadcast, false, "state {}", "reboots=1"});
  return out;
}

std::string Fill(std::string line, const std::string& serial) {
  const auto at = line.find("{}");
  if (at != std::string::npos) line.replace(at, 2, serial);
  return line;
}

TEST(BatchDevsim, EveryCommandOverSixDevices) {
  const auto root = kelvara::test::MakeTempDir("batch-devsim");
  RecordingNetwork network;
  DeviceSeams seams;
  seams.network = &network;
  test::DevsimCommands lan(kDevices, root, seams);
  ASSERT_EQ(lan.StartError(), "");
  auto serial = [&lan](int d) { return lan.Sim().device(d).serial(); };
  ASSERT_EQ(lan.Sim().Control("fault " + serial(kRefusedLogin) + " refuse_login 1"), "ok");
  lan.LoginAll(std::chrono::milliseconds(test::DevsimCommands::Scaled(3000)));
  lan.Drain();
  for (int d : {kOk, kOff, kErr, kDrop, kUnchecked}) ASSERT_TRUE(lan.Row(d).m_online) << d;
  ASSERT_FALSE(lan.Row(kRefusedLogin).m_online);
  ASSERT_EQ(lan.Sim().Control("offline " + serial(kOff)), "ok");
  ASSERT_TRUE(lan.PumpUntil([&] { return !lan.Row(kOff).m_online; }));

  const auto timeout = std::chrono::milliseconds(test::DevsimCommands::Scaled(3000));
  BatchRunner runner(lan.Commands(), lan.Tap(), timeout);
  std::vector<BatchSummary> summaries;
  runner.onFinished = [&summaries](const BatchSummary& s) { summaries.push_back(s); };
  // Each row's terminal states as the jobs report them (the status cell may
  // be overwritten by a later event of the offline device). The silent
  // device's rows end by the time-out while later commands already run (the
  // jobs overlap, so the test waits once per command for the others only);
  // its states are kept apart.
  std::map<std::string, std::vector<std::string>> ended;
  std::map<std::string, int> silentEnded, silentWanted;
  const std::string silent = lan.Row(kDrop).m_key;
  runner.onState = [&](discovery::DeviceListRow* row, BatchState state) {
    if (row == nullptr) return;
    if (row->m_key == silent)
      ++silentEnded[BatchStateKey(state)];
    else
      ended[row->m_key].push_back(BatchStateKey(state));
  };
  int commands = 0;
  lan.onReply = [&runner](const DeviceAuxResponse& r) { runner.OnReply(r.loginHandle, r.command, r.result); };
  lan.onEvent = [&runner](const DeviceStatusEvent& e) { runner.OnStatusEvent(e.loginHandle, e.eventType); };

  for (const Command& c : AllCommands()) {
    SCOPED_TRACE("command " + std::to_string(c.id));
    if (c.id == 7) {
      // The reboot drops the silent device's link: its earlier rows end first.
      ASSERT_TRUE(lan.PumpUntil([&] {
        runner.OnTick();
        return runner.ActiveJobs() == 0;
      }, timeout + 2000ms));
    }
    for (int d = 0; d < kDevices; ++d) {
      lan.Sim().Control("journal " + serial(d) + " clear");
    }
    ended.clear();
    network.sent.clear();
    for (const auto& [code, text] : c.frames) {
      ASSERT_EQ(lan.Sim().Control("fault " + serial(kErr) + " result " + std::to_string(code) + " 5"), "ok");
      ASSERT_EQ(lan.Sim().Control("codefault " + serial(kDrop) + " " + std::to_string(code) + " drop"), "ok");
    }
    std::vector<discovery::DeviceListRow*> checked;
    for (int d : {kOk, kOff, kRefusedLogin, kErr, kDrop}) checked.push_back(&lan.Row(d));
    ++commands;
    ++silentWanted[c.answer == Answer::kReply ? "BATCH_STATE_TIMED_OUT"
                   : c.answer == Answer::kAccepted ? "BATCH_STATE_DONE"
                                                   : "BATCH_STATE_SENT"];
    runner.Run(checked, c.make(lan.Commands(), runner));
    // The other rows end by their answers (the silent one by the time-out, below).
    ASSERT_TRUE(lan.PumpUntil([&] {
      runner.OnTick();
      for (int d : {kOk, kOff, kRefusedLogin, kErr})
        if (ended[lan.Row(d).m_key].empty()) return false;
      return true;
    }, timeout + 2000ms));

    // What each device received: the command's frames for the accepting
    // device; for the failing and the silent one the frames sent before any
    // reply (a get whose reply starts the set: the get alone); nothing else.
    auto expected = [&c](int d) -> std::size_t {
      if (d == kOk) return c.frames.size();
      if (d == kErr || d == kDrop) return c.chained ? 1 : c.frames.size();
      return 0;
    };
    auto received = [&](int d) {
      std::vector<std::pair<int, std::string>> got;
      for (const auto& [code, text] : c.frames)
        for (const std::string& f : lan.Received(d, code)) got.emplace_back(code, f);
      return got;
    };
    // A command that ends by the SDK's acceptance may end before its frame
    // arrived.
    lan.PumpUntil([&] {
      for (int d = 0; d < kDevices; ++d)
        if (received(d).size() < expected(d)) return false;
      return true;
    }, 2000ms);
    for (int d = 0; d < kDevices; ++d) {
      const std::vector<std::pair<int, std::string>> got = received(d);
      std::vector<std::pair<int, std::string>> want;
      for (std::size_t i = 0; i < expected(d); ++i) {
        const auto& [code, text] = c.frames[i];
        // A text the test cannot know in advance (the block the device had)
        // is taken as received; its code and place still count.
        std::string any = "<missing>";
        for (const auto& g : got)
          if (g.first == code) any = g.second;
        want.emplace_back(code, text ? *text : any);
      }
      EXPECT_EQ(got, want) << "device " << d;
    }
    const std::string ok = c.answer == Answer::kBroadcast ? "BATCH_STATE_SENT" : "BATCH_STATE_DONE";
    const std::map<int, std::string> states = {
        {kOk, ok},
        {kOff, c.answer == Answer::kBroadcast ? ok : "BATCH_STATE_OFFLINE"},
        {kRefusedLogin, c.answer == Answer::kBroadcast ? ok : "BATCH_STATE_OFFLINE"},
        {kErr, c.answer == Answer::kReply ? "BATCH_STATE_FAILED" : ok}};
    for (const auto& [d, text] : states)
      EXPECT_EQ(ended[lan.Row(d).m_key], std::vector<std::string>{text}) << "device " << d;
    EXPECT_EQ(ended.count(lan.Row(kUnchecked).m_key), 0u);
    if (c.answer == Answer::kBroadcast) {
      EXPECT_EQ(network.sent.size(), 5u);
    }
    if (!c.stateQuery.empty()) {
      std::string answer;
      EXPECT_TRUE(lan.PumpUntil([&] {
        answer = lan.Sim().Control(Fill(c.stateQuery, serial(kOk)));
        return answer.find(c.stateHas) != std::string::npos;
      }, 3000ms)) << answer;
    }
    for (const auto& [code, text] : c.frames) {
      lan.Sim().Control("codefault " + serial(kErr) + " " + std::to_string(code) + " clear");
      lan.Sim().Control("codefault " + serial(kDrop) + " " + std::to_string(code) + " clear");
    }
  }
  // Every row of every job ends within the job's time-out.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(lan.PumpUntil([&] {
    runner.OnTick();
    return runner.ActiveJobs() == 0;
  }, timeout + 2000ms));
  EXPECT_LT(std::chrono::steady_clock::now() - start, timeout + 2000ms);
  EXPECT_EQ(silentEnded, silentWanted);
  ASSERT_EQ(static_cast<int>(summaries.size()), commands);
  for (const BatchSummary& s : summaries) EXPECT_EQ(s.Total(), 5);
}

}  // namespace
}  // namespace kelvara::device
