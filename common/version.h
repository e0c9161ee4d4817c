#pragma once
// The program's version text, shown in the main window's title.
namespace kelvara {
inline constexpr char kVersionText[] = "V6.0.8_20261028";
}
