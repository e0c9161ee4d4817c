#include "debug_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <system_error>

#include "rivelin_paths.h"

namespace {

constexpr const char* kModule = "debug_util";
constexpr const char* kLibraryName = "Rivelin";
constexpr int kMonitorPort = 3000;
constexpr int kMaxLinesPerFile = 200000;
constexpr size_t kMaxMessage = 0x4FFF;

struct Settings {
  bool file = false;
  bool network = false;
  int level = 10;
  std::string monitorIp;
  std::string folder;
  bool showFileLine = false;
  int showP2pLog = 0;
  std::string loadTime;  // "%02d%02d%02d" of the moment the settings were read
};

struct State {
  std::mutex settingsLock;  // guards settings and refCount
  Settings settings;
  int refCount = 0;
  std::atomic<bool> fileOn{false};
  std::atomic<bool> networkOn{false};

  std::mutex fileLock;  // guards the open log file and its rotation
  FILE* file = nullptr;
  int fileDay = -1;
  int lineCount = 0;
  int fileIndex = 0;

  std::mutex socketLock;
  int socket = -1;

  std::mutex clockLock;
  std::function<time_t()> clock;
};

// First used by the library's global object, so it outlives it (logging runs
// during unload).
State& St() {
  static State state;
  return state;
}

time_t Now() {
  State& s = St();
  std::lock_guard lock(s.clockLock);
  return s.clock ? s.clock() : time(nullptr);
}

// Value of `key` anywhere in the text, up to the next ';'.
std::string Value(const std::string& text, const char* key) {
  auto pos = text.find(key);
  if (pos == std::string::npos) return {};
  pos += std::strlen(key);
  auto end = text.find(';', pos);
  std::string v = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
  while (!v.empty() && (v.back() == '\r' || v.back() == '\n' || v.back() == ' ')) v.pop_back();
  while (!v.empty() && (v.front() == ' ')) v.erase(v.begin());
  return v;
}

int IntValue(const std::string& text, const char* key) {
  return std::atoi(Value(text, key).c_str());
}

Settings Parse(const std::string& text) {
  Settings s;
  s.file = IntValue(text, "file=") != 0;
  s.network = IntValue(text, "network=") != 0;
  s.level = IntValue(text, "level=");
  s.monitorIp = Value(text, "monitor_ip=");
  s.showFileLine = IntValue(text, "showfileline=") != 0;
  s.showP2pLog = IntValue(text, "showp2plog=");
  std::string folder = Value(text, "debugfilepath=");
  std::error_code ec;
  if (!folder.empty()) {
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder, ec)) folder.clear();
  }
  if (folder.empty()) {
    folder = rivelin::paths::DataDir().string();
    std::filesystem::create_directories(folder, ec);
  }
  s.folder = folder;
  return s;
}

void CloseFileLocked(State& s) {
  if (s.file) fclose(s.file);
  s.file = nullptr;
}

void WriteFile(State& s, const std::string& line) {
  std::lock_guard lock(s.fileLock);
  if (!s.fileOn.load()) return;
  const time_t now = Now();
  struct tm tmv;
  localtime_r(&now, &tmv);
  if (s.file && tmv.tm_mday != s.fileDay) {
    CloseFileLocked(s);
    s.lineCount = 0;
    s.fileIndex = 0;
  } else if (s.lineCount >= kMaxLinesPerFile) {
    CloseFileLocked(s);
    s.fileIndex++;
    s.lineCount = 0;
  } else {
    s.lineCount++;
  }
  if (!s.file) {
    std::string folder, loadTime;
    {
      std::lock_guard g(s.settingsLock);
      folder = s.settings.folder;
      loadTime = s.settings.loadTime;
    }
    char name[512];
    snprintf(name, sizeof name, "%s/%s_%04d%02d%02d_%s_%d.log", folder.c_str(), kLibraryName,
             tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, loadTime.c_str(), s.fileIndex);
    s.file = fopen(name, "ab");
    s.fileDay = tmv.tm_mday;
    if (!s.file) return;
  }
  fwrite(line.data(), 1, line.size(), s.file);
  fflush(s.file);
}

