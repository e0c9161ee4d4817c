#include "discovery/ui/device_list_controller.h"

#include <arpa/inet.h>

#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>

#include <algorithm>

#include "common/language_table.h"
#include "common/log_text.h"
#include "common/text_convert.h"
#include "device/core/login_events.h"
#include "discovery/core/discovery_log.h"
#include "discovery/core/discovery_protocol.h"
#include "discovery/core/search_reply.h"

namespace kelvara::discovery {
namespace {

// Stands in for the list until the window made it.
class NoView : public RowView {
 public:
  void RowInserted(DeviceListRow&) override {}
  void CellText(DeviceListRow&, int, const std::string&) override {}
  void RowTextColour(DeviceListRow&, RowColour) override {}
  void RowsCleared() override {}
};

// The optional key of a customer's own P2P-type name; the English file has
// none, so the built-in names show.
constexpr const char* kP2pTypeNameKey = "P2PTYPENAME";

}  // namespace

DeviceListController::DeviceListController(Options options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      search_([this](std::string_view text, const TiXmlDocument& parsed, const std::string& adapter,
                     const std::string& sender) {
        // Search thread: touches only the map (under its lock), the mode flag
        // and the request queue. The header check's parse serves the reply.
        OnSearchReply(
            text, parsed, adapter, map_, newDeviceMode_,
            [this](const DeviceSearchInfo& record) {
              const DefaultLogin login = map_.GetDefaultLogin();
              RestoreNewDeviceByBD(record, {login.userName, login.password},
                                   [this](std::string t) { SendText(std::move(t)); });
            },
            sender);
      }) {
  columns_.BuildColumnMap(options_.switches);
  ProductionModeActions::Hooks hooks;
  hooks.printQrLabel = options_.printQrLabel;
  hooks.playSound = options_.playSound;
  hooks.programDir = options_.programDir;
  hooks.defaultLogin = [this] { return DeviceLogin(); };
  hooks.send = [this](std::string t) { SendText(std::move(t)); };
  production_ = std::make_unique<ProductionModeActions>(std::move(hooks));
  NetworkSettings::Hooks net;
  net.send = [this](std::string t) { SendText(std::move(t)); };
  net.defaultLogin = [this] { return DeviceLogin(); };
  net.localNetwork = options_.localNetwork ? options_.localNetwork : [] {
    LocalNetworkConfig c;
    GetLocalNetworkConfig(c);
    return c;
  };
  net.localAddresses = options_.localAddresses ? options_.localAddresses : [] {
    std::vector<std::uint32_t> out;
    for (const auto& [address, adapter] : GetAdapterAddressMap()) out.push_back(ntohl(address));
    return out;
  };
  network_ = std::make_unique<NetworkSettings>(map_, std::move(net));
  nullView_ = std::make_unique<NoView>();
  rows_ = std::make_unique<DeviceRows>(columns_, *nullView_);
}

DeviceListController::~DeviceListController() {
  search_.Stop();
  LogNotListed();
  // Rows end before the view they talk to.
  rows_.reset();
}

std::string DeviceListController::Text(const char* key) const {
  return options_.lookup ? options_.lookup(key) : LangText(key);
}

controls::CReportCtrl* DeviceListController::CreateListWidget(QWidget* parent) {
  if (list_) return list_;
  list_ = new controls::CReportCtrl(parent);
  view_ = std::make_unique<ReportRowView>(*list_);
  RowFormatContext context = rows_->FormatContext();
  loginGate_.Reset();  // it may hold rows of the list replaced here
  rows_ = std::make_unique<DeviceRows>(columns_, *view_);
  rows_->SetFormatContext(std::move(context));
  connect(list_.data(), &controls::CReportCtrl::CheckChanged, this, [this](int row, bool checked) {
    auto* r = static_cast<DeviceListRow*>(list_->GetItemData(row));
    if (r != nullptr) r->checked = checked;
    if (bulkCheck_) return;
    UpdateTotals();
    if (r != nullptr && onRowCheckChanged) onRowCheckChanged(*r, checked);
  });
  return list_;
}

void DeviceListController::InitDeviceListColumns() {
  RowFormatContext context;
  auto lookup = [this](const char* key) { return Text(key); };
  context.labels = RowLabels::FromLookup(lookup);
  context.p2pTypeOverride = Text(kP2pTypeNameKey);
  context.customCloudType = options_.customCloudType;
  context.uiLanguage = options_.uiLanguage;
  rows_->SetFormatContext(std::move(context));
  if (!list_) return;
  // Titles from the language file may hold ',' or ';': columns go in as a list.
  // A title wider than its column's width widens the column (the width is
  // the least it gets), so no title is clipped with the window's font.
  QHeaderView* header = list_->horizontalHeader();
  const QFontMetrics metrics(header->font());
  const int padding = 2 * list_->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 12;
  QVector<controls::ReportModel::Column> columns;
  for (int id = 0; id < kColumnCount; ++id) {
    if (columns_.GetColumnIndex(id) < 0) continue;
    const ColumnInfo& c = GetColumnInfo(id);
    const QString title = QString::fromStdString(c.titleIsKey ? Text(c.title) : std::string(c.title));
    const int width = std::max(c.width_px, metrics.horizontalAdvance(title) + padding);
    columns.push_back({title, width, controls::ColumnAlignment::kLeft});
  }
  list_->SetColumns(columns);
  list_->SetCheckboxes(controls::kCheckFree);
  list_->SetEditable(true);
  list_->SetGridLines(true);
  // List positions, not logical ids.
  list_->ResetColumnValue(16);
  list_->ResetColumnValue(21);
  if (options_.switches.style == 2) list_->SetGridLines(false);
  list_->SetHeaderClickSort(true);
}

bool DeviceListController::StartSearch() {
  Log("CZqDevSearchToolDlg::StartSearch()\n");
  if (search_.Running()) {
    Log("CZqDevSearchToolDlg::StartSearchThread: SearchIPCThread has run.\n");
    return false;
  }
  ClearDeviceMapAndList();
  DeviceLogin();  // the map's default login before the first reply
  SearchConfig config;
  config.acceptedRoots = options_.acceptedRoots;
  config.adapterChoice = options_.adapterChoice ? options_.adapterChoice() : 0;
  config.adapters = options_.adapters;
  config.destination = options_.destination;
  return search_.Start(std::move(config));
}

bool DeviceListController::StopSearch() {
  const bool stopped = search_.Stop();
  LogNotListed();
  return stopped;
}

int DeviceListController::SendDiscoveryMessage(int msgCode, std::optional<std::string> body, int msgFlag) {
  SendText(BuildDiscoveryMessage(msgCode, body ? std::optional<std::string_view>(*body) : std::nullopt,
                                 msgFlag));
  return 0;
}

void DeviceListController::SendText(std::string text) {
  if (!search_.Post(text)) BroadcastToAllAdapters(text, options_.adapters, options_.destination);
}

OperatorAuth DeviceListController::DeviceLogin() {
  device::LoginDefaults now = options_.loginDefaults ? options_.loginDefaults() : device::LoginDefaults{"admin", ""};
  if (now.userName != loginSeen_.userName || now.password != loginSeen_.password) {
    loginGbk_ = {Utf8ToGbk(now.userName), Utf8ToGbk(now.password)};
    loginSeen_ = std::move(now);
    map_.SetDefaultLogin({loginGbk_.userName, loginGbk_.password});
  }
  return loginGbk_;
}

void DeviceListController::SendSearchRequest() { SendDiscoveryMessage(kMsgSearch, std::nullopt, 0); }

void DeviceListController::RefreshDeviceList() {
  DeviceRows::RefreshOptions refresh;
  refresh.importing = importing_;
  refresh.productionMode = options_.productionMode && options_.productionMode();
  refresh.production = production_.get();
  const OperatorAuth login = DeviceLogin();
  if (RecoveryMarks* marks = recoveryMarks_) {
    // Only while the boot-recovery server exists: the walk copies every record seen lately.
    refresh.recentlySeen = [this, marks, login](const DeviceSearchInfo& r) {
      RestoreRecoveredDevice(r, marks, login, [this](std::string t) { SendText(std::move(t)); });
    };
  }
  refresh.now_ms = TickCount_ms();
  const auto queue = [&] {
    // The tick's cell texts reach the view as one change, not one per cell.
    const controls::ReportTextBatch batch(list_ ? list_->Model() : nullptr);
    return rows_->RefreshDeviceList(map_, refresh);
  }();
  // Also with an empty queue: rows waiting for a login that was logged out
  // meanwhile get their turn.
  if (options_.sdk && (!queue.empty() || loginGate_.WaitingCount() > 0))
    device::ProcessReloginQueue(*rows_, queue, AutoLogins());
  UpdateTotals();
}

device::AutoLogin DeviceListController::AutoLogins() {
  const OperatorAuth login = DeviceLogin();
  return device::AutoLogin{*options_.sdk, device::LoginDefaults{login.userName, login.password}, &loginGate_,
                           Text(device::LoginEventTextKey(device::kEventLoginRefused))};
}

void DeviceListController::LoginRowByHand(DeviceListRow& row) {
  if (options_.sdk) device::LoginRowByHand(*rows_, row, AutoLogins());
}

void DeviceListController::LogNotListed() {
  const DeviceRows::NotListed n = rows_->TakeNotListed();
  if (n.records == 0) return;
  // Once per search, not per reply: a flood would fill the log.
  Log("device list full: %zu replies of devices not listed (at most %zu rows; %zu of them from senders "
      "with %zu rows already, the first %s)\n",
      n.records, kMaxDevices, n.ofFullSender, kMaxDevicesPerSender,
      n.firstFullSender.empty() ? "-" : EscapeForLog(n.firstFullSender).c_str());
}

void DeviceListController::ClearDevicesForSearch() {
  if (options_.sdk) options_.sdk->LogoutAll();
  ClearDeviceMapAndList();
  UpdateTotals();
}

void DeviceListController::ClearDeviceMapAndList() {
  LogNotListed();
  loginGate_.Reset();
  map_.Clear();
  network_->ClearForNewList();
  rows_->Clear();
  emit listCleared();
}

int DeviceListController::GetOperatorAuth(std::string& user, std::string& password) {
  OperatorAuthInputs in;
  if (options_.operatorAuthInputs) {
    in = options_.operatorAuthInputs();
  } else {
    const device::LoginDefaults d = options_.loginDefaults ? options_.loginDefaults() : device::LoginDefaults{"admin", ""};
    in.defaultUser = d.userName;
    in.defaultPassword = d.password;
  }
  const auto auth = ResolveOperatorAuth(in);
  if (!auth) {
    const OperatorAuthMessage m = MissingOperationPasswordMessage([this](const char* key) { return Text(key); });
    if (options_.showError) options_.showError(QString::fromStdString(m.caption), QString::fromStdString(m.text));
    return 0;
  }
  user = auth->userName;
  password = auth->password;
  return 1;
}

int DeviceListController::RebootDevByBD(const std::string& serial, const std::string& user,
                                        const std::string& password) {
  return network_->RebootDevByBD(serial, OperatorAuth{user, password});
}

int DeviceListController::SetFactoryModeByBD(const std::string& serial, int mode) {
  return network_->SetFactoryModeByBD(serial, mode);
}

QString DeviceListController::TotalsText() const {
  const std::size_t checked = list_ ? static_cast<std::size_t>(list_->CountItems(controls::kStateChecked))
                                    : rows_->CheckedCount();
  return QString::fromStdString(discovery::TotalsText(searching_, rows_->Count(), checked,
                                                      [this](const char* key) { return Text(key); },
                                                      rows_->SomeNotListed()));
}

void DeviceListController::SetAllChecked(bool on) {
  if (list_) {
    bulkCheck_ = true;
    for (int i = 0; i < list_->GetItemCount(); ++i) list_->SetCheck(i, on);
    bulkCheck_ = false;
  }
  UpdateTotals();
  if (onAllChecksChanged) onAllChecksChanged();
}

void DeviceListController::UpdateTotals() { emit totalsChanged(TotalsText()); }

void DeviceListController::Sink::PostStatusEvent(device::DeviceStatusEvent event) {
  QMetaObject::invokeMethod(
      &owner_, [o = &owner_, e = std::move(event)] { o->OnDeviceStatusEvent(e); }, Qt::QueuedConnection);
}

void DeviceListController::Sink::PostAuxResponse(device::DeviceAuxResponse response) {
  QMetaObject::invokeMethod(
      &owner_, [o = &owner_, r = std::move(response)] { o->OnDeviceAuxResponse(r); }, Qt::QueuedConnection);
}

void DeviceListController::OnDeviceStatusEvent(const device::DeviceStatusEvent& event) {
  // The device commands' handler, when there is one, keeps the login state
  // with every other event.
  if (onStatusEvent)
    onStatusEvent(event);
  else
    device::ApplyLoginStateEvent(*rows_, event, [this](const char* key) { return Text(key); });
  // The automatic logins that waited for this login's outcome.
  if (options_.sdk && (event.eventType == device::kEventLoginOk || event.eventType == device::kEventLoginRefused))
    device::OnAutoLoginEvent(*rows_, AutoLogins(), event.loginHandle, event.eventType);
}

void DeviceListController::OnDeviceAuxResponse(const device::DeviceAuxResponse& response) {
  if (onAuxResponse) onAuxResponse(response);
}

}  // namespace kelvara::discovery
