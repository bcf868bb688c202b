// Running the built orvsolve as a user does, and the dense oracles its results are checked against.
#pragma once

#include <string>
#include <vector>

#include "models/models.h"

namespace orv::test {

struct Outcome {
  int status = -1;  // exit status; minus the signal number when a signal ended it
  std::string out;
  std::string err;
};

// Runs orvsolve with args, its standard output and error going to files (so neither is a
// terminal); in workDir when one is given.
Outcome runOrvsolve(const std::vector<std::string>& args, const std::string& workDir = {});

// Full column-major n x n matrices from lower-triangle records (duplicates summed).
std::vector<double> denseSymmetric(int n, const std::vector<models::Triplet>& lower);
// y = A x for the symmetric matrix given by its lower-triangle records.
std::vector<double> multiplySymmetric(int n, const std::vector<models::Triplet>& lower,
                                      const std::vector<double>& x);
struct DenseEigen {
  std::vector<double> values;   // ascending
  std::vector<double> vectors;  // n x n column-major, x^T M x = 1; empty unless asked for
};
// All eigenpairs of K x = lambda M x by LAPACK dsygvd (M positive definite).
DenseEigen generalizedEigen(std::vector<double> k, std::vector<double> m, int n, bool vectors);
// The solution of K x = b (columns of b, column-major) by LAPACK dposv.
std::vector<double> solveDense(std::vector<double> k, int n, std::vector<double> b);

// The rows of the table that follows the first line of text containing header: the
// whitespace-separated numbers of each line, up to the first line that does not start with a
// number.
std::vector<std::vector<double>> tableAfter(const std::string& text, const std::string& header);

}  // namespace orv::test
