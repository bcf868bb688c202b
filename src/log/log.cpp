#include "log.h"

#include "platform/fault_cleanup.h"

#include <time.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>

#ifndef ORV_VERSION_TEXT
#error "ORV_VERSION_TEXT must come from the build"
#endif

namespace orv {
namespace {

struct LogSink {
  std::mutex mutex;
  std::atomic<int> logType = 0;  // 0 off, 3 writing to a file: read without the lock
  std::FILE* logFile = nullptr;
};

// Constant-initialised, so it exists before any export runs, logging never needs memory (an
// error line may be written when memory is exhausted) and nothing is left to destroy at exit,
// when exports may still log from other objects' destructors.
constinit LogSink logSink;

LogSink& sink() { return logSink; }

int closeAndOpen(LogSink& s, const std::string& fileName) {
  s.logType = 0;
  if (s.logFile != nullptr) {
    std::fclose(s.logFile);
    s.logFile = nullptr;
  }
  if (fileName.empty()) return 0;
  s.logFile = std::fopen(fileName.c_str(), "w");
  if (s.logFile == nullptr) {
    std::fprintf(stderr, "could not open log file %s, exiting\n", fileName.c_str());
    return -1;
  }
  s.logType = 3;
  return 0;
}

double clockSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

}  // namespace

int taucs_printf(const char* format, ...) {
  if (!logEnabled()) return 0;
  // The line is made before the sink is locked: its arguments may be the host's memory, and a
  // fault reading them must not leave the lock held.
  char line[512];
  va_list args;
  va_start(args, format);
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): a false report, va_start is above
  const int length = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length < 0) return 0;
  std::string longLine;
  const char* text = line;
  size_t size = static_cast<size_t>(length);
  if (size >= sizeof line) {
    try {
      longLine.resize(size);
      va_start(args, format);
      std::vsnprintf(longLine.data(), size + 1, format, args);
      va_end(args);
      text = longLine.c_str();
    } catch (const std::bad_alloc&) {
      size = sizeof line - 1;  // without memory the line is cut, never lost
    }
  }
  LogSink& s = sink();
  FaultSafeLock lock(s.mutex);
  if (s.logType == 0) return 0;
  std::fwrite(text, 1, size, s.logFile);
  std::fflush(s.logFile);
  return 0;
}

int setLogDestination(const std::string& fileName, const std::string& banner) {
  LogSink& s = sink();
  FaultSafeLock lock(s.mutex);
  const int status = closeAndOpen(s, fileName);
  if (status == 0 && s.logType != 0) {
    std::fputs(banner.c_str(), s.logFile);
    std::fflush(s.logFile);
  }
  return status;
}

bool logEnabled() { return sink().logType != 0; }

std::string versionBanner() { return std::string("Version ") + ORV_VERSION_TEXT + " - RELEASE\n"; }

double wallSeconds() { return clockSeconds(CLOCK_MONOTONIC); }
double cpuSeconds() { return clockSeconds(CLOCK_PROCESS_CPUTIME_ID); }

void PhaseTimer::startPhase(const char* name) {
  cpuTime_ = cpuSeconds();
  wallTime_ = wallSeconds();
  taucs_printf("%c: %s started\n", tag_, name);
}

void PhaseTimer::completePhase(const char* name) {
  cpuTime_ = cpuSeconds() - cpuTime_;
  wallTime_ = wallSeconds() - wallTime_;
  taucs_printf("%c: %s completed in %0.2e sec (%0.2e CPU)\n\n", tag_, name, wallTime_, cpuTime_);
}

}  // namespace orv
