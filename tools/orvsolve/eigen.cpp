// orvsolve eigen: the smallest eigenpairs of K x = lambda M x for a stiffness and a mass file.
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>

#include "commands.h"
#include "input.h"
#include "library.h"
#include "output.h"
#include "report.h"

namespace orv::cli {

const char* const kEigenUsage =
    "usage: orvsolve eigen K.mtx M.mtx [--count N] [--checks LIST] [--vectors PHI.mtx]\n"
    "                                  [--log FILE]\n"
    "\n"
    "Computes the N smallest eigenvalues lambda of K x = lambda M x (default N = 10) with\n"
    "K the symmetric positive-definite stiffness in K.mtx and M the symmetric mass in M.mtx\n"
    "(Matrix Market coordinate files of the same size; M may be singular, but not negative\n"
    "or indefinite). Prints each eigenvalue to full precision, the circular frequency\n"
    "omega = sqrt(lambda) [rad/s], the frequency omega / 2 pi [Hz], the period [s], and the\n"
    "relative residual |K x - lambda M x|_1 / |K x|_1 of its eigenvector.\n"
    "\n"
    "  --count N        how many eigenvalues (at most the number of non-zero diagonal\n"
    "                   entries of M; fewer are reported, with the reason, when fewer are\n"
    "                   found)\n"
    "  --checks LIST    the numerical checks on K, as for 'orvsolve solve' (default 1,8;\n"
    "                   an ill-conditioned K, condition estimate above 1e12, needs 1 or none)\n"
    "  --vectors F.mtx  write the eigenvectors (x^T K x = 1) as an n x found array file\n"
    "                   (whole or not at all: through a temporary file in the same folder)\n"
    "  --log FILE       the library's log (default: orvsolve.log; 'none': no log)\n";

namespace {

struct EigenResult {
  Eigenpairs pairs;
  std::vector<double> residual;
};

EigenResult computeEigenpairs(const Session& session, LinearSystem& system, int count) {
  EigenResult result;
  result.pairs = watched(session, [&] { return system.eigenpairs(count); });
  const auto n = static_cast<std::size_t>(system.size());
  for (std::size_t i = 0; i < static_cast<std::size_t>(result.pairs.found); ++i) {
    const std::span<const double> x(result.pairs.vectors.data() + i * n, n);
    const std::vector<double> kx = system.multiply(x, models::kStiffness);
    const std::vector<double> mx = system.multiply(x, models::kMass);
    std::vector<double> r(n);
    for (std::size_t j = 0; j < n; ++j) r[j] = kx[j] - result.pairs.values[i] * mx[j];
    result.residual.push_back(norm1(r) / norm1(kx));
  }
  return result;
}

// Why fewer eigenvalues than requested came back, and what to check.
std::string shortfall(int count, int found, const MatrixFile& m, const MassShape& mass) {
  const std::string head = std::to_string(found) + " of the " + std::to_string(count) +
                           " eigenvalues requested " + (found == 1 ? "was" : "were") + " found: ";
  const std::string diagonal =
      counted(mass.nonZeroDiagonal, "non-zero diagonal entry", "non-zero diagonal entries");
  if (count > mass.nonZeroDiagonal) {
    return head + "M (" + m.path + ") has only " + diagonal + ", so K x = lambda M x has at most " +
           counted(mass.nonZeroDiagonal, "finite eigenvalue", "finite eigenvalues") +
           " (a degree of freedom without mass has none); ask for at most that many with --count, "
           "or give those degrees of freedom mass";
  }
  return head + "M (" + m.path + ") has a lower rank than its " + diagonal +
         ", or is indefinite, and K x = lambda M x has only " +
         counted(found, "positive finite eigenvalue", "positive finite eigenvalues") + ": check M";
}

struct EigenSetting {
  const MatrixFile& k;
  const MatrixFile& m;
  unsigned checks;
  int count;
};

void printEigenReport(const EigenSetting& s, const EigenResult& result, const LogSummary& log,
                      const std::string& logPath) {
  const MatrixFile& k = s.k;
  const MatrixFile& m = s.m;
  const int count = s.count;
  const Eigenpairs& pairs = result.pairs;
  const auto stored = [&](char tag, const MatrixFile& file) {
    return log.storedEntries.count(tag) ? log.storedEntries.at(tag)
                                        : static_cast<long>(file.lower.size());
  };
  std::printf("Eigenpairs of K x = lambda M x\n");
  std::printf("  K        %s: %d x %d, %ld stored entries\n", k.path.c_str(), k.n, k.n,
              stored('A', k));
  std::printf("  M        %s: %d x %d, %ld stored entries\n", m.path.c_str(), m.n, m.n,
              stored('B', m));
  std::printf("  checks   %s\n", checkList(s.checks).c_str());
  if (log.logged) std::printf("  library  %s\n", log.banner.c_str());
  std::printf("\n");
  printLibrarySummary(log, logPath);

  std::printf("\n%d smallest eigenvalue%s requested, %d found\n", count, count == 1 ? "" : "s",
              pairs.found);
  std::printf(
      "  mode               eigenvalue   omega [rad/s]   freq [Hz]    period [s]   "
      "residual\n");
  for (std::size_t i = 0; i < result.residual.size(); ++i) {
    const double lambda = pairs.values[i];
    const double omega = std::sqrt(lambda);
    const double frequency = omega / (2.0 * std::numbers::pi);
    std::printf("  %4zu  %23.16e  %14.6e  %10.4e  %12.4e  %9.1e\n", i + 1, lambda, omega, frequency,
                1.0 / frequency, result.residual[i]);
  }
}

}  // namespace

int runEigen(const Session& session, Arguments& args) {
  const std::optional<std::string> countText = args.value("--count");
  const std::optional<std::string> checksText = args.value("--checks");
  const std::optional<std::string> vectorsPath = args.value("--vectors");
  const std::vector<std::string> files = args.positionals(2, 2);
  const int count = countText ? parseCount("--count", *countText, 1) : 10;
  const unsigned checks = checksText ? parseChecks(*checksText) : kDefaultChecks;
  NamedFiles written;
  if (vectorsPath) written.emplace_back("--vectors", *vectorsPath);
  if (!session.logPath.empty()) written.emplace_back("--log", session.logPath);
  requireDistinct({{"K", files[0]}, {"M", files[1]}}, written);
  requireLogWritable(session.logPath);
  std::optional<OutputFile> out;
  if (vectorsPath) out.emplace(*vectorsPath);

  const MatrixFile k = readStiffnessFile(files[0]);
  const MatrixFile m = readMatrixFile(files[1]);
  requireSameSize(k, m);
  if (count > k.n) {
    throw UsageError("--count " + std::to_string(count) + " exceeds the dimension " +
                     std::to_string(k.n) + " of " + k.path);
  }
  const MassShape mass = inspectMass(m);

  startLog(session);
  LinearSystem system;
  watched(session, [&] {
    system.assemble(k.n, k.lower, models::kStiffness);
    system.assemble(m.n, m.lower, models::kMass);
  });
  system.enableChecks(checks);
  const EigenResult result = computeEigenpairs(session, system, count);
  const Eigenpairs& pairs = result.pairs;
  printEigenReport({k, m, checks, count}, result, summariseLogFile(session.logPath),
                   session.logPath);
  if (pairs.found == 0) throw LibraryError(shortfall(count, 0, m, mass));
  if (pairs.found < count) {
    std::printf("\n%s\n", shortfall(count, pairs.found, m, mass).c_str());
  }
  if (out) {
    std::fflush(stdout);
    const auto n = static_cast<std::size_t>(k.n);
    out->write([&](const std::string& path) {
      models::writeArray(
          path, k.n, pairs.found,
          std::span<const double>(pairs.vectors.data(), static_cast<std::size_t>(pairs.found) * n),
          "eigenvectors of K x = lambda M x, K from " + k.path + ", M from " + m.path +
              "; column i belongs to eigenvalue i, x^T K x = 1");
    });
    out->publish();
    std::printf("\nEigenvectors written to %s (%d x %d array)\n", vectorsPath->c_str(), k.n,
                pairs.found);
  }
  return 0;
}

}  // namespace orv::cli
