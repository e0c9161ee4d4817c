#pragma once
// The configuration pages of the remote-configuration window: which blocks
// it shows (read with a get code, written with its set code), the editable
// fields of a block (every attribute of every element, in document order)
// and the block written back with edited values, everything else kept.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace remote_config {

struct PageSpec {
  const char* title;
  std::uint32_t get, set;
};
const std::vector<PageSpec>& Pages();

struct Field {
  std::string label;  // "Root/Element.attribute" ("Root/Element[2].attribute" for a repeated element)
  std::string value;
};

// A page shows at most this many fields, each label at most this long: a
// block past them (or past the XML guard's limits) is refused, not drawn.
inline constexpr std::size_t kMaxPageFields = 8192;
inline constexpr std::size_t kMaxLabelBytes = 512;
// The window shows at most this many fields over all its pages together (a
// device's own pages have a few hundred; this takes a page at the cap and as
// much again), so that a device cannot make it build widgets without end.
inline constexpr std::size_t kMaxWindowFields = 16384;

// What a block gives a page: its fields, or why it gives none.
struct BlockRead {
  std::optional<std::vector<Field>> fields;
  bool refused = false;      // XML, but deeper, wider or larger than a page takes
  bool pastWindow = false;   // readable, but the window's pages would pass kMaxWindowFields
  std::string error;         // why there are no fields
};
// Reads a block (up to 1 MiB from the device; parse it off the UI thread).
BlockRead ReadBlock(const std::string& block);
// Refuses a read block whose fields, with the `shown` fields of the window's
// other pages, would pass kMaxWindowFields: its fields are dropped and the
// error says why.
void FitInWindow(BlockRead& read, std::size_t shown);

// The fields of a block; nothing when it is no XML or refused.
std::optional<std::vector<Field>> BlockFields(const std::string& block);
// The block with the fields' values put back by position (the fields of
// BlockFields of the same block); nothing when the block is no XML or the
// fields do not match it. The text is printed without layout.
std::optional<std::string> ApplyFields(const std::string& block, const std::vector<Field>& fields);

}  // namespace remote_config
