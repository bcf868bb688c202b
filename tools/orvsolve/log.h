// What orvsolve reads back from the library's log: the phase lines with their times, the
// condition estimate and the stored-entry counts; and the progress shown while a call runs.
#pragma once

#include <atomic>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orv::cli {

struct PhaseTime {
  char tag;          // 'A' or 'B'
  std::string name;  // "Numeric factorization", ...
  double wall = 0.0;
  double cpu = 0.0;
  int count = 0;  // completions summed into wall and cpu
};

struct LogSummary {
  // False without a log (--log none): nothing below is known.
  bool logged = true;
  std::string banner;
  // Completed phases in the order each first completed; repeats summed.
  std::vector<PhaseTime> phases;
  // The last "Norm-1 condition number estimate" the library logged.
  std::optional<double> condition;
  // "Number of nonzero elements" of each matrix, by tag.
  std::map<char, long> storedEntries;
  // "Back-transformation completed: %d eigenvalues valid" and the search route taken.
  std::vector<std::string> eigenRoute;
};

LogSummary summariseLog(const std::string& text);
// The log is read back bounded: its first kLogReadLimit bytes, or none without a log (empty path).
LogSummary summariseLogFile(const std::string& path);

inline constexpr std::size_t kLogReadLimit = std::size_t{1} << 22;

// The last count lines the library logged before its last "ERROR:" line, within the phase that
// failed: what it found wrong (a pivot, a check and its limit). Phase lines are left out.
std::vector<std::string> failureContext(const std::string& text, std::size_t count);
// The same from the last kLogReadLimit bytes of a log file.
std::vector<std::string> failureContextOfFile(const std::string& path, std::size_t count);

// Shows the library's phases on standard error while one call runs, reading the log as the
// library writes it (every log line is flushed at once). A single status line is rewritten in
// place and erased when the object goes away, so standard output stays clean. Does nothing when
// disabled.
class Progress {
 public:
  Progress(const std::string& logPath, bool enabled);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  void follow(std::stop_token stop);
  void show(const std::string& line);

  std::FILE* log_ = nullptr;
  std::string pending_;
  std::atomic<bool> shown_ = false;
  std::jthread thread_;
};

}  // namespace orv::cli
