// The OEM MP3 calls: listing, playing and stopping are system controls 1021
// and 1022 (their answers are AUX responses like any other request); an
// upload is a file transfer of kind 5 on the login's transfer queue.
#include <tinyxml.h>

#include <cstring>
#include <string>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "sdk_boundary.h"
#include "transfer_call.h"

namespace {

constexpr int kFileSearch = 1021;
constexpr int kPlayControl = 1022;
// Longest file name a play request carries; a device path is far shorter.
constexpr size_t kMaxName = 1024;

std::string Print(const TiXmlElement& e) {
  TiXmlPrinter printer;
  printer.SetStreamPrinting();
  e.Accept(&printer);
  return printer.Str();
}

}  // namespace

extern "C" {

using varurovodiv::GuardedCall;

int ZQ_NETSDK_IPC_SearchOEMMp3File(int loginHandle, int page) {
  return GuardedCall(__func__, [&] {
    if (page < 0) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
    TiXmlElement e("REQUEST_PARAM");
    e.SetAttribute("SearchMode", "0");
    e.SetAttribute("MediaType", "OEMMP3");
    e.SetAttribute("Page", page);
    return ZQ_NETSDK_IPC_SystemControl(loginHandle, kFileSearch, nullptr, Print(e).c_str());
  });
}

int ZQ_NETSDK_IPC_UploadOEMMp3File(int loginHandle, const char* localPath, int /*reserved*/) {
  return GuardedCall(__func__, [&] {
    return varurovodiv::Transfer(loginHandle, true, varurovodiv::wire::TransferKind::kOemMp3File, localPath,
                                 nullptr);
  });
}

int ZQ_NETSDK_IPC_PlayMp3File(int loginHandle, const char* fileName, int loop) {
  return GuardedCall(__func__, [&] {
    if (fileName == nullptr) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
    const size_t n = strnlen(fileName, kMaxName + 1);
    if (n == 0 || n > kMaxName) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
    // Control characters do not survive an XML attribute.
    for (size_t i = 0; i < n; ++i)
      if (static_cast<unsigned char>(fileName[i]) < 0x20) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
    TiXmlElement e("REQUEST_PARAM");
    e.SetAttribute("Action", "Play");
    e.SetAttribute("FileName", fileName);
    e.SetAttribute("Loop", loop != 0 ? 1 : 0);
    return ZQ_NETSDK_IPC_SystemControl(loginHandle, kPlayControl, nullptr, Print(e).c_str());
  });
}

int ZQ_NETSDK_IPC_StopPlayMp3File(int loginHandle) {
  return GuardedCall(__func__, [&] {
    return ZQ_NETSDK_IPC_SystemControl(loginHandle, kPlayControl, nullptr, "<REQUEST_PARAM Action=\"Stop\" />");
  });
}

}  // extern "C"
