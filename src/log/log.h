// Process-wide log sink, version banner and the phase timer that every matrix carries.
//
// The sink is off until a file is named. Every write is flushed at once, so the file is
// complete up to the last call even if the host ends abruptly. Writes from several threads
// are serialised, so lines never interleave.
#pragma once

#include <string>

namespace orv {

// printf-style write to the sink; does nothing while logging is off. Returns 0.
int taucs_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Closes any open log, then opens fileName ("w": created or truncated) and writes banner as its
// first text. An empty name leaves logging off and returns 0. A file that cannot be opened is
// reported on standard error; logging stays off and the result is -1.
int setLogDestination(const std::string& fileName, const std::string& banner);

// True while a log file is open.
bool logEnabled();

// "Version 3, 0, 0, 0 - RELEASE", the version taken from the build.
std::string versionBanner();

// Seconds of wall-clock time and of processor time used by the process (user plus kernel).
double wallSeconds();
double cpuSeconds();

// The phase timer of one matrix: its lines start with the matrix's tag letter.
class PhaseTimer {
 public:
  explicit PhaseTimer(char tag) : tag_(tag) {}

  // Logs "<tag>: <name> started".
  void startPhase(const char* name);
  // Logs "<tag>: <name> completed in <wall> sec (<cpu> CPU)" and an empty line; leaves the
  // elapsed times in wallTime() and cpuTime().
  void completePhase(const char* name);

  char tag() const { return tag_; }
  double cpuTime() const { return cpuTime_; }
  double wallTime() const { return wallTime_; }

 private:
  double cpuTime_ = 0.0;
  double wallTime_ = 0.0;
  char tag_;
};

}  // namespace orv
