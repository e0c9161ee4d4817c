#include "firmware_intake.h"

#include <zlib.h>

#include <algorithm>

namespace kelvara::devsim {

namespace fw = kelvara::firmware;

void ImageIntake::Feed(std::string_view bytes) {
  if (!header_checked_) {
    const std::size_t want = fw::kFirmwareHeaderSize - header_bytes_.size();
    const std::size_t take = std::min(want, bytes.size());
    header_bytes_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (header_bytes_.size() < fw::kFirmwareHeaderSize) return;
    header_checked_ = true;
    header_error_ = fw::ParseFirmwareHeader(reinterpret_cast<const std::uint8_t*>(header_bytes_.data()), size_,
                                            header_);
    FeedParts(header_bytes_);  // a part may begin inside the header's bytes
  }
  FeedParts(bytes);
}

void ImageIntake::FeedParts(std::string_view bytes) {
  // Parts lie at the header's offsets, in any order, with gaps (padding,
  // alignment, a trailer) or overlapping: every present part takes the bytes
  // of its own range, which arrive in order.
  if (header_error_ == fw::HeaderError::kNone) {
    const std::uint64_t begin = received_, end = received_ + bytes.size();
    for (int i = 0; i < fw::kFirmwarePartCount; ++i) {
      if (!header_.Has(i)) continue;
      const std::uint64_t from = std::max<std::uint64_t>(begin, header_.Part(i).offset);
      const std::uint64_t to = std::min<std::uint64_t>(end, header_.Part(i).offset + std::uint64_t{header_.Part(i).size});
      if (from >= to) continue;
      crcs_[i] = static_cast<std::uint32_t>(crc32(crcs_[i], reinterpret_cast<const Bytef*>(bytes.data() + (from - begin)),
                                                  static_cast<uInt>(to - from)));
    }
  }
  received_ += bytes.size();
}

bool ImageIntake::Finish(std::string& version, std::string& error) {
  if (!header_checked_ || received_ != size_) {
    error = fw::HeaderErrorText(fw::HeaderError::kShort);
    return false;
  }
  if (header_error_ != fw::HeaderError::kNone) {
    error = fw::HeaderErrorText(header_error_);
    return false;
  }
  for (int i = 0; i < fw::kFirmwarePartCount; ++i) {
    if (header_.Has(i) && crcs_[i] != header_.Part(i).crc) {
      error = fw::HeaderErrorText(fw::HeaderError::kPartCrc);
      return false;
    }
  }
  version = header_.RootfsName();
  return true;
}

std::string ReceivedFileJournalText(std::uint32_t kind, std::uint64_t size, const std::string& sha256_hex,
                                    const std::string& name) {
  return "kind=" + std::to_string(kind) + " size=" + std::to_string(size) + " sha256=" + sha256_hex +
         " name=" + name;
}

}  // namespace kelvara::devsim
