#pragma once
// The boot-recovery server's window: the adapter and firmware folder, Start
// and Stop of the service (the UDP listener and the TFTP helper it unpacks
// into the folder and runs as its own child), the devices seen with their
// progress, and a numbered log.
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "common/ui/cxdlg.h"
#include "firmware/recovery/recovery_listener.h"
#include "firmware/recovery/recovery_server.h"
#include "firmware/recovery/recovery_ui_feed.h"

class QPlainTextEdit;
class CSaveParam;
namespace kelvara::controls { class CReportCtrl; }

namespace kelvara::firmware {

// What the window needs of the main window.
class BootServerHost {
 public:
  virtual ~BootServerHost() = default;
  virtual void ClearDevicesForSearch() = 0;
  virtual void OnSearchButton() = 0;
  virtual bool IsSearchRunning() = 0;
};

struct BootServerOptions {
  QString program_folder;                 // where zqfileserver.7z lies (the program's folder)
  QString archiver;                       // empty: "7zz", else "7z", found on the PATH
  QStringList helper_arguments;           // none in use; tests name another port
  ListenerOptions listener;               // UDP 25000
  int archiver_timeout_ms = 20000;
  int max_log_lines = 5000;
  std::function<int(std::uint32_t)> probe;  // PingTest unless a test replaces it
};

class CBootServerDlg : public ::kelvara::ui::CXDlg {
  Q_OBJECT
 public:
  enum : int {
    kDeviceList = 2020, kLog = 1091, kStart = 1077, kStop = 1078, kFolder = 1003, kChooseFolder = 1005,
    kOpenFolder = 1012, kNetcard = 1016, kNetcardLabel = 1018, kClearList = 1079, kRestoreFactory = 1092,
    kClearHistory = 2066,
  };
  static constexpr const char* kPassPhrase = "plorvendaquistemarbolunexa";

  CBootServerDlg(BootServerHost* host, CSaveParam* settings, BootServerOptions options, QWidget* parent = nullptr);
  ~CBootServerDlg() override;

  void OnInitDialog();
  int StartService();
  int StopService();
  int StartListener();
  int StopListener();
  void UpdateServiceButtons();
  void AppendLog(const QString& text);
  void AppendLogA(const std::string& text) { AppendLog(QString::fromStdString(text)); }
  void UpdateDeviceRow(const BootDeviceInfo& device);

  void OnStartButton();
  void OnStopButton();
  void OnChooseFirmwareFolder();
  void OnOpenFirmwareFolder();
  void OnClearList();
  void OnClearHistory();
  void OnRestoreFactoryCheck();
  void OnNetcardChanged();

  // Any thread: hand a record or a line to the window's thread (through a
  // bounded feed taken in batches).
  void PostDeviceUpdate(const BootDeviceInfo& device);
  void PostLogTextA(const std::string& text);
  // UI thread: shows what the feed holds.
  void TakeFeed();

  RecoveryServer& Server() { return *server_; }
  controls::CReportCtrl* DeviceList() const { return list_; }
  QPlainTextEdit* LogPane() const { return log_; }
  bool HelperRunning() const { return helper_ != nullptr && helper_->state() != QProcess::NotRunning; }
  qint64 HelperPid() const { return helper_ != nullptr ? helper_->processId() : 0; }

 private:
  void BuildControls();
  void FillNetcards();
  void ApplyNetcard();
  int UnpackAndStartHelper(const QString& folder);
  void EndHelper();
  QString HelperPath(const QString& folder) const;
  void AppendLogLine(const QString& text);
  void ScrollLogToEnd();

  BootServerHost* host_;
  CSaveParam* settings_;
  BootServerOptions options_;
  RecoveryUiFeed feed_;  // before the listener: its threads feed it until they end
  std::unique_ptr<RecoveryServer> server_;
  std::unique_ptr<RecoveryListener> listener_;
  controls::CReportCtrl* list_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  QProcess* helper_ = nullptr;
  QString helper_errors_;
  unsigned log_counter_ = 0;
};

}  // namespace kelvara::firmware
