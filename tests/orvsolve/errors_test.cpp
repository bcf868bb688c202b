// Bad input gives its message and exit status 2, a library failure the library's text and 1;
// never a crash.
#include <gtest/gtest.h>

#include <fstream>

#include "run.h"
#include "test_support.h"

namespace orv::test {
namespace {

struct Case {
  const char* name;
  std::vector<std::string> args;  // "@" stands for the scratch folder
  int status;
  std::string message;  // expected in standard error, "@" for the scratch folder
};

std::string placed(std::string text, const std::string& folder) {
  for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
    text.replace(at, 1, folder);
    at += folder.size();
  }
  return text;
}

void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

class OrvsolveErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string d = folder.folder();
    const std::string spd =
        "%%MatrixMarket matrix coordinate real symmetric\n3 3 4\n1 1 4\n"
        "2 1 1\n2 2 4\n3 3 4\n";
    write(d + "/k3.mtx", spd);
    write(d + "/m2.mtx", "%%MatrixMarket matrix coordinate real symmetric\n2 2 2\n1 1 1\n2 2 1\n");
    write(d + "/wide.mtx", "%%MatrixMarket matrix coordinate real general\n3 4 1\n1 1 1.0\n");
    write(d + "/asym.mtx",
          "%%MatrixMarket matrix coordinate real general\n% a comment\n3 3 4\n1 1 4.0\n"
          "2 1 1.0\n1 2 1.5\n3 3 1\n");
    write(d + "/value.mtx",
          "%%MatrixMarket matrix coordinate real symmetric\n2 2 3\n1 1 4.0\n2 1 x1.0\n2 2 1\n");
    write(d + "/banner.mtx", "hello\n2 2 1\n1 1 1\n");
    write(d + "/short.mtx",
          "%%MatrixMarket matrix coordinate real symmetric\n2 2 3\n1 1 4.0\n2 2 1\n");
    write(d + "/index.mtx", "%%MatrixMarket matrix coordinate real symmetric\n2 2 1\n3 1 4.0\n");
    write(d + "/rhs2.mtx", "%%MatrixMarket matrix array real general\n\n2 1\n1\n2\n");
    write(d + "/indefinite.mtx",
          "%%MatrixMarket matrix coordinate real symmetric\n2 2 3\n1 1 1\n2 1 2\n2 2 1\n");
    write(d + "/negative.mtx",
          "%%MatrixMarket matrix coordinate real symmetric\n2 2 2\n1 1 1\n2 2 -1\n");
  }

  ScratchFile folder{"orvsolve.log"};
};

TEST_F(OrvsolveErrors, EachBadInputHasItsMessageAndStatus) {
  const std::string log = "--log";
  const std::string logFile = "@/orvsolve.log";
  const Case cases[] = {
      {"missing file",
       {"solve", "@/none.mtx"},
       2,
       "orvsolve solve: @/none.mtx: cannot open file\n"},
      {"bad value", {"solve", "@/value.mtx"}, 2, "@/value.mtx:4: value 'x1.0' is not a number"},
      {"bad banner", {"solve", "@/banner.mtx"}, 2, "@/banner.mtx:1: bad banner 'hello'"},
      {"missing entries",
       {"solve", "@/short.mtx"},
       2,
       "@/short.mtx:5: end of file after 2 of the 3 declared entries"},
      {"index outside", {"solve", "@/index.mtx"}, 2, "@/index.mtx:3: row index 3 outside 1..2"},
      {"not square", {"solve", "@/wide.mtx"}, 2, "@/wide.mtx:2: matrix is not square (3 x 4)"},
      {"not symmetric",
       {"solve", "@/asym.mtx"},
       2,
       "@/asym.mtx:5: matrix is not symmetric: entry (2, 1) = 1 but (1, 2) = 1.5"},
      {"mass not symmetric",
       {"eigen", "@/k3.mtx", "@/asym.mtx"},
       2,
       "@/asym.mtx:5: matrix is not symmetric"},
      {"K and M sizes differ",
       {"eigen", "@/k3.mtx", "@/m2.mtx"},
       2,
       "orvsolve eigen: @/m2.mtx:2: matrix is 2 x 2 but @/k3.mtx is 3 x 3\n"},
      {"right-hand side size",
       {"solve", "@/k3.mtx", "--rhs", "@/rhs2.mtx"},
       2,
       "orvsolve solve: @/rhs2.mtx:3: right-hand sides have 2 rows but @/k3.mtx is 3 x 3\n"},
      {"unknown option",
       {"solve", "@/k3.mtx", "--fast"},
       2,
       "orvsolve solve: unknown option '--fast' (see orvsolve solve --help)\n"},
      {"no file", {"eigen", "@/k3.mtx"}, 2, "orvsolve eigen: needs 2 file names"},
      {"bad count", {"eigen", "@/k3.mtx", "@/k3.mtx", "--count", "x"}, 2, "--count needs"},
      {"count above n",
       {"eigen", "@/k3.mtx", "@/k3.mtx", "--count", "4"},
       2,
       "--count 4 exceeds the dimension 3"},
      {"bad check", {"solve", "@/k3.mtx", "--checks", "1,3"}, 2, "'3' is not a check code"},
      {"bad ordering", {"solve", "@/k3.mtx", "--ordering", "best"}, 2, "unknown method 'best'"},
      {"unknown command",
       {"factor"},
       2,
       "orvsolve: unknown command 'factor' (see orvsolve --help)"},
      {"bad model size", {"model", "frame", "--size", "0x1x1"}, 2, "--size needs three positive"},
      {"log not writable",
       {"solve", "@/k3.mtx", "--log", "@/no/such/dir.log"},
       2,
       "cannot write the log file '@/no/such/dir.log'"},
      {"output not writable",
       {"solve", "@/k3.mtx", "--out", "@/no/such/x.mtx"},
       2,
       "@/no/such/x.mtx: cannot open file for writing"},
      {"indefinite matrix",
       {"solve", "@/indefinite.mtx"},
       1,
       "orvsolve solve: exp_factor_v3 failed: Numeric factorization failed\n"},
      {"negative diagonal",
       {"solve", "@/negative.mtx"},
       1,
       "exp_factor_v3 failed: Pre-factor checks failed.\nMatrix is not SPD or ill conditioned\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(placed(a, folder.folder()));
    if (std::find(args.begin(), args.end(), log) == args.end()) {
      args.push_back(log);
      args.push_back(placed(logFile, folder.folder()));
    }
    const Outcome r = runOrvsolve(args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(placed(c.message, folder.folder())), std::string::npos) << r.err;
    if (c.status == 2) {
      EXPECT_EQ(r.out, "");
    }
  }
}

TEST_F(OrvsolveErrors, LibraryFailureQuotesTheLogLinesBeforeTheError) {
  const std::string log = folder.path();
  const Outcome r = runOrvsolve({"solve", folder.folder() + "/indefinite.mtx", "--log", log});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the library's log is in " + log + "; it reads before the error:\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("\n  LL^T Factorization: Matrix is not positive definite.\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(readFile(log).find("ERROR: Numeric factorization failed"), std::string::npos);
}

}  // namespace
}  // namespace orv::test
