#pragma once
// Writes firmware images in the plain layout the reader of firmware_image.h
// takes: the 1556-byte header, then the present parts one after the other in
// file order (kernel, rootfs, uboot, tgz, oem), without gaps, the total size
// being the header plus the parts. Fields of absent parts stay zero.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "firmware/core/firmware_image.h"

namespace kelvara::firmware {

struct FirmwareImageContent {
  // A part's bytes make it present (an empty part is present with size 0).
  std::array<std::optional<std::string>, kFirmwarePartCount> parts;  // kernel, rootfs, uboot, tgz, oem
  std::string kernel_name;
  std::string rootfs_name;  // the image's version text
  std::string magic = kFirmwareMagic;
};

// Why an image cannot be written; the empty text when it can.
std::string FirmwareImageProblem(const FirmwareImageContent& content);

// The image's bytes, or nullopt with `error` set (FirmwareImageProblem).
std::optional<std::string> BuildFirmwareImage(const FirmwareImageContent& content, std::string& error);

// Filler bytes for a part nobody supplied: a fixed pattern seeded by `seed`
// (images of different versions differ, the same command gives the same bytes).
std::string FirmwareFillerBytes(std::size_t length, std::string_view seed);

}  // namespace kelvara::firmware
