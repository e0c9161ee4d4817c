#include "media/core/mpa_exception.h"

#include <cerrno>
#include <cstring>

namespace kelvara::media {

namespace {
const char* const kTexts[] = {
    "Can't open the file.",
    "Can't set file position.",
    "Can't read from file.",
    "Reached end of buffer.",
    "No VBR Header found.",
    "Incomplete VBR Header.",
    "No subsequent frame found within tolerance range.",
    "No frame found.",
    "HeaderCorrupt",
    "Free Bitrate currently not supported",
    "Incompatible Header",
    "Corrupt Lyrics3 Tag",
};
}  // namespace

CMPAException::CMPAException(ErrorID id, std::string fileName, std::string function, bool showLastError)
    : id_(id), fileName_(std::move(fileName)), function_(std::move(function)) {
  if (showLastError && errno != 0) systemText_ = std::strerror(errno);
  message_ = Build();
}

const char* CMPAException::ErrorText(ErrorID id) {
  const int i = static_cast<int>(id);
  return i >= 0 && i < static_cast<int>(std::size(kTexts)) ? kTexts[i] : "";
}

std::string CMPAException::Build() const {
  std::string text;
  if (!fileName_.empty()) text += fileName_ + ": ";
  if (!function_.empty()) text += "'" + function_ + "'\n";
  text += ErrorText(id_);
  if (!systemText_.empty()) text += "\n" + systemText_;
  return text;
}

}  // namespace kelvara::media
