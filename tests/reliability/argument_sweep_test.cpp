// Every export with null pointers and invalid values: the result, the texts left (the
// process-wide one marked "[process] ") and never a crash. A failure's text says what is wrong
// with its row.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>

#include "host.h"

namespace orv::test {
namespace {

struct Row {
  int result;
  std::string text;
  std::function<int()> call;
};

// The rows and what they work on: a holds A = tridiag(-1, 2, -1) and B = I of order 3, both
// converted; e holds A of order 3 and no record. The texts of the shapes of the solve's and the
// eigen-solution's arrays, of the check settings and of element edits have tables of their own
// in the pipeline, eigen and interface tests.
struct Sweep {
  SystemHandle ready, fresh;
  symRealSPDMatrixLinSys *a = nullptr, *e = nullptr;
  Array v{3, 0, 1.0}, x{3, 0}, y{3, 1}, z{1, 0};  // vectors, a block of one column, an empty one
  int i = 1, found = -1;
  double d = 1.0, nan = std::nan("");

  Sweep() {
    for (const int which : {0, 1}) {
      exp_initMatrix_v3(ready.address(), 3, which);
      for (int k = 0; k < 3; ++k) {
        exp_incrMatrixElem_v3(ready.get(), k, k, 2.0 - which, which);
        if (k > 0 && which == 0) exp_incrMatrixElem_v3(ready.get(), k, k - 1, -1.0, 0);
      }
      exp_createCCS_v3(a = ready.get(), which);
    }
    exp_initMatrix_v3(fresh.address(), 3, 0);
    e = fresh.get();
  }
  int set(int r, int c, double value, int w = 0) { return exp_setMatrixElem_v3(a, r, c, value, w); }

  std::vector<Row> rows() {
    const std::string range = "Element index out of range", setting = "Check setting not allocated";
    y.descriptor().pvData = nullptr;
    z.bounds()[0].cElements = 0;
    return {
        {-2, "[process] symRealSPDMatrixLinSys not allocated",
         [&] { return exp_initMatrix_v3(nullptr, 3, 0) + exp_factor_v3(nullptr, ""); }},
        {-1, "Log file name is null", [&] { return exp_logDestination_v3(a, nullptr); }},
        {-1, "File name is null", [&] { return exp_writeMatrix_v3(a, nullptr, 0); }},
        {-1, "Vector not allocated", [&] { return exp_multVector_v3(a, nullptr, &d, 0); }},
        {-1, "Vector not allocated", [&] { return exp_multVector_v3(a, &d, nullptr, 1); }},
        {-1, "Result pointer is null", [&] { return exp_getMaxDiag_v3(a, nullptr); }},
        {-1, "Result pointer is null",
         [&] { return exp_eigenSystem_v3(a, 1, nullptr, nullptr, nullptr); }},
        {-1, setting, [&] { return exp_checksSettings_v3(a, nullptr, &d, &i, 1); }},
        {-1, setting, [&] { return exp_checksSettings_v3(a, &i, nullptr, &i, 2); }},
        {-1, setting, [&] { return exp_checksSettings_v3(a, &i, &d, nullptr, 16); }},
        {0, "", [&] { return exp_checksSettings_v3(a, &i, &d, nullptr, 4); }},  // ivalue unread
        {-1, "X and/or RHS data not allocated",
         [&] { return exp_solve_v3(a, y.address(), y.address()); }},
        {-1, "Matrix B is not assembled",
         [&] { return exp_eigenSystem_v3(e, 1, nullptr, nullptr, &found); }},
        {-1, "Can't calculate eigensystem",
         [&] { return set(1, 1, nan, 1) + exp_eigenSystem_v3(a, 3, nullptr, nullptr, &found); }},
        {-1, "Out of memory", [&] { return exp_initMatrix_v3(&e, INT32_MAX, 0); }},  // 10 n records
        {-1, range, [&] { return exp_incrMatrixElem_v3(e, -1, 0, 1, 0); }},
        {-1, range, [&] { return exp_setMatrixElem_v3(e, 0, -1, 1, 0); }},
        {-1, range, [&] { return exp_incrMatrixElem_v3(e, 3, 0, 1, 0); }},
        {-1, range, [&] { return exp_setMatrixElem_v3(e, 2, 3, 1, 0); }},
        {-1, "Matrix is empty", [&] { return exp_createCCS_v3(e, 0); }},
        {-1, "Matrix already in CCS form", [&] { return exp_createCCS_v3(a, 0); }},
        {-1, "Matrix is not assembled", [&] { return exp_getMaxDiag_v3(e, &d); }},
        {-1, "Matrix not assembled yet", [&] { return exp_solve_v3(e, x.address(), v.address()); }},
        {-1, "Matrix not assembled yet",  // an order below 0 holds no rows to read
         [&] { return exp_initMatrix_v3(&e, -3, 0) + exp_solve_v3(e, z.address(), z.address()); }},
        {-1, "Optimal ordering calculation failed", [&] { return exp_factor_v3(a, "x"); }},
        {-1, "Numeric factorization failed", [&] { return set(1, 1, nan) + exp_factor_v3(a, ""); }},
    };
  }
};

TEST(ArgumentSweep, EveryExportWithNullPointersAndBadValues) {
  for (size_t k = 0; k < Sweep().rows().size(); ++k) {
    lastError(nullptr);
    Sweep sweep;
    const Row row = sweep.rows()[k];
    SCOPED_TRACE("row " + std::to_string(k) + ": " + row.text);
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer's operator new aborts on what cannot be held instead of throwing.
    if (row.text == "Out of memory") continue;
#endif
    EXPECT_EQ(row.call(), row.result);
    // Fetching an object's text empties the process-wide one, so that one goes first.
    const std::string process = lastError(nullptr);
    EXPECT_EQ((process.empty() ? "" : "[process] " + process) + lastError(sweep.ready.get()) +
                  lastError(sweep.fresh.get()),
              row.text);
  }
}

}  // namespace
}  // namespace orv::test
