#pragma once
// The audio capture and audio encode pages without widgets.
#include <optional>
#include <string>
#include <vector>

namespace kelvara::dialogs {

// --- Audio capture ---------------------------------------------------------
// A volume field as sent: a number is kept within 0..100 ("150" sends
// "100"); a field that is no number sends the slider's position, which the
// slider always keeps within range.
std::string AudioVolumeText(const std::string& edit, int sliderPosition);
// <Capture Volume VolumePlay amplify ra_answer />, values as given.
std::string BuildAudioCaptureXml(const std::string& volume, const std::string& volumePlay, int amplify,
                                 int raAnswer);

// --- Audio encode ----------------------------------------------------------
struct AudioCapability {
  std::string name;
  int type = 0, bits = 0, khz = 0, kbps = 0, isDefault = 0;
};
// The built-in table as capability texts "name,type,bits,kHz,kbit/s,default".
const std::vector<std::string>& AudioCapabilityTexts();
// The encoding names in table order, each once.
std::vector<std::string> AudioEncodeTypes();
// The sample rates ("8000", ...) of one encoding, each once, in table order.
std::vector<std::string> AudioSampleRates(const std::string& type);
// The bit rates ("64000", ...) of one encoding at one sample rate.
std::vector<std::string> AudioBitRates(const std::string& type, const std::string& sampleRate);
// The index kept when a list is refilled: `previous` when within `count`, else 0.
inline int KeptIndex(int previous, int count) { return previous >= 0 && previous < count ? previous : 0; }
// <Audio><Encode Enable SampleRate EncodeType BitRate /></Audio>.
std::string BuildAudioEncodeXml(int enable, const std::string& sampleRate, const std::string& type,
                                const std::string& bitRate);

}  // namespace kelvara::dialogs
