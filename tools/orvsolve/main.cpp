// orvsolve: runs the library as a host program would, through its exports only.
#include <ORVSparseSolver/exports.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "usage: orvsolve [--log FILE] [--help] [--version]\n"
    "\n"
    "Runs the sparse solver library on its built-in structural model and writes the\n"
    "library's log to orvsolve.log (or FILE).\n"
    "\n"
    "  --log FILE   write the library's log to FILE\n"
    "  --help       show this text\n"
    "  --version    show the library's version banner\n";

struct Options {
  std::string logFile = "orvsolve.log";
  bool help = false;
  bool version = false;
};

// Returns false, after a message on standard error, when the arguments cannot be used.
bool parseArguments(int argc, char** argv, Options& options) {
  for (int k = 1; k < argc; ++k) {
    const std::string_view arg = argv[k];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--log") {
      if (k + 1 >= argc) {
        std::fprintf(stderr, "orvsolve: --log needs a file name\n");
        return false;
      }
      options.logFile = argv[++k];
    } else {
      std::fprintf(stderr, "orvsolve: unknown argument '%s' (see orvsolve --help)\n", argv[k]);
      return false;
    }
  }
  return true;
}

// The banner is the first line the library writes to a fresh log.
std::string libraryBanner(const std::string& logFile) {
  if (exp_logDestination_v3(nullptr, logFile.c_str()) != 0) return {};
  std::string banner;
  if (std::FILE* f = std::fopen(logFile.c_str(), "r")) {
    char line[256];
    if (std::fgets(line, sizeof line, f) != nullptr) banner = line;
    std::fclose(f);
  }
  return banner;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseArguments(argc, argv, options)) return 2;
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const std::string banner = libraryBanner(options.logFile);
  if (banner.empty()) {
    std::fprintf(stderr, "orvsolve: cannot write the log file '%s'\n", options.logFile.c_str());
    return 2;
  }
  std::printf("orvsolve, library %s", banner.c_str());
  if (options.version) return 0;

  symRealSPDMatrixLinSys* system = nullptr;
  if (exp_initMatrix_v3(&system, 0, 0) != 0) {
    BSTR text = exp_getLastError_v3(nullptr);
    std::fprintf(stderr, "orvsolve: %s\n", text != nullptr ? text : "out of memory");
    SysFreeString(text);
    return 1;
  }
  std::printf("Linear system created; log written to %s\n", options.logFile.c_str());
  exp_deleteMatrix_v3(&system);
  return 0;
}
