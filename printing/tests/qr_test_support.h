#pragma once
// Helpers shared by the QR tests: decoding symbols with zbarimg and building
// test texts.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "printing/core/qr_encode.h"

namespace kelvara::test {

// Writes the symbol as a grey-map image (pixelsPerModule per module, a quiet
// zone of 4 modules) to `path`.
void WriteSymbolPgm(const CQR_Encode& qr, const std::filesystem::path& path, int pixelsPerModule = 4);

// Runs `zbarimg --nodbus --raw -q -Sbinary` on the image files and returns
// its output bytes (binary mode keeps the decoded bytes as they are), or
// nothing when zbarimg found no symbol or failed.
std::optional<std::string> ZbarDecodeFile(const std::filesystem::path& image);

// Encodes nothing: decodes a symbol already encoded.
std::optional<std::string> ZbarDecode(const CQR_Encode& qr, int pixelsPerModule = 4);

// Deterministic pseudo-random bytes drawn from `alphabet` (all 256 values
// when empty).
std::string TestBytes(std::size_t n, unsigned seed, const std::string& alphabet = {});

}  // namespace kelvara::test
