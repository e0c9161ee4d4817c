#pragma once
// The discovery wire protocol: XML texts in single UDP datagrams to port 3001
// of 255.255.255.255. One envelope carries the search request, the devices'
// replies and the login-free commands.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TiXmlDocument;

namespace kelvara::discovery {

inline constexpr unsigned short kDiscoveryPort = 3001;
// Receive buffer of one datagram: at most this less one byte of text is kept.
inline constexpr std::size_t kReceiveBufferSize = 5120;
// Bodies are at most this long (the builders refuse longer ones).
inline constexpr std::size_t kMaxBodySize = 1023;

enum MsgCode : int {
  kMsgSearch = 1,          // search request, no body
  kMsgSetNetwork = 2,      // network-settings or intercom body
  kMsgSearchReply = 3,     // a device's description
  kMsgRestore = 5,         // serial body, maybe with keep-network
  kMsgReboot = 7,          // serial body
  kMsgFactoryMode = 9,     // serial body, Msg_flag = the mode
  kMsgRestoreByUuid = 5898,  // serial body holding the UUID
};

// The request text sent for `msgCode`: the six-line form without a body, the
// eight-line form with one. Lines end in LF, the last has none; the text goes
// out without a terminating zero.
std::string BuildDiscoveryMessage(int msgCode, std::optional<std::string_view> body,
                                  int msgFlag);

// The root names a reply may use, from the customer setting: empty gives
// XML_SOLVEN and XML_MARLOWCAM; otherwise the comma-separated names in order
// (the first 127 characters, at most 10 names; empty names are skipped).
std::vector<std::string> AcceptedRoots(std::string_view setting);

struct ReplyHeader {
  std::string msgType;
  std::string msgCode;
  std::string msgFlag;
};

// Result codes of ParseReplyHeader.
enum HeaderResult : int {
  kHeaderOk = 0,
  kHeaderNoRoot = -1,
  kHeaderNoType = -3,
  kHeaderNoCode = -4,
  kHeaderNoFlag = -5,
  kHeaderRefused = -6,  // the XML guard refused the text (too deep, wide or large)
};

// Accepts a received datagram text when it holds the opening and the closing
// tag of an accepted root as plain text, parses as XML with that element at
// the top level, and its MESSAGE_HEADER carries non-empty Msg_type, Msg_code
// and Msg_flag (each kept to 255 characters). `header` is cleared first.
// A text the XML guard refuses gives kHeaderRefused and, in `refusal`, why.
// `document`, when given, keeps the parsed text for the reply's readers.
int ParseReplyHeader(std::string_view acceptedRootsSetting, std::string_view text,
                     ReplyHeader& header, std::string* refusal = nullptr,
                     TiXmlDocument* document = nullptr);

// The C atoi rule: leading blanks, optional sign, digits; anything else 0.
int AtoI(std::string_view text);

}  // namespace kelvara::discovery
