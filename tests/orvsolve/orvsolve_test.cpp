// orvsolve as a user runs it, from a shell: its report and its commands on real matrices against
// dense LAPACK, its messages and its exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <regex>
#include <sstream>
#include <tuple>

#include "building.h"
#include "dense.h"
#include "models/models.h"
#include "test_support.h"

namespace orv::test {
namespace {

// Status (-1 when a signal ended it), standard output and error of a shell command, its outputs
// going to files (so neither is a terminal).
std::tuple<int, std::string, std::string> runCommand(const std::string& command) {
  const ScratchFile out("stdout.txt");
  const std::string err = out.folder() + "/stderr.txt";
  const int status =
      std::system((command + " >" + out.path() + " 2>" + err + " </dev/null").c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out.path()), readFile(err)};
}

// args: words separated by spaces (the scratch and matrix paths have none).
std::tuple<int, std::string, std::string> runOrvsolve(const std::string& args,
                                                      const std::string& workDir = ".") {
  return runCommand("cd " + workDir + " && " ORVSOLVE_PATH " " + args);
}

// The rows of the table after the first line of text that holds header: the leading numbers of
// each line, up to a line that starts with none.
std::vector<std::vector<double>> tableAfter(const std::string& text, const std::string& header) {
  std::istringstream in(text.substr(std::min(text.find(header), text.size())));
  std::vector<std::vector<double>> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line) && std::regex_search(line, std::regex("^ *[0-9]"))) {
    std::istringstream words(line);
    rows.emplace_back(std::istream_iterator<double>(words), std::istream_iterator<double>());
  }
  return rows;
}

// The default run against a dense analysis of the same frame: all eigenpairs by dsygvd (φᵀ M φ =
// 1) and the lateral cases by dposv. Every period lies between TB = 0.2 s and TD = 2 s of the
// spectrum (Eurocode 8 type 1, ground C, ag = 0.25 g), where Se = 2.5 ag S min(1, TC / T); mode i
// carries the base shear (φᵢᵀ M r)² Se(Tᵢ).
TEST(OrvsolveReport, DefaultAnalysisAgreesWithDenseLapack) {
  const ScratchFile log("orvsolve.log");
  const auto [status, out, err] = runOrvsolve("", log.folder());
  ASSERT_EQ(status, 0) << err;
  EXPECT_EQ(err, "") << "no progress when the outputs are not terminals";
  const models::BuildingFrame frame(cli::referenceBuilding());
  const int n = frame.size();
  const std::vector<double> k = dense(modelPair(frame).k), m = dense(modelPair(frame).m);
  const DenseEigen modes = generalizedEigen(k, m, n, true);
  const std::vector<std::vector<double>> rows = tableAfter(out, "mode  period [s]");
  ASSERT_EQ(rows.size(), std::size_t(cli::kModeCount)) << out;
  const std::vector<double> rz = frame.translation(models::kUz);
  const double weight = dot(rz.data(), multiply(m, n, rz.data()).data(), n) * cli::kGravity;
  const std::vector<double> forces =
      models::BuildingFrame::triangularStoreyForces(cli::kStoreys, cli::kLateralShare * weight);
  for (const int d : {models::kUx, models::kUy}) {
    const std::string axis = d == models::kUx ? "X" : "Y";
    const std::vector<double> ground = frame.translation(d), mr = multiply(m, n, ground.data());
    double squares = 0.0;
    for (int i = 0; i < cli::kModeCount; ++i) {
      const double lambda = modes.values[i], period = 2 * std::numbers::pi / std::sqrt(lambda);
      const double gamma = dot(modes.vectors.data() + std::size_t(i) * n, mr.data(), n);
      const double shear =
          gamma * gamma * 2.5 * 0.25 * cli::kGravity * 1.15 * std::min(1.0, 0.6 / period);
      EXPECT_NEAR(rows[i][2], lambda, 1e-9 * lambda);
      EXPECT_NEAR(rows[i][4 + 2 * d], 100 * gamma * gamma / dot(ground.data(), mr.data(), n), 6e-3);
      squares += shear * shear;
    }
    const std::vector<double> base =
        tableAfter(out.substr(out.find("earthquake along " + axis)), "storey        SRSS")
            .at(cli::kStoreys - 1);
    EXPECT_NEAR(base[1], std::sqrt(squares) / 1e3, 0.11) << axis;
    const std::vector<double> u = solveSpd(k, n, frame.lateralLoad(d, forces));
    std::smatch roof;
    ASSERT_TRUE(
        std::regex_search(out, roof, std::regex("lateral " + axis + "[^\\n]*roof (\\S+) mm")));
    EXPECT_NEAR(std::stod(roof[1]), frame.storeyDisplacement(u, cli::kStoreys, d) * 1e3, 6e-3);
  }
}

