#include "firmware/recovery/ui/boot_server_dlg.h"

#include <arpa/inet.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

#include "common/folder_functions.h"
#include "common/language_table.h"
#include "common/local_network.h"
#include "common/ping_test.h"
#include "common/save_param.h"
#include "controls/core/report_table.h"
#include "controls/ui/report_ctrl.h"
#include "controls/ui/report_model.h"

namespace kelvara::firmware {
namespace {

constexpr int kHelperCannotBind = 3;  // zqfileserver's exit status when its port is refused
const char* const kHelperName = "zqfileserver";

QString Dotted(std::uint32_t network_order) {
  in_addr a{network_order};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return QString::fromLatin1(text);
}

}  // namespace

CBootServerDlg::CBootServerDlg(BootServerHost* host, CSaveParam* settings, BootServerOptions options, QWidget* parent)
    : ::kelvara::ui::CXDlg(1623, parent), host_(host), settings_(settings), options_(std::move(options)) {
  RecoveryHooks hooks;
  hooks.language = [](std::string_view key) { return LanguageTable::Instance().GetLanguageString(key); };
  hooks.log = [this](const std::string& line) { PostLogTextA(line); };
  hooks.device_update = [this](const BootDeviceInfo& device) { PostDeviceUpdate(device); };
  hooks.probe = options_.probe ? options_.probe : [](std::uint32_t address) { return PingTest(address); };
  server_ = std::make_unique<RecoveryServer>(std::move(hooks));
  listener_ = std::make_unique<RecoveryListener>(*server_, options_.listener,
                                                 [this](const std::string& line) { PostLogTextA(line); });
  BuildControls();
}

CBootServerDlg::~CBootServerDlg() {
  // The listener's threads post to this window: they end before it goes.
  listener_->Stop();
  EndHelper();
}

void CBootServerDlg::BuildControls() {
  auto* top = new QVBoxLayout(this);
  auto* row1 = new QHBoxLayout;
  auto* netcard_label = new QLabel(this);
  auto* netcard = new QComboBox(this);
  netcard->setMinimumWidth(160);
  auto* folder = new QLineEdit(this);
  auto* choose = new QPushButton(this);
  auto* open = new QPushButton(this);
  row1->addWidget(netcard_label);
  row1->addWidget(netcard);
  row1->addWidget(folder, 1);
  row1->addWidget(choose);
  row1->addWidget(open);
  top->addLayout(row1);

  auto* row2 = new QHBoxLayout;
  auto* start = new QPushButton(this);
  auto* stop = new QPushButton(this);
  auto* clear = new QPushButton(this);
  auto* history = new QPushButton(this);
  auto* restore = new QCheckBox(this);
  row2->addWidget(start);
  row2->addWidget(stop);
  row2->addWidget(clear);
  row2->addWidget(history);
  row2->addWidget(restore, 1);
  top->addLayout(row2);

  list_ = new controls::CReportCtrl(this);
  log_ = new QPlainTextEdit(this);
  log_->setReadOnly(true);
  log_->setMaximumBlockCount(options_.max_log_lines);  // old lines go: a long run stays small
  top->addWidget(list_, 3);
  top->addWidget(log_, 2);

  const std::pair<int, QWidget*> controls[] = {
      {kDeviceList, list_}, {kLog, log_},       {kStart, start},     {kStop, stop},
      {kFolder, folder},    {kChooseFolder, choose}, {kOpenFolder, open}, {kNetcard, netcard},
      {kNetcardLabel, netcard_label}, {kClearList, clear}, {kRestoreFactory, restore}, {kClearHistory, history}};
  for (const auto& [id, widget] : controls) RegisterControl(id, widget);

  connect(start, &QPushButton::clicked, this, &CBootServerDlg::OnStartButton);
  connect(stop, &QPushButton::clicked, this, &CBootServerDlg::OnStopButton);
  connect(choose, &QPushButton::clicked, this, &CBootServerDlg::OnChooseFirmwareFolder);
  connect(open, &QPushButton::clicked, this, &CBootServerDlg::OnOpenFirmwareFolder);
  connect(clear, &QPushButton::clicked, this, &CBootServerDlg::OnClearList);
  connect(history, &QPushButton::clicked, this, &CBootServerDlg::OnClearHistory);
  connect(restore, &QCheckBox::clicked, this, &CBootServerDlg::OnRestoreFactoryCheck);
  connect(netcard, &QComboBox::currentIndexChanged, this, &CBootServerDlg::OnNetcardChanged);
  resize(900, 600);
}

void CBootServerDlg::OnInitDialog() {
  if (settings_ != nullptr && settings_->upgrade_folder.empty()) {
    settings_->upgrade_folder = GetCommonDocumentsFolder().string();
    settings_->Save();
  }
  setWindowTitle(LangText("ID_AUTO_UPGRADE"));
  const std::pair<int, const char*> captions[] = {
      {kStart, "IDC_BUTTON_START"},      {kStop, "IDC_BUTTON_STOP"},     {kChooseFolder, "IDC_BUTTON_SELECT_PATH"},
      {kOpenFolder, "IDC_BUTTON_PATH_OPEN"}, {kNetcardLabel, "NETCARD"}, {kClearList, "IDS_CLEAR_LIST"},
      {kRestoreFactory, "IDS_STR_ZH_CN_SYS_CONFIGMANAGE_TIPS8"}, {kClearHistory, "IDS_CLEAR_HISTORY"}};
  for (const auto& [id, key] : captions) SetItemLangText(id, key);
  SetItemText(kFolder, QString::fromStdString(settings_ != nullptr ? settings_->upgrade_folder : std::string()));
  FillNetcards();
  SetCheck(kRestoreFactory, 1);
  server_->SetRestoreEnabled(true);
  UpdateServiceButtons();
  auto* netcard = ControlAs<QComboBox>(kNetcard);
  if (netcard->currentText() != QLatin1String("192.168.1.253")) AppendLog(LangText("ID_TIPS_UBOOT_SERVERIP"));
  for (const char* key : {"ID_CLOSE_FIREWALL", "ID_TIPS_BOOT_UPGRADE", "ID_TIPS_UBOOT_CAMERA_RULES",
                          "ID_TIPS_UBOOT_TFTPD", "ID_TIPS_UBOOT_AUTOFACTORY"})
    AppendLog(LangText(key));
  // Language texts may hold ',' or ';': the structured setter, not the spec text.
  list_->SetColumns({{QStringLiteral("Index"), 40},
                     {QStringLiteral("UUID"), 120},
                     {LangText("IP"), 120},
                     {LangText("ID_FIRMWARE_FILENAME"), 300},
                     {LangText("ID_STEP"), 150}});
  list_->SetGridLines(true);
  ApplyNetcard();
}

void CBootServerDlg::FillNetcards() {
  auto* netcard = ControlAs<QComboBox>(kNetcard);
  QSignalBlocker block(netcard);
  netcard->clear();
  int selected = -1;
  for (const auto& [address, info] : GetAdapterAddressMap()) {
    if (address == 0 || address == 0xFFFFFFFFu) continue;
    netcard->addItem(Dotted(address), QVariant::fromValue<qulonglong>(address));
    if (Dotted(address) == QLatin1String("192.168.1.253")) selected = netcard->count() - 1;
  }
  if (selected < 0 && netcard->count() > 0) selected = 0;
  netcard->setCurrentIndex(selected);
}

void CBootServerDlg::ApplyNetcard() {
  auto* netcard = ControlAs<QComboBox>(kNetcard);
  const auto address = netcard->currentIndex() >= 0 ? static_cast<std::uint32_t>(netcard->currentData().toULongLong()) : 0u;
  std::uint32_t mask = htonl(0xFFFFFF00u);  // network order, as the map gives it
  int ifindex = 0;
  if (address != 0) {
    const auto adapters = GetAdapterAddressMap();
    if (const auto it = adapters.find(address); it != adapters.end()) {
      ifindex = it->second.index;
      for (const auto& a : it->second.addresses)
        if (a.address == address) mask = a.mask;
    }
  }
  server_->SetAdapterAddress(address);
  listener_->SetAdapter(address, mask, ifindex);
}

void CBootServerDlg::OnNetcardChanged() { ApplyNetcard(); }

void CBootServerDlg::UpdateServiceButtons() {
  const bool running = listener_->running();
  EnableItem(kStart, !running);
  EnableItem(kStop, running);
}

void CBootServerDlg::OnStartButton() {
  StartService();
  UpdateServiceButtons();
}

void CBootServerDlg::OnStopButton() {
  StopService();
  UpdateServiceButtons();
}

int CBootServerDlg::StartService() {
  int result = StartListener() == 0 ? -1 : 0;
  const QString folder = GetItemText(kFolder);
  server_->SetFirmwareFolder(folder.toStdString());
  server_->RebuildFirmwareList();
  if (UnpackAndStartHelper(folder) != 0) return -1;
  if (GetCheck(kRestoreFactory) && host_ != nullptr && !host_->IsSearchRunning()) host_->OnSearchButton();
  return result;
}

int CBootServerDlg::StopService() {
  const int result = StopListener() == 0 ? -1 : 0;
  EndHelper();
  return result;
}

int CBootServerDlg::StartListener() {
  if (listener_->running()) return 0;
  std::string error;
  if (!listener_->Start(error)) {
    AppendLog(QStringLiteral("listener: ") + QString::fromStdString(error));
    return 0;
  }
  AppendLog(LangText("ID_TIPS_UBOOT_UPGRADE_START_OK"));
  return 1;
}

int CBootServerDlg::StopListener() {
  if (!listener_->Stop()) return 0;
  AppendLog(LangText("ID_TIPS_UBOOT_UPGRADE_STOP_OK"));
  return 1;
}

QString CBootServerDlg::HelperPath(const QString& folder) const {
  return QDir(folder).filePath(QString::fromLatin1(kHelperName));
}

int CBootServerDlg::UnpackAndStartHelper(const QString& folder) {
  EndHelper();
  const QString helper = HelperPath(folder);
  // Never start a copy left by an earlier run: only what is unpacked now.
  if (QFileInfo::exists(helper) && !QFile::remove(helper)) {
    AppendLog(QStringLiteral("cannot replace %1").arg(helper));
    return -1;
  }
  QString archiver = options_.archiver;
  if (archiver.isEmpty()) archiver = QStandardPaths::findExecutable(QStringLiteral("7zz"));
  if (archiver.isEmpty()) archiver = QStandardPaths::findExecutable(QStringLiteral("7z"));
  const QString archive = QDir(options_.program_folder).filePath(QStringLiteral("zqfileserver.7z"));
  if (archiver.isEmpty() || !QFileInfo::exists(archive)) {
    AppendLog(QStringLiteral("cannot unpack the file server: %1 missing")
                  .arg(archiver.isEmpty() ? QStringLiteral("7z") : archive));
    return -1;
  }
  QProcess unpack;
  unpack.setProgram(archiver);
  unpack.setArguments({QStringLiteral("x"), QStringLiteral("-y"), archive,
                       QStringLiteral("-p") + QString::fromLatin1(kPassPhrase), QStringLiteral("-o") + folder});
  unpack.start();
  if (!unpack.waitForFinished(options_.archiver_timeout_ms)) {
    unpack.kill();
    unpack.waitForFinished(1000);
    AppendLog(QStringLiteral("the archiver did not finish unpacking the file server"));
    return -1;
  }
  if (unpack.exitStatus() != QProcess::NormalExit || unpack.exitCode() != 0 || !QFileInfo::exists(helper)) {
    AppendLog(QStringLiteral("unpacking the file server failed (exit code %1)").arg(unpack.exitCode()));
    return -1;
  }
  QFile::setPermissions(helper, QFile::permissions(helper) | QFileDevice::ExeOwner | QFileDevice::ExeUser);

  helper_ = new QProcess(this);
  helper_->setWorkingDirectory(folder);
  helper_->setProgram(helper);
  helper_->setArguments(options_.helper_arguments);
  helper_errors_.clear();
  QProcess* child = helper_;
  // The helper's lines take the listener's way to the log: a flood of them
  // costs one bounded batch per pass of the UI thread, the rest counted.
  connect(child, &QProcess::readyReadStandardOutput, this, [this, child] {
    while (child->canReadLine()) PostLogTextA(child->readLine().trimmed().toStdString());
  });
  connect(child, &QProcess::readyReadStandardError, this,
          [this, child] { helper_errors_ += QString::fromLocal8Bit(child->readAllStandardError()); });
  connect(child, &QProcess::finished, this, [this, child](int code, QProcess::ExitStatus status) {
    helper_errors_ += QString::fromLocal8Bit(child->readAllStandardError());
    // The helper's own error names the cause: the capability for port 69, or
    // another server holding the port.
    const QString why = helper_errors_.trimmed();
    if (status == QProcess::NormalExit && code == kHelperCannotBind) {
      AppendLog(QStringLiteral("the file server cannot use its port: %1. Devices cannot fetch images until it "
                               "can bind UDP 69 (see the README).")
                    .arg(why));
    } else {
      AppendLog(QStringLiteral("the file server ended (%1 %2)%3")
                    .arg(status == QProcess::NormalExit ? QStringLiteral("exit code") : QStringLiteral("crash"))
                    .arg(code)
                    .arg(why.isEmpty() ? QString() : QStringLiteral(": ") + why));
    }
  });
  helper_->start();
  if (!helper_->waitForStarted(5000)) {
    AppendLog(QStringLiteral("the file server did not start: %1").arg(helper_->errorString()));
    delete helper_;
    helper_ = nullptr;
    return -1;
  }
  return 0;
}

void CBootServerDlg::EndHelper() {
  if (helper_ == nullptr) return;
  if (helper_->state() != QProcess::NotRunning) {
    helper_->terminate();
    if (!helper_->waitForFinished(2000)) {
      helper_->kill();
      helper_->waitForFinished(1000);
    }
  }
  helper_->disconnect(this);
  delete helper_;
  helper_ = nullptr;
}

void CBootServerDlg::AppendLog(const QString& text) {
  TakeFeed();  // lines that came before this one are shown before it
  AppendLogLine(text);
  ScrollLogToEnd();
}

void CBootServerDlg::AppendLogLine(const QString& text) {
  ++log_counter_;
  // One block appended, never the whole text rebuilt.
  log_->appendPlainText(QStringLiteral("%1:").arg(log_counter_, 5, 10, QLatin1Char('0')) + text);
}

void CBootServerDlg::ScrollLogToEnd() { log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum()); }

