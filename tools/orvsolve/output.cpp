#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "commands.h"
#include "models/matrix_market.h"

namespace orv::cli {

namespace {

namespace fs = std::filesystem;

// The permissions a new file would get, or those of the file it replaces.
mode_t targetMode(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) return status.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

std::string sameFileKey(const std::string& path) {
  std::error_code error;
  const fs::path canonical = fs::weakly_canonical(fs::absolute(path, error), error);
  return error ? path : canonical.string();
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  struct stat status {};
  if (::stat(path_.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    throw InputError(path_ + ": is a folder; name a file to write");
  }
  const fs::path target(path_);
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::string name = target.filename().string();
  name.insert(name.begin(), '.');
  name.append(".XXXXXX");
  std::string temporary = (folder / name).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    throw InputError(path_ + ": cannot write a file in '" + folder.string() +
                     "': " + std::strerror(errno));
  }
  ::fchmod(fd, targetMode(path_));
  ::close(fd);
  temporary_ = std::move(temporary);
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  if (!temporary_.empty()) std::remove(temporary_.c_str());
  temporary_.clear();
}

void OutputFile::write(const std::function<void(const std::string&)>& write) {
  try {
    write(temporary_);
  } catch (const models::MatrixMarketError& e) {
    std::string text = e.what();
    if (text.starts_with(temporary_)) text.replace(0, temporary_.size(), path_);
    discard();
    throw InputError(text + "; nothing was written to " + path_);
  }
}

void OutputFile::publish() {
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    discard();
    throw InputError(path_ + ": cannot replace the file: " + reason);
  }
  temporary_.clear();
}

void requireDistinct(const NamedFiles& inputs, const NamedFiles& written) {
  NamedFiles seen = inputs;
  for (const auto& [option, path] : written) {
    for (const auto& [otherOption, otherPath] : seen) {
      if (sameFileKey(path) == sameFileKey(otherPath)) {
        throw UsageError("'" + path + "' is named by both " + otherOption + " and " + option +
                         "; each file written needs a name of its own");
      }
    }
    seen.emplace_back(option, path);
  }
}

}  // namespace orv::cli