int SendLine(State& s, const std::string& line) {
  std::string ip;
  {
    std::lock_guard g(s.settingsLock);
    ip = s.settings.monitorIp.empty() ? "127.0.0.1" : s.settings.monitorIp;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kMonitorPort);
  if (inet_pton(AF_INET, ip.c_str(), &to.sin_addr) != 1) return -1;
  std::lock_guard lock(s.socketLock);
  if (s.socket < 0) s.socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s.socket < 0) return -1;
  const ssize_t n = sendto(s.socket, line.data(), line.size(), MSG_NOSIGNAL,
                           reinterpret_cast<sockaddr*>(&to), sizeof to);
  if (n != static_cast<ssize_t>(line.size())) {
    close(s.socket);
    s.socket = -1;
    return -1;
  }
  return 0;
}

}  // namespace

namespace rivelin::debug {
void SetClockForTest(std::function<time_t()> clock) {
  State& s = St();
  std::lock_guard lock(s.clockLock);
  s.clock = std::move(clock);
}
bool Enabled() { return St().fileOn.load() || St().networkOn.load(); }
}  // namespace rivelin::debug

void DebugInitLoad() {
  State& s = St();
  const time_t now = Now();
  struct tm tmv;
  localtime_r(&now, &tmv);
  char loadTime[16];
  snprintf(loadTime, sizeof loadTime, "%02d%02d%02d", tmv.tm_hour, tmv.tm_min, tmv.tm_sec);

  Settings settings;
  std::ifstream in(rivelin::paths::ConfigDir() / "player_dbg.cfg", std::ios::binary);
  if (in) {
    std::stringstream text;
    text << in.rdbuf();
    settings = Parse(text.str());
  }
  settings.loadTime = loadTime;
  {
    std::lock_guard fl(s.fileLock);
    CloseFileLocked(s);
    s.lineCount = 0;
    s.fileIndex = 0;
    std::lock_guard g(s.settingsLock);
    s.settings = settings;
    s.fileOn = settings.file;
    s.networkOn = settings.network;
  }
  DebugLog(__func__, kModule, __LINE__, nullptr, "%s Build %s %s\r\n", kLibraryName, __DATE__,
           __TIME__);
}

void DebugInit() {
  State& s = St();
  int count;
  {
    std::lock_guard g(s.settingsLock);
    count = ++s.refCount;
  }
  if (count == 1) {
    DebugInitLoad();
  } else {
    RLOG(nullptr, "DebugInit() count=%d!", count);
  }
}

void DebugRelease() {
  State& s = St();
  int count;
  {
    std::lock_guard g(s.settingsLock);
    count = --s.refCount;
    if (count < 0) s.refCount = 0;
  }
  if (count < 0) {
    RLOG(nullptr, "DebugRelease() count=%d, DebugRelease called more often than DebugInit",
         count);
    return;
  }
  if (count > 0) return;
  RLOG(nullptr, "DebugRelease %s %s %s\n", kLibraryName, __DATE__, __TIME__);
  {
    std::lock_guard fl(s.fileLock);
    CloseFileLocked(s);
    s.fileOn = false;
    s.networkOn = false;
  }
  std::lock_guard sl(s.socketLock);
  if (s.socket >= 0) close(s.socket);
  s.socket = -1;
}

int DebugLog(const char* function, const char* module, int line, const void* object,
             const char* format, ...) {
  State& s = St();
  const bool file = s.fileOn.load(), network = s.networkOn.load();
  if (!file && !network) return -1;

  char text[kMaxMessage + 1];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);

  const time_t now = Now();
  struct tm tmv;
  localtime_r(&now, &tmv);
  char prefix[128];
  snprintf(prefix, sizeof prefix, "%02d-%02d %02d:%02d:%02d,this=0x%llx,Tid=0x%lX",
           tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec,
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(object)),
           static_cast<long>(syscall(SYS_gettid)));
  bool showFileLine;
  {
    std::lock_guard g(s.settingsLock);
    showFileLine = s.settings.showFileLine;
  }
  std::string out;
  out.reserve(std::strlen(text) + 256);
  char head[64];
  snprintf(head, sizeof head, "%s:", kLibraryName);
  out += head;
  if (showFileLine) {
    char tail[512];
    snprintf(tail, sizeof tail, "-----------fun=%s,file:%s,line:%d,%s\r\n", function, module,
             line, prefix);
    out += text;
    out += tail;
  } else {
    out += prefix;
    out += ',';
    out += text;
    out += "\r\n";
  }
  if (file) WriteFile(s, out);
  if (network) return SendLine(s, out);
  return 0;
}

void emp4_dump_hex(const unsigned char* bytes, size_t length) {
  if (!rivelin::debug::Enabled()) return;
  for (size_t i = 0; i < length; ++i) RLOG(nullptr, "%02X ", bytes[i]);
  RLOG(nullptr, "\n");
}
