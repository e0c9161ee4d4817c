#pragma once
// The device search and the device list of the main window: the search
// thread and its device map, the list control with its columns and rows, the
// 200-ms refresh with the automatic logins, and the bridge that brings the
// SDK's events onto the UI thread. The window owns the timers and buttons and
// calls in here; everything here runs on the UI thread except the sink's
// posting, which is the SDK's.
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "controls/ui/report_ctrl.h"
#include "device/core/row_login.h"
#include "device/core/sdk_bridge.h"
#include "discovery/core/device_columns.h"
#include "discovery/core/device_map.h"
#include "discovery/core/device_rows.h"
#include "discovery/core/search_thread.h"
#include "discovery/core/broadcast_commands.h"
#include "discovery/core/network_settings.h"
#include "discovery/core/operator_auth.h"
#include "discovery/ui/production_mode.h"
#include "discovery/ui/report_row_view.h"

namespace kelvara::discovery {

class DeviceListController : public QObject {
  Q_OBJECT
 public:
  struct Options {
    ColumnSwitches switches;
    std::string acceptedRoots;  // customer root names of search replies
    std::string customCloudType;
    std::string uiLanguage = "en-us";
    // The network card chosen in the window (0: all cards), read at each search start.
    std::function<Ipv4()> adapterChoice;
    AdapterSource adapters = LocalIpv4Addresses;
    Destination destination;
    device::DeviceSdk* sdk = nullptr;
    // The settings' default login (UTF-8), read at each refresh; devices get
    // it in GBK.
    std::function<device::LoginDefaults()> loginDefaults;
    std::function<std::string(const char* key)> lookup;  // language texts (UTF-8)
    // Production mode (check box 1008), read at each refresh, and its label
    // printer and sound prompt.
    std::function<bool()> productionMode;
    std::function<int(const QString& qrText, const QString& labelText)> printQrLabel;
    std::function<void(const QString& path)> playSound;
    QString programDir;
    // What the operator's credentials come from: the settings' default login
    // and the operation password box (1055) with its display switch.
    std::function<OperatorAuthInputs()> operatorAuthInputs;
    // An error message box (caption, text), shown on the UI thread.
    std::function<void(const QString& caption, const QString& text)> showError;
    // The PC's network, for free addresses (defaults: the real queries).
    std::function<LocalNetworkConfig()> localNetwork;
    std::function<std::vector<std::uint32_t>()> localAddresses;
  };

  explicit DeviceListController(Options options, QObject* parent = nullptr);
  // The SDK's callbacks must be unregistered before this object goes.
  ~DeviceListController() override;

  // Control 1000, parented to `parent`; made once.
  controls::CReportCtrl* CreateListWidget(QWidget* parent);
  // The column map and the list's columns, check boxes, editing and grid.
  void InitDeviceListColumns();

  // Starts the search thread (which sends the first request); false when one runs.
  bool StartSearch();
  // New-device mode ("CLEARSN", check box 1009): each UUID seen first is
  // restored once. Read by the search thread.
  void SetNewDeviceMode(bool on) { newDeviceMode_ = on; }
  // The boot-recovery server's marks while that server exists (null: none,
  // and no recovered device is restored).
  void SetRecoveryMarks(RecoveryMarks* marks) { recoveryMarks_ = marks; }

  // Stops and joins the search thread; false when none ran.
  bool StopSearch();
  bool SearchThreadRunning() const { return search_.Running(); }
  // The searching flag of the totals line, which is rewritten.
  void SetSearching(bool on) {
    searching_ = on;
    UpdateTotals();
  }

  // Sends a discovery request: through the search thread while it runs,
  // else at once from every local address. Returns 0.
  int SendDiscoveryMessage(int msgCode, std::optional<std::string> body, int msgFlag);
  void SendSearchRequest();
  // Sends a request text the same way (any thread).
  void SendText(std::string text);

  // The settings' default login in the form devices expect (GBK); also
  // handed to the device map for devices whose reply carries no account.
  OperatorAuth DeviceLogin();

