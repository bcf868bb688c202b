// How a host fares when memory runs out anywhere in the process, in the dependencies as much as
// in the library: with fail_malloc preloaded, allocation k of one export call fails, for every k
// the call makes, each in a child process, and the outcome is counted: the export fails with
// "Out of memory", fails with another text, succeeds (the allocation was absorbed), or the
// process ends (a dependency aborts or faults) or hangs; and whether the same call on a new object
// then succeeds.
//
//   allocation_sweep [BUILD_LIB_DIR]     sweeps exp_factor_v3 and exp_eigenSystem_v3 on a frame
#include <ORVSparseSolver/exports.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "models/export_sink.h"
#include "models/frame.h"

namespace {

using Arm = void (*)(long);
using Calls = long (*)();

// The child: a frame factorised (and its modes found), allocation k of the call under test
// failing; prints the outcome. k < 0 counts the call's allocations instead.
int child(const std::string& phase, long k) {
  const auto arm = reinterpret_cast<Arm>(dlsym(RTLD_DEFAULT, "orv_fail_arm"));
  const auto calls = reinterpret_cast<Calls>(dlsym(RTLD_DEFAULT, "orv_fail_calls"));
  if (arm == nullptr || calls == nullptr) return 3;
  orv::models::FrameParameters frame;
  frame.storeys = 4;
  symRealSPDMatrixLinSys* system = nullptr;
  orv::models::assembleIntoLibrary(orv::models::BuildingFrame(frame), &system, true);
  if (phase == "eigen" && exp_factor_v3(system, "") != 0) return 4;
  SAFEARRAY* none = nullptr;
  int32_t found = 0;
  arm(k < 0 ? -2 : k);
  const auto call = [&] {
    return phase == "factor" ? exp_factor_v3(system, "")
                             : exp_eigenSystem_v3(system, 10, &none, &none, &found);
  };
  const int32_t result = call();
  const long made = calls();
  arm(-2);
  if (k < 0) {
    std::printf("%ld\n", made);
    return 0;
  }
  const std::string text = result == 0 ? "succeeded" : orv::models::lastError(system);
  // With memory back, the same call again on a new object: a lock left held would hang it.
  exp_deleteMatrix_v3(&system);
  orv::models::assembleIntoLibrary(orv::models::BuildingFrame(frame), &system, true);
  std::printf("%s, then %s\n", text.c_str(), call() == 0 ? "the next call succeeded" : "failed");
  return 0;
}

// Runs this program as a child with fail_malloc preloaded; its first line of output, or how it
// ended.
std::string run(const char* self, const std::string& shim, const std::string& phase, long k) {
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    setenv("LD_PRELOAD", shim.c_str(), 1);
    alarm(30);
    const std::string at = std::to_string(k);
    execl(self, self, "--child", phase.c_str(), at.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buffer[256];
  for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<size_t>(got));
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) {
    return WTERMSIG(status) == SIGALRM ? "process hung" : "process ended by a signal";
  }
  if (WEXITSTATUS(status) != 0) return "process exited with " + std::to_string(WEXITSTATUS(status));
  return text.substr(0, text.find('\n'));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--child") return child(argv[2], std::atol(argv[3]));
  const std::string libDir = argc > 1 ? argv[1] : std::string(ORV_BENCH_LIB_DIR);
  const std::string shim = libDir + "/liborv_fail_malloc.so";
  for (const char* phase : {"factor", "eigen"}) {
    const long total = std::atol(run(argv[0], shim, phase, -1).c_str());
    std::map<std::string, long> outcomes;
    for (long k = 0; k < total; ++k) ++outcomes[run(argv[0], shim, phase, k)];
    std::printf("exp_%s_v3: %ld allocations, each failing in turn\n",
                std::string(phase) == "factor" ? "factor" : "eigenSystem", total);
    for (const auto& [outcome, count] : outcomes)
      std::printf("  %6ld  %s\n", count, outcome.c_str());
  }
  return 0;
}
