#pragma once
// What a simulated device does with a firmware image while it arrives: it
// checks the image as the program's own image check does (header CRC, every
// present part inside the image, every part's CRC; padding, trailers, other
// layouts and magics pass) without keeping the image in memory, so hundreds of
// devices can take large images at once. And the journal line of every file
// a device received.
#include <cstdint>
#include <string>
#include <string_view>

#include "firmware/core/firmware_image.h"

namespace kelvara::devsim {

class ImageIntake {
 public:
  explicit ImageIntake(std::uint64_t announced_size) : size_(announced_size) {}
  void Feed(std::string_view bytes);
  // After the last byte: true for a sound image; its version text (the rootfs
  // name) or the reason it was refused.
  bool Finish(std::string& version, std::string& error);

 private:
  void FeedParts(std::string_view bytes);

  std::uint64_t size_;
  std::uint64_t received_ = 0;
  std::string header_bytes_;
  bool header_checked_ = false;
  firmware::HeaderError header_error_ = firmware::HeaderError::kShort;
  firmware::FirmwareImageHeader header_;
  std::uint32_t crcs_[firmware::kFirmwarePartCount] = {};
};

// The journal text of a received file: "kind=K size=N sha256=HEX name=NAME".
std::string ReceivedFileJournalText(std::uint32_t kind, std::uint64_t size, const std::string& sha256_hex,
                                    const std::string& name);

}  // namespace kelvara::devsim
