// Helpers shared by the test programs: scratch files, reading back what was written, and the
// folder of real matrices.
#pragma once

#include <cstddef>
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

// What a growing file (a log) gained since the previous call.
class FileTail {
 public:
  explicit FileTail(std::string path) : path_(std::move(path)) {}
  std::string fresh();

 private:
  std::string path_;
  std::size_t seen_ = 0;
};

// Number of non-overlapping occurrences of needle in text.
int countOf(const std::string& text, const std::string& needle);

// ORV_MATRICES_DIR + "/" + name: a file of the real matrices folder.
std::string matrixPath(const std::string& name);

}  // namespace orv::test
