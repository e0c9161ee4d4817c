// The C functions of the SDK: argument checks, then the login table.
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "sdk_boundary.h"
#include "sdk_context.h"
#include "transfer_call.h"

using varurovodiv::LoginParams;
using varurovodiv::Request;
using varurovodiv::SdkContext;
using varurovodiv::TransferJob;
using varurovodiv::wire::FrameType;
using varurovodiv::wire::TransferKind;

namespace {

constexpr int kVersion = 0x01000000;   // 1.0.0
constexpr int kBuildDate = 20261210;
using varurovodiv::wire::FitsOneFrame;
// Request texts and device paths travel in one frame: what is longer is
// refused here, so the session never holds a request it cannot send.
constexpr size_t kMaxText = varurovodiv::wire::kMaxPayload;

int Send(int handle, FrameType type, int code, const char* text, size_t length, bool wants_aux) {
  if (!SdkContext::Instance().initialised()) return ZQ_NETSDK_ERR_NOT_INIT;
  if (code < 0 || code > 0xFFFFFF) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
  if (!FitsOneFrame(length)) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
  auto session = SdkContext::Instance().Find(handle);
  if (!session) return ZQ_NETSDK_ERR_BAD_HANDLE;
  Request r;
  r.type = type;
  r.command = static_cast<uint32_t>(code);
  if (text != nullptr) r.payload.assign(text, length);
  r.wants_aux = wants_aux;
  return session->Submit(std::move(r));
}

size_t TextLength(const char* text) { return text == nullptr ? 0 : strnlen(text, kMaxText + 1); }

// Length argument of the set calls: trust it only as far as the text goes.
int CheckedLength(const char* text, int length, size_t& out) {
  if (text == nullptr || length < 0) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
  out = strnlen(text, static_cast<size_t>(length));
  return 0;
}

}  // namespace

namespace varurovodiv {

static bool Readable(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  struct stat st {};
  return stat(path, &st) == 0 && S_ISREG(st.st_mode) && access(path, R_OK) == 0;
}

static std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Transfer(int handle, bool upload, TransferKind kind, const char* local, const char* device) {
  if (!SdkContext::Instance().initialised()) return ZQ_NETSDK_ERR_NOT_INIT;
  auto session = SdkContext::Instance().Find(handle);
  if (!session) return ZQ_NETSDK_ERR_BAD_HANDLE;
  if (local == nullptr || *local == '\0') return ZQ_NETSDK_ERR_BAD_ARGUMENT;
  TransferJob job;
  job.upload = upload;
  job.kind = kind;
  job.local_path = local;
  // The name the first frame carries: an upload's PUT_BEGIN the local file's
  // base name after the 8-byte size, a download's GET_FILE the device path.
  if (upload) {
    job.device_path = BaseName(job.local_path);
  } else if (device != nullptr) {
    job.device_path.assign(device, TextLength(device));
  }
  if (!FitsOneFrame(job.device_path.size() + (upload ? 8 : 0))) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
  if (upload && !Readable(local)) return ZQ_NETSDK_ERR_FILE;
  return session->SubmitTransfer(std::move(job));
}

}  // namespace varurovodiv

using varurovodiv::Transfer;

