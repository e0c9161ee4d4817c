#pragma once
// Builders of the XML bodies sent to devices. Every attribute value is
// escaped. A body longer than 1,023 bytes is refused (nullopt): the sender
// then returns -3 and sends nothing.
#include <optional>
#include <string>
#include <string_view>

#include "discovery/core/device_records.h"

namespace kelvara::discovery {

// Operator credentials; the OPERATOR_AUTH element is written only when both
// are given (either may be an empty text).
struct OperatorAuth {
  std::string userName;
  std::string password;
};

// Serial body: IPC_SERIALNUMBER, retain (when keepNetwork > 0), OPERATOR_AUTH.
std::optional<std::string> BuildSerialAuthXml(std::string_view serialNumber, int keepNetwork,
                                              const std::optional<OperatorAuth>& auth);

// Network-settings body for Msg_code 2 (ALLNET is not sent).
std::optional<std::string> BuildLanConfigXml(std::string_view serialNumber,
                                             const LANConfigInfo& lan,
                                             const std::optional<OperatorAuth>& auth);

// Intercom body for Msg_code 2.
std::optional<std::string> BuildIntercomXml(std::string_view serialNumber,
                                            const IntercomConfig& intercom);

// The stream-access text sent through the SDK after one field changed.
std::optional<std::string> BuildMediaStreamConfigXml(const StreamAccessInfo& access);

}  // namespace kelvara::discovery
