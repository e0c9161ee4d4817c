#include "device/core/cyclic_reboot.h"

#include "common/debug_log.h"
#include "common/language_table.h"
#include "common/log_text.h"

namespace kelvara::device {

CyclicRebootTest::StartResult CyclicRebootTest::Start(const discovery::DeviceListRow* row) {
  if (running_) Stop();
  if (row == nullptr) return StartResult::kNoRow;
  discovery::OperatorAuth auth;
  if (!commands_.Seams().Network().GetOperatorAuth(auth)) return StartResult::kNoAuth;
  auth_ = std::move(auth);
  key_ = row->m_key;
  serial_ = row->m_searchInfo.serialNumber;
  running_ = true;
  return StartResult::kStarted;
}

void CyclicRebootTest::Stop() {
  if (!running_) return;
  running_ = false;
  key_.clear();
  serial_.clear();
  auth_ = {};
  if (onStopped) onStopped();
}

void CyclicRebootTest::Step() {
  if (!running_) return;
  discovery::DeviceListRow* row = commands_.Rows().FindByKey(key_);
  if (row != nullptr && row->m_busy) {
    // No reboot while a firmware upgrade runs on the device; the test goes on.
    commands_.SetStatus(*row, LangKey("BATCH_STATE_UPGRADING"));
    return;
  }
  if (commands_.BroadcastRebootSwitch() <= 0 && row != nullptr && row->m_online && row->m_loginHandle > 0)
    commands_.Sdk().RebootDVR(row->m_loginHandle);
  const long result = commands_.Seams().Network().RebootDevByBD(serial_, auth_);
  if (result != 0) DebugLogPrintf("RebootDevByBD %s failed. error = %ld", EscapeForLog(serial_).c_str(), result);
}

}  // namespace kelvara::device
