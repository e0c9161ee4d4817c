#include "discovery/ui/list_actions.h"

#include <arpa/inet.h>

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QProgressDialog>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <string_view>
#include <utility>
#include <ctime>

#include "common/atomic_file.h"
#include "common/folder_functions.h"
#include "common/ipv4_host.h"
#include "common/paths.h"
#include "common/language_table.h"
#include "common/local_network.h"
#include "common/ping_test.h"
#include "common/save_param.h"
#include "common/text_convert.h"
#include "common/ui/desktop_open.h"
#include "common/ui/user_prompts.h"
#include "device/core/row_login.h"
#include "dialogs/ui/dialog_default_user.h"
#include "dialogs/ui/dialog_ip_setting.h"
#include "discovery/core/device_list_xml.h"
#include "discovery/core/discovery_log.h"
#include "discovery/core/row_clipboard.h"

namespace kelvara::discovery {
namespace {

using ui::PromptButtons;
using ui::PromptIcon;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// How long a probe must run before its progress shows.
constexpr int kProgressDelay_ms = 400;

}  // namespace

DeviceListActions::DeviceListActions(DeviceListController& list, Hooks hooks, QObject* parent)
    : QObject(parent), list_(list), hooks_(std::move(hooks)) {
  // The .xls reader program is opened as the window starts: later changes
  // to it on disk do not matter. Without it an import says why.
  if (const std::string why = OpenXlsReader(); !why.empty()) Log("%s\n", why.c_str());
  if (!hooks_.prompts) {
    static ui::QtUserPrompts prompts;
    hooks_.prompts = &prompts;
  }
  if (!hooks_.openUrl) hooks_.openUrl = [](const QString& url) { return ui::DesktopOpen(QUrl(url)); };
  if (!hooks_.setClipboard)
    hooks_.setClipboard = [](const std::string& text) {
      // 8-bit device text: shown as the program's code page gives it.
      QGuiApplication::clipboard()->setText(QString::fromStdU16String(AnsiToCString(text.c_str())));
    };
  if (!hooks_.probe) hooks_.probe = [](std::uint32_t host) { return PingTest(htonl(host)); };
  if (!hooks_.firstAdapter)
    hooks_.firstAdapter = [](std::uint32_t& a, std::uint32_t& m, std::uint32_t& g) {
      std::uint32_t na = 0, nm = 0, ng = 0;
      if (GetFirstAdapterAddress(na, nm, ng) == 0) return false;
      a = ntohl(na), m = ntohl(nm), g = ntohl(ng);
      return true;
    };
  if (!hooks_.runIpDialog)
    hooks_.runIpDialog = [this](dialogs::IpSettingValues& values, bool range, int count, bool full) {
      dialogs::CDialogIpSetting d(hooks_.window);
      d.SetRangeMode(range);
      d.SetDeviceCount(count);
      d.SetRequireFullRange(full);
      d.values = values;
      d.exec();
      if (d.cancelled) return false;
      values = d.values;
      return true;
    };
  if (!hooks_.runDefaultUserDialog)
    hooks_.runDefaultUserDialog = [this](dialogs::DefaultUserValues& values) {
      dialogs::CDialogDefaultUser d(hooks_.window);
      d.values = values;
      d.exec();
      if (d.cancelled) return false;
      values = d.values;
      return true;
    };
}

DeviceListActions::~DeviceListActions() {
  if (cancel_) cancel_->store(true);
  if (worker_.joinable()) worker_.join();
  if (importer_.joinable()) importer_.join();
}

std::string DeviceListActions::Text(const char* key) const {
  std::string text = LangText(key);
  if (!text.empty()) return text;
  // The import's outcome has a built-in text for language files that lack it.
  static constexpr std::pair<std::string_view, const char*> kBuiltIn[] = {{"IMPORT_OK", "导入成功"},
                                                                         {"IMPORT_FAILED", "导入失败"}};
  for (const auto& [k, t] : kBuiltIn)
    if (k == key) return t;
  return text;
}

void DeviceListActions::Message(const char* key, const QString& caption, int icon, const QString& detail) {
  QString text = Q(Text(key));
  if (!detail.isEmpty()) text += QStringLiteral("\r\n") + detail;
  hooks_.prompts->MessageBox(hooks_.window, text, caption, static_cast<PromptIcon>(icon), PromptButtons::kOk);
}

bool DeviceListActions::AskYesNo(const char* key, const QString& detail) {
  QString text = Q(Text(key));
  if (!detail.isEmpty()) text += QStringLiteral("\r\n") + detail;
  return hooks_.prompts->MessageBox(hooks_.window, text, Q(Text("TEXT21")), PromptIcon::kQuestion,
                                    PromptButtons::kYesNo) == ui::kAnswerYes;
}

int DeviceListActions::SelectedIndex() const {
  controls::CReportCtrl* l = list_.List();
  return l ? l->GetFirstSelectedItem() : -1;
}

DeviceListRow* DeviceListActions::SelectedRow() const {
  const int i = SelectedIndex();
  return i >= 0 ? static_cast<DeviceListRow*>(list_.List()->GetItemData(i)) : nullptr;
}

std::vector<DeviceListRow*> DeviceListActions::CheckedRows() const {
  std::vector<DeviceListRow*> rows;
  controls::CReportCtrl* l = list_.List();
  if (!l) return rows;
  for (int i = 0; i < l->GetItemCount(); ++i)
    if (l->GetCheck(i))
      if (auto* r = static_cast<DeviceListRow*>(l->GetItemData(i))) rows.push_back(r);
  return rows;
}

int DeviceListActions::GetCheckedCount() const {
  controls::CReportCtrl* l = list_.List();
  return l ? l->CountItems(controls::kStateChecked) : 0;
}

int DeviceListActions::CheckSelection() {
  const int n = GetCheckedCount();
  if (n == 0) Message("MSGTIP13", QStringLiteral("ERROR"), static_cast<int>(PromptIcon::kError));
  return n;
}

bool DeviceListActions::Auth(OperatorAuth& auth) { return list_.GetOperatorAuth(auth.userName, auth.password) == 1; }

// --- context menu -----------------------------------------------------------

std::optional<std::vector<MenuEntry>> DeviceListActions::MenuForSelection() const {
  ContextMenuInputs in;
  in.style = hooks_.style;
  in.customXmlRoot = hooks_.customXmlRoot;
  in.uiLanguage = hooks_.uiLanguage;
  in.showP2pService = hooks_.showP2pService;
  const int index = SelectedIndex();
  const DeviceListRow* row = SelectedRow();
  in.rowSelected = index >= 0;
  in.rowHasRecord = row != nullptr;
  in.rowOnline = row && row->m_online;
  in.abilityText = row ? row->m_abilityText : std::string();
  in.gridPanes = hooks_.gridPanes ? hooks_.gridPanes() : 1;
  in.autoTraceOn = hooks_.autoTraceOn && hooks_.autoTraceOn();
  return BuildContextMenu(in, [](const char* key) { return LangText(key); });
}

namespace {

void AddEntries(QMenu* menu, const std::vector<MenuEntry>& entries, const std::function<void(int)>& run) {
  for (const auto& e : entries) {
    switch (e.kind) {
      case MenuEntry::Kind::kSeparator: menu->addSeparator(); break;
      case MenuEntry::Kind::kPopup: {
        QMenu* sub = menu->addMenu(QString::fromStdString(e.text));
        sub->setEnabled(e.enabled);
        AddEntries(sub, e.children, run);
        break;
      }
      case MenuEntry::Kind::kCommand: {
        QAction* a = menu->addAction(QString::fromStdString(e.text));
        a->setData(e.id);
        a->setEnabled(e.enabled);
        if (e.checked) {
          a->setCheckable(true);
          a->setChecked(true);
        }
        const int id = e.id;
        QObject::connect(a, &QAction::triggered, menu, [run, id] { run(id); });
        break;
      }
    }
  }
}

}  // namespace

void DeviceListActions::OnListRightClick(const QPoint& globalPos) {
  const auto entries = MenuForSelection();
  if (!entries) return;
  QMenu menu(hooks_.window);
  menu.setObjectName(QStringLiteral("DeviceListContextMenu"));
  int chosen = 0;
  AddEntries(&menu, *entries, [&chosen](int id) { chosen = id; });
  menu.exec(globalPos);
  if (chosen != 0) OnCommand(chosen);
}

void DeviceListActions::OnCommand(int id) {
  using namespace menu_id;
  switch (id) {
    case kOpenWeb: OnOpenWeb(); return;
    case kLoginToggle: OnLoginToggle(); return;
    case kChangeIp: OnChangeIp(); return;
    case kFreeIp: OnSetStaticIp(); return;
    case kRestore: OnRestoreDefault(); return;
    case kRestoreKeepNetwork:
    case kRestoreFull: OnFactoryRestore(id); return;
    case kSetDhcp: OnSetDhcp(); return;
    case kSetIpFree: OnSetIpFree(); return;
    case kSetIpConsecutive: OnSetIpConsecutive(); return;
    case kImportXml: OnImportXml(); return;
    case kImportExcel: OnImportExcel(); return;
    case kExportXml: OnExportXml(); return;
    case kExportExcel: OnExportExcel(); return;
    case kBatchAdd: FillBatchDebugRows(); return;
    case kCopyXml: CopySearchReply(); return;
    case kDefaultUser: OnLoginSettings(); return;
    case kCopySerial:
    case kCopyUuid:
    case kCopyP2pId:
    case kCopyMac:
    case kCopyAll:
    case kCopyAbility: CopyDeviceFields(id); return;
    default: break;
  }
  if (hooks_.otherCommand && hooks_.otherCommand(id, SelectedIndex())) return;
  if (id == kReboot) {
    // Until the device commands take it: reboot the selected device by broadcast.
    DeviceListRow* row = SelectedRow();
    OperatorAuth auth;
    if (!row || !Auth(auth)) return;
    const int rc = list_.RebootDevByBD(row->m_key, auth.userName, auth.password);
    if (rc != 0) Log("RebootDevByBD %s failed. error = %ld", row->m_key.c_str(), static_cast<long>(rc));
    return;
  }
  Log("menu command %d: no handler\n", id);
  Message("MENU_NOT_AVAILABLE", QString(), static_cast<int>(PromptIcon::kInformation));
}

// --- mouse feedback -------------------------------------------------------------

void DeviceListActions::OnListHotTrack(int hot, int column) {
  controls::CReportCtrl* l = list_.List();
  if (!l) return;
  constexpr std::uint32_t kHot = 0x00FFBF00;    // RGB(0, 191, 255) as 0x00BBGGRR
  constexpr std::uint32_t kWhite = 0x00FFFFFF;
  for (int i = 0; i < l->GetItemCount(); ++i) {
    auto* row = static_cast<DeviceListRow*>(l->GetItemData(i));
    if (!row) continue;
    const std::uint32_t wanted = i == hot ? kHot : kWhite;
    if (row->m_rowColour == wanted) continue;
    row->m_rowColour = wanted;
    l->SetCellBkColor(i, -1, static_cast<controls::ColorRef>(wanted), true);
  }
  const int previewColumn = list_.Columns().GetColumnIndex(kColPreview);
  const auto* row = hot >= 0 ? static_cast<DeviceListRow*>(l->GetItemData(hot)) : nullptr;
  if (row && previewColumn >= 0 && column == previewColumn) {
    if (hooks_.showPreviewPopup) {
      const QRect cell = l->visualRect(l->model()->index(hot, previewColumn));
      const QPoint at = l->viewport()->mapToGlobal(QPoint(cell.left() + 2, cell.top()));
      hooks_.showPreviewPopup(row->m_online ? 1 : 0, at, Q(row->m_searchInfo.serialNumber));
    }
  } else if (hooks_.hidePreviewPopup) {
    hooks_.hidePreviewPopup();
  }
}

void DeviceListActions::MarkPaneDeviceRows(std::optional<int> loginHandle) {
  controls::CReportCtrl* l = list_.List();
  if (!l) return;
  constexpr std::uint32_t kPane = 0x00FFF500;   // RGB(0, 245, 255) as 0x00BBGGRR
  constexpr std::uint32_t kWhite = 0x00FFFFFF;
  for (int i = 0; i < l->GetItemCount(); ++i) {
    auto* row = static_cast<DeviceListRow*>(l->GetItemData(i));
    if (!row) continue;
    // Handle 0 is no login: rows not logged in are not the pane's device.
    const bool ofPane = loginHandle && *loginHandle > 0 && row->m_loginHandle == *loginHandle;
    const std::uint32_t wanted = ofPane ? kPane : kWhite;
    if (row->m_rowColour == wanted) continue;
    row->m_rowColour = wanted;
    l->SetCellBkColor(i, -1, static_cast<controls::ColorRef>(wanted), true);
  }
}

void DeviceListActions::OnListDblClick() {
  const DeviceListRow* row = SelectedRow();
  if (row && row->m_online && hooks_.openDevicePreview) hooks_.openDevicePreview(SelectedIndex());
}

// --- network settings without login ----------------------------------------

int DeviceListActions::SendRowRecord(DeviceListRow& row, const OperatorAuth& auth) {
  const int rc = list_.Network().SetLanConfigBySerial(row.m_key, row.m_searchInfo, auth);
  if (rc != 0) {
    Log("set IPC %s failed. error = %ld", row.m_key.c_str(), static_cast<long>(rc));
    return rc;
  }
  list_.Rows().SetCellTextIfChanged(row, kColIp, row.m_searchInfo.lanConfig.ipAddress);
  if (device::DeviceSdk* sdk = list_.Sdk()) {
    const OperatorAuth login = list_.DeviceLogin();
    device::ReloginRow(list_.Rows(), row, *sdk, device::LoginDefaults{login.userName, login.password});
  }
  return 0;
}

void DeviceListActions::OnChangeIp() {
  DeviceListRow* row = SelectedRow();
  OperatorAuth auth;
  if (list_.Columns().GetColumnIndex(kColIp) < 0 || !row || !Auth(auth)) return;
  const LANConfigInfo shown = PrepareChangeIpValues(row->m_searchInfo.lanConfig);
  dialogs::IpSettingValues v{shown.dhcp, shown.ipAddress, shown.netmask, shown.gateway, shown.dns1, shown.dns2, ""};
  if (!hooks_.runIpDialog(v, false, 1, false)) return;
  // The row may have gone while the dialog was open.
  row = list_.Rows().FindByKey(row->m_key) == row ? row : nullptr;
  if (!row) return;
  LANConfigInfo& lan = row->m_searchInfo.lanConfig;
  lan.dhcp = static_cast<std::uint8_t>(v.dhcp ? 1 : 0);
  lan.ipAddress = v.startAddress;
  lan.gateway = v.gateway;
  lan.netmask = v.netmask;
  lan.dns1 = v.dns1;
  lan.dns2 = v.dns2;
  SendRowRecord(*row, auth);
}

int DeviceListActions::RestoreDeviceBySerial(DeviceListRow& row, int keepNetwork, const OperatorAuth& auth) {
  if (!hooks_.operationPasswordShown && row.m_online && row.m_loginSerial == row.m_searchInfo.serialNumber &&
      hooks_.restoreConfig)
    hooks_.restoreConfig(row.m_loginHandle);
  return list_.Network().RestoreDeviceBySerial(row.m_key, keepNetwork, auth);
}

void DeviceListActions::OnRestoreDefault() {
  DeviceListRow* row = SelectedRow();
  OperatorAuth auth;
  if (!row || !Auth(auth) || !AskYesNo("IDS_STR_ZH_CN_MSG_TIPS122")) return;
  row = list_.Rows().FindByKey(row->m_key);
  if (!row) return;
  const int rc = RestoreDeviceBySerial(*row, 0, auth);
  if (rc != 0) Log("restore IPC %s failed. error = %ld", row->m_key.c_str(), static_cast<long>(rc));
}

void DeviceListActions::OnFactoryRestore(int menuId) {
  const int keep = menuId == menu_id::kRestoreKeepNetwork ? 1 : 0;
  OperatorAuth auth;
  if (!Auth(auth) || !AskYesNo("MSGTIP11")) return;
  int successes = 0;
  for (int pass = 0; pass < 4; ++pass) {
    successes = 0;
    for (DeviceListRow* row : CheckedRows()) {
      const int rc = RestoreDeviceBySerial(*row, keep, auth);
      if (rc == 0) {
        ++successes;
      } else {
        Log("restore IPC %s failed. error = %ld", row->m_key.c_str(), static_cast<long>(rc));
      }
    }
    if (successes == 0) break;
    // A pause between the passes without blocking the window's events.
    if (pass < 3) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
      while (std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
    }
  }
  if (successes == 0) Message("MSGTIP14", QStringLiteral("ERROR"), static_cast<int>(PromptIcon::kError));
}

void DeviceListActions::OnSetStaticIp() {
  DeviceListRow* row = SelectedRow();
  OperatorAuth auth;
  if (!row || list_.Columns().GetColumnIndex(kColIp) < 0 || !Auth(auth)) return;
  AssignFreeAddresses({row->m_key}, auth);
}

void DeviceListActions::SetRowDhcp(DeviceListRow& row, const OperatorAuth& auth) {
  ApplyDhcpDefaults(row.m_searchInfo.lanConfig);
  const int rc = list_.Network().SetLanConfigBySerial(row.m_key, row.m_searchInfo, auth);
  if (rc != 0) Log("set IPC %s failed. error = %ld", row.m_key.c_str(), static_cast<long>(rc));
}

void DeviceListActions::OnSetDhcp() {
  OperatorAuth auth;
  if (!Auth(auth)) return;
  const auto rows = CheckedRows();
  if (rows.empty()) {
    Message("MSGTIP15", QStringLiteral("ERROR"), static_cast<int>(PromptIcon::kError));
    return;
  }
  for (DeviceListRow* row : rows) SetRowDhcp(*row, auth);
}

void DeviceListActions::OnSetIpFree() {
  OperatorAuth auth;
  if (!Auth(auth) || !AskYesNo("MSGTIP12")) return;
  const auto rows = CheckedRows();
  if (rows.empty()) {
    Message("MSGTIP15", QStringLiteral("ERROR"), static_cast<int>(PromptIcon::kError));
    return;
  }
  if (list_.Columns().GetColumnIndex(kColIp) < 0) return;
  std::vector<std::string> keys;
  for (DeviceListRow* r : rows) keys.push_back(r->m_key);
  AssignFreeAddresses(std::move(keys), auth);
}

void DeviceListActions::AssignFreeAddresses(std::vector<std::string> keys, OperatorAuth auth) {
  if (probing_ || keys.empty()) return;
  // Candidates are gathered here, under the map's lock; the probes run on a
  // worker without it, up to 32 at a time.
  const std::vector<std::uint32_t> candidates = list_.Network().FreeIpCandidates();
  probing_ = true;
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  progress_ = new QProgressDialog(Q(Text("PROBING_ADDRESSES")), Q(Text("CANCEL")), 0,
                                  static_cast<int>(candidates.size()), hooks_.window);
  progress_->setMinimumDuration(kProgressDelay_ms);
  progress_->setWindowModality(Qt::WindowModal);
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  connect(progress_, &QProgressDialog::canceled, this, [cancel = cancel_] { cancel->store(true); });
  QPointer<DeviceListActions> self(this);
  const std::size_t wanted = keys.size();
  worker_ = std::thread([self, candidates, wanted, cancel = cancel_, probe = hooks_.probe, keys, auth] {
    auto progress = [self](std::size_t done) {
      QMetaObject::invokeMethod(QCoreApplication::instance(), [self, done] {
        if (self && self->progress_) self->progress_->setValue(static_cast<int>(done));
      }, Qt::QueuedConnection);
    };
    std::vector<std::uint32_t> unchecked;
    const auto found = ProbeFreeAddresses(candidates, wanted, probe, 32, cancel.get(), progress, &unchecked);
    QMetaObject::invokeMethod(QCoreApplication::instance(), [self, keys, auth, found, unchecked, cancel] {
      if (!self) return;
      if (self->worker_.joinable()) self->worker_.join();
      self->probing_ = false;
      if (self->progress_) {
        // Hidden now: a message box below runs its own loop, in which the
        // deferred delete would not happen.
        self->progress_->hide();
        self->progress_->deleteLater();
        self->progress_ = nullptr;
      }
      if (!cancel->load()) self->FinishFreeAddresses(keys, auth, found, unchecked);
    }, Qt::QueuedConnection);
  });
}

void DeviceListActions::FinishFreeAddresses(const std::vector<std::string>& keys, const OperatorAuth& auth,
                                            const std::vector<std::uint32_t>& found,
                                            const std::vector<std::uint32_t>& unchecked) {
  std::size_t next = 0;
  bool ranOut = false;
  const std::string mask = list_.Network().GetNetworkParam(1), gateway = list_.Network().GetNetworkParam(2),
                    dns1 = list_.Network().GetNetworkParam(3), dns2 = list_.Network().GetNetworkParam(4);
  for (const std::string& key : keys) {
    DeviceListRow* row = list_.Rows().FindByKey(key);
    if (!row) continue;
    if (next >= found.size()) {
      ranOut = true;
      break;
    }
    LANConfigInfo& lan = row->m_searchInfo.lanConfig;
    lan.dhcp = 0;
    lan.ipAddress = FormatIpv4Host(found[next]);
    lan.netmask = mask;
    lan.gateway = gateway;
    lan.dns1 = dns1;
    lan.dns2 = dns2;
    Log("got one ip: %s\n", lan.ipAddress.c_str());
    if (std::find(unchecked.begin(), unchecked.end(), found[next]) != unchecked.end())
      Log("%s could not be checked: no address probe could run\n", lan.ipAddress.c_str());
    if (SendRowRecord(*row, auth) == 0) ++next;
  }
  if (ranOut) Message("NO_FREE_IP", QStringLiteral("ERROR"), static_cast<int>(PromptIcon::kError));
}

void DeviceListActions::OnSetIpConsecutive() {
  OperatorAuth auth;
  if (!Auth(auth)) return;
  std::uint32_t address = 0, mask = 0, gateway = 0;
  if (!hooks_.firstAdapter(address, mask, gateway) || address == 0 || address == 0xFFFFFFFFu) {
    Message("PLEASE_SET_NETARD_IPV4", QStringLiteral("ERROR"), static_cast<int>(PromptIcon::kError));
    return;
  }
  const std::uint32_t network = address & mask;
  const int count = CheckSelection();
  if (count == 0) return;
  std::uint32_t start = network + 160;
  if (hooks_.settings && hooks_.settings->default_from_ip != "0.0.0.0")
    if (const auto a = ParseIpv4Host(hooks_.settings->default_from_ip)) start = *a;
  NetworkSettings& net = list_.Network();
  const RangeDefaults d = SuggestRangeDefaults(start, network, net.GetNetworkParam(1), net.GetNetworkParam(2),
                                               net.GetNetworkParam(3), net.GetNetworkParam(4));
  dialogs::IpSettingValues v{0, d.start, d.mask, d.gateway, d.dns1, d.dns2, ""};
  if (!hooks_.runIpDialog(v, true, count, true)) return;
  if (hooks_.settings) {
    hooks_.settings->default_from_ip = v.startAddress;
    hooks_.settings->Save();
  }
  if (list_.Columns().GetColumnIndex(kColIp) < 0) return;
  const auto rows = CheckedRows();
  const auto first = ParseIpv4Host(v.startAddress);
  const auto rangeMask = ParseIpv4Host(v.netmask);
  const auto addresses = first && rangeMask
                             ? ConsecutiveAddresses(*first, ParseIpv4Host(v.endAddress).value_or(0), *rangeMask, rows.size())
                             : std::nullopt;
  if (!addresses) {
    // Said before anything is sent: the range must hold every checked device.
    Message("IP_RANGE_TOO_SHORT", QStringLiteral("ERROR"), static_cast<int>(PromptIcon::kError));
    return;
  }
  std::size_t next = 0;
  for (DeviceListRow* row : rows) {
    LANConfigInfo& lan = row->m_searchInfo.lanConfig;
    lan.dhcp = static_cast<std::uint8_t>(v.dhcp ? 1 : 0);
    lan.ipAddress = FormatIpv4Host((*addresses)[next]);
    lan.gateway = v.gateway;
    lan.netmask = v.netmask;
    lan.dns1 = v.dns1;
    lan.dns2 = v.dns2;
    // A device that could not be sent to does not use its address up.
    if (SendRowRecord(*row, auth) == 0) ++next;
  }
}

// --- row actions ------------------------------------------------------------

void DeviceListActions::OnOpenWeb() {
  const DeviceListRow* row = SelectedRow();
  if (!row) return;
  const std::string url = WebPageUrl(row->m_searchInfo.lanConfig.ipAddress, row->m_searchInfo.streamAccess.webPort);
  if (url.empty()) {
    Log("OnOpenWeb(): no valid address and port for %s\n", row->m_key.c_str());
    return;
  }
  // With no browser nothing would happen: the box names the address.
  ui::OpenOrTell(QUrl(Q(url)), hooks_.prompts, hooks_.window,
                 [this](const QUrl& u) { return hooks_.openUrl(u.toString()); });
}

void DeviceListActions::OnLoginToggle() {
  if (DeviceListRow* row = SelectedRow()) list_.LoginRowByHand(*row);
}

void DeviceListActions::OnLoginSettings() {
  if (!hooks_.settings) return;
  dialogs::DefaultUserValues v{hooks_.settings->default_user, hooks_.settings->default_password};
  if (!hooks_.runDefaultUserDialog(v) || v.userName.empty()) return;
  hooks_.settings->default_user = v.userName;
  hooks_.settings->default_password = v.password;
  hooks_.settings->Save();
  if (hooks_.defaultLoginChanged) hooks_.defaultLoginChanged();
}

void DeviceListActions::CopyDeviceFields(int id) {
  const DeviceListRow* row = SelectedRow();
  if (!row) return;
  hooks_.setClipboard(CopyFieldText(*row, id));
}

void DeviceListActions::OnSelectAll(bool checked) {
  // One change of all rows, as the check-all box makes it: what follows the
  // checks (the device logs) is brought in line once, not row by row.
  list_.SetAllChecked(checked);
}

int DeviceListActions::GetSelectedLoginHandle() {
  if (GetCheckedCount() != 1) {
    Message("STRING_ONLY_SUPPORT_ONE_CAMERA", QStringLiteral("ERROR"), static_cast<int>(PromptIcon::kError));
    return -1;
  }
  const auto rows = CheckedRows();
  return rows.empty() ? 0 : rows.front()->m_loginHandle;
}

std::string DeviceListActions::GetSelectedSerial() {
  if (GetCheckedCount() != 1) {
    Message("STRING_ONLY_SUPPORT_ONE_CAMERA", QStringLiteral("ERROR"), static_cast<int>(PromptIcon::kError));
    return {};
  }
  const auto rows = CheckedRows();
  return rows.empty() ? std::string() : rows.front()->m_searchInfo.serialNumber;
}

// --- files and the clipboard -----------------------------------------------

QString DeviceListActions::StartFolder() const {
  // The last file's folder, else the documents folder.
  const std::string last = hooks_.settings ? hooks_.settings->import_file : std::string();
  return Q(GetStartFolderForFile(last, paths::DocumentsDir()).string());
}

std::vector<ExportedDevice> DeviceListActions::CheckedForExport(std::vector<DeviceSearchInfo>&) const {
  std::vector<ExportedDevice> out;
  for (const DeviceListRow* row : CheckedRows()) out.push_back({&row->m_searchInfo, row->m_loginVersion});
  return out;
}

void DeviceListActions::OnExportExcel() {
  if (CheckSelection() < 1) return;
  const QString start = StartFolder();
  QString path = hooks_.prompts->SaveFileName(hooks_.window, QString(),
                                              (start.isEmpty() ? QString() : start + "/") + "IPC EXPORT.xls",
                                              QStringLiteral("File(*.xls);;All Files(*)"));
  if (path.isEmpty()) return;
  const std::filesystem::path file = path.toStdString();
  std::vector<DeviceSearchInfo> storage;
  XlsSheet sheet = BuildDeviceSheet(CheckedForExport(storage));
  if (!std::filesystem::exists(file)) {
    FinishExportExcel(file, sheet, nullptr);
    return;
  }
  // Other sheets of an existing workbook would be lost: they are read on a
  // worker first (the reader may take up to its time-out on a hostile file).
  StartFileWork([file, sheet = std::move(sheet)]() mutable -> FileWorkDone {
    XlsReadResult names = ReadXlsFile(file, "", kXlsMaxRows);
    return [file, sheet = std::move(sheet), names = std::move(names)](DeviceListActions& self) {
      self.FinishExportExcel(file, sheet, &names);
    };
  });
}

void DeviceListActions::FinishExportExcel(const std::filesystem::path& file, const XlsSheet& sheet,
                                          const XlsReadResult* existing) {
  if (existing) {
    bool others = false;
    for (const auto& n : existing->sheetNames) others = others || n != kExportSheetName;
    if (others && !AskYesNo("EXPORT_KEEP_SHEETS")) return;
    // A workbook the reader could not look into may hold other sheets too.
    if (existing->readerFailed && !AskYesNo("EXPORT_SHEETS_UNREAD", Q(existing->error))) return;
  }
  std::string error;
  if (!WriteXlsFile(file, {sheet}, &error)) {
    Message("EXPORT_FAILED", QString(), static_cast<int>(PromptIcon::kError), Q(error));
    return;
  }
  Message("EXPORT_OK", QString(), static_cast<int>(PromptIcon::kInformation));
}

void DeviceListActions::ReplaceList(const std::vector<DeviceSearchInfo>& devices) {
  if (hooks_.closeAllPreviews) hooks_.closeAllPreviews();
  if (device::DeviceSdk* sdk = list_.Sdk()) sdk->LogoutAll();
  if (hooks_.stopSearchForImport) hooks_.stopSearchForImport();
  list_.ClearDeviceMapAndList();
  const std::uint32_t now = TickCount_ms();
  list_.DeviceLogin();  // the map's default login for records without an account
  for (const auto& d : devices) list_.Map().AddOrUpdateDevice(d, "0.0.0.0", now);
  list_.RefreshDeviceListAsImport();
}

void DeviceListActions::OnImportExcel() {
  const QString last = hooks_.settings ? Q(hooks_.settings->import_file) : QString();
  const QString path = hooks_.prompts->OpenFileName(hooks_.window, QString(), last.isEmpty() ? StartFolder() : last,
                                                    QStringLiteral("File(*.xls);;All Files(*)"));
  if (path.isEmpty()) return;
  if (hooks_.settings) {
    hooks_.settings->import_file = path.toStdString();
    hooks_.settings->Save();
  }
  // The whole file is read and checked on a worker before anything
  // changes: the reader may take up to its time-out on a hostile file.
  StartFileWork([file = std::filesystem::path(path.toStdString())]() -> FileWorkDone {
    ImportResult result = ImportDeviceSheet(file);
    return [result = std::move(result)](DeviceListActions& self) { self.FinishImport(result, true); };
  });
}

void DeviceListActions::FinishImport(const ImportResult& result, bool sayDone) {
  if (result.error) {
    Message("IMPORT_FAILED", QString(), static_cast<int>(PromptIcon::kError), Q(result.error->Text()));
    return;
  }
  ReplaceList(result.devices);
  if (sayDone) Message("IMPORT_OK", QString(), static_cast<int>(PromptIcon::kInformation));
}

bool DeviceListActions::StartFileWork(std::function<FileWorkDone()> work) {
  if (importing_) return false;
  importing_ = true;
  QPointer<DeviceListActions> self(this);
  importer_ = std::thread([self, work = std::move(work)] {
    FileWorkDone done = work();
    QMetaObject::invokeMethod(QCoreApplication::instance(), [self, done = std::move(done)] {
      if (!self) return;
      if (self->importer_.joinable()) self->importer_.join();
      self->importing_ = false;
      done(*self);
    }, Qt::QueuedConnection);
  });
  return true;
}

void DeviceListActions::OnExportXml() {
  if (CheckSelection() < 1) return;
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  const std::string name = ProposedXmlExportName(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  const QString start = StartFolder();
  const QString path = hooks_.prompts->SaveFileName(hooks_.window, QString(),
                                                    (start.isEmpty() ? QString() : start + "/") + Q(name),
                                                    QStringLiteral("File(*.xml);;All Files(*)"));
  if (path.isEmpty()) return;
  std::vector<DeviceSearchInfo> storage;
  std::string error;
  if (!WriteFileAtomically(path.toStdString(), BuildDeviceListXml(CheckedForExport(storage)), &error)) {
    Message("EXPORT_FAILED", QString(), static_cast<int>(PromptIcon::kError), Q(error));
    return;
  }
  Message("EXPORT_OK", QString(), static_cast<int>(PromptIcon::kInformation));
}

void DeviceListActions::OnImportXml() {
  const QString last = hooks_.settings ? Q(hooks_.settings->import_file) : QString();
  const QString path = hooks_.prompts->OpenFileName(hooks_.window, QString(), last.isEmpty() ? StartFolder() : last,
                                                    QStringLiteral("File(*.xml);;All Files(*)"));
  if (path.isEmpty()) return;
  if (hooks_.settings) {
    hooks_.settings->import_file = path.toStdString();
    hooks_.settings->Save();
  }
  // Reading and checking a file of up to 8 MB runs on a worker; the list
  // changes only when its result comes back.
  StartFileWork([file = std::filesystem::path(path.toStdString())]() -> FileWorkDone {
    ImportResult result = ImportDeviceListXml(file);
    return [result = std::move(result)](DeviceListActions& self) { self.FinishImport(result, false); };
  });
}

void DeviceListActions::CopySearchReply() {
  const DeviceListRow* row = SelectedRow();
  if (!row) return;
  hooks_.setClipboard(SearchReplyText(*row));
}

void DeviceListActions::FillBatchDebugRows() {
  std::uint32_t address = 0, mask = 0, gateway = 0;
  if (!hooks_.firstAdapter(address, mask, gateway) || address == 0 || address == 0xFFFFFFFFu) {
    Message("PLEASE_SET_NETARD_IPV4", QStringLiteral("ERROR"), static_cast<int>(PromptIcon::kError));
    return;
  }
  const std::uint32_t network = address & mask;
  NetworkSettings& net = list_.Network();
  const RangeDefaults d = SuggestRangeDefaults(network + 2, network, net.GetNetworkParam(1), net.GetNetworkParam(2),
                                               net.GetNetworkParam(3), net.GetNetworkParam(4));
  dialogs::IpSettingValues v{0, d.start, d.mask, d.gateway, d.dns1, d.dns2, ""};
  if (!hooks_.runIpDialog(v, true, 253, false)) return;
  const auto first = ParseIpv4Host(v.startAddress), last = ParseIpv4Host(v.endAddress);
  list_.ClearDeviceMapAndList();
  if (!first || !last) return;
  const std::uint32_t now = TickCount_ms();
  for (const auto& dev : BatchDebugDevices(*first, *last, v.netmask, v.gateway, v.dns1, v.dns2))
    list_.Map().AddOrUpdateDevice(dev, "0.0.0.0", now);
  list_.RefreshDeviceListAsImport();
}

}  // namespace kelvara::discovery
