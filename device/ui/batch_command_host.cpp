#include "device/ui/batch_command_host.h"

#include <algorithm>

#include "device/core/row_texts.h"

namespace kelvara::device {

namespace {

// The device-language codes of the context menu, in id order.
constexpr const char* kLanguageCodes[] = {"zh-cn",   "en-us",  "zh-tw", "ru-ru", "german",   "italian",  "turkey",
                                          "croatian", "korean", "pt-pt", "pl-pl", "Japanese", "Ukraine"};

// Link losses among the status events: the login ended or failed.
bool LinkLostEvent(int type) { return type == 2 || type == 3 || type == 5 || type == 31 || type == 34; }

}  // namespace

BatchCommandHost::BatchCommandHost(DeviceCommandHost& commands, Hooks hooks)
    : commands_(commands), hooks_(std::move(hooks)) {
  commands_.Tap().onRequest = [this](int handle, int code, int result) {
    // A worker of two requests (factory reset) is refused when either is.
    if (!sent_ || result != 0) lastResult_ = result;
    sent_ = true;
    for (auto& job : jobs_) job->OnRequestSent(handle, code);
  };
  commands_.afterAuxResponse = [this](const DeviceAuxResponse& r) { OnReply(r); };
  commands_.afterStatusEvent = [this](const DeviceStatusEvent& e) { OnEvent(e); };
  tick_.setInterval(250);
  QObject::connect(&tick_, &QTimer::timeout, this, [this] {
    for (auto& job : jobs_) job->OnTick();
    Reap();
  });
}

BatchCommandHost::~BatchCommandHost() {
  commands_.Tap().onRequest = nullptr;
  commands_.afterAuxResponse = nullptr;
  commands_.afterStatusEvent = nullptr;
}

void BatchCommandHost::Run(const std::vector<discovery::DeviceListRow*>& rows,
                           std::function<void(discovery::DeviceListRow*)> worker, BatchCommand::Answer answer,
                           bool skipBusy) {
  BatchCommand command;
  command.answer = answer;
  command.skipBusy = skipBusy;
  command.send = [this, worker](discovery::DeviceListRow& row) {
    sent_ = false;
    lastResult_ = -1;
    worker(&row);
    // A worker that sent nothing (a text over its buffer) refused the row.
    return sent_ ? lastResult_ : -1;
  };
  auto job = std::make_unique<BatchJob>(
      std::move(command),
      [this](const std::string& serial) { return commands_.Commands().Rows().FindByKey(serial); }, hooks_.timeout);
  job->onState = [this](discovery::DeviceListRow* row, BatchState state) {
    if (row) SetRowStatus(commands_.Commands().Rows(), *row, commands_.Commands().Text(BatchStateKey(state)));
  };
  job->onFinished = [this](const BatchSummary& summary) {
    if (hooks_.showSummary)
      hooks_.showSummary(BatchSummaryText(summary, [this](const char* k) { return commands_.Commands().Text(k); }));
  };
  BatchJob* raw = job.get();
  jobs_.push_back(std::move(job));
  raw->Start(rows);
  if (!tick_.isActive()) tick_.start();
  Reap();
}

void BatchCommandHost::Reap() {
  jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(), [](const auto& j) { return j->Finished(); }), jobs_.end());
  if (jobs_.empty()) tick_.stop();
}

void BatchCommandHost::OnReply(const DeviceAuxResponse& r) {
  for (auto& job : jobs_) job->OnReply(r.loginHandle, r.command, r.result);
  Reap();
}

void BatchCommandHost::OnEvent(const DeviceStatusEvent& e) {
  if (!LinkLostEvent(e.eventType)) return;
  for (auto& job : jobs_) job->OnLinkLost(e.loginHandle);
  Reap();
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
