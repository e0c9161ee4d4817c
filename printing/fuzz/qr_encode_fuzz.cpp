// Any input bytes with any parameters: the encoder either refuses or makes a
// symbol of the size its version says, and never touches memory outside itself.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "printing/core/qr_encode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A length of 0 asks the encoder to measure a NUL-terminated text; fuzz
  // input is not terminated, so always pass at least one byte.
  if (size < 3) return 0;
  static auto qr = std::make_unique<CQR_Encode>();
  const int level = data[0] & 3;
  const int mask = ((data[0] >> 2) & 7) - 1 + ((data[0] >> 5) & 1);  // -1..7
  const bool autoExtent = (data[0] & 0x40) != 0;
  const auto charset = (data[0] & 0x80) ? QrInputCharset::kShiftJis : QrInputCharset::kBytes;
  const int version = data[1] % 42;
  // A zero-terminated copy, so the "length 0: up to the zero byte" form is safe.
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  const int length = (data[1] & 0x80) ? 0 : int(text.size());
  if (qr->Encode(level, version, autoExtent, mask, text.c_str(), length, charset)) {
    if (qr->SymbolSize() != qr->Version() * 4 + 17) __builtin_trap();
    if (version != 0 && !autoExtent && qr->Version() != version) __builtin_trap();
    int dark = 0;
    for (int x = 0; x < qr->SymbolSize(); ++x)
      for (int y = 0; y < qr->SymbolSize(); ++y) dark += qr->IsDark(x, y);
    if (dark == 0) __builtin_trap();
  }
  return 0;
}
