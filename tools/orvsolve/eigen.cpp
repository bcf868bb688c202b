// orvsolve eigen: the smallest eigenpairs of K x = lambda M x for a stiffness and a mass file.
#include <cmath>
#include <cstdio>
#include <numbers>

#include "commands.h"
#include "input.h"
#include "library.h"
#include "report.h"

namespace orv::cli {

const char* const kEigenUsage =
    "usage: orvsolve eigen K.mtx M.mtx [--count N] [--vectors PHI.mtx] [--log FILE]\n"
    "\n"
    "Computes the N smallest eigenvalues lambda of K x = lambda M x (default N = 10) with\n"
    "K the symmetric positive-definite stiffness in K.mtx and M the symmetric mass in M.mtx\n"
    "(Matrix Market coordinate files of the same size; M may be singular). Prints each\n"
    "eigenvalue to full precision, the circular frequency omega = sqrt(lambda) [rad/s], the\n"
    "frequency omega / 2 pi [Hz], the period [s], and the relative residual\n"
    "|K x - lambda M x|_1 / |K x|_1 of its eigenvector.\n"
    "\n"
    "  --count N        how many eigenvalues (at most the number of non-zero diagonal\n"
    "                   entries of M; fewer are reported when fewer are found)\n"
    "  --vectors F.mtx  write the eigenvectors (x^T K x = 1) as an n x found array file\n"
    "  --log FILE       the library's log (default: orvsolve.log)\n";

int runEigen(const Session& session, Arguments& args) {
  const std::optional<std::string> countText = args.value("--count");
  const std::optional<std::string> vectorsPath = args.value("--vectors");
  const std::vector<std::string> files = args.positionals(2, 2);
  const int count = countText ? parseCount("--count", *countText, 1) : 10;

  const MatrixFile k = readMatrixFile(files[0]);
  const MatrixFile m = readMatrixFile(files[1]);
  requireSameSize(k, m);
  if (count > k.n) {
    throw UsageError("--count " + std::to_string(count) + " exceeds the dimension " +
                     std::to_string(k.n) + " of " + k.path);
  }

  startLog(session);
  LinearSystem system;
  watched(session, [&] {
    system.assemble(k.n, k.lower, models::kStiffness);
    system.assemble(m.n, m.lower, models::kMass);
  });
  const Eigenpairs pairs = watched(session, [&] { return system.eigenpairs(count); });

  const auto n = static_cast<std::size_t>(k.n);
  const auto found = static_cast<std::size_t>(pairs.found);
  std::vector<double> residual(found);
  for (std::size_t i = 0; i < found; ++i) {
    const std::span<const double> x(pairs.vectors.data() + i * n, n);
    const std::vector<double> kx = system.multiply(x, models::kStiffness);
    const std::vector<double> mx = system.multiply(x, models::kMass);
    std::vector<double> r(n);
    for (std::size_t j = 0; j < n; ++j) r[j] = kx[j] - pairs.values[i] * mx[j];
    residual[i] = norm1(r) / norm1(kx);
  }
  if (vectorsPath) {
    try {
      models::writeArray(*vectorsPath, k.n, pairs.found,
                         std::span<const double>(pairs.vectors.data(), found * n),
                         "eigenvectors of K x = lambda M x, K from " + k.path + ", M from " +
                             m.path + "; column i belongs to eigenvalue i, x^T K x = 1");
    } catch (const models::MatrixMarketError& e) {
      throw InputError(e.what());
    }
  }
  const LogSummary log = summariseLogFile(session.logPath);

  std::printf("Eigenpairs of K x = lambda M x\n");
  std::printf("  K        %s: %d x %d, %ld stored entries\n", k.path.c_str(), k.n, k.n,
              log.storedEntries.count('A') ? log.storedEntries.at('A') : 0L);
  std::printf("  M        %s: %d x %d, %ld stored entries\n", m.path.c_str(), m.n, m.n,
              log.storedEntries.count('B') ? log.storedEntries.at('B') : 0L);
  std::printf("  library  %s\n\n", log.banner.c_str());
  printLibrarySummary(log, session.logPath);

  std::printf("\n%d smallest eigenvalue%s requested, %d found\n", count, count == 1 ? "" : "s",
              pairs.found);
  std::printf(
      "  mode               eigenvalue   omega [rad/s]   freq [Hz]    period [s]   "
      "residual\n");
  for (std::size_t i = 0; i < found; ++i) {
    const double lambda = pairs.values[i];
    const double omega = std::sqrt(lambda);
    const double frequency = omega / (2.0 * std::numbers::pi);
    std::printf("  %4zu  %23.16e  %14.6e  %10.4e  %12.4e  %9.1e\n", i + 1, lambda, omega, frequency,
                1.0 / frequency, residual[i]);
  }
  if (vectorsPath) {
    std::printf("\nEigenvectors written to %s (%d x %d array)\n", vectorsPath->c_str(), k.n,
                pairs.found);
  }
  return 0;
}

}  // namespace orv::cli
