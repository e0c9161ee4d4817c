#pragma once
// A device list with one logged-in row, the command workers over a recording
// SDK, and language texts that are their keys.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device/core/aux_replies.h"
#include "device/core/device_commands.h"
#include "device/core/status_events.h"
#include "discovery/core/search_reply.h"
#include "discovery/tests/recording_view.h"
#include "discovery/tests/reply_fixture.h"
#include "kelvara_test/test_env.h"

namespace kelvara::device::test {

// One SDK call as the device would receive it.
struct SdkCall {
  SdkCall() = default;
  SdkCall(std::string f, int h, int c, std::string t, std::string path = {})
      : fn(std::move(f)), handle(h), code(c), text(std::move(t)), devicePath(std::move(path)) {}
  std::string fn;  // SystemControl, GetDVRConfig, SetDVRConfig, SetDeviceConfig, RebootDVR, ...
  int handle = 0;
  int code = 0;
  std::string text;  // request text, or the local path of a file call
  std::string devicePath;
  bool operator==(const SdkCall&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const SdkCall& c) {
  return os << c.fn << "(" << c.handle << ", " << c.code << ", \"" << c.text << "\", \"" << c.devicePath << "\")";
}

class RecordingSdk : public CommandSdk {
 public:
  int SystemControl(int h, int code, const std::string& text) override { return Add({"SystemControl", h, code, text}); }
  int GetDVRConfig(int h, int code) override { return Add({"GetDVRConfig", h, code, ""}); }
  int SetDVRConfig(int h, int code, const std::string& text) override { return Add({"SetDVRConfig", h, code, text}); }
  int SetDeviceConfig(int h, int code, const std::string& text) override {
    return Add({"SetDeviceConfig", h, code, text});
  }
  int RebootDVR(int h) override { return Add({"RebootDVR", h, 0, ""}); }
  int PTZPreset(int h, int operation, int preset) override {
    return Add({"PTZPreset", h, operation, std::to_string(preset)});
  }
  int GetConfigFile(int h, const std::string& path) override { return Add({"GetConfigFile", h, 0, path}); }
  int SetConfigFile(int h, const std::string& path) override { return Add({"SetConfigFile", h, 0, path}); }
  int GetFileByName(int h, int kind, const std::string& devicePath, const std::string& path) override {
    return Add({"GetFileByName", h, kind, path, devicePath});
  }
  int Add(SdkCall c) {
    const bool fail = c.code == failCode;
    calls.push_back(std::move(c));
    return fail ? -1 : result;
  }
  std::vector<SdkCall> calls;
  int result = 0;
  int failCode = -1;  // a command code whose calls fail
};

class CommandFixture : public ::testing::Test {
 protected:
  CommandFixture() : rows(columns, view) {
    columns.BuildColumnMap({});
    docs = kelvara::test::MakeTempDir("docs");
    DeviceCommands::Options o;
    o.sdk = &sdk;
    o.lookup = [](const char* key) { return std::string(key); };
    o.documentsDir = [this] { return docs; };
    o.fileTimeNow = [] { return 134412768002500000ULL; };  // 2026-12-09 08:00:00.25 UTC
    o.localTimeNow = [] {
      std::tm tm{};
      tm.tm_year = 126;
      tm.tm_mon = 11;
      tm.tm_mday = 9;
      tm.tm_hour = 8;
      tm.tm_min = 1;
      tm.tm_sec = 2;
      return tm;
    };
    commands = std::make_unique<DeviceCommands>(rows, o);
    replies = std::make_unique<AuxReplyHandler>(*commands);
    events = std::make_unique<StatusEventHandler>(*commands, *replies);
  }

  // A row for the device, logged in with `handle` and online.
  discovery::DeviceListRow& AddRow(discovery::test::FakeDevice d = {}, int handle = 101) {
    map.AddOrUpdateDevice(*discovery::ParseSearchReply(discovery::test::ReplyText(d)), "10.77.0.1", 1);
    rows.RefreshDeviceList(map, {});
    discovery::DeviceListRow& row = *rows.FindByKey(d.serial);
    rows.SetLoginHandle(row, handle);
    row.m_online = true;
    return row;
  }
  std::string Cell(discovery::DeviceListRow& row, int logical) {
    return view.Cell(&row, columns.GetColumnIndex(logical));
  }
  std::string Status(discovery::DeviceListRow& row) { return Cell(row, discovery::kColState); }
  void Reply(int handle, int command, int result, const std::string& text) {
    replies->OnDeviceAuxResponse({handle, result, command, text});
  }

  discovery::ColumnMap columns;
  discovery::test::RecordingView view;
  discovery::DeviceMap map;
  discovery::DeviceRows rows;
  RecordingSdk sdk;
  std::filesystem::path docs;
  std::unique_ptr<DeviceCommands> commands;
  std::unique_ptr<AuxReplyHandler> replies;
  std::unique_ptr<StatusEventHandler> events;
};

}  // namespace kelvara::device::test
