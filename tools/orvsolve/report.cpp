#include "report.h"

#include <cmath>
#include <cstdio>

#include "library.h"

namespace orv::cli {

void printLibrarySummary(const LogSummary& log, const std::string& logPath) {
  if (!log.logged) {
    std::printf("Library phases: not known, the log is off (--log none)\n");
    return;
  }
  const std::string title = "Library phases (read from " + logPath + ")";
  std::printf("%-50s %9s  %9s\n", title.c_str(), "wall [s]", "CPU [s]");
  for (const PhaseTime& p : log.phases) {
    std::string name = std::string(1, p.tag) + ": " + p.name;
    if (p.count > 1) name += " (x" + std::to_string(p.count) + ")";
    std::printf("  %-48s %9.2e  %9.2e\n", name.c_str(), p.wall, p.cpu);
  }
  if (log.condition) {
    std::printf("  Norm-1 condition number estimate of K: %.3g\n", *log.condition);
  }
  for (const std::string& line : log.eigenRoute) std::printf("  %s\n", line.c_str());
}

std::string checkList(unsigned codes) {
  std::string list;
  for (const unsigned code : kCheckCodes) {
    if ((codes & code) == 0) continue;
    if (!list.empty()) list += ", ";
    list += std::to_string(code);
  }
  return list.empty() ? "none" : list;
}

std::string counted(long long count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

double norm1(std::span<const double> x) {
  double sum = 0.0;
  for (const double v : x) sum += std::fabs(v);
  return sum;
}

}  // namespace orv::cli
