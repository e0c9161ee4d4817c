#pragma once
// The edge of a C function of a shared library: an exception that leaves an
// extern "C" function (memory running out inside a std::string, no thread to
// start) ends the calling process. Every export's body runs through
// CallAtCBoundary, which turns whatever it throws into the export's failure
// result and one line for the library's own log. Header only, with nothing of
// Kelvara in it: the libraries that use it are products of their own.
#include <exception>
#include <utility>

namespace kelvara {

namespace c_boundary_detail {

// The library's log line; a log that throws in turn is not let out either.
template <class Log>
void Report(Log& log, const char* what) noexcept {
  try {
    log(what);
  } catch (...) {
  }
}

struct NoLog {
  void operator()(const char*) const noexcept {}
};

}  // namespace c_boundary_detail

// Runs `body` and returns what it returns; if it throws, calls `log` with the
// exception's text and returns `failure`. `body` must already leave nothing
// behind when it throws part-way (the rule of each export).
template <class Result, class Body, class Log = c_boundary_detail::NoLog>
Result CallAtCBoundary(Result failure, Body&& body, Log log = {}) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::exception& e) {
    c_boundary_detail::Report(log, e.what());
  } catch (...) {
    c_boundary_detail::Report(log, "unknown exception");
  }
  return failure;
}

}  // namespace kelvara