// `orvsolve eigen` against dense LAPACK: the smallest finite eigenvalues (a singular M has fewer)
// and the written vectors, scaled to xᵀ K x = 1, of K x = λ M x. The last pair is the brick solid
// that `orvsolve model` wrote.
TEST(OrvsolveEigen, RealAndGeneratedPairsAgreeWithDenseLapack) {
  const ScratchFile phi("phi.mtx");
  const std::string k = phi.folder() + "/k.mtx", m = phi.folder() + "/m.mtx";
  ASSERT_EQ(std::get<0>(runOrvsolve("model solid --size 4x1x2 --write " + k + " " + m)), 0);
  const std::tuple<std::string, std::string, int, int> rows[] = {
      {"bcsstk05.mtx", "bcsstm05.mtx", 10, 10},
      {"LUNDA.mtx", "lund_b.mtx", 10, 10},
      {"converted/bcsstk01.mtx", "bcsstm01.mtx", 30, 24},
      {k, m, 6, 6}};
  for (const auto& [kName, mName, count, found] : rows) {
    const Pair pair = kName == k ? modelPair(models::BrickSolid({.nx = 4, .ny = 1, .nz = 2}))
                                 : readPair(kName, mName);
    const auto [status, out, err] =
        runOrvsolve("eigen " + kName + " " + mName + " --count " + std::to_string(count) +
                        " --vectors " + phi.path() + " --log " + phi.folder() + "/log",
                    matrixPath(""));
    ASSERT_EQ(status, 0) << err;
    const std::vector<std::vector<double>> table = tableAfter(out, "eigenvalue   omega");
    ASSERT_EQ(table.size(), std::size_t(found)) << out;
    const std::vector<double> expected = smallestEigenvalues(pair, found);
    std::vector<double> lambda;
    for (int i = 0; i < found; ++i) {
      lambda.push_back(table[i][1]);
      EXPECT_NEAR(lambda[i], expected[i], 1e-9 * expected[i]) << kName;
    }
    const std::vector<double> x = models::readArray(phi.path()).values;
    ASSERT_EQ(x.size(), std::size_t(found) * pair.k.n);
    const Normalisation scaled = normalisation(pair, x.data(), lambda.data(), found);
    EXPECT_LT(std::max(scaled.kOrthonormality, scaled.mScaling), 1e-8) << kName;
  }
}