  // The 200-ms tick: new and changed records into rows, then the logins
  // (through the automatic-login gate, device/core/auto_login_gate.h).
  void RefreshDeviceList();
  // The row's login menu: logs the row in again, whatever the gate says, and
  // lifts a refusal at its address.
  void LoginRowByHand(DeviceListRow& row);
  // One refresh whose new rows count as imported (list files, batch-debug rows).
  void RefreshDeviceListAsImport() {
    importing_ = true;
    RefreshDeviceList();
    importing_ = false;
  }
  // The device SDK the rows log in with (null in tests without one).
  device::DeviceSdk* Sdk() const { return options_.sdk; }
  // Ends every login, then empties the map and the list.
  void ClearDevicesForSearch();
  void ClearDeviceMapAndList();
  // The totals line's text.
  QString TotalsText() const;
  // Checks or clears every row; the totals line is rewritten once.
  void SetAllChecked(bool on);

  // Register with ZQ_NETSDK_IPC_SetStatusEventCallBack / SetAUXResponseCallBack
  // (device::StatusEventCallBack, device::AuxResponseCallBack) as the user value.
  device::SdkEventSink& EventSink() { return sink_; }

  // SDK events on the UI thread: the row's login state, then the handlers below.
  void OnDeviceStatusEvent(const device::DeviceStatusEvent& event);
  void OnDeviceAuxResponse(const device::DeviceAuxResponse& response);

  // The handlers of the device commands, on the UI thread. Without a status
  // handler only the rows' login state is kept.
  std::function<void(const device::DeviceStatusEvent&)> onStatusEvent;
  std::function<void(const device::DeviceAuxResponse&)> onAuxResponse;
  // A row's check box changed by itself (the device log follows it), and
  // after the check-all box changed every row at once.
  std::function<void(DeviceListRow& row, bool checked)> onRowCheckChanged;
  std::function<void()> onAllChecksChanged;

  // The operator's credentials (UTF-8) for a login-free network command:
  // 1 with `user` and `password` set, 0 when the operation password is
  // required and missing (the message has been shown).
  int GetOperatorAuth(std::string& user, std::string& password);
  // Reboot by broadcast of the device the map holds under `serial`, with
  // the operator's credentials (UTF-8). 0 sent, -1 not in the map, -3 body
  // not built.
  int RebootDevByBD(const std::string& serial, const std::string& user, const std::string& password);
  // Factory mode by broadcast (Msg_flag = mode) with the default login.
  int SetFactoryModeByBD(const std::string& serial, int mode);
  // The login-free network operations on the map's records.
  NetworkSettings& Network() { return *network_; }

  DeviceMap& Map() { return map_; }
  DeviceRows& Rows() { return *rows_; }
  const ColumnMap& Columns() const { return columns_; }
  controls::CReportCtrl* List() const { return list_; }
  int RowIndex(const DeviceListRow& row) { return view_ ? view_->IndexOf(row) : -1; }

 signals:
  void totalsChanged(const QString& text);
  // Every row was freed (a new search, an import, the batch-debug rows):
  // nothing may keep a row past this.
  void listCleared();

 private:
  class Sink : public device::SdkEventSink {
   public:
    explicit Sink(DeviceListController& owner) : owner_(owner) {}
    void PostStatusEvent(device::DeviceStatusEvent event) override;
    void PostAuxResponse(device::DeviceAuxResponse response) override;

   private:
    DeviceListController& owner_;
  };

  void UpdateTotals();
  std::string Text(const char* key) const;
  device::AutoLogin AutoLogins();
  // One debug-log line for the devices a search did not list (list full).
  void LogNotListed();

  Options options_;
  std::atomic<bool> newDeviceMode_{false};
  RecoveryMarks* recoveryMarks_ = nullptr;
  // The default login last read (UTF-8) and its GBK form.
  device::LoginDefaults loginSeen_{"admin", ""};
  OperatorAuth loginGbk_{"admin", ""};
  DeviceMap map_;
  SearchThread search_;
  ColumnMap columns_;
  QPointer<controls::CReportCtrl> list_;
  std::unique_ptr<ReportRowView> view_;
  std::unique_ptr<DeviceRows> rows_;
  std::unique_ptr<RowView> nullView_;
  Sink sink_{*this};
  std::unique_ptr<ProductionModeActions> production_;
  std::unique_ptr<NetworkSettings> network_;
  // Which automatic logins may be made; emptied with the list.
  device::AutoLoginGate loginGate_;
  bool searching_ = false;
  bool importing_ = false;
  bool bulkCheck_ = false;  // SetAllChecked runs: one totals update at its end
};

}  // namespace kelvara::discovery
