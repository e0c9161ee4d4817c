#include "firmware/ui/qt_firmware_window.h"

#include <QStringList>

#include "common/language_table.h"

namespace kelvara::firmware::ui {

using kelvara::ui::PromptIcon;

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|', Qt::SkipEmptyParts);
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts[i];
    if (const int paren = name.lastIndexOf('('); paren > 0) name = name.left(paren).trimmed();
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    if (patterns == "*.*") patterns = "*";
    out << QStringLiteral("%1 (%2)").arg(name, patterns);
  }
  return out.join(QStringLiteral(";;"));
}

QtFirmwareWindow::QtFirmwareWindow(kelvara::ui::CXDlg& window, kelvara::ui::UserPrompts& prompts, WindowServices services)
    : window_(window), prompts_(prompts), s_(std::move(services)) {}

std::string QtFirmwareWindow::FieldText(int id) { return window_.GetItemText(id).toStdString(); }

void QtFirmwareWindow::SetFieldText(int id, const std::string& text) {
  window_.SetItemText(id, QString::fromStdString(text));
}

bool QtFirmwareWindow::AutoActionsChecked() { return window_.GetCheck(ctl::kAutoActions) != 0; }

void QtFirmwareWindow::ErrorBox(const std::string& text) {
  prompts_.MessageBox(&window_, QString::fromStdString(text), QStringLiteral("ERROR"), PromptIcon::kError);
}

std::string QtFirmwareWindow::OpenFile(const OpenFileRequest& r) {
  const std::filesystem::path start = r.proposed_name.empty() ? r.start_folder : r.start_folder / r.proposed_name;
  return prompts_.OpenFileName(&window_, QString(), QString::fromStdString(start.string()), QtFileFilter(r.filter))
      .toStdString();
}

std::string QtFirmwareWindow::ChooseFolder(const std::string& title, const std::filesystem::path& start) {
  return prompts_.FolderName(&window_, QString::fromStdString(title), QString::fromStdString(start.string()))
      .toStdString();
}

bool QtFirmwareWindow::UpgradeBusy() { return s_.upgrade_busy && s_.upgrade_busy(); }
void QtFirmwareWindow::SetUpgradeBusy(bool busy) {
  if (s_.set_upgrade_busy) s_.set_upgrade_busy(busy);
}
void QtFirmwareWindow::StartUpgradeWatch() {
  if (s_.start_upgrade_watch) s_.start_upgrade_watch();
}
int QtFirmwareWindow::FirstSelectedRow() { return s_.first_selected_row ? s_.first_selected_row() : -1; }
std::vector<int> QtFirmwareWindow::RowsInListOrder() {
  return s_.rows_in_list_order ? s_.rows_in_list_order() : std::vector<int>{};
}
bool QtFirmwareWindow::CopyDeviceRecord(const std::string& serial, DeviceSearchInfo& out) {
  return s_.copy_device_record && s_.copy_device_record(serial, out);
}
std::string QtFirmwareWindow::SavedPath(PathSetting which) { return s_.saved_path ? s_.saved_path(which) : ""; }
void QtFirmwareWindow::SavePath(PathSetting which, const std::string& value) {
  if (s_.save_path) s_.save_path(which, value);
}

void QtFirmwareWindow::ShowRunSummary(const RunSummary& summary) {
  // The counts, then the failed devices by address and serial.
  const QString text =
      QString::fromStdString(RunSummaryText(summary, [](const char* key) { return LangText(key); }));
  prompts_.MessageBox(&window_, text, QStringLiteral("Tips"),
                      summary.failed > 0 ? PromptIcon::kWarning : PromptIcon::kInformation);
}

}  // namespace kelvara::firmware::ui
