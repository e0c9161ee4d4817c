#pragma once
// The light and IR-cut page without widgets: its value lists (text key and
// item data) and the record shown in and read back from the controls.
#include <string>
#include <utility>
#include <vector>

#include "common/settings_records.h"

namespace kelvara::dialogs {

// An entry's text is the language text of `key` (a literal where the list
// shows numbers), then that of `key2` when set, then `suffix`.
struct ListItem {
  ListItem(std::string k, int d, std::string k2 = {}, std::string s = {}, bool lit = false)
      : key(std::move(k)), data(d), key2(std::move(k2)), suffix(std::move(s)), literal(lit) {}
  std::string key;
  int data = 0;
  std::string key2;
  std::string suffix;
  bool literal = false;
};

const std::vector<ListItem>& IrcutModeItems();
const std::vector<ListItem>& LedDelayItems();        // "0.01" .. "1.50" -> 0..17
const std::vector<ListItem>& LedBrightnessItems();   // "0", "10%" .. "100%"
const std::vector<ListItem>& ImageOptionItems();     // data 0, 1, 3, 2, 4, 5, 6, 7, 8
// The gains of the image capture page's gain list: 16 named rows and an
// empty row that ends the table.
struct IsoGainEntry {
  std::string name;
  int gain;  // dB
};
const std::vector<IsoGainEntry>& IsoGainTable();
// Index of the first item with this data, -1 when none.
int IndexOfData(const std::vector<ListItem>& items, int data);

// What the light page's controls hold.
struct LightForm {
  int ircutMode = 0;  // item data
  int ledDelay = 0, ledBrightnessMode = 0, ledBrightness = 10;
  int ledMode = 2, ispAdvMode = 0;
  ClockTime start, end;
  int lightOff = 0;  // slider 0..100, mirrored in the read-only edit
};

// A record shown on the page: an IR-cut mode without an item becomes 0.
LightForm LightFormFromRecord(MediaLightConfig& record);
// The record read back; the brightness alarm keeps the given record's value.
MediaLightConfig LightRecordFromForm(const LightForm& form, const MediaLightConfig& given);

}  // namespace kelvara::dialogs
