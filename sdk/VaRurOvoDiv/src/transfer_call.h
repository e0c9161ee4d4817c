#pragma once
// Queues a file transfer on a login: the argument checks every file call
// shares (SDK initialised, known handle, a readable local file for uploads).
#include "wire_frame.h"

namespace varurovodiv {

// 0 when queued, else a negative ZQ_NETSDK_ERR_*. `device` names the file on
// the device for downloads by name (may be null).
int Transfer(int handle, bool upload, wire::TransferKind kind, const char* local, const char* device);

}  // namespace varurovodiv
