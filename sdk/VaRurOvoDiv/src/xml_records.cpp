// Record helpers: XML blocks <-> the SDK's fixed-layout records.
#include <cstdlib>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"

extern "C" void ZQ_NETSDK_IPC_XMLGET_SAFE_FREE(char* text) { std::free(text); }
