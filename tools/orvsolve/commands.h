// The commands of orvsolve and what they share: the options common to all of them, the argument
// reader, and the error kinds that decide the exit status.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace orv::cli {

// Exit statuses: 0 done, 1 the library reported a failure, 2 bad arguments or bad input.
inline constexpr int kExitLibrary = 1;
inline constexpr int kExitInput = 2;

// Arguments that cannot be used; the message is followed by a pointer to the command's --help.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Input or output that cannot be used (a file that cannot be written, a bad size); exit status 2
// like a malformed Matrix Market file.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Session {
  // Empty: logging off (--log none).
  std::string logPath = "orvsolve.log";
  // Library phases on standard error while calls run: only when both outputs are terminals.
  bool progress = false;
};

// The arguments of one command. Options are taken out by name; what is left must be the expected
// positional arguments.
class Arguments {
 public:
  explicit Arguments(std::vector<std::string> words) : words_(std::move(words)) {}

  // Takes out the first word when it is not an option.
  std::optional<std::string> command();
  bool flag(const std::string& name);
  std::optional<std::string> value(const std::string& name);
  // An option followed by count values ("--write K.mtx M.mtx").
  std::optional<std::vector<std::string>> values(const std::string& name, int count);
  // The remaining words; an unknown option or a count outside min..max is a usage error.
  std::vector<std::string> positionals(std::size_t min, std::size_t max) const;

 private:
  std::vector<std::string> words_;
};

// A whole number of at least min; a negative or too large one is named as such.
int parseCount(const std::string& option, const std::string& text, int min);

// The check codes of --checks: "1,2,8", "all" or "none".
unsigned parseChecks(const std::string& list);

// Refuses a log path that is a device or a folder, or that cannot be written (with the system's
// reason), before any work; an empty path (--log none) is accepted.
void requireLogWritable(const std::string& logPath);

// Directs the library's log to the session's file (truncating it); does nothing without a log.
void startLog(const Session& session);

int runBuildingAnalysis(const Session& session);
int runSolve(const Session& session, Arguments& args);
int runEigen(const Session& session, Arguments& args);
int runModel(Arguments& args);

extern const char* const kSolveUsage;
extern const char* const kEigenUsage;
extern const char* const kModelUsage;

}  // namespace orv::cli
