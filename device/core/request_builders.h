#pragma once
// The request texts of the device commands, byte for byte as devices expect
// them. Texts are the 8-bit bytes sent; values go in as they are given (the
// callers convert wide text first). A builder whose text would not fit the
// buffer devices and the protocol allow gives no text (std::nullopt): the
// request is refused whole, never cut in the middle of an escape or of a
// multi-byte character.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/settings_records.h"

namespace kelvara::device {

// Buffer sizes of the formatted requests, terminating zero included.
inline constexpr std::size_t kOverlayBufferBytes = 1024;
inline constexpr std::size_t kLanguageBufferBytes = 512;
inline constexpr std::size_t kMotionDetectBufferBytes = 5120;

// The Overlay block of SET_CFG_VIDEO_OVERLAY (525). `titleHex` is the title
// value (BuildOsdTitleHex); the time format is escaped here.
std::optional<std::string> BuildOverlayRequest(const OverlayConfig& overlay, std::string_view titleHex);

// The admin account with a new password (SET_CFG_USER 223).
std::string BuildAdminPasswordRequest(std::string_view password);

// <MiscConfig Language="..." /> (SET_CFG_MISC_LANGUAGE 227), code escaped.
std::optional<std::string> BuildLanguageRequest(std::string_view languageCode);
// The web-page language request (SYS_CTRL_SET_WEB_LANGUAGE 1119); the code
// goes in as it is.
std::optional<std::string> BuildWebLanguageRequest(int webDefaultLanguage, int kcWeb,
                                                   std::string_view languageCode);
// "zh-cn" and "zh-tw" stay, every other code becomes "en-us".
std::string_view DeviceLanguageFor(std::string_view languageCode);

// The platform user name of one device: unchanged when `incrementOn` is 0,
// else its number (the part before the first ",", read like atoi) plus
// `increment`, followed by the rest from the ",".
std::string IncrementUserName(std::string_view userName, int incrementOn, int increment);
// The PlatformConfig request (SET_CFG_PLATFORM 670); texts escaped here, the
// user name as given (increment it first).
std::string BuildPlatformRequest(int enable, std::string_view server, int port, std::string_view userName,
                                 std::string_view password, int playTone);

// The MotionDetectAlarm request (SET_CFG_MOTION_DETECT_ALARM 822); the block
// configuration is escaped here.
std::optional<std::string> BuildMotionDetectRequest(int enable, int blockCount, std::string_view blockConfig,
                                                    int sensitivity, int alarmThreshold);

// <P2PConfig Enable Type="0" /> (SET_CFG_P2P 335).
std::string BuildP2PRequest(int enable);

// The clock request (SYS_CTRL_SET_TIME 1064) for a PC clock given as a file
// time (100-ns steps since 1601-01-01 UTC).
std::string BuildTimeSyncRequest(std::uint64_t fileTime);
// The PC clock now, as a file time.
std::uint64_t FileTimeNow();

// Fixed texts.
inline constexpr const char* kFormatStorageRequest = "<REQUEST_PARAM DevName=\"sd1\" />\n";
inline constexpr const char* kNightModeRequest = "<REQUEST_PARAM Mode=\"NightMode\" />\n";
inline constexpr const char* kDayModeRequest = "<REQUEST_PARAM Mode=\"DayMode\" />\n";
inline constexpr const char* kQueryRequest = "RESPONSE_PARAM";
// The two test buttons' requests (SYS_CTRL_SET_MANUAL_SPEED 122, SYS_CTRL_PRIVACY_MASK 1118).
std::string BuildManualSpeedRequest();
std::string BuildPrivacyMaskRequest();

}  // namespace kelvara::device
