// Helpers shared by the test programs: scratch files and reading back what was written.
#pragma once

#include <string>

namespace orv::test {

// A file name in a fresh scratch folder, removed with the folder when the object goes away.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& name = "scratch.txt");
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& path() const { return path_; }
  const char* c_str() const { return path_.c_str(); }
  std::string folder() const { return folder_; }

 private:
  std::string folder_;
  std::string path_;
};

// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

// Number of non-overlapping occurrences of needle in text.
int countOf(const std::string& text, const std::string& needle);

}  // namespace orv::test
