// orvsolve: runs the sparse solver library as a host program does, through its exports only, and
// shows a structural engineer what it computes.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "library.h"
#include "log.h"
#include "models/matrix_market.h"

namespace {

using namespace orv::cli;

constexpr const char* kUsage =
    "usage: orvsolve [--log FILE]                      earthquake analysis of a building frame\n"
    "       orvsolve solve K.mtx [options]             solve K x = b\n"
    "       orvsolve eigen K.mtx M.mtx [options]       smallest eigenpairs of K x = lambda M x\n"
    "       orvsolve model frame|solid [options]       generate a model, write Matrix Market\n"
    "       orvsolve --version | --help | COMMAND --help\n"
    "\n"
    "Runs the sparse solver library libORVSparseSolverDLL3 through its exported functions, as\n"
    "a host program does. Without a command it analyses a six-storey reinforced-concrete\n"
    "building frame for earthquake: it assembles the stiffness K and mass M element by\n"
    "element, factorises K with the numerical checks on, solves the gravity and lateral load\n"
    "cases as one block, computes the first 12 vibration modes and combines the modal peak\n"
    "responses of an elastic design spectrum by SRSS, CQC and absolute sum.\n"
    "\n"
    "Options of every command:\n"
    "  --log FILE   write the library's log to FILE (default: orvsolve.log); 'none': no log\n"
    "  --help       show the help of the command\n"
    "  --version    show the versions of orvsolve and of the library\n"
    "\n"
    "On a terminal the library's phases are shown on standard error while they run.\n"
    "Exit status: 0 done; 1 the library reported a failure (its text is shown, the log has the\n"
    "details); 2 bad arguments or unusable input files.\n";

int show(const char* text) {
  std::fputs(text, stdout);
  return 0;
}

int dispatch(const std::vector<std::string>& words) {
  Arguments args(words);
  std::string context = "orvsolve";
  Session session;
  try {
    const bool version = args.flag("--version");
    bool help = args.flag("--help");
    help = args.flag("-h") || help;
    if (const std::optional<std::string> log = args.value("--log")) {
      if (log->empty()) throw UsageError("--log needs a file name, or 'none'");
      session.logPath = *log == "none" ? "" : *log;
    }
    session.progress = isatty(STDOUT_FILENO) != 0 && isatty(STDERR_FILENO) != 0;
    const std::optional<std::string> command = args.command();
    if (command) context += " " + *command;
    if (version) {
      std::printf("orvsolve %s\nlibrary: %s\n", ORV_VERSION, libraryBanner().c_str());
      return 0;
    }
    if (!command) {
      if (help) return show(kUsage);
      args.positionals(0, 0);
      return runBuildingAnalysis(session);
    }
    if (*command == "solve") return help ? show(kSolveUsage) : runSolve(session, args);
    if (*command == "eigen") return help ? show(kEigenUsage) : runEigen(session, args);
    if (*command == "model") return help ? show(kModelUsage) : runModel(args);
    context = "orvsolve";
    throw UsageError("unknown command '" + *command + "'");
  } catch (const UsageError& e) {
    std::fprintf(stderr, "%s: %s (see %s --help)\n", context.c_str(), e.what(), context.c_str());
    return kExitInput;
  } catch (const orv::models::MatrixMarketError& e) {
    std::fprintf(stderr, "%s: %s\n", context.c_str(), e.what());
    return kExitInput;
  } catch (const InputError& e) {
    std::fprintf(stderr, "%s: %s\n", context.c_str(), e.what());
    return kExitInput;
  } catch (const LibraryError& e) {
    std::fprintf(stderr, "%s: %s\n", context.c_str(), e.what());
    if (session.logPath.empty()) {
      std::fprintf(stderr,
                   "%s: the library's log is off (--log none); run with a log for the "
                   "details\n",
                   context.c_str());
    } else {
      const std::vector<std::string> lines = failureContextOfFile(session.logPath, 3);
      std::fprintf(stderr, "%s: the library's log is in %s%s\n", context.c_str(),
                   session.logPath.c_str(), lines.empty() ? "" : "; it reads before the error:");
      for (const std::string& line : lines) std::fprintf(stderr, "  %s\n", line.c_str());
    }
    if (std::string_view(e.what()).find("checks failed") != std::string_view::npos &&
        (context.ends_with(" solve") || context.ends_with(" eigen"))) {
      std::fprintf(stderr,
                   "%s: a numerical check refused the matrix; --checks LIST chooses the checks "
                   "(--checks none runs without them, at the risk of an inaccurate result; see "
                   "%s --help)\n",
                   context.c_str(), context.c_str());
    }
    return kExitLibrary;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", context.c_str());
    return kExitLibrary;
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return dispatch(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvsolve: %s\n", e.what());
    return kExitLibrary;
  }
}
