#include "device/core/login_events.h"

#include "common/language_table.h"
#include "device/core/row_texts.h"

namespace kelvara::device {

const char* LoginEventTextKey(int eventType) {
  switch (eventType) {
    case kEventLinkLost: return LangKey("MSGTIP10");
    case kEventConnectFailed: return LangKey("MSGTIP4");
    case kEventLoginOk: return LangKey("MSGTIP1");
    case kEventProtocolError: return LangKey("MSGTIP3");
    case kEventLoginRefused: return LangKey("IDS_STR_ZH_CN_USERERROR");
    case kEventHeartbeatLost: return LangKey("MSGTIP2");
    default: return nullptr;
  }
}

discovery::DeviceListRow* ApplyLoginStateEvent(discovery::DeviceRows& rows, const DeviceStatusEvent& event,
                                               const std::function<std::string(const char*)>& lookup) {
  const char* key = LoginEventTextKey(event.eventType);
  if (!key) return nullptr;
  discovery::DeviceListRow* row = rows.FindByHandle(event.loginHandle);
  if (!row) return nullptr;
  // A new session or the end of one: no reply still on its way may apply an
  // older request.
  discovery::ClearPendingRequests(*row);
  if (event.eventType == kEventLoginOk) {
    row->m_online = true;
  } else {
    row->m_online = false;
    row->m_busy = false;
  }
  SetRowStatus(rows, *row, lookup ? lookup(key) : std::string());
  return row;
}

}  // namespace kelvara::device