void CBootServerDlg::UpdateDeviceRow(const BootDeviceInfo& device) {
  if (list_ == nullptr) return;
  const QString uuid = QString::fromStdString(device.uuid);
  const QString texts[] = {QString::fromStdString(device.address), QString::fromStdString(device.firmware_file),
                           QString::fromStdString(device.state_text)};
  bool matched = false;
  for (int row = 0; row < list_->GetItemCount(); ++row) {
    if (list_->GetItemText(row, 1) != uuid) continue;
    matched = true;
    for (int column = 2; column <= 4; ++column)
      if (list_->GetItemText(row, column) != texts[column - 2]) list_->SetItemText(row, column, texts[column - 2]);
  }
  if (matched) return;
  const int row = list_->GetItemCount();
  list_->InsertRow(row, {QStringLiteral("%1").arg(row + 1, 2, 10, QLatin1Char('0')), uuid, texts[0], texts[1],
                         texts[2]});
}

void CBootServerDlg::PostDeviceUpdate(const BootDeviceInfo& device) {
  if (feed_.AddDevice(device)) QMetaObject::invokeMethod(this, [this] { TakeFeed(); }, Qt::QueuedConnection);
}

void CBootServerDlg::PostLogTextA(const std::string& text) {
  if (feed_.AddLine(text.substr(0, 5119)))
    QMetaObject::invokeMethod(this, [this] { TakeFeed(); }, Qt::QueuedConnection);
}

