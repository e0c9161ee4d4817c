#include "common/ui/desktop_open.h"

#include <QDesktopServices>

#include "common/language_table.h"
#include "common/ui/user_prompts.h"

namespace kelvara::ui {

bool DesktopOpen(const QUrl& url) { return QDesktopServices::openUrl(url); }

QString OpenFailedText(const QString& target) {
  QString text = QString::fromStdString(LangText("MSG_OPEN_FAILED"));
  if (const int at = text.indexOf(QStringLiteral("%s")); at >= 0)
    text.replace(at, 2, target);
  else
    text += QStringLiteral(" ") + target;
  return text;
}

QUrl UrlOfTarget(const QString& target) {
  return target.contains(QStringLiteral("://")) ? QUrl(target) : QUrl::fromLocalFile(target);
}

bool OpenOrTell(const QUrl& url, UserPrompts* prompts, QWidget* owner, const DesktopOpener& open) {
  if (open ? open(url) : DesktopOpen(url)) return true;
  if (prompts != nullptr) {
    const QString target = url.isLocalFile() ? url.toLocalFile() : url.toString();
    prompts->MessageBox(owner, OpenFailedText(target), QStringLiteral("ERROR"), PromptIcon::kError);
  }
  return false;
}

}  // namespace kelvara::ui