extern "C" {

using varurovodiv::GuardedCall;

int ZQ_NETSDK_IPC_Init(void) {
  return GuardedCall(__func__, [] { return SdkContext::Instance().Init(); });
}
int ZQ_NETSDK_IPC_Cleanup(void) {
  return GuardedCall(__func__, [] { return SdkContext::Instance().Cleanup(); });
}
int ZQ_NETSDK_IPC_GetSDKVersion(void) { return kVersion; }
int ZQ_NETSDK_IPC_GetSDKBuildData(void) { return kBuildDate; }

int ZQ_NETSDK_IPC_SetStatusEventCallBack(STATUS_EVENT_CALLBACK callback, void* user) {
  return GuardedCall(__func__, [&] {
    SdkContext::Instance().dispatcher().SetStatusCallback(callback, user);
    return 0;
  });
}

int ZQ_NETSDK_IPC_SetAUXResponseCallBack(AUX_RESPONSE_CALLBACK callback, void* user) {
  return GuardedCall(__func__, [&] {
    SdkContext::Instance().dispatcher().SetAuxCallback(callback, user);
    return 0;
  });
}

int ZQ_NETSDK_IPC_SetAutoReconnect(int loginHandle, int enable) {
  return GuardedCall(__func__, [&] { return SdkContext::Instance().SetAutoReconnect(loginHandle, enable != 0); });
}

int ZQ_NETSDK_IPC_Login(const char* address, unsigned short port, const char* user,
                        const char* password, int /*reserved*/) {
  return GuardedCall(__func__, [&] {
    if (address == nullptr || *address == '\0' || port == 0) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
    LoginParams p;
    p.address = address;
    p.port = port;
    p.user = user != nullptr ? user : "";
    p.password = password != nullptr ? password : "";
    if (p.user.size() > 255 || p.password.size() > 255) return ZQ_NETSDK_ERR_BAD_ARGUMENT;
    return SdkContext::Instance().Login(std::move(p));
  });
}

int ZQ_NETSDK_IPC_Logout(int loginHandle) {
  return GuardedCall(__func__, [&] { return SdkContext::Instance().Logout(loginHandle); });
}
int ZQ_NETSDK_IPC_LogoutAll(void) {
  return GuardedCall(__func__, [] { return SdkContext::Instance().LogoutAll(); });
}

int ZQ_NETSDK_IPC_SystemControl(int loginHandle, int code, void* /*reserved*/,
                                const char* request) {
  return GuardedCall(__func__, [&] {
    return Send(loginHandle, FrameType::kSystemControl, code, request, TextLength(request), true);
  });
}

int ZQ_NETSDK_IPC_GetDVRConfig(int loginHandle, int code, int /*channel*/, const char* request,
                               char* /*outBuffer*/, int /*outSize*/) {
  return GuardedCall(__func__, [&] {
    return Send(loginHandle, FrameType::kGetConfig, code, request, TextLength(request), true);
  });
}

int ZQ_NETSDK_IPC_SetDVRConfig(int loginHandle, int code, int /*channel*/, const char* text,
                               int length) {
  return GuardedCall(__func__, [&] {
    size_t n = 0;
    if (const int e = CheckedLength(text, length, n)) return e;
    return Send(loginHandle, FrameType::kSetConfig, code, text, n, true);
  });
}

int ZQ_NETSDK_IPC_SetDevcieConfig(int loginHandle, int code, const char* text, int length) {
  return GuardedCall(__func__, [&] {
    size_t n = 0;
    if (const int e = CheckedLength(text, length, n)) return e;
    return Send(loginHandle, FrameType::kSetDeviceConfig, code, text, n, true);
  });
}

int ZQ_NETSDK_IPC_RebootDVR(int loginHandle) {
  return GuardedCall(__func__, [&] { return Send(loginHandle, FrameType::kReboot, 0, nullptr, 0, false); });
}

int ZQ_NETSDK_IPC_RestoreConfig(int loginHandle) {
  return GuardedCall(__func__,
                     [&] { return Send(loginHandle, FrameType::kRestoreConfig, 0, nullptr, 0, false); });
}

int ZQ_NETSDK_IPC_PTZControl(int loginHandle, int command, int param1, int param2) {
  return GuardedCall(__func__, [&] {
    char text[128];
    const int n = std::snprintf(text, sizeof text,
                                "<PTZ_CONTROL Command=\"%d\" Param1=\"%d\" Param2=\"%d\" />", command,
                                param1, param2);
    return Send(loginHandle, FrameType::kSystemControl, 2001, text, static_cast<size_t>(n), false);
  });
}

int ZQ_NETSDK_IPC_PTZPreset(int loginHandle, int operation, int preset) {
  return GuardedCall(__func__, [&] {
    char text[96];
    const int n = std::snprintf(text, sizeof text, "<PTZ_PRESET Operation=\"%d\" Preset=\"%d\" />",
                                operation, preset);
    return Send(loginHandle, FrameType::kSystemControl, 2002, text, static_cast<size_t>(n), false);
  });
}

int ZQ_NETSDK_IPC_CreateIFrame(int loginHandle, int channel, int stream) {
  return GuardedCall(__func__, [&] {
    char text[96];
    const int n =
        std::snprintf(text, sizeof text, "<IFRAME Channel=\"%d\" Stream=\"%d\" />", channel, stream);
    return Send(loginHandle, FrameType::kSystemControl, 2003, text, static_cast<size_t>(n), false);
  });
}

int ZQ_NETSDK_IPC_SetConfigFile(int loginHandle, const char* localPath) {
  return GuardedCall(__func__,
                     [&] { return Transfer(loginHandle, true, TransferKind::kConfigFile, localPath, nullptr); });
}

int ZQ_NETSDK_IPC_GetConfigFile(int loginHandle, const char* localPath) {
  return GuardedCall(__func__,
                     [&] { return Transfer(loginHandle, false, TransferKind::kConfigFile, localPath, nullptr); });
}

int ZQ_NETSDK_IPC_GetFileByName(int loginHandle, int kind, const char* devicePath,
                                const char* localPath) {
  return GuardedCall(__func__, [&] {
    if (kind != ZQ_FILE_KIND_DEVICE_PATH || devicePath == nullptr || *devicePath == '\0') {
      return ZQ_NETSDK_ERR_BAD_ARGUMENT;
    }
    return Transfer(loginHandle, false, TransferKind::kFileByName, localPath, devicePath);
  });
}

int ZQ_NETSDK_IPC_Upgrade(int loginHandle, const char* imagePath) {
  return GuardedCall(__func__,
                     [&] { return Transfer(loginHandle, true, TransferKind::kFirmware, imagePath, nullptr); });
}

int ZQ_NETSDK_IPC_GetUpgradeProgress(int loginHandle) {
  return GuardedCall(__func__, [&] {
    auto session = SdkContext::Instance().Find(loginHandle);
    if (!session) return ZQ_NETSDK_ERR_BAD_HANDLE;
    return session->upgrade_progress();
  });
}

int ZQ_NETSDK_IPC_UploadOEMAppFile(int loginHandle, const char* localPath) {
  return GuardedCall(__func__,
                     [&] { return Transfer(loginHandle, true, TransferKind::kOemAppFile, localPath, nullptr); });
}

}  // extern "C"
