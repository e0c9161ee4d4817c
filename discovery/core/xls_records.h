#pragma once
// BIFF8 record types the writer and the reader's checks share.
#include <cstdint>

namespace kelvara::discovery::biff {

constexpr std::uint16_t kBof = 0x0809, kEof = 0x000A, kCodepage = 0x0042, kWindow1 = 0x003D, kFont = 0x0031,
                        kXf = 0x00E0, kStyle = 0x0293, kBoundsheet = 0x0085, kSst = 0x00FC, kContinue = 0x003C,
                        kDimensions = 0x0200, kWindow2 = 0x023E, kLabelSst = 0x00FD, kNumber = 0x0203;

}  // namespace kelvara::discovery::biff
