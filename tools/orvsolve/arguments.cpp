#include <ORVSparseSolver/exports.h>

#include <charconv>

#include "commands.h"

namespace orv::cli {

namespace {

bool isOption(const std::string& word) { return word.size() > 1 && word.front() == '-'; }

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
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < min) {
    throw UsageError(option + " needs a whole number of at least " + std::to_string(min) +
                     ", not '" + text + "'");
  }
  return value;
}

void startLog(const Session& session) {
  if (exp_logDestination_v3(nullptr, session.logPath.c_str()) != 0) {
    throw InputError("cannot write the log file '" + session.logPath + "'");
  }
}

}  // namespace orv::cli
