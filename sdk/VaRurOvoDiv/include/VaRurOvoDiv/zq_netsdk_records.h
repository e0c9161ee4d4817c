/* Record helpers of the device SDK: configuration blocks (XML texts) read into
 * fixed-layout records and built back from them. Callers change single members
 * (also by byte offset) and send the rebuilt text, so a device keeps every
 * setting the caller did not touch.
 *
 * Readers take a zeroed record and the block text: 0 when the block was read
 * (members missing from the text keep their value), -1 for no record or text,
 * -2 when the text is not the expected block, ZQ_NETSDK_ERR_INTERNAL (-7) when
 * the reading failed inside the library (the record is left as it was).
 * Builders return a heap text that the caller gives back with
 * ZQ_NETSDK_IPC_XMLGET_SAFE_FREE, or null. */
#ifndef VARUROVODIV_ZQ_NETSDK_RECORDS_H
#define VARUROVODIV_ZQ_NETSDK_RECORDS_H

#include <stdint.h>

#ifndef ZQ_NETSDK_API
#define ZQ_NETSDK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Video capture (block 504, set 524): <Video><Capture .../></Video>. 140 bytes. */
typedef struct ZQ_VIDEO_CAPTURE_CONFIG {
  int32_t brightness;               /*   0 Brightness */
  int32_t contrast;                 /*   4 Contrast */
  int32_t saturation;               /*   8 Saturation */
  int32_t sharpness;                /*  12 Sharpness */
  uint8_t tv_system;                /*  16 TVSystem */
  uint8_t forced_antiflicker;       /*  17 forct_antiflicker */
  uint8_t reserved18[2];
  uint16_t crop_x;                  /*  20 cropxpix */
  uint16_t crop_y;                  /*  22 cropypix */
  int32_t hflip;                    /*  24 HFlip */
  int32_t vflip;                    /*  28 VFlip */
  int32_t rotate;                   /*  32 rotate (corridor mode) */
  uint32_t white_balance;           /*  36 WB_RGB: mode << 24 | R << 16 | G << 8 | B */
  int32_t backlight;                /*  40 BackLight */
  int32_t hlc;                      /*  44 HLC */
  int32_t tnf;                      /*  48 TNF */
  int32_t snf;                      /*  52 SNF */
  int32_t manual_gain;              /*  56 bManualGain */
  int32_t gain;                     /*  60 gainValue (dB, -1 = automatic) */
  int32_t wdr_mode;                 /*  64 WDRMode */
  uint8_t wdr_start[3];             /*  68 WDRStartTime hh:mm:ss */
  uint8_t wdr_end[3];               /*  71 WDREndTime */
  uint8_t reserved74[2];
  int32_t wdr_level;                /*  76 WDRValue */
  int32_t defog;                    /*  80 DfrogFlag */
  int32_t defog_level;              /*  84 DfrogValue */
  int16_t day_shutter_mode;         /*  88 shutter_mode */
  int16_t night_shutter_mode;       /*  90 shutter_mode_night */
  int16_t day_shutter_speed;        /*  92 shutter_speed_day */
  int16_t night_shutter_speed;      /*  94 shutter_speed_night */
  int32_t isp_mode_color;           /*  96 isp_mode_color */
  int32_t isp_mode_night;           /* 100 isp_mode_night */
  int32_t video_encode_mode;        /* 104 videoEncodeMode */
  int32_t ircut_mode;               /* 108 IrcutMode */
  uint8_t ircut_sensitivity;        /* 112 IrcutSensitivity */
  uint8_t ircut_openled_delay;      /* 113 IrcutOpenLedDelay */
  uint8_t led_brightness_mode;      /* 114 led_brightness_mode */
  uint8_t led_brightness_value;     /* 115 led_brightness_value */
  uint8_t led_brightness_alarm;     /* 116 led_brightness_alarm */
  uint8_t night_start[3];           /* 117 IrcutNightStartTime */
  uint8_t night_end[3];             /* 120 IrcutNightEndTime */
  uint8_t reserved123;
  int32_t keep_color;               /* 124 IrcutKeepColor */
  int32_t led_mode;                 /* 128 led_mode */
  int32_t ispadvmode;               /* 132 ispadvmode */
  uint8_t light_off_sensitivity;    /* 136 light_off_sensitivity */
  uint8_t face_exposure_sensitivity;/* 137 face_exposure_sensitivity */
  uint8_t reserved138[2];
} ZQ_VIDEO_CAPTURE_CONFIG;

