#include "dialogs/core/video_encode_form.h"

#include <algorithm>
#include <cstdio>

#include <tinyxml.h>

#include "common/input_validators.h"
#include "dialogs/core/xml_text.h"

namespace kelvara::dialogs {
namespace {

std::string RangeLabel(int min, int max) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "kbps(%d-%d)", min, max);
  return buf;
}

int IndexOf(const std::vector<std::string>& list, const std::string& text) {
  auto it = std::find(list.begin(), list.end(), text);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

}  // namespace

std::string EncodeStreamState::FormatText() const {
  if (format >= 0 && format < static_cast<int>(formats.size())) return formats[format];
  return formats.empty() ? std::string() : formats[0];
}

std::string EncodeStreamState::ResolutionText() const {
  return resolution >= 0 && resolution < static_cast<int>(resolutions.size()) ? resolutions[resolution] : "";
}

std::string EncodeStreamState::FrameRateText() const {
  return frameRate >= 0 && frameRate < static_cast<int>(frameRates.size()) ? std::to_string(frameRates[frameRate])
                                                                            : "";
}

VideoEncodeForm::VideoEncodeForm() = default;

void VideoEncodeForm::Open() {
  profile = privateData = encodeMode = 0;
  for (int s = 0; s < kStreams; ++s) {
    auto& st = streams[s];
    st = EncodeStreamState{};
    st.enable = s < 2 ? 1 : 0;
    st.qpEnable = 0;
    st.qpMin = 28;
    st.qpMax = 51;
    st.formats = caps_.Formats(s);
    st.format = st.formats.empty() ? -1 : 0;
  }
  for (int s = 0; s < 2; ++s) ApplyLbrState(s);
  UpdateResolutionLists();
  Default();
}

void VideoEncodeForm::UpdateResolutionLists() {
  std::array<std::string, kStreams> kept;
  for (int s = 0; s < kStreams; ++s) kept[s] = streams[s].ResolutionText();
  for (int s = 0; s < kStreams; ++s) {
    auto& st = streams[s];
    if (st.format < 0 && !st.formats.empty()) st.format = 0;
    st.resolutions = caps_.Resolutions(s, st.FormatText());
    st.resolution = IndexOf(st.resolutions, kept[s]);
    if (st.resolution < 0 && !st.resolutions.empty()) st.resolution = 0;
  }
  for (int s = 0; s < 2; ++s) ApplyLbrState(s);
}

void VideoEncodeForm::FormatChanged(int s) {
  UpdateResolutionLists();
  ResolutionChanged(s);
  QualityChanged(s);
  BitRateControlChanged(s);
}

void VideoEncodeForm::ResolutionChanged(int s) {
  auto& st = streams[s];
  if (st.resolution < 0) return;
  st.frameRates.clear();
  st.frameRate = -1;
  if (const auto* row = caps_.FindRow(s, st.ResolutionText(), st.FormatText())) {
    st.bitRate = std::to_string(row->defaultBitRate);
    st.rangeLabel = RangeLabel(row->minBitRate, row->maxBitRate);
    if (s < 2) {
      st.lbrBitRate = st.bitRate;
      st.lbrRangeLabel = st.rangeLabel;
    }
    st.quality = QualityEntries(*row);
    st.qualityIndex = 0;
    st.frameRates = FrameRates(*row, s == 0);
    // Select by prefix, as a list box does with typed text.
    const std::string prefix = std::to_string(row->defaultFrameRate);
    for (size_t i = 0; i < st.frameRates.size(); ++i)
      if (std::to_string(st.frameRates[i]).rfind(prefix, 0) == 0) {
        st.frameRate = static_cast<int>(i);
        break;
      }
    st.frameRateEnabled = row->minFrameRate != row->maxFrameRate;
    if (!st.frameRateEnabled) st.frameRate = 0;
    st.bitRateEnabled = row->minBitRate != row->maxBitRate;
    if (!st.bitRateEnabled && s < 2) st.lbrBitRate = st.bitRate;
  }
  if (s == 0) {
    for (int o = 1; o < kStreams; ++o) {
      auto& other = streams[o];
      // A main-stream change frees the other streams' controls that their own
      // rows or quality steps may have locked.
      other.bitRateEnabled = true;
      other.frameRateEnabled = true;
      if (other.resolution >= 0) continue;
      const int pick = IndexOf(other.resolutions, caps_.PreferredResolution(o, true));
      if (pick < 0) continue;
      other.resolution = pick;
      ResolutionChanged(o);
    }
  }
  st.iframe = "100";
}

void VideoEncodeForm::QualityChanged(int s) {
  auto& st = streams[s];
  st.bitRateEnabled = st.qualityIndex == 0;
  if (st.qualityIndex > 0 && st.qualityIndex < static_cast<int>(st.quality.size()))
    st.bitRate = std::to_string(st.quality[st.qualityIndex].bitRate);
}

void VideoEncodeForm::BitRateControlChanged(int s) { streams[s].qpEnabled = streams[s].bitRateControl != 0; }

void VideoEncodeForm::ApplyLbrState(int s) {
  auto& st = streams[s];
  st.lbrListsEnabled = st.lbrEnable == 1;
  st.lbrEditEnabled = st.lbrEnable == 1 && st.lbrMode != 0;
}

void VideoEncodeForm::LbrEnableChanged(int s) { ApplyLbrState(s); }

