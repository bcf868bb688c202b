// Sends the log sink to a temporary file for the lifetime of the object.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "log/log.h"

namespace orv::test {

class LogCapture {
 public:
  LogCapture() : path_(makePath()) { setLogDestination(path_, ""); }
  ~LogCapture() {
    setLogDestination("", "");
    std::remove(path_.c_str());
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Everything logged so far.
  std::string text() const {
    std::ifstream in(path_);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }

 private:
  static std::string makePath() {
    char name[] = "/tmp/orv_log_XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return name;
  }
  std::string path_;
};

}  // namespace orv::test
