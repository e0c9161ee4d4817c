#pragma once
// What a simulated device checks in the configuration dialogs' requests and
// what some of them change beyond their block: values outside the ranges a
// device accepts are refused (nothing stored), a user set changes the login
// password, and manual focusing reports focus values between its start and
// stop.
#include <tinyxml.h>

#include <cstdint>
#include <optional>
#include <string>

namespace kelvara::devsim {

// False when a value of a set request (SetConfig code) lies outside its range.
bool SetValuesInRange(uint32_t code, const TiXmlElement& root);
// False when a system-control request's values lie outside their range
// (1081: mctf -1..11, gain -1..72, shuttermax -1 or 1..8000).
bool ControlValuesInRange(uint32_t code, const std::string& request);

// The password a UserConfig set gives the account `user`, if it names it.
std::optional<std::string> AccountPassword(const TiXmlElement& root, const std::string& user);

// The overlay block (505) after an overlay set (525), as a device keeps it:
// the set's attributes decoded into the stored block element by element
// (what the set does not name stays), the title hex read into its bytes and
// written back in lowercase, the block printed anew. Nothing when the set is
// no Overlay or its title is not hex of whole bytes.
std::optional<std::string> MergeOverlaySet(const std::string& stored, const TiXmlElement& set);
// The title bytes of an overlay block (its TitleUtf8 decoded).
std::optional<std::string> OverlayTitle(const std::string& block);

// Manual focus (system control 1157): the report detail for a START request
// ("{mfocus:" + per region "value,match;" + "}", each region measuring 95 %
// of its reference value), nothing for another request.
std::optional<std::string> FocusReportFor(const std::string& request);
bool IsFocusStop(const std::string& request);

}  // namespace kelvara::devsim
