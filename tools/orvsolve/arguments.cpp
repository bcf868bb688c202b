#include <ORVSparseSolver/exports.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "commands.h"
#include "library.h"

namespace orv::cli {

namespace {

// "-5" is a (negative) value, so that its option can say what is wrong with it.
bool isOption(const std::string& word) {
  return word.size() > 1 && word.front() == '-' &&
         !std::isdigit(static_cast<unsigned char>(word[1]));
}

}  // namespace

std::optional<std::string> Arguments::command() {
  if (words_.empty() || isOption(words_.front())) return std::nullopt;
  std::string word = words_.front();
  words_.erase(words_.begin());
  return word;
}

bool Arguments::flag(const std::string& name) {
  bool found = false;
  for (auto it = words_.begin(); it != words_.end();) {
    if (*it == name) {
      it = words_.erase(it);
      found = true;
    } else {
      ++it;
    }
  }
  return found;
}

std::optional<std::string> Arguments::value(const std::string& name) {
  const std::optional<std::vector<std::string>> v = values(name, 1);
  if (!v) return std::nullopt;
  return v->front();
}

std::optional<std::vector<std::string>> Arguments::values(const std::string& name, int count) {
  std::optional<std::vector<std::string>> result;
  for (std::size_t k = 0; k < words_.size();) {
    const std::string& word = words_[k];
    std::vector<std::string> taken;
    std::size_t used = 0;
    if (word == name) {
      used = 1 + static_cast<std::size_t>(count);
      for (std::size_t j = k + 1; j < k + used; ++j) {
        if (j >= words_.size() || isOption(words_[j])) {
          throw UsageError(name + " needs " +
                           (count == 1 ? "a value" : std::to_string(count) + " values"));
        }
        taken.push_back(words_[j]);
      }
    } else if (count == 1 && word.starts_with(name + "=")) {
      used = 1;
      taken.push_back(word.substr(name.size() + 1));
    } else {
      ++k;
      continue;
    }
    // A later occurrence wins, as in most command-line programs.
    result = std::move(taken);
    words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(k),
                 words_.begin() + static_cast<std::ptrdiff_t>(k + used));
  }
  return result;
}

std::vector<std::string> Arguments::positionals(std::size_t min, std::size_t max) const {
  for (const std::string& word : words_) {
    if (isOption(word)) throw UsageError("unknown option '" + word + "'");
  }
  if (words_.size() < min) {
    throw UsageError(min == max
                         ? "needs " + std::to_string(min) + " file name" + (min == 1 ? "" : "s")
                         : "too few arguments");
  }
  if (words_.size() > max) throw UsageError("unexpected argument '" + words_[max] + "'");
  return words_;
}

int parseCount(const std::string& option, const std::string& text, int min) {
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  const std::string needs = option + " needs a whole number of at least " + std::to_string(min);
  const bool whole = end == text.data() + text.size() && !text.empty();
  if (whole && (ec == std::errc::result_out_of_range || value > INT_MAX)) {
    throw UsageError(option + " " + text + " is too large: " + needs + " and at most " +
                     std::to_string(INT_MAX));
  }
  if (!whole || ec != std::errc()) throw UsageError(needs + ", not '" + text + "'");
  if (value < 0) throw UsageError(option + " " + text + " is negative: " + needs);
  if (value < min) throw UsageError(needs + ", not " + text);
  return static_cast<int>(value);
}

unsigned parseChecks(const std::string& list) {
  if (list == "none") return 0;
  if (list == "all") return 1 | 2 | 4 | 8 | 16;
  unsigned codes = 0;
  std::istringstream in(list);
  std::string item;
  while (std::getline(in, item, ',')) {
    const unsigned* known = std::find_if(std::begin(kCheckCodes), std::end(kCheckCodes),
                                         [&](unsigned c) { return item == std::to_string(c); });
    if (known == std::end(kCheckCodes)) {
      throw UsageError("--checks: '" + item + "' is not a check code (1, 2, 4, 8, 16)");
    }
    codes |= *known;
  }
  if (codes == 0) throw UsageError("--checks needs a list of codes, 'all' or 'none'");
  return codes;
}

void requireLogWritable(const std::string& logPath) {
  if (logPath.empty()) return;
  const std::string what = "cannot write the log file '" + logPath + "': ";
  const std::string instead = " (--log FILE names another, --log none runs without a log)";
  struct stat status {};
  // The log is read back for the report: a device would never end or never hold it.
  if (::stat(logPath.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    throw InputError(
        what + (S_ISDIR(status.st_mode) ? "it is a folder" : "it is not a regular file") + instead);
  }
  std::FILE* file = std::fopen(logPath.c_str(), "a");
  if (file == nullptr) throw InputError(what + std::strerror(errno) + instead);
  std::fclose(file);
}

void startLog(const Session& session) {
  if (session.logPath.empty()) return;
  if (exp_logDestination_v3(nullptr, session.logPath.c_str()) != 0) {
    throw InputError("cannot write the log file '" + session.logPath + "'");
  }
}

}  // namespace orv::cli
