#pragma once
// Watches how long the UI thread stays away from its event loop: a precise
// 2-ms timer's longest gap between two ticks is the longest pass the thread
// made without coming back. Also the process's resident memory, and a wait
// that only runs the event loop (no sleeping in between), so that the probe
// sees every pass.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <functional>
#include <unistd.h>

namespace kelvara::test {

class UiPassProbe {
 public:
  UiPassProbe() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(2);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 cpu = ThreadCpuUs();
      longest_ = std::max(longest_, clock_.restart());
      longestCpuUs_ = std::max(longestCpuUs_, cpu - cpuUs_);
      cpuUs_ = cpu;
    });
    Reset();
    timer_.start();
  }
  // The longest gap between ticks since the last Reset, in milliseconds of
  // wall time and of the thread's CPU time (less than the wall time on a
  // loaded machine).
  qint64 LongestMs() const { return longest_; }
  double LongestCpuMs() const { return static_cast<double>(longestCpuUs_) / 1000.0; }
  void Reset() {
    longest_ = longestCpuUs_ = 0;
    clock_.restart();
    cpuUs_ = ThreadCpuUs();
  }

 private:
  static qint64 ThreadCpuUs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1'000'000 + t.tv_nsec / 1000;
  }

  QTimer timer_;
  QElapsedTimer clock_;
  qint64 longest_ = 0, longestCpuUs_ = 0, cpuUs_ = 0;
};

// Runs the event loop until `done` holds or `ms` have passed.
inline bool RunLoopUntil(const std::function<bool()>& done, int ms) {
  if (done()) return true;
  QElapsedTimer clock;
  clock.start();
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (done() || clock.hasExpired(ms)) loop.quit();
  });
  poll.start();
  loop.exec();
  return done();
}

// Resident memory of this process, in MiB.
inline double ResidentMiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

}  // namespace kelvara::test
