// The recovery request parser and the whole handler on arbitrary datagrams:
// values stay within their bounds, a reply never carries a NUL or exceeds
// the datagram buffer, and no log line holds a line break.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "firmware/recovery/recovery_server.h"

using namespace kelvara::firmware;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const RecoveryRequest request = ParseRecoveryRequest(text);
  if (request.uuid.size() > kRecoveryUuidMax || request.dev_type.size() > kRecoveryDevTypeMax) __builtin_trap();
  if (request.uuid.find('\0') != std::string::npos) __builtin_trap();

  static RecoveryServer* server = [] {
    RecoveryHooks hooks;
    hooks.probe = [](std::uint32_t) { return 0; };
    hooks.log = [](const std::string& line) {
      if (line.find_first_of("\r\n") != std::string::npos) __builtin_trap();
    };
    auto* s = new RecoveryServer(hooks, 64);
    s->SetAdapterAddress(0x0A01A8C0);  // 192.168.1.10 in network order
    s->SetFirmwareList({{"a.bin", {1, "IPC-X1 v1"}}, {"b.bin", {2, "IPC"}}});
    return s;
  }();
  const std::string reply = server->HandleRequest(0x1401A8C0, text);
  if (reply.size() >= kRecoveryBufferSize || reply.find('\0') != std::string::npos) __builtin_trap();
  if (!reply.empty() && reply.rfind("CMD_CODE=2;RESULT=", 0) != 0) __builtin_trap();
  (void)server->NeedsFactoryRestore(request.uuid);
  server->CountFactoryRestore(request.uuid);
  return 0;
}
