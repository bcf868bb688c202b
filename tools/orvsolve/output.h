// Output files written whole or not at all. Each is created as a temporary file beside its target
// before any computation, so that an unwritable folder is found at once; it is filled when the
// results are there and renamed onto the target, and removed when anything fails.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace orv::cli {

class OutputFile {
 public:
  // Throws InputError naming path (with the system's reason) when no file can be made there.
  explicit OutputFile(std::string path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& path() const { return path_; }
  // Fills the temporary file through write(temporaryPath); a models::MatrixMarketError becomes
  // an InputError naming path, the temporary file removed.
  void write(const std::function<void(const std::string&)>& write);
  // Renames the filled temporary file onto path.
  void publish();

 private:
  void discard();

  std::string path_;
  std::string temporary_;
};

// Files named on the command line with the option (or role) that names each.
using NamedFiles = std::vector<std::pair<std::string, std::string>>;

// Refuses, as a usage error, one file named twice where one of the two is written: an output, or
// the log (which is truncated), may not be an input or another output.
void requireDistinct(const NamedFiles& inputs, const NamedFiles& written);

}  // namespace orv::cli
