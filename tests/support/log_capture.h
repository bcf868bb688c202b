// Sends the library's internal log sink to a scratch file for the lifetime of the object (for
// tests that link the library's parts directly rather than the exports).
#pragma once

#include <string>

#include "log/log.h"
#include "test_support.h"

namespace orv::test {

class LogCapture {
 public:
  LogCapture() { setLogDestination(file_.path(), ""); }
  ~LogCapture() { setLogDestination("", ""); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Everything logged so far, and what was logged since the previous call of fresh().
  std::string text() const { return readFile(file_.path()); }
  std::string fresh() { return tail_.fresh(); }

 private:
  ScratchFile file_{"captured.log"};
  FileTail tail_{file_.path()};
};

}  // namespace orv::test
