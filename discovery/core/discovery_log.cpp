#include "discovery/core/discovery_log.h"

#include "common/debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace kelvara::discovery {
namespace {

std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<LogSink>& Sink() {
  static std::shared_ptr<LogSink> s;
  return s;
}

thread_local DatagramLogScope* tl_scope = nullptr;

}  // namespace

DatagramLogScope::DatagramLogScope(LogFloodGuard& guard, std::string source, std::int64_t now_ms)
    : guard_(guard), source_(std::move(source)), now_ms_(now_ms), outer_(tl_scope) {
  tl_scope = this;
}

DatagramLogScope::~DatagramLogScope() { tl_scope = outer_; }

bool DatagramLogScope::AdmitLine() {
  return tl_scope == nullptr || tl_scope->guard_.Admit(tl_scope->source_, tl_scope->now_ms_);
}

void SetLogSink(LogSink sink) {
  auto p = sink ? std::make_shared<LogSink>(std::move(sink)) : nullptr;
  std::lock_guard lock(SinkMutex());
  Sink() = std::move(p);
}

void Log(const char* format, ...) {
  if (!DatagramLogScope::AdmitLine()) return;
  std::shared_ptr<LogSink> sink;
  {
    std::lock_guard lock(SinkMutex());
    sink = Sink();
  }
  va_list ap;
  va_start(ap, format);
  va_list ap2;
  va_copy(ap2, ap);
  const int n = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  std::string line;
  if (n > 0) {
    line.resize(static_cast<std::size_t>(n));
    std::vsnprintf(line.data(), line.size() + 1, format, ap2);
  }
  va_end(ap2);
  if (sink)
    (*sink)(line);
  else
    DebugLogPrintf("%s", line.c_str());
}

}  // namespace kelvara::discovery
