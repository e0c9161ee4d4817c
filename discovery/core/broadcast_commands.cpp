#include "discovery/core/broadcast_commands.h"

#include "discovery/core/discovery_protocol.h"

namespace kelvara::discovery {
namespace {

int SendTimes(int msgCode, const std::optional<std::string>& body, int times, const SendRequest& send,
              int msgFlag = 0) {
  if (!body) return kBodyNotBuilt;
  const std::string text = BuildDiscoveryMessage(msgCode, *body, msgFlag);
  for (int i = 0; i < times; ++i) send(text);
  return 0;
}

}  // namespace

int RestoreDevByBD(const DeviceSearchInfo& record, int keepNetwork, const OperatorAuth& auth,
                   const SendRequest& send) {
  return SendTimes(kMsgRestore, BuildSerialAuthXml(record.serialNumber, keepNetwork, auth), 3, send);
}

int SetLanConfigByBD(const DeviceSearchInfo& record, const OperatorAuth& auth, const SendRequest& send) {
  return SendTimes(kMsgSetNetwork, BuildLanConfigXml(record.serialNumber, record.lanConfig, auth), 1, send);
}

int RebootRecordByBD(const std::string& serialNumber, const OperatorAuth& auth, const SendRequest& send) {
  return SendTimes(kMsgReboot, BuildSerialAuthXml(serialNumber, 0, auth), 1, send);
}

int SetFactoryModeRecordByBD(const std::string& serialNumber, int mode, const OperatorAuth& defaults,
                             const SendRequest& send) {
  return SendTimes(kMsgFactoryMode, BuildSerialAuthXml(serialNumber, 0, defaults), 3, send, mode);
}

int RestoreNewDeviceByBD(const DeviceSearchInfo& record, const OperatorAuth& defaults,
                         const SendRequest& send) {
  return SendTimes(kMsgRestoreByUuid, BuildSerialAuthXml(record.uuid, 0, defaults), 3, send);
}

int RestoreRecoveredDevice(const DeviceSearchInfo& record, RecoveryMarks* marks,
                           const OperatorAuth& defaults, const SendRequest& send) {
  if (marks == nullptr || !marks->NeedsFactoryRestore(record.uuid)) return 0;
  const int rc = SendTimes(kMsgRestore, BuildSerialAuthXml(record.serialNumber, 0, defaults), 3, send);
  if (rc == 0) marks->CountFactoryRestore(record.uuid);
  return rc;
}

}  // namespace kelvara::discovery
