// Library matrices built from test records, and the log of one test.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "eigen/eigen.h"
#include "log/log.h"
#include "oracle.h"
#include "test_support.h"

namespace orv::test {

// Assembles the records into m and converts it.
inline void load(ccsSymMatrix& m, const Lower& a) {
  m.initialise(a.n, a.entries.size());
  for (const models::Triplet& e : a.entries) m.incrElement(e.row, e.col, e.value);
  m.createCCS();
}

struct LibraryPair {
  explicit LibraryPair(const Pair& pair) {
    load(A, pair.k);
    load(B, pair.m);
  }
  ccsSymSPDMatrix A;
  ccsSymMatrix B{'B'};
};

// The log sink pointed at a scratch file while the object lives.
class Log {
 public:
  Log() { setLogDestination(file_.path(), ""); }
  ~Log() { setLogDestination("", ""); }
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  // What was logged since the previous call.
  std::string fresh() {
    const std::string all = readFile(file_.path());
    std::string text = all.substr(std::min(seen_, all.size()));
    seen_ = all.size();
    return text;
  }

 private:
  ScratchFile file_{"eigen.log"};
  size_t seen_ = 0;
};

// The second-difference matrix tridiag(-1, 2, -1) of order n.
inline Lower secondDifference(int n) {
  Lower a{n, {}};
  for (int i = 0; i < n; ++i) {
    a.entries.push_back({i, i, 2.0});
    if (i + 1 < n) a.entries.push_back({i + 1, i, -1.0});
  }
  return a;
}

inline Lower diagonal(const std::vector<double>& d) {
  Lower a{static_cast<int>(d.size()), {}};
  for (int i = 0; i < a.n; ++i) a.entries.push_back({i, i, d[static_cast<size_t>(i)]});
  return a;
}

// Eigenvalue k (1-based, ascending) of the second-difference matrix of order n: 2 - 2 cos(k π /
// (n + 1)).
inline double secondDifferenceEigenvalue(int k, int n) {
  return 2.0 - 2.0 * std::cos(k * std::numbers::pi / (n + 1));
}

}  // namespace orv::test
