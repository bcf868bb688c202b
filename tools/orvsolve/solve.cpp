// orvsolve solve: K x = b for a stiffness matrix from a Matrix Market file.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "commands.h"
#include "input.h"
#include "library.h"
#include "output.h"
#include "report.h"

namespace orv::cli {

const char* const kSolveUsage =
    "usage: orvsolve solve K.mtx [--rhs B.mtx] [--ordering NAME] [--checks LIST] [--out X.mtx]\n"
    "                            [--log FILE]\n"
    "\n"
    "Solves K X = B for the symmetric positive-definite K in K.mtx (Matrix Market coordinate,\n"
    "symmetric, or general and exactly symmetric), all right-hand sides in one call, and\n"
    "prints the relative residual |K x - b|_1 / |b|_1 of every column.\n"
    "\n"
    "  --rhs B.mtx      right-hand sides, one per column (array or coordinate file with as\n"
    "                   many rows as K). Default: b = K * (1, 1, ..., 1), whose exact solution\n"
    "                   is a vector of ones; the largest error |x - 1| is shown as well.\n"
    "  --ordering NAME  fill-reducing ordering: metis_node (default), metis, metis_edge,\n"
    "                   amdv1_1, tree, random, identity\n"
    "  --checks LIST    the numerical checks to run, by code, comma-separated, or 'all' or\n"
    "                   'none' (default: 1,8, the library's own default; a check that\n"
    "                   refuses K stops the run, and leaving it out goes on at your risk):\n"
    "                     1  diagonal of K positive, spread within 1e310 (before factorising)\n"
    "                     2  spread of the diagonal of the Cholesky factor L\n"
    "                     4  diagonal residual of L L^T against K\n"
    "                     8  norm-1 condition number estimate below 1e12\n"
    "                    16  residual of every solution, with iterative refinement\n"
    "  --out X.mtx      write the solutions as a Matrix Market array file (whole or not at\n"
    "                   all: through a temporary file in the same folder)\n"
    "  --log FILE       the library's log (default: orvsolve.log; 'none': no log)\n";

namespace {

constexpr const char* kOrderings[] = {"metis_node", "metis",  "metis_edge", "amdv1_1",
                                      "tree",       "random", "identity"};

// |K x - b|_1 / |b|_1 of every column; a zero load case has the zero solution, and its residual
// is absolute.
std::vector<double> relativeResiduals(const LinearSystem& system, const DenseFile& rhs,
                                      std::span<const double> x) {
  const auto n = static_cast<std::size_t>(system.size());
  std::vector<double> relative(static_cast<std::size_t>(rhs.columns));
  for (std::size_t c = 0; c < relative.size(); ++c) {
    const std::span<const double> bc(rhs.values.data() + c * n, n);
    std::vector<double> r = system.multiply(x.subspan(c * n, n), models::kStiffness);
    for (std::size_t i = 0; i < n; ++i) r[i] -= bc[i];
    relative[c] = norm1(bc) > 0.0 ? norm1(r) / norm1(bc) : norm1(r);
  }
  return relative;
}

struct SolveSetting {
  const MatrixFile& k;
  const std::optional<std::string>& rhsPath;
  const std::string& ordering;
  unsigned checks;
};

void printSolveReport(const SolveSetting& s, const DenseFile& rhs, std::span<const double> x,
                      std::span<const double> relative, const LogSummary& log,
                      const std::string& logPath) {
  const auto n = static_cast<std::size_t>(s.k.n);
  std::printf("Solution of K x = b\n");
  std::printf("  K                 %s: %d x %d, %ld stored entries (lower triangle)\n",
              s.k.path.c_str(), s.k.n, s.k.n,
              log.storedEntries.count('A') ? log.storedEntries.at('A')
                                           : static_cast<long>(s.k.lower.size()));
  if (s.rhsPath) {
    std::printf("  right-hand sides  %s: %d column%s\n", s.rhsPath->c_str(), rhs.columns,
                rhs.columns == 1 ? "" : "s");
  } else {
    std::printf("  right-hand side   b = K * (1, ..., 1): the exact solution is all ones\n");
  }
  std::printf("  ordering          %s\n", s.ordering.c_str());
  std::printf("  checks            %s\n", checkList(s.checks).c_str());
  if (log.logged) std::printf("  library           %s\n", log.banner.c_str());
  std::printf("\n");
  printLibrarySummary(log, logPath);

  std::printf("\nResiduals\n");
  constexpr std::size_t kListed = 10;
  std::printf("  column        |b|_1   |K x - b|_1 / |b|_1%s\n",
              s.rhsPath ? "" : "    max |x - 1|");
  for (std::size_t c = 0; c < std::min(relative.size(), kListed); ++c) {
    std::printf("  %6zu  %11.4e   %19.3e", c + 1, norm1({rhs.values.data() + c * n, n}),
                relative[c]);
    if (!s.rhsPath) {
      double error = 0.0;
      for (const double v : x) error = std::max(error, std::fabs(v - 1.0));
      std::printf("    %11.3e", error);
    }
    std::printf("\n");
  }
  if (relative.size() > kListed) {
    std::printf("  ... largest relative residual of all %zu columns: %.3e\n", relative.size(),
                *std::max_element(relative.begin(), relative.end()));
  }
}

}  // namespace

int runSolve(const Session& session, Arguments& args) {
  const std::optional<std::string> rhsPath = args.value("--rhs");
  const std::string ordering = args.value("--ordering").value_or("metis_node");
  const std::optional<std::string> checksText = args.value("--checks");
  const std::optional<std::string> outPath = args.value("--out");
  const std::string kPath = args.positionals(1, 1).front();
  if (std::find(std::begin(kOrderings), std::end(kOrderings), ordering) == std::end(kOrderings)) {
    throw UsageError("--ordering: unknown method '" + ordering + "'");
  }
  const unsigned checks = checksText ? parseChecks(*checksText) : kDefaultChecks;
  NamedFiles inputs{{"K", kPath}}, written;
  if (rhsPath) inputs.emplace_back("--rhs", *rhsPath);
  if (outPath) written.emplace_back("--out", *outPath);
  if (!session.logPath.empty()) written.emplace_back("--log", session.logPath);
  requireDistinct(inputs, written);
  requireLogWritable(session.logPath);
  std::optional<OutputFile> out;
  if (outPath) out.emplace(*outPath);

  const MatrixFile k = readStiffnessFile(kPath);
  DenseFile rhs;
  if (rhsPath) rhs = readRightHandSides(*rhsPath, k);

  startLog(session);
  LinearSystem system;
  watched(session, [&] { system.assemble(k.n, k.lower, models::kStiffness); });
  system.enableChecks(checks);
  watched(session, [&] { system.factor(ordering); });
  if (!rhsPath) {
    rhs.rows = k.n;
    rhs.columns = 1;
    rhs.values = system.multiply(std::vector<double>(k.n, 1.0), models::kStiffness);
  }
  const std::vector<double> x =
      watched(session, [&] { return system.solve(rhs.values, rhs.columns); });
  const std::vector<double> relative = relativeResiduals(system, rhs, x);

  printSolveReport({k, rhsPath, ordering, checks}, rhs, x, relative,
                   summariseLogFile(session.logPath), session.logPath);
  if (out) {
    std::fflush(stdout);
    out->write([&](const std::string& path) {
      models::writeArray(path, k.n, rhs.columns, x, "solution of K x = b, K from " + kPath);
    });
    out->publish();
    std::printf("\nSolution written to %s (%d x %d array)\n", outPath->c_str(), k.n, rhs.columns);
  }
  return 0;
}

}  // namespace orv::cli
