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
    received_ += take;
    bytes.remove_prefix(take);
    if (header_bytes_.size() < fw::kFirmwareHeaderSize) return;
    header_checked_ = true;
    header_error_ = fw::ParseFirmwareHeader(reinterpret_cast<const std::uint8_t*>(header_bytes_.data()), size_,
                                            header_);
  }
  FeedParts(bytes);
}

void ImageIntake::FeedParts(std::string_view bytes) {
  // The parts follow the header contiguously (a passing header says so):
  // each byte belongs to the part whose range holds its position.
  while (!bytes.empty()) {
    std::size_t take = bytes.size();
    int part = -1;
    if (header_error_ == fw::HeaderError::kNone) {
      for (int i = 0; i < fw::kFirmwarePartCount; ++i) {
        if (!header_.Has(i)) continue;
        const std::uint64_t begin = header_.Part(i).offset, end = begin + header_.Part(i).size;
        if (received_ >= begin && received_ < end) {
          part = i;
          take = static_cast<std::size_t>(std::min<std::uint64_t>(take, end - received_));
          break;
        }
      }
    }
    if (part >= 0)
      crcs_[part] = static_cast<std::uint32_t>(
          crc32(crcs_[part], reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(take)));
    received_ += take;
    bytes.remove_prefix(take);
  }
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
