#include "sdk_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace varurovodiv {
namespace {
std::atomic<int> g_enabled{-1};
std::mutex g_write_mutex;

bool Enabled() {
  int e = g_enabled.load(std::memory_order_relaxed);
  if (e < 0) {
    SdkLogRefresh();
    e = g_enabled.load(std::memory_order_relaxed);
  }
  return e > 0;
}
}  // namespace

void SdkLogRefresh() {
  const char* v = std::getenv("VARUROVODIV_LOG");
  g_enabled.store(v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0 ? 1 : 0);
}

void SdkLog(const char* format, ...) {
  if (!Enabled()) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::lock_guard lock(g_write_mutex);
  std::fprintf(stderr, "[varurovodiv %ld.%03ld] %s\n", static_cast<long>(ts.tv_sec),
               ts.tv_nsec / 1000000, line);
}

}  // namespace varurovodiv
