#pragma once
// The display switches as the main window's frame reads them.
#include <functional>
#include <map>
#include <string>

#include "common/display_config.h"

namespace kelvara::shell {

// Ids of display values the frame reads.
inline constexpr int kDisplayStyle = 32972;
inline constexpr int kDisplaySearchAutoStop = 32973;
inline constexpr int kDisplayQrEncode = 1078;
inline constexpr int kDisplayPrintMode = 1008;
inline constexpr int kCustomCloudType = 33381;

class DisplaySwitches {
 public:
  virtual ~DisplaySwitches() = default;
  // The value of a control or menu id; 1 for an id the table does not hold.
  virtual int GetDisplay(int id) const = 0;
  virtual std::string GetCustomString(int id) const = 0;
  // Shows (value > 0) or hides every control of the table.
  virtual void ApplyToDialog(const std::function<void(int id, bool shown)>& show) const = 0;
};

// A table given in code (tests, and the program until display.xml is read).
class FixedDisplaySwitches : public DisplaySwitches {
 public:
  int GetDisplay(int id) const override {
    auto it = values.find(id);
    return it == values.end() ? (id == kDisplayStyle || id == kDisplaySearchAutoStop || id == kDisplayQrEncode ? 0 : 1)
                              : it->second;
  }
  std::string GetCustomString(int id) const override {
    auto it = strings.find(id);
    return it == strings.end() ? std::string() : it->second;
  }
  void ApplyToDialog(const std::function<void(int, bool)>& show) const override {
    for (const auto& [id, value] : values)
      if (id != kDisplayStyle && id != kDisplaySearchAutoStop && id != kDisplayQrEncode) show(id, value > 0);
  }
  std::map<int, int> values;
  std::map<int, std::string> strings;
};

// The switches of display.xml.
class LoadedDisplaySwitches : public DisplaySwitches {
 public:
  explicit LoadedDisplaySwitches(std::filesystem::path display_xml = CLoadDisplayCfg::DefaultPath())
      : cfg_(std::move(display_xml)) {}
  int GetDisplay(int id) const override { return cfg_.GetDisplay(id); }
  std::string GetCustomString(int id) const override { return cfg_.GetCustomString(id); }
  void ApplyToDialog(const std::function<void(int, bool)>& show) const override { cfg_.ApplyToDialog(show); }

 private:
  CLoadDisplayCfg cfg_;
};

}  // namespace kelvara::shell
