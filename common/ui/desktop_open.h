#pragma once
// Opens a web address or a folder with the desktop's program for it (browser,
// file manager). Where none is set up nothing would happen at all, so a
// failed open is told in a message box that names the address or folder.
#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace kelvara::ui {

class UserPrompts;

// Opens `url`; the real opener is QDesktopServices::openUrl.
using DesktopOpener = std::function<bool(const QUrl& url)>;
bool DesktopOpen(const QUrl& url);

// The text of the box: the language text "MSG_OPEN_FAILED" with its "%s"
// replaced by `target` (never used as a format).
QString OpenFailedText(const QString& target);

// Opens `url` with `open` (DesktopOpen when empty); on failure shows the
// box ("ERROR") naming the address, or the folder's path for a local file.
// True when it opened.
bool OpenOrTell(const QUrl& url, UserPrompts* prompts, QWidget* owner, const DesktopOpener& open = {});

// A text that is an address ("http://...") or a local path, as a URL.
QUrl UrlOfTarget(const QString& target);

}  // namespace kelvara::ui