// `orvsolve solve` with the ordering and checks a user picks (no refinement), for point loads from
// a coordinate file (a repeated entry summed), against dposv.
TEST(OrvsolveSolve, PointLoadsAgreeWithDenseLapack) {
  const ScratchFile x("x.mtx");
  const std::string b = x.folder() + "/b.mtx", log = x.folder() + "/log";
  std::ofstream(b) << "%%MatrixMarket matrix coordinate real general\n153 2 3\n10 1 1e3\n"
                      "150 2 3e3\n150 2 1e3\n";
  const auto [status, out, err] =
      runOrvsolve("solve " + matrixPath("bcsstk05.mtx") + " --rhs " + b +
                  " --ordering amdv1_1 --checks 1,2,4,8 --out " + x.path() + " --log " + log);
  ASSERT_EQ(status, 0) << err;
  EXPECT_NE(out.find("checks            1, 2, 4, 8"), std::string::npos) << out;
  std::vector<double> loads(306, 0.0);
  loads[9] = 1e3;
  loads[153 + 149] = 4e3;
  const std::vector<double> expected = solveSpd(dense(readMatrix("bcsstk05.mtx")), 153, loads);
  const std::vector<double> solution = models::readArray(x.path()).values;
  ASSERT_EQ(solution.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_NEAR(solution[i], expected[i],
                1e-9 * (std::fabs(expected[9]) + std::fabs(expected[302])));
}

// Bad arguments or input: the message, status 2, nothing on standard output; a library refusal:
// its text and the log lines before its error, status 1. Every --help and --version: the beginning
// of standard output, status 0.
TEST(OrvsolveRuns, MessagesAndExitStatuses) {
  const ScratchFile k("k");
  const std::string banner = "%%MatrixMarket matrix coordinate real symmetric\n";
  std::ofstream(k.path()) << banner << "3 3 4\n1 1 4\n2 1 1\n2 2 4\n3 3 4\n";
  std::ofstream(k.folder() + "/i") << banner << "2 2 3\n1 1 1\n2 1 2\n2 2 1\n";
  std::ofstream(k.folder() + "/b") << "%%MatrixMarket matrix array real general\n2 1\n1\n2\n";
  const auto write = [&](const char* name, const std::string& text) {
    std::ofstream(k.folder() + "/" + name) << text;
  };
  write("kinf", banner + "3 3 3\n1 1 4\n2 2 inf\n3 3 4\n");
  write("kbig", banner + "3 3 3\n1 1 4\n2 2 1e400\n3 3 4\n");
  write("mnan", banner + "3 3 3\n1 1 1\n2 2 NaN\n3 3 1\n");
  write("mzero", banner + "3 3 3\n1 1 0\n2 2 0\n3 3 0\n");
  write("mneg", banner + "3 3 3\n1 1 1\n2 2 -1\n3 3 1\n");
  write("mindef", banner + "3 3 4\n1 1 1\n2 1 2\n2 2 1\n3 3 1\n");
  write("bnan", "%%MatrixMarket matrix array real general\n3 1\n1\nnan\n1\n");
  write("bhuge", "%%MatrixMarket matrix coordinate real general\n3 100000000 1\n1 1 1\n");
  write("bin", std::string("\x7f"
                           "ELF\x02\x01\x01\0\0\0\n",
                           12));
  const std::string M = "orvsolve model: --size ",
                    big = " orvsolve generates; choose smaller counts";
  const std::string psd =
      "; a mass matrix is positive semi-definite, and with this one K x = lambda "
      "M x has negative eigenvalues, which are not computed: check the signs "
      "and the entries of ";
  const std::string S = "orvsolve solve: ", E = "orvsolve eigen: ", H = " (see orvsolve ";
  const std::string logHint = " (--log FILE names another, --log none runs without a log)\n";
  const std::tuple<const char*, int, std::string> rows[] = {
      {"solve none", 2, S + "none: cannot open file: No such file or directory\n"},
      {"eigen k i", 2, E + "i:2: matrix is 2 x 2 but k is 3 x 3\n"},
      {"solve k --rhs b", 2, S + "b:2: right-hand sides have 2 rows but k is 3 x 3\n"},
      {"solve k --fast", 2, S + "unknown option '--fast'" + H + "solve --help)\n"},
      {"eigen k k --count 4", 2,
       E + "--count 4 exceeds the dimension 3 of k" + H + "eigen --help)\n"},
      {"solve k --checks 3", 2,
       S + "--checks: '3' is not a check code (1, 2, 4, 8, 16)" + H + "solve --help)\n"},
      {"factor", 2, "orvsolve: unknown command 'factor'" + H + "--help)\n"},
      {"model frame --size 0x1x1", 2,
       "orvsolve model: --size needs three positive counts as AxBxC, not '0x1x1'" + H +
           "model --help)\n"},
      {"solve k --log n/l", 2,
       S + "cannot write the log file 'n/l': No such file or directory" + logHint},
      {"solve k --out n/x", 2, S + "n/x: cannot write a file in 'n': No such file or directory\n"},
      {"solve i", 1,
       S + "exp_factor_v3 failed: Numeric factorization failed\n" + S +
           "the library's log is in orvsolve.log; it reads before the error:\n  LL^T "
           "Factorization: Matrix is not positive definite.\n  Non-positive pivot in column 1\n  "
           "Non-positive pivot in original column 1\n"},
      {"model solid --size 2147483647x1x1", 2,
       M + "2147483647x1x1: a solid of 25769803764 equations, more than the 100000" + big + H +
           "model --help)\n"},
      {"model frame --size 2147483647x2x2", 2,
       M + "2147483647x2x2: a frame of 115964116938 equations, more than the 100000" + big + H +
           "model --help)\n"},
      {"model frame --size 100x100x100", 2,
       M + "100x100x100: a frame of 6120600 equations, more than the 100000" + big + H +
           "model --help)\n"},
      {"model frame --size 99999999999x1x1", 2,
       M +
           "99999999999 is too large: --size needs a whole number of at least 1 and at most "
           "2147483647" +
           H + "model --help)\n"},
      {"solve k --log /dev/zero", 2,
       S + "cannot write the log file '/dev/zero': it is not a regular file" + logHint},
      {"solve k --rhs bhuge", 2,
       S + "bhuge:2: declares 100000000 right-hand sides but holds only 1 entry, so some are "
           "all zero: declare one column per load case\n"},
      {"model frame --write s s", 2,
       "orvsolve model: 's' is named by both --write K and --write M; each file written needs a "
       "name of its own" +
           H + "model --help)\n"},
      {"solve k --out k", 2,
       S + "'k' is named by both K and --out; each file written needs a name of its own" + H +
           "solve --help)\n"},
      {"solve k --rhs bnan", 2, S + "bnan:4: value 'nan' is not a finite number\n"},
      {"solve kinf", 2, S + "kinf:4: value 'inf' is not a finite number\n"},
      {"solve kbig", 2, S + "kbig:4: value '1e400' is too large for a double (at most 1.8e308)\n"},
      {"eigen k mnan", 2, E + "mnan:4: value 'NaN' is not a finite number\n"},
      {"eigen k mzero --count 3", 2,
       E + "mzero: the mass matrix has no non-zero diagonal entry, so K x = lambda M x has no "
           "finite eigenvalue: check that mzero is the mass matrix\n"},
      {"eigen k mneg --count 3", 2,
       E + "mneg: diagonal entry (2, 2) = -1 is negative" + psd + "mneg\n"},
      {"eigen k mindef --count 3", 2,
       E +
           "mindef: entry (2, 1) = 2 exceeds the root of its diagonal entries' product, 1, so the "
           "mass matrix is indefinite" +
           psd + "mindef\n"},
      {"solve .", 2, S + ".: is a directory, not a file\n"},
      {"solve bin", 2,
       S + "bin:1: not a text file (it holds control bytes), expected a Matrix Market file\n"},
      {"eigen k k --count -5", 2,
       E + "--count -5 is negative: --count needs a whole number of at least 1" + H +
           "eigen --help)\n"},
      {"eigen k k --count 99999999999", 2,
       E +
           "--count 99999999999 is too large: --count needs a whole number of at least 1 and at "
           "most 2147483647" +
           H + "eigen --help)\n"},
      {"model frame --size 1x1x1", 0, "building frame: 1 storey of 3.20 m, 1 x 1 bays"},
      {"--help", 0, "usage: orvsolve [--log FILE]      "},
      {"solve --help", 0, "usage: orvsolve solve K.mtx [--rhs B.mtx] [--ordering NAME]"},
      {"eigen --help", 0, "usage: orvsolve eigen K.mtx M.mtx [--count N] [--checks LIST]"},
      {"model --help", 0, "usage: orvsolve model frame [--size STOREYSxBAYSXxBAYSY]"},
      {"--version", 0, "orvsolve 3.0.0.0\nlibrary: Version 3, 0, 0, 0 - RELEASE\n"}};
  for (const auto& [args, expectedStatus, text] : rows) {
    const auto [status, out, err] = runOrvsolve(args, k.folder());
    EXPECT_EQ(status, expectedStatus) << args;
    EXPECT_EQ(expectedStatus ? err : out.substr(0, text.size()), text);
    EXPECT_EQ(expectedStatus ? out : err, "") << args;
  }
}

// Outputs are whole or absent: on a full disk (a file-size limit stands in for it) the report is
// still printed, the status is 2, and the files named keep what they held, with no partial or
// temporary file left in their folder; on success the file is replaced.
TEST(OrvsolveRuns, OutputsAreWrittenWholeOrNotAtAll) {
  const ScratchFile x("x");
  const std::string y = x.folder() + "/y", k = matrixPath("bcsstk11.mtx");
  const std::string full = "trap '' XFSZ; ulimit -f 16; ";
  const struct {
    std::string command;
    int status;
    std::string err;
    std::string out;
    const char* why;
  } rows[] = {
      {full + ORVSOLVE_PATH " solve " + k + " --out x", 2,
       "orvsolve solve: x: write failed: File too large; nothing was written to x\n", "Residuals",
       "solution on a full disk"},
      {full + ORVSOLVE_PATH " eigen " + matrixPath("bcsstk05.mtx") + " " +
           matrixPath("bcsstm05.mtx") + " --vectors x",
       2, "orvsolve eigen: x: write failed: File too large; nothing was written to x\n",
       "10 smallest eigenvalues requested, 10 found", "eigenvectors on a full disk"},
      {full + ORVSOLVE_PATH " model solid --write x y", 2,
       "orvsolve model: x: write failed: File too large; nothing was written to x\n",
       "equations       540", "model pair on a full disk: neither file"},
      {ORVSOLVE_PATH " solve " + k + " --out .", 2,
       "orvsolve solve: .: is a folder; name a file to write\n", "",
       "a folder as output, refused before the work"},
      {ORVSOLVE_PATH " solve " + k + " --out x", 0, "", "Solution written to x", "replaced"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    std::ofstream(x.path()) << "old";
    std::ofstream(y) << "old";
    const auto [status, out, err] =
        runCommand("cd " + x.folder() + " && " + row.command + " --log none");
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(err, row.err);
    EXPECT_NE(out.find(row.out), std::string::npos) << out;
    EXPECT_EQ(readFile(y), "old");
    EXPECT_EQ(readFile(x.path()).substr(0, 3), row.status ? "old" : "%%M");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(x.folder()))
      left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"x", "y"}));
  }
}

