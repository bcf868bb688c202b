#include "test_support.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef ORV_MATRICES_DIR
#error "ORV_MATRICES_DIR must come from the build"
#endif

namespace orv::test {

ScratchFile::ScratchFile(const std::string& name) {
  std::string pattern = (std::filesystem::temp_directory_path() / "orv-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch folder");
  folder_ = pattern;
  path_ = folder_ + "/" + name;
}

ScratchFile::~ScratchFile() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string FileTail::fresh() {
  const std::string all = readFile(path_);
  std::string text = all.substr(std::min(seen_, all.size()));
  seen_ = all.size();
  return text;
}

int countOf(const std::string& text, const std::string& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

std::string matrixPath(const std::string& name) {
  return std::string(ORV_MATRICES_DIR) + "/" + name;
}

}  // namespace orv::test
