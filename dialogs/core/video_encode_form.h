#pragma once
// The video encode page without widgets: the state of its three stream
// columns and advanced lists, the handlers that refill, limit and enable
// controls, and Save with its checks and the <Encode> text.
#include <array>
#include <string>
#include <vector>

#include "dialogs/core/video_encode_table.h"

namespace kelvara::dialogs {

struct EncodeStreamState {
  int enable = -1;                 // list index, -1 = no selection
  std::vector<std::string> formats;
  int format = -1;
  std::vector<std::string> resolutions;
  int resolution = -1;
  int bitRateControl = -1;         // 0 CBR, 1 VBR
  std::string iframe;              // I-frame interval edit
  std::vector<QualityEntry> quality;
  int qualityIndex = -1;
  std::string bitRate;
  bool bitRateEnabled = true;
  std::string rangeLabel;          // "kbps(min-max)"
  std::vector<int> frameRates;
  int frameRate = -1;
  bool frameRateEnabled = true;
  int qpEnable = -1, qpMin = -1, qpMax = -1;  // qpMin/qpMax are the numbers 0..51
  bool qpEnabled = true;
  // Low bit rate (main and sub only).
  int lbrEnable = 0, lbrStyle = 1, lbrMode = 0, lbrMotion = 1, lbrNoise = 0;
  std::string lbrBitRate;
  std::string lbrRangeLabel;
  bool lbrListsEnabled = false, lbrEditEnabled = false;

  std::string FormatText() const;  // entry 0 when none is selected
  std::string ResolutionText() const;
  std::string FrameRateText() const;
};

struct EncodeSaveResult {
  enum class Status { Ready, Rejected };
  Status status = Status::Rejected;
  std::string messageKey;  // set when rejected
  std::string xml;         // set when ready
};

class VideoEncodeForm {
 public:
  static constexpr int kStreams = 3;
  // Entries of the noise level list: "0" to "7".
  static constexpr int kNoiseLevels = 8;

  VideoEncodeForm();

  // Feature flags, all on by default.
  int profileVisible = 1, advancedModeVisible = 1, lbrSupported = 1, thirdStreamSupported = 1,
      enableRowVisible = 1, qpRowsVisible = 1;
  int cancelled = 1;
  std::string xmlText;

  std::array<EncodeStreamState, kStreams> streams;
  int profile = 0, privateData = 0, encodeMode = 0, noiseLevel = -1;

  const VideoEncodeCapabilities& Capabilities() const { return caps_; }

  // Handlers.
  void Open();
  void UpdateResolutionLists();
  void FormatChanged(int stream);
  void ResolutionChanged(int stream);
  void QualityChanged(int stream);
  void BitRateControlChanged(int stream);
  void LbrEnableChanged(int stream);
  void LbrModeChanged(int stream);
  void Default();

  // Checks the columns and builds the text; nothing is stored. A confirmed
  // text is kept with Confirm().
  EncodeSaveResult Save() const;
  void Confirm(const std::string& xml) {
    xmlText = xml;
    cancelled = 0;
  }

 private:
  void ApplyLbrState(int stream);
  VideoEncodeCapabilities caps_;
};

}  // namespace kelvara::dialogs
