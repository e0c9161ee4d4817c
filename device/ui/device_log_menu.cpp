#include "device/ui/device_log_menu.h"

#include <QDir>
#include <QInputDialog>
#include <QUrl>

#include "common/language_table.h"
#include "common/ui/desktop_open.h"
#include "common/ui/user_prompts.h"
#include "device/core/row_texts.h"

namespace kelvara::device {

namespace {
QString Lang(const char* key) { return QString::fromStdString(LangText(key)); }
}  // namespace

DeviceLogMenu::DeviceLogMenu(DeviceLogs& logs, Hooks hooks) : logs_(logs), hooks_(std::move(hooks)) {
  if (!hooks_.askText) {
    hooks_.askText = [owner = hooks_.owner](const QString& caption, const std::string& value)
        -> std::optional<std::string> {
      bool ok = false;
      const QString text =
          QInputDialog::getText(owner, caption, caption, QLineEdit::Normal, QString::fromStdString(value), &ok);
      if (!ok) return std::nullopt;
      return text.toStdString();
    };
  }
  if (!hooks_.openFolder)
    hooks_.openFolder = [](const QString& folder) { return ui::DesktopOpen(QUrl::fromLocalFile(folder)); };
}

void DeviceLogMenu::Refresh() {
  if (hooks_.rows) logs_.RefreshNetLogReceivers(hooks_.rows());
}

bool DeviceLogMenu::IsChecked(int id) const {
  if (id == kOn) return logs_.Enabled();
  if (id == kOff) return !logs_.Enabled();
  return false;
}

bool DeviceLogMenu::OnCommand(int id) {
  SlogFilterSettings& settings = hooks_.settings();
  switch (id) {
    case kSetFolder: {
      if (hooks_.prompts == nullptr) return true;
      const QString folder = hooks_.prompts->FolderName(hooks_.owner, Lang("ID__MENU_SLOGPATH_OPEN"),
                                                        QString::fromStdString(settings.save_path));
      if (folder.isEmpty()) return true;
      settings.save_path = folder.toStdString();
      if (hooks_.saveSettings) hooks_.saveSettings();
      Refresh();
      return true;
    }
    case kOpenFolder: {
      const QString folder = QString::fromStdString(settings.save_path);
      QDir().mkpath(folder);
      // With no file manager nothing would happen: the box names the folder.
      ui::OpenOrTell(QUrl::fromLocalFile(folder), hooks_.prompts, hooks_.owner,
                     [this](const QUrl& u) { return hooks_.openFolder(u.toLocalFile()); });
      return true;
    }
    case kSetCommand: {
      const auto text = hooks_.askText(Lang("ID__MENU_SLOGLEVEL_DEFAULT"), settings.default_filter);
      if (!text) return true;
      // As much as the settings file keeps, cut at a character boundary.
      settings.default_filter = CutUtf8(*text, SlogFilterSettings::kMaxFilter);
      if (hooks_.saveSettings) hooks_.saveSettings();
      Refresh();
      return true;
    }
    case kOn:
    case kOff:
      logs_.SetEnabled(id == kOn);
      Refresh();
      return true;
    default:
      return false;
  }
}

}  // namespace kelvara::device
