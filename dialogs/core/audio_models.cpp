#include "dialogs/core/audio_models.h"

#include <tinyxml.h>

#include <algorithm>
#include <sstream>

#include "dialogs/core/number_fields.h"
#include "dialogs/core/xml_text.h"

namespace kelvara::dialogs {

std::string AudioVolumeText(const std::string& edit, int sliderPosition) {
  const auto v = ParseIntField(edit);
  if (!v) return std::to_string(std::clamp(sliderPosition, 0, 100));
  return std::to_string(std::clamp(*v, 0, 100));
}

std::string BuildAudioCaptureXml(const std::string& volume, const std::string& volumePlay, int amplify,
                                 int raAnswer) {
  TiXmlElement e("Capture");
  e.SetAttribute("Volume", volume.c_str());
  e.SetAttribute("VolumePlay", volumePlay.c_str());
  e.SetAttribute("amplify", amplify);
  e.SetAttribute("ra_answer", raAnswer);
  return PrintXml(e);
}

namespace {

const AudioCapability kTable[] = {
    {"G.711", 1, 16, 8, 64, 1},   {"G.711", 1, 16, 16, 128, 0},  {"G.711", 1, 16, 32, 256, 0},
    {"G.711", 1, 16, 48, 384, 0}, {"G.711A", 1, 16, 8, 64, 0},   {"G.711A", 1, 16, 16, 128, 0},
    {"G.711A", 1, 16, 32, 256, 0}, {"G.711A", 1, 16, 48, 384, 0}, {"AAC", 2, 16, 16, 16, 0},
    {"AAC", 2, 16, 32, 32, 0},    {"AAC", 2, 16, 48, 48, 0},
};

std::vector<std::vector<std::string>> Split() {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& text : AudioCapabilityTexts()) {
    std::vector<std::string> fields;
    std::stringstream in(text);
    std::string f;
    while (std::getline(in, f, ',')) fields.push_back(f);
    if (fields.size() > 4) rows.push_back(fields);
  }
  return rows;
}

void AddOnce(std::vector<std::string>& list, const std::string& s) {
  if (std::find(list.begin(), list.end(), s) == list.end()) list.push_back(s);
}

}  // namespace

const std::vector<std::string>& AudioCapabilityTexts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t;
    for (const AudioCapability& c : kTable)
      t.push_back(c.name + "," + std::to_string(c.type) + "," + std::to_string(c.bits) + "," +
                  std::to_string(c.khz) + "," + std::to_string(c.kbps) + "," + std::to_string(c.isDefault));
    return t;
  }();
  return texts;
}

std::vector<std::string> AudioEncodeTypes() {
  std::vector<std::string> out;
  for (const auto& f : Split()) AddOnce(out, f[0]);
  return out;
}

std::vector<std::string> AudioSampleRates(const std::string& type) {
  std::vector<std::string> out;
  for (const auto& f : Split())
    if (f[0] == type) AddOnce(out, f[3] + "000");
  return out;
}

std::vector<std::string> AudioBitRates(const std::string& type, const std::string& sampleRate) {
  std::vector<std::string> out;
  for (const auto& f : Split())
    if (f[0] == type && f[3] + "000" == sampleRate) out.push_back(f[4] + "000");
  return out;
}

std::string BuildAudioEncodeXml(int enable, const std::string& sampleRate, const std::string& type,
                                const std::string& bitRate) {
  TiXmlElement root("Audio");
  TiXmlElement e("Encode");
  e.SetAttribute("Enable", enable);
  e.SetAttribute("SampleRate", sampleRate.c_str());
  e.SetAttribute("EncodeType", type.c_str());
  e.SetAttribute("BitRate", bitRate.c_str());
  root.InsertEndChild(e);
  return PrintXml(root);
}

}  // namespace kelvara::dialogs
