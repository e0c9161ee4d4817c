// Loads any text as a settings file, then checks that what Save writes reads
// back to the same values and is well-formed UTF-8.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/save_param.h"
#include "common/xml_values.h"

namespace {

// Presets after the first one numbered 0 are not kept by the file format.
void EndPresetLists(CSaveParam& p) {
  for (kelvara::AfStudySettings* s : {&p.af_study, &p.ptz_multiple}) {
    bool ended = false;
    for (auto& preset : s->presets) {
      if (preset.presetNum == 0) ended = true;
      if (ended) preset = {};
    }
  }
}

}  // namespace

// A path that is never read or written.
constexpr char kNoFile[] = "/nonexistent/kelvara-fuzz/zq_cfg.xml";

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CSaveParam a(kNoFile);
  a.LoadFromText(std::string_view(reinterpret_cast<const char*>(data), size));
  EndPresetLists(a);
  const std::string saved = a.ToXmlText();
  if (!kelvara::IsValidUtf8(saved)) std::abort();

  CSaveParam b(kNoFile);
  b.LoadFromText(saved);
  if (b.ToXmlText() != saved) std::abort();
  return 0;
}
