#pragma once
// Batch commands on the main window: the menu ranges of the device list's
// context menu (shape A: checked rows, else the selected row), the
// confirmation commands, each run as a BatchJob so
// every row ends in one terminal state shown in its row. UI thread only;
// nothing blocks while replies are awaited (a timer ends late rows).
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/core/batch_job.h"
#include "device/core/batch_runner.h"
#include "device/ui/device_command_host.h"

namespace kelvara::device {

class BatchCommandHost : public QObject {
 public:
  struct Hooks {
    // The window's CheckSelection: the checked count, after the "MSGTIP13"
    // box when none is checked.
    std::function<int()> checkSelection;
    // The list's first selected row index, or -1.
    std::function<int()> selectedIndex;
    // A summary of a finished run, which also goes to the debug log (the
    // window's controls keep their own texts); optional.
    std::function<void(const std::string&)> showSummary;
    std::chrono::milliseconds timeout{10000};
    // The clock the time-outs are read from (the steady clock when empty).
    BatchJob::Clock now;
  };
  BatchCommandHost(DeviceCommandHost& commands, Hooks hooks);
  ~BatchCommandHost() override;

  // A context-menu or popup command id; false when it is not a batch command.
  bool OnCommand(int id);
  // Further command ids (asked first, in the order added): a handler returns
  // true for an id it took.
  void AddCommandHandler(std::function<bool(int)> handler) { handlers_.push_back(std::move(handler)); }

  // Buttons.
  void OnBatchFactoryReset(); // 12
  void OnBatchMcuTest();      // 1306
  void OnBatchDeviceLanguage(int id);  // 32794-32797

  // Runs `worker` over `rows` as one job; the worker's request decides which
  // reply ends each row (answer kReply) unless `answer` says otherwise.
  void Run(const std::vector<discovery::DeviceListRow*>& rows,
           std::function<void(discovery::DeviceListRow*)> worker,
           BatchCommand::Answer answer = BatchCommand::Answer::kReply, bool skipBusy = false);
  // Runs a command whose `send` gives each row's result itself.
  void Run(const std::vector<discovery::DeviceListRow*>& rows, BatchCommand command);
  // The list was emptied: waiting rows have lost their link.
  void OnRowsCleared() { runner_.OnRowsCleared(); }

  std::size_t ActiveJobs() const { return runner_.ActiveJobs(); }
  DeviceCommandHost& Commands() { return commands_; }
  BatchRunner& Runner() { return runner_; }
  const Hooks& GetHooks() const { return hooks_; }
  // The window's CheckSelection (0 without one).
  int CheckSelection() { return hooks_.checkSelection ? hooks_.checkSelection() : 0; }

 private:
  // Shape A: checked rows, else the selected row alone.
  void ShapeA(std::function<void(discovery::DeviceListRow*)> worker);
  DeviceCommandHost& commands_;
  Hooks hooks_;
  BatchRunner runner_;
  QTimer tick_;
  std::vector<std::function<bool(int)>> handlers_;
};

}  // namespace kelvara::device