void VideoEncodeForm::LbrModeChanged(int s) { streams[s].lbrEditEnabled = streams[s].lbrMode != 0; }

void VideoEncodeForm::Default() {
  for (int s = 0; s < kStreams; ++s) {
    auto& st = streams[s];
    st.bitRateControl = 1;
    st.qualityIndex = 0;
    st.enable = s < 2 ? 1 : 0;
  }
  profile = 0;
  privateData = 1;
  encodeMode = 1;
  noiseLevel = 6;
  // The lists are rebuilt for the format chosen here, so the preferred
  // resolution is looked up among that format's entries.
  for (auto& st : streams) st.format = st.formats.size() > 1 ? 1 : (st.formats.empty() ? -1 : 0);
  UpdateResolutionLists();
  for (int s = 0; s < kStreams; ++s) {
    const int pick = IndexOf(streams[s].resolutions, caps_.PreferredResolution(s, false));
    if (pick >= 0) streams[s].resolution = pick;
  }
  for (int s = 0; s < kStreams; ++s) ResolutionChanged(s);
  for (int s = 0; s < kStreams; ++s) BitRateControlChanged(s);
  for (auto& st : streams) {
    st.qualityIndex = 0;
    st.qpEnable = 0;
    st.qpMin = 28;
    st.qpMax = 51;
  }
  for (int s = 0; s < 2; ++s) {
    auto& st = streams[s];
    st.lbrEnable = 0;
    st.lbrStyle = 1;
    st.lbrMode = 0;
    st.lbrMotion = 1;
    st.lbrNoise = 0;
    ApplyLbrState(s);
  }
}

EncodeSaveResult VideoEncodeForm::Save() const {
  EncodeSaveResult result;
  auto reject = [&result](const char* key) {
    result.messageKey = key;
    return result;
  };
  TiXmlElement encode("Encode");
  for (int s = 0; s < kStreams; ++s) {
    if (s == 2 && !thirdStreamSupported) continue;
    const auto& st = streams[s];
    const int enable = enableRowVisible ? (st.enable >= 0 ? st.enable : (s < 2 ? 1 : 0)) : 1;
    const int qpEnable = st.qpEnable >= 0 ? st.qpEnable : 0;
    const int qpMin = st.qpMin >= 0 ? st.qpMin : 28;
    const int qpMax = st.qpMax >= 0 ? st.qpMax : 51;
    const std::string format = st.FormatText();
    const std::string resolution = st.ResolutionText();
    if (resolution.empty()) return reject("IDS_VIDEO_ENCODE_NO_RESOLUTION");
    const std::string control = st.bitRateControl == 0 ? "CBR" : st.bitRateControl == 1 ? "VBR" : "";
    if (!IsIntInRange(st.iframe, 1, 200)) return reject("IDS_STR_ZH_CN_MSG_TIPS25");
    const std::string frameRate = st.FrameRateText();
    if (frameRate.empty()) return reject("IDS_VIDEO_ENCODE_NO_FRAMERATE");
    const BitRateRange range = caps_.RangeOf(s, resolution, format);
    if (!IsIntInRange(st.bitRate, range.min, range.max)) return reject("IDS_STR_ZH_CN_MSG_TIPS26");
    std::string lbrBitRate = "0";
    if (s < 2 && st.lbrEnable >= 1 && st.lbrMode >= 1) {
      // Each stream's low bit rate is bounded by that stream's own rows.
      lbrBitRate = st.lbrBitRate;
      if (!IsIntInRange(lbrBitRate, range.min, range.max)) return reject("IDS_STR_ZH_CN_MSG_TIPS26");
    }
    if (qpMax < qpMin) return reject("IDS_QP_LIMIT");

    TiXmlElement config("EncodeConfig");
    config.SetAttribute("Enable", enable);
    config.SetAttribute("Stream", s + 1);
    config.SetAttribute("Resolution", resolution);
    config.SetAttribute("EncodeFormat", format);
    config.SetAttribute("BitRateControl", control);
    config.SetAttribute("Initquant", st.iframe);
    config.SetAttribute("BitRate", st.bitRate);
    config.SetAttribute("BitRateQuality", st.qualityIndex);
    config.SetAttribute("FrameRate", frameRate);
    config.SetAttribute("qp_enable", qpEnable);
    config.SetAttribute("qp_min", qpMin);
    config.SetAttribute("qp_max", qpMax);
    if (lbrSupported && s < 2) {
      config.SetAttribute("lbr_enable", st.lbrEnable);
      config.SetAttribute("lbr_style", st.lbrStyle);
      config.SetAttribute("lbr_bitratemode", st.lbrMode);
      config.SetAttribute("lbr_bitrate", lbrBitRate);
      config.SetAttribute("lbr_motionlevel", st.lbrMotion);
      config.SetAttribute("lbr_noicelevel", st.lbrNoise);
    }
    encode.InsertEndChild(config);
  }
  TiXmlElement advance("AdvanceEncodeConfig");
  advance.SetAttribute("EncodeProfile", profile);
  advance.SetAttribute("DisablePrivateData", privateData);
  advance.SetAttribute("EncMode", encodeMode == 0 ? 0 : 4);
  advance.SetAttribute("NoiceLevel", noiseLevel);
  encode.InsertEndChild(advance);
  TiXmlDocument doc;
  doc.InsertEndChild(encode);
  result.status = EncodeSaveResult::Status::Ready;
  result.xml = PrintXml(doc);
  return result;
}

}  // namespace kelvara::dialogs
