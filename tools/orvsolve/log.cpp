#include "log.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>

namespace orv::cli {

namespace {

// "%c: %s completed in %0.2e sec (%0.2e CPU)"
const std::regex kCompleted(R"(^([AB]): (.+) completed in (\S+) sec \((\S+) CPU\)$)");
const std::regex kStarted(R"(^([AB]): (.+) started$)");

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

LogSummary summariseLog(const std::string& text) {
  LogSummary summary;
  std::istringstream in(text);
  std::string line;
  char tag = 'A';
  bool first = true;
  while (std::getline(in, line)) {
    if (first) {
      summary.banner = line;
      first = false;
      continue;
    }
    std::smatch m;
    if (std::regex_match(line, m, kCompleted)) {
      const char t = m[1].str()[0];
      const std::string name = m[2].str();
      PhaseTime* phase = nullptr;
      for (PhaseTime& p : summary.phases) {
        if (p.tag == t && p.name == name) phase = &p;
      }
      if (phase == nullptr) phase = &summary.phases.emplace_back(PhaseTime{t, name});
      phase->wall += std::stod(m[3].str());
      phase->cpu += std::stod(m[4].str());
      ++phase->count;
    } else if (std::regex_match(line, m, kStarted)) {
      tag = m[1].str()[0];
    } else if (const std::string key = "Norm-1 condition number estimate: ";
               startsWith(line, key)) {
      summary.condition = std::stod(line.substr(key.size()));
    } else if (const std::string count = "Number of nonzero elements: "; startsWith(line, count)) {
      // The count belongs to the matrix whose conversion phase is open.
      summary.storedEntries[tag] = std::stol(line.substr(count.size()));
    } else if (startsWith(line, "Attempting ") || startsWith(line, "Back-transformation") ||
               startsWith(line, "Search of selected") || startsWith(line, "Dense search")) {
      summary.eigenRoute.push_back(line);
    }
  }
  return summary;
}

namespace {

// At most kLogReadLimit bytes of a regular file: its beginning, or its end when tail is set.
std::string readBounded(const std::string& path, bool tail) {
  std::ifstream in(path, std::ios::binary);
  std::error_code error;
  if (!in || !std::filesystem::is_regular_file(path, error)) return {};
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return {};
  if (tail && size > kLogReadLimit) in.seekg(static_cast<std::streamoff>(size - kLogReadLimit));
  std::string text(kLogReadLimit, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

}  // namespace

LogSummary summariseLogFile(const std::string& path) {
  if (path.empty()) {
    LogSummary none;
    none.logged = false;
    return none;
  }
  return summariseLog(readBounded(path, false));
}

std::vector<std::string> failureContextOfFile(const std::string& path, std::size_t count) {
  return failureContext(readBounded(path, true), count);
}

std::vector<std::string> failureContext(const std::string& text, std::size_t count) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  std::size_t error = lines.size();
  for (std::size_t k = lines.size(); k-- > 0;) {
    if (startsWith(lines[k], "ERROR: ")) {
      error = k;
      break;
    }
  }
  std::vector<std::string> context;
  for (std::size_t k = error; k-- > 0 && context.size() < count;) {
    if (std::regex_match(lines[k], kStarted)) break;
    if (lines[k].empty() || std::regex_match(lines[k], kCompleted)) continue;
    context.insert(context.begin(), lines[k]);
  }
  if (error == lines.size()) context.clear();
  return context;
}

Progress::Progress(const std::string& logPath, bool enabled) {
  if (!enabled) return;
  log_ = std::fopen(logPath.c_str(), "r");
  if (log_ == nullptr) return;
  std::fseek(log_, 0, SEEK_END);
  thread_ = std::jthread([this](std::stop_token stop) { follow(stop); });
}

Progress::~Progress() {
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
  if (shown_) std::fputs("\r\033[K", stderr);
  if (log_ != nullptr) std::fclose(log_);
}

void Progress::follow(std::stop_token stop) {
  std::mutex mutex;
  std::condition_variable_any wake;
  char buffer[4096];
  while (true) {
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, log_)) > 0) {
      pending_.append(buffer, got);
      std::size_t end;
      while ((end = pending_.find('\n')) != std::string::npos) {
        show(pending_.substr(0, end));
        pending_.erase(0, end + 1);
      }
    }
    std::clearerr(log_);
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, std::chrono::milliseconds(100), [] { return false; });
    if (stop.stop_requested()) return;
  }
}

void Progress::show(const std::string& line) {
  std::smatch m;
  if (!std::regex_match(line, m, kStarted) && !std::regex_match(line, m, kCompleted)) return;
  // Kept within one terminal line so that the carriage return rewrites all of it.
  constexpr std::size_t kWidth = 78;
  std::string text = "orvsolve: " + line;
  if (text.size() > kWidth) text.resize(kWidth);
  std::fprintf(stderr, "\r\033[K%s", text.c_str());
  std::fflush(stderr);
  shown_ = true;
}

}  // namespace orv::cli
