#include "device/ui/batch_command_host.h"

#include <algorithm>

#include "common/debug_log.h"

namespace kelvara::device {

namespace {

// The device-language codes of the context menu, in id order.
constexpr const char* kLanguageCodes[] = {"zh-cn",   "en-us",  "zh-tw", "ru-ru", "german",   "italian",  "turkey",
                                          "croatian", "korean", "pt-pt", "pl-pl", "Japanese", "Ukraine"};

}  // namespace

BatchCommandHost::BatchCommandHost(DeviceCommandHost& commands, Hooks hooks)
    : commands_(commands),
      hooks_(std::move(hooks)),
      runner_(commands.Commands(), commands.Tap(), hooks_.timeout, hooks_.now) {
  runner_.onFinished = [this](const BatchSummary& summary) {
    const std::string text =
        BatchSummaryText(summary, [this](const char* k) { return commands_.Commands().Text(k); });
    DebugLogPrintf("batch command finished: %s\n", text.c_str());
    if (hooks_.showSummary) hooks_.showSummary(text);
  };
  runner_.onRunning = [this](bool running) {
    if (running && !tick_.isActive()) tick_.start();
    if (!running) tick_.stop();
  };
  commands_.afterAuxResponse = [this](const DeviceAuxResponse& r) { runner_.OnReply(r.loginHandle, r.command, r.result); };
  commands_.afterStatusEvent = [this](const DeviceStatusEvent& e) { runner_.OnStatusEvent(e.loginHandle, e.eventType); };
  commands_.Replies().onChangeNotMade = [this](int handle, int command) { runner_.OnChangeNotMade(handle, command); };
  tick_.setInterval(250);
  QObject::connect(&tick_, &QTimer::timeout, this, [this] { runner_.OnTick(); });
}

BatchCommandHost::~BatchCommandHost() {
  commands_.afterAuxResponse = nullptr;
  commands_.afterStatusEvent = nullptr;
  commands_.Replies().onChangeNotMade = nullptr;
}

void BatchCommandHost::Run(const std::vector<discovery::DeviceListRow*>& rows,
                           std::function<void(discovery::DeviceListRow*)> worker, BatchCommand::Answer answer,
                           bool skipBusy) {
  runner_.Run(rows, runner_.FromWorker(std::move(worker), answer, skipBusy));
}

void BatchCommandHost::Run(const std::vector<discovery::DeviceListRow*>& rows, BatchCommand command) {
  runner_.Run(rows, std::move(command));
}

void BatchCommandHost::ShapeA(std::function<void(discovery::DeviceListRow*)> worker) {
  const int n = hooks_.checkSelection ? hooks_.checkSelection() : 0;
  if (n > 0) {
    Run(commands_.CheckedRows(), std::move(worker));
    return;
  }
  // The box has been shown; the selected row alone, when there is one.
  const int selected = hooks_.selectedIndex ? hooks_.selectedIndex() : -1;
  if (discovery::DeviceListRow* row = commands_.RowAt(selected)) Run({row}, std::move(worker));
}

bool BatchCommandHost::OnCommand(int id) {
  for (const auto& handler : handlers_)
    if (handler(id)) return true;
  DeviceCommands& c = commands_.Commands();
  if (id >= 33360 && id <= 33372) {
    const int index = id - 33360;
    ShapeA([&c, index](discovery::DeviceListRow* row) { c.SetRowLanguageAndWeb(row, index, kLanguageCodes[index], 0); });
    return true;
  }
  if (id >= 33340 && id <= 33352) {
    const int index = id - 33340;
    ShapeA([&c, index](discovery::DeviceListRow* row) { c.SetRowLanguageAndWeb(row, index, kLanguageCodes[index], 1); });
    return true;
  }
  if (id >= 32794 && id <= 32797) {
    OnBatchDeviceLanguage(id);
    return true;
  }
  switch (id) {
    case 33002:
    case 33003: {
      const int on = id == 33002 ? 1 : 0;
      ShapeA([&c, on](discovery::DeviceListRow* row) { c.SetRowP2PConfig(row, on); });
      return true;
    }
    case 33005:
    case 33006: {
      const int on = id == 33005 ? 1 : 0;
      ShapeA([&c, on](discovery::DeviceListRow* row) { c.RequestHikAccessChange(row, on); });
      return true;
    }
    case 33007:
    case 33008: {
      const int on = id == 33007 ? 1 : 0;
      ShapeA([&c, on](discovery::DeviceListRow* row) { c.RequestStreamAccessChange(row, on); });
      return true;
    }
    case 33020:
    case 33021: {
      const int on = id == 33020 ? 1 : 0;
      ShapeA([&c, on](discovery::DeviceListRow* row) { c.RequestDhAccessChange(row, on); });
      return true;
    }
    case 33022:
    case 33023: {
      const int on = id == 33022 ? 1 : 0;
      ShapeA([&c, on](discovery::DeviceListRow* row) { c.RequestVendorAccessChange(row, on); });
      return true;
    }
    default: return false;
  }
}

void BatchCommandHost::OnBatchFactoryReset() {
  DeviceCommands& c = commands_.Commands();
  // The question comes before the rows are counted.
  if (!c.Confirm("MSGTIP11", "TEXT21")) return;
  if (!hooks_.checkSelection || hooks_.checkSelection() < 1) return;
  Run(commands_.CheckedRows(), [&c](discovery::DeviceListRow* row) { c.FactoryResetRow(row); },
      BatchCommand::Answer::kAccepted, true);
}

void BatchCommandHost::OnBatchMcuTest() {
  if (!hooks_.checkSelection || hooks_.checkSelection() < 1) return;
  DeviceCommands& c = commands_.Commands();
  Run(commands_.CheckedRows(), [&c](discovery::DeviceListRow* row) { c.TestRowMcu(row); });
}

void BatchCommandHost::OnBatchDeviceLanguage(int id) {
  if (!hooks_.checkSelection || hooks_.checkSelection() < 1) return;
  DeviceCommands& c = commands_.Commands();
  if (!c.Confirm("MSG_BATCH_SET_LANGUAGE", "TEXT21")) return;
  const std::string code = id == 32797 ? "zh_tw" : id == 32795 ? "zh_cn" : "en_us";
  Run(commands_.CheckedRows(), [&c, code](discovery::DeviceListRow* row) { c.SetRowLanguage(row, code); });
}

}  // namespace kelvara::device
