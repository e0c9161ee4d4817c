#pragma once
// Device-side settings records that the configuration dialogs edit, the
// settings file keeps and device commands send. Texts are UTF-8; the limits
// are the sizes of the devices' fixed text fields, less the terminating zero.
#include <array>
#include <cstdint>
#include <string>

namespace kelvara {

// On-screen display: time and title overlays.
struct OverlayConfig {
  static constexpr std::size_t kMaxTimeFormat = 31;
  static constexpr std::size_t kMaxTitleHex = 199;

  int enable = 0;
  int transparency = 0;
  int time_pos_x = 0;
  int time_pos_y = 0;
  std::string time_format;  // e.g. "yyyy-mm-dd hh:mm:ss"
  int time_pos_type = 0;
  int title_pos_x = 0;
  int title_pos_y = 0;
  // The title as two lowercase hexadecimal digits per byte of its UTF-8 form.
  std::string title_utf8_hex;
  int title_pos_type = 0;
  std::int16_t style = 0;
  std::int16_t week = 0;        // weekday shown
  std::int16_t font_size = 0;
  std::int16_t time24or12 = 0;  // 24- or 12-hour clock

  bool operator==(const OverlayConfig&) const = default;
};

struct ClockTime {
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  bool operator==(const ClockTime&) const = default;
};

// Light and IR-cut settings of the light page.
struct MediaLightConfig {
  int ircut_mode = 0;
  std::uint8_t ircut_openled_delay = 0;
  std::uint8_t led_brightness_mode = 0;
  std::uint8_t led_brightness_value = 0;
  std::uint8_t led_brightness_alarm = 0;
  ClockTime startTime;
  ClockTime endTime;
  int led_mode = 0;
  int ispadvmode = 0;
  std::uint8_t light_off_sensitivity = 0;

  bool operator==(const MediaLightConfig&) const = default;
};

// Batch human, vehicle, sound and motion detection choices: eleven values in
// this order (schedules are 0 off, 1 all day, 2 daytime, 3 night).
struct BatchPDSettings {
  int alarm_schedule = 1;         // 1
  int audio_schedule = 1;         // 2
  int draw_box = 1;               // 3
  int push_schedule = 1;          // 4
  int flash_light_schedule = 0;   // 5
  int blue_red_light_schedule = 0;  // 6
  int human = 1;                  // 7
  int vehicle = 1;                // 8
  int motion = 0;                 // 9
  int sound = 0;                  // 10
  int reset_region = 0;           // 11

  bool operator==(const BatchPDSettings&) const = default;
};

// Time mode, time zone and NTP server of the time dialog.
struct TimeSettings {
  static constexpr std::size_t kMaxTimeMode = 31;
  static constexpr std::size_t kMaxNtpServer = 63;

  std::string time_mode;  // "MANUAL", ...
  int time_zone = 0;      // the device's time-zone value (1200 = UTC+0)
  std::string ntp_server;
  std::uint16_t ntp_port = 0;
  int ntp_refresh_interval = 0;

  bool operator==(const TimeSettings&) const = default;
};

// Hourly chime and five alarm clocks.
struct AlarmClockSettings {
  struct Clock {
    std::uint8_t enable = 0;
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint8_t second = 0;
    bool operator==(const Clock&) const = default;
  };
  static constexpr std::size_t kClockCount = 5;

  std::uint8_t oclock_enable = 0;
  ClockTime oclock_from;
  ClockTime oclock_to;
  std::array<Clock, kClockCount> clocks{};

  bool operator==(const AlarmClockSettings&) const = default;
};

// A tour over camera presets: AF study, or PTZ multiple presets.
struct AfStudySettings {
  struct Preset {
    int enable = 0;
    int presetNum = 0;  // 0 ends the list when saved
    int functionType = 0;
    bool operator==(const Preset&) const = default;
  };
  static constexpr std::size_t kPresetCount = 10;

  std::array<Preset, kPresetCount> presets{};
  int interval_sec = 0;
  int nPtzSpeed = 0;
  int nPtzZoomInterval = 0;   // ms
  int nPtzZoomStayTime = 0;   // ms
  int nPtzZoomExecTimes = 0;

  bool operator==(const AfStudySettings&) const = default;
};

// Filter command and save folder of the device network log.
struct SlogFilterSettings {
  static constexpr std::size_t kMaxFilter = 127;

  std::string default_filter;  // e.g. "slog -1,0"
  std::string save_path;       // folder

  bool operator==(const SlogFilterSettings&) const = default;
};

}  // namespace kelvara
