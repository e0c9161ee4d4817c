#pragma once
// Conversion of layout texts between UTF-8 (inside the program) and GBK, the
// code page the tips layout file declares as "gb2312".
#include <optional>
#include <string>
#include <string_view>

namespace kelvara::printing {

// Nothing when the text has bytes or characters the other side cannot hold.
std::optional<std::string> LayoutTextToGbk(std::string_view utf8);
std::optional<std::string> LayoutTextFromGbk(std::string_view gbk);

}  // namespace kelvara::printing
