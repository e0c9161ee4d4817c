#pragma once
// The image capture page's control rules without widgets: which controls a
// list choice enables, disables, shows or hides; what leaving one of the
// checked edits does (check, clamp, the slider to move); the slider and edit
// pairs; the day/night request of the two IR-cut buttons.
#include <optional>
#include <string>
#include <vector>

#include "dialogs/core/video_capture_form.h"

namespace kelvara::dialogs {

struct ControlSwitch {
  int id = 0;
  bool on = false;
  bool operator==(const ControlSwitch&) const = default;
};

// What a rule does to the controls; controls it does not name keep their state.
struct RuleEffect {
  std::vector<ControlSwitch> enable;
  std::vector<ControlSwitch> show;
  bool operator==(const RuleEffect&) const = default;
};

// IR-cut mode 1181 (item data). The day/night buttons 1183 and 1185 show only
// in mode 3 when the last saved mode was 3 too; mode 0 enables the
// sensitivity 589 and disables the night pickers 1562/1563, mode 1 the other
// way round, modes 2-4 disable all three, other modes leave them.
RuleEffect IrcutModeRule(int mode, int lastSavedMode);
// WDR mode 1568 (index): the level slider 866 for any index but 0; its edit
// 1442 and the WDR pickers 1565/1566 always disabled.
RuleEffect WdrModeRule(int index);
// Defog 1576 (index): slider 867 for any index but 0; edit 1444 always disabled.
RuleEffect DefogRule(int index);
// White balance 1978 (index): the gain sliders for manual (above 0); their
// edits always disabled.
RuleEffect WhiteBalanceRule(int index);
// Day shutter 1575 / night shutter 1582 (index): the speed edit 1438 / 1445
// for manual (above 0).
RuleEffect DayShutterRule(int index);
RuleEffect NightShutterRule(int index);
// Fill-light brightness mode 1182 (item data): the brightness list 1186 when above 0.
RuleEffect LedBrightnessModeRule(int data);
// Every rule for what the form shows, in the page's order: defog, WDR,
// IR-cut, day shutter, night shutter, white balance, fill-light brightness.
RuleEffect AllCaptureRules(const VideoCaptureForm& form, int lastSavedIrcutMode);

// The slider and the edit that shows its position.
struct SliderPair {
  int slider, edit, min, max;
};
const std::vector<SliderPair>& CaptureSliders();

// The edits checked when the user leaves them.
struct LeaveCheck {
  int edit, min, max;
  int slider;  // 0: none
  const char* key;
};
const std::vector<LeaveCheck>& CaptureLeaveChecks();

// Leaving a checked edit: the text trimmed; a text that is no number keeps
// its text and gets the message; a number beyond the bounds gets the message
// and is clamped to the nearer bound; the slider (when the edit has one)
// takes the value. Nothing is saved or sent.
struct LeaveResult {
  std::string messageKey;      // empty when the value was within bounds
  std::string text;            // what the edit shows afterwards
  std::optional<int> slider;   // position for the paired slider
};
// std::nullopt for an edit that is not checked on leaving.
std::optional<LeaveResult> LeaveCaptureField(int editId, const std::string& text);

// The request the day (1183) or night (1185) button builds:
// <REQUEST_PARAM Mode="DayMode" /> or "NightMode".
std::string DayNightRequest(bool night);

}  // namespace kelvara::dialogs