// The dead ends: a building too ill-conditioned for the default checks (bcsstk25, estimate
// 1.3e13, with a unit mass) is refused with the option that lifts the check, and with --checks 1
// gets its modes; a folder where no log can be written runs with --log none; fewer modes than
// asked are explained.
TEST(OrvsolveRuns, DeadEndsSayTheWayOut) {
  const ScratchFile m("m");
  const int n = 15439;
  std::ofstream mass(m.path());
  mass << "%%MatrixMarket matrix coordinate real symmetric\n" << n << " " << n << " " << n << "\n";
  for (int i = 1; i <= n; ++i) mass << i << " " << i << " 1\n";
  mass.close();
  const std::string k25 = matrixPath("bcsstk25.mtx"), E = "orvsolve eigen: ";
  auto [status, out, err] = runOrvsolve("eigen " + k25 + " " + m.path() + " --count 3", m.folder());
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err.substr(err.rfind(E)),
            E + "a numerical check refused the matrix; --checks LIST chooses the checks (--checks "
                "none runs without them, at the risk of an inaccurate result; see orvsolve eigen "
                "--help)\n");
  std::tie(status, out, err) =
      runOrvsolve("eigen " + k25 + " " + m.path() + " --count 3 --checks 1", m.folder());
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(tableAfter(out, "eigenvalue   omega").size(), 3u) << out;

  const std::string k5 = matrixPath("bcsstk05.mtx");
  std::tie(status, out, err) = runOrvsolve("solve " + k5, "/proc");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(err,
            "orvsolve solve: cannot write the log file 'orvsolve.log': No such file or "
            "directory (--log FILE names another, --log none runs without a log)\n");
  std::tie(status, out, err) = runOrvsolve("solve " + k5 + " --log none", "/proc");
  EXPECT_EQ(status, 0) << err;

  std::tie(status, out, err) = runOrvsolve(
      "eigen converted/bcsstk01.mtx bcsstm01.mtx --count 30 --log " + m.folder() + "/log",
      matrixPath(""));
  EXPECT_EQ(status, 0) << err;
  EXPECT_NE(
      out.find("\n24 of the 30 eigenvalues requested were found: M (bcsstm01.mtx) has only 24 "
               "non-zero diagonal entries, so K x = lambda M x has at most 24 finite "
               "eigenvalues"),
      std::string::npos)
      << out;
}

}  // namespace
}  // namespace orv::test
