#pragma once
// Escaping of XML attribute text held as wide (UI) text. Only ASCII
// characters change, so the text is escaped as it is, without a detour
// through a code page that could lose characters.
#include <QString>

namespace kelvara {

inline QString XmlEscapeW(const QString& text) {
  QString out;
  out.reserve(text.size() + 16);
  for (QChar c : text) {
    switch (c.unicode()) {
      case '"': out += QLatin1String("&quot;"); break;
      case '&': out += QLatin1String("&amp;"); break;
      case '\'': out += QLatin1String("&apos;"); break;
      case '<': out += QLatin1String("&lt;"); break;
      case '>': out += QLatin1String("&gt;"); break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace kelvara