/* LAN settings (block 305, set 325): <LANConfig .../>. 412 bytes. */
typedef struct ZQ_LAN_CONFIG {
  char mac_address[18];             /*   0 MacAddress */
  uint8_t dhcp;                     /*  18 DHCP */
  uint8_t reserved19;
  int16_t allnet;                   /*  20 ALLNET (ONVIF all-net switch) */
  char ip_address[64];              /*  22 IPAddress */
  char netmask[64];                 /*  86 Netmask */
  char gateway[64];                 /* 150 Gateway */
  char dns1[64];                    /* 214 DNS1 */
  char dns2[64];                    /* 278 DNS2 */
  uint8_t reserved342[70];
} ZQ_LAN_CONFIG;

/* Overlay (block 505, set 525): <Overlay ...><TimeOverlay/><TitleOverlay/></Overlay>. 280 bytes. */
typedef struct ZQ_VIDEO_OVERLAY_CONFIG {
  int32_t enable;                   /*   0 Overlay/Enable */
  int32_t transparency;             /*   4 Transparency */
  int32_t style;                    /*   8 Style */
  int32_t font_size;                /*  12 Fontsize */
  int32_t week;                     /*  16 Week */
  int32_t time_pos_x;               /*  20 TimeOverlay/PosX */
  int32_t time_pos_y;               /*  24 TimeOverlay/PosY */
  int32_t title_pos_x;              /*  28 TitleOverlay/PosX */
  int32_t title_pos_y;              /*  32 TitleOverlay/PosY */
  char time_format[24];             /*  36 TimeOverlay/Format */
  char title_utf8[220];             /*  60 TitleOverlay/TitleUtf8 (UTF-8) */
} ZQ_VIDEO_OVERLAY_CONFIG;

/* Audio capture (block 507, set 527): <Capture Volume VolumePlay amplify ra_answer/>. 28 bytes. */
typedef struct ZQ_AUDIO_CAPTURE_CONFIG {
  uint8_t reserved0[12];
  uint16_t volume;                  /*  12 Volume (capture, 0-100) */
  uint16_t volume_play;             /*  14 VolumePlay (0-100) */
  uint16_t amplify;                 /*  16 amplify */
  uint16_t reserved18;
  uint16_t ra_answer;               /*  20 ra_answer (answer by key) */
  uint8_t reserved22[6];
} ZQ_AUDIO_CAPTURE_CONFIG;

/* Person and vehicle detection part of the alarm block (<PDAlarm>, set 829). */
typedef struct ZQ_PD_ALARM_CONFIG {
  int32_t enable;                   /*   0 Enable */
  int32_t schedule;                 /*   4 Schedule (0 off, 1 all day, 2 day, 3 night) */
  int32_t target_flags;             /*   8 TargetFlags (1 vehicle, 16 human) */
  uint8_t reserved12[17];
  uint8_t draw_box;                 /*  29 DrawBox */
  uint8_t reserved30[42];
  int32_t audio_schedule;           /*  72 AudioSchedule */
  uint8_t reserved76[164];
  int32_t flash_light_schedule;     /* 240 FlashLightSchedule */
  uint8_t reserved244[60];
  int32_t blue_red_light_schedule;  /* 304 BlueRedLightSchedule */
  uint8_t reserved308[28];
  int32_t push_schedule;            /* 336 PushSchedule */
  uint8_t reserved340[68];
  int32_t region[10][2];            /* 408 Region/Point X, Y (percent of the picture) */
  int32_t region_count;             /* 488 Region/Count */
  uint8_t reserved492[1448];
} ZQ_PD_ALARM_CONFIG;               /* 1940 bytes */

