// Feeds arbitrary datagrams through the path a received reply takes: the
// header check, then the record parser, as the search thread runs them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "discovery/core/discovery_protocol.h"
#include "discovery/core/reply_parsers.h"
#include "discovery/core/search_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvara::discovery;
  if (size >= kReceiveBufferSize) size = kReceiveBufferSize - 1;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ReplyHeader header;
  if (ParseReplyHeader("", text, header) == kHeaderOk && AtoI(header.msgCode) == kMsgSearchReply)
    (void)ParseSearchReply(text);
  kelvara::StreamAccessInfo access;
  (void)ParseMediaStreamConfigText(text, access);
  std::string value;
  (void)GetResponseSerialNumber(text, value);
  return 0;
}