void CBootServerDlg::TakeFeed() {
  const RecoveryUiFeed::Batch batch = feed_.Take();
  for (const std::string& line : batch.lines) AppendLogLine(QString::fromStdString(line));
  if (batch.dropped_lines > 0)
    AppendLogLine(QStringLiteral("%1 log lines dropped: more arrived than the window could show").arg(batch.dropped_lines));
  if (batch.dropped_devices > 0)
    AppendLogLine(QStringLiteral("%1 device updates dropped: more devices at once than the list holds")
                      .arg(batch.dropped_devices));
  if (!batch.lines.empty() || batch.dropped_lines > 0 || batch.dropped_devices > 0) ScrollLogToEnd();
  for (const BootDeviceInfo& device : batch.devices) UpdateDeviceRow(device);
}

void CBootServerDlg::OnChooseFirmwareFolder() {
  const QString current = GetItemText(kFolder);
  const QString start = QString::fromStdString(
      GetStartFolder(current.toStdString(), GetCommonDocumentsFolder()).string());
  const QString chosen = QFileDialog::getExistingDirectory(this, LangText("ID_FIRMWARE_PATH"), start);
  if (chosen.isEmpty()) return;
  SetItemText(kFolder, chosen);
  server_->SetFirmwareFolder(chosen.toStdString());
  server_->RebuildFirmwareList();
  // The images are now offered from the new folder: a running file server
  // moves there too, or devices would be sent names it cannot serve.
  if (HelperRunning() && UnpackAndStartHelper(chosen) == 0)
    AppendLog(QStringLiteral("the file server now serves %1").arg(chosen));
}

void CBootServerDlg::OnOpenFirmwareFolder() {
  const QString folder = GetItemText(kFolder);
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
    AppendLog(QStringLiteral("cannot open %1: no file manager answered").arg(folder));
}

void CBootServerDlg::OnClearList() {
  server_->ClearRestoreAttempts();
  list_->DeleteItems(controls::kStateAny);
  if (host_ != nullptr) host_->ClearDevicesForSearch();
}

void CBootServerDlg::OnClearHistory() {
  OnClearList();
  server_->ClearHistory();
}

void CBootServerDlg::OnRestoreFactoryCheck() {
  const bool on = GetCheck(kRestoreFactory) != 0;
  server_->SetRestoreEnabled(on);
  if (!on || host_ == nullptr) return;
  host_->ClearDevicesForSearch();
  if (!host_->IsSearchRunning()) host_->OnSearchButton();
}

}  // namespace kelvara::firmware