/* Sound alarm part (<AudioAlarm>, set 827). */
typedef struct ZQ_AUDIO_ALARM_CONFIG {
  int32_t enable;                   /*   0 Enable */
  int32_t sensitivity;              /*   4 Sensitivity */
  int32_t alarm_enable;             /*   8 AlarmEnable */
  uint8_t reserved12[2120];
} ZQ_AUDIO_ALARM_CONFIG;            /* 2132 bytes */

/* Motion detection part (<MDAlarm>, set 822). */
typedef struct ZQ_MD_ALARM_CONFIG {
  int32_t enable;                   /*   0 Enable */
  int32_t schedule;                 /*   4 Schedule */
  uint8_t reserved8[624];
  int32_t audio_schedule;           /* 632 AudioSchedule */
  uint8_t reserved636[164];
  int32_t flash_light_schedule;     /* 800 FlashLightSchedule */
  uint8_t reserved804[60];
  int32_t blue_red_light_schedule;  /* 864 BlueRedLightSchedule */
  uint8_t reserved868[28];
  int32_t push_schedule;            /* 896 PushSchedule */
  uint8_t reserved900[4];
} ZQ_MD_ALARM_CONFIG;               /* 904 bytes */

/* The alarm block (get 800): <AlarmConfig> with the three parts. */
typedef struct ZQ_ALARM_CONFIG {
  ZQ_PD_ALARM_CONFIG pd;            /*    0 */
  ZQ_AUDIO_ALARM_CONFIG audio;      /* 1940 */
  ZQ_MD_ALARM_CONFIG md;            /* 4072 */
} ZQ_ALARM_CONFIG;

ZQ_NETSDK_API int ZQ_NETSDK_IPC_Media_getVideoCaptureByXml(ZQ_VIDEO_CAPTURE_CONFIG* record,
                                                           const char* xml);
ZQ_NETSDK_API char* ZQ_NETSDK_IPC_XMLGET_VideoCaptureConfig(const ZQ_VIDEO_CAPTURE_CONFIG* record);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_Network_getLANCfgByXml(ZQ_LAN_CONFIG* record, const char* xml);
ZQ_NETSDK_API char* ZQ_NETSDK_IPC_XMLGET_NetworkLANConfig(const ZQ_LAN_CONFIG* record);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_Media_getVideoOverlayByXml(ZQ_VIDEO_OVERLAY_CONFIG* record,
                                                           const char* xml);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_Media_getAudioCaptureByXml(ZQ_AUDIO_CAPTURE_CONFIG* record,
                                                           const char* xml);
ZQ_NETSDK_API char* ZQ_NETSDK_IPC_XMLGET_AudioCaptureConfig(const ZQ_AUDIO_CAPTURE_CONFIG* record);
ZQ_NETSDK_API int ZQ_NETSDK_IPC_GetAlarmConfigByXml(ZQ_ALARM_CONFIG* record, const char* xml);
ZQ_NETSDK_API char* ZQ_NETSDK_IPC_XMLGET_PDAlarmConfig(const ZQ_ALARM_CONFIG* record);
ZQ_NETSDK_API char* ZQ_NETSDK_IPC_XMLGET_MDAlarmConfig(const ZQ_ALARM_CONFIG* record);
ZQ_NETSDK_API char* ZQ_NETSDK_IPC_XMLGET_AudioAlarmConfig(const ZQ_ALARM_CONFIG* record);

/* Gives back a text returned by an XMLGET builder (null is allowed). */
ZQ_NETSDK_API void ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(char* text);

#ifdef __cplusplus
}
#endif

#endif
