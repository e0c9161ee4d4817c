// Device blocks as the remote-configuration pages read them: the fields of
// any text, and the block written back from them, which must read back to
// the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string block(reinterpret_cast<const char*>(data), size);
  const auto fields = remote_config::BlockFields(block);
  if (!fields) return 0;
  const auto written = remote_config::ApplyFields(block, *fields);
  if (!written) std::abort();  // the block's own fields always fit it
  const auto again = remote_config::BlockFields(*written);
  if (!again || again->size() != fields->size()) std::abort();
  return 0;
}
