#include "input.h"

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "report.h"

namespace orv::cli {

namespace {

using models::MatrixMarketError;

[[noreturn]] void fail(const std::string& path, int line, const std::string& what) {
  throw MatrixMarketError(path + ":" + std::to_string(line) + ": " + what);
}

std::string dimensions(int rows, int columns) {
  return std::to_string(rows) + " x " + std::to_string(columns);
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// The format word of the banner. The reader then reads the file from its start: in again, or,
// where it cannot go back (a pipe), a copy of the text.
bool isArrayFile(std::ifstream& in, std::stringstream& copy, std::istream*& source) {
  std::string banner;
  std::getline(in, banner);
  in.clear();
  source = &in;
  if (!in.seekg(0)) {
    in.clear();
    copy << banner << '\n' << in.rdbuf();
    source = &copy;
  }
  std::string words[3];
  std::istringstream(banner) >> words[0] >> words[1] >> words[2];
  std::string format = words[2];
  for (char& c : format) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return format == "array";
}

// Three copies of the block live at once: the right-hand sides, the copy the solve call is given
// and the solutions.
void requireRoom(const std::string& path, int sizeLine, int rows, int columns) {
  const double bytes = 3.0 * 8.0 * rows * static_cast<double>(columns);
  const double memory =
      static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
  if (memory > 0 && bytes > memory) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "right-hand sides %d x %d need %.3g GB with their solutions, more than the "
                  "%.3g GB of memory of this machine",
                  rows, columns, bytes / 1e9, memory / 1e9);
    fail(path, sizeLine, text);
  }
}

}  // namespace

MatrixFile readMatrixFile(const std::string& path) {
  models::SymmetricMatrix s = models::readSymmetric(path);
  if (s.n == 0) fail(path, s.sizeLine, "matrix has no rows (0 x 0)");
  return MatrixFile{path, s.n, s.sizeLine, std::move(s.lower)};
}

MatrixFile readStiffnessFile(const std::string& path) {
  MatrixFile k = readMatrixFile(path);
  if (k.lower.size() < static_cast<std::size_t>(k.n)) {
    fail(path, k.sizeLine,
         "matrix is " + dimensions(k.n, k.n) + " but holds only " +
             counted(static_cast<long long>(k.lower.size()), "entry", "entries") +
             ": a positive-definite matrix needs all " + std::to_string(k.n) + " diagonal entries");
  }
  return k;
}

void requireSameSize(const MatrixFile& reference, const MatrixFile& other) {
  if (other.n == reference.n) return;
  fail(other.path, other.sizeLine,
       "matrix is " + dimensions(other.n, other.n) + " but " + reference.path + " is " +
           dimensions(reference.n, reference.n));
}

MassShape inspectMass(const MatrixFile& m) {
  const std::vector<models::Triplet> summed = models::sumDuplicates(m.lower);
  std::vector<double> diagonal(static_cast<std::size_t>(m.n), 0.0);
  MassShape shape;
  const std::string semiDefinite =
      "; a mass matrix is positive semi-definite, and with this one K x = lambda M x has negative "
      "eigenvalues, which are not computed: check the signs and the entries of " +
      m.path;
  for (const models::Triplet& t : summed) {
    if (t.row != t.col) continue;
    diagonal[static_cast<std::size_t>(t.row)] = t.value;
    if (t.value < 0.0) {
      throw MatrixMarketError(m.path + ": diagonal entry (" + std::to_string(t.row + 1) + ", " +
                              std::to_string(t.row + 1) + ") = " + number(t.value) +
                              " is negative" + semiDefinite);
    }
    if (t.value > 0.0) ++shape.nonZeroDiagonal;
  }
  if (shape.nonZeroDiagonal == 0) {
    throw MatrixMarketError(m.path +
                            ": the mass matrix has no non-zero diagonal entry, so K x = "
                            "lambda M x has no finite eigenvalue: check that " +
                            m.path + " is the mass matrix");
  }
  for (const models::Triplet& t : summed) {
    const double bound = std::sqrt(diagonal[static_cast<std::size_t>(t.row)] *
                                   diagonal[static_cast<std::size_t>(t.col)]);
    if (t.row != t.col && std::fabs(t.value) > bound * (1.0 + 1e-12)) {
      throw MatrixMarketError(m.path + ": entry (" + std::to_string(t.row + 1) + ", " +
                              std::to_string(t.col + 1) + ") = " + number(t.value) +
                              " exceeds the root of its diagonal entries' product, " +
                              number(bound) + ", so the mass matrix is indefinite" + semiDefinite);
    }
  }
  return shape;
}

DenseFile readRightHandSides(const std::string& path, const MatrixFile& reference) {
  std::ifstream in = models::openForReading(path);
  std::stringstream copy;
  std::istream* source = nullptr;
  const bool array = isArrayFile(in, copy, source);
  DenseFile d;
  int sizeLine = 0;
  const auto requireRows = [&](int rows, int columns) {
    if (rows != reference.n) {
      fail(path, sizeLine,
           "right-hand sides have " + std::to_string(rows) + " rows but " + reference.path +
               " is " + dimensions(reference.n, reference.n));
    }
    if (columns == 0) fail(path, sizeLine, "no right-hand side (0 columns)");
    requireRoom(path, sizeLine, rows, columns);
  };
  if (array) {
    models::DenseArray a = models::readArray(*source, path);
    sizeLine = a.sizeLine;
    requireRows(a.rows, a.cols);
    d.rows = a.rows;
    d.columns = a.cols;
    d.values = std::move(a.values);
    return d;
  }
  const models::CoordinateMatrix c = models::readCoordinate(*source, path);
  sizeLine = c.sizeLine;
  const bool mirror = c.symmetry == models::MatrixMarketSymmetry::Symmetric;
  // Checked before the block is allocated: a damaged size line must not claim gigabytes.
  const std::size_t reach = (mirror ? 2 : 1) * c.entries.size();
  if (static_cast<std::size_t>(c.cols) > reach) {
    fail(path, sizeLine,
         "declares " + std::to_string(c.cols) + " right-hand sides but holds only " +
             counted(static_cast<long long>(c.entries.size()), "entry", "entries") +
             ", so some are all zero: declare one column per load case");
  }
  requireRows(c.rows, c.cols);
  d.rows = c.rows;
  d.columns = c.cols;
  d.values.assign(static_cast<std::size_t>(c.rows) * static_cast<std::size_t>(c.cols), 0.0);
  for (const models::Triplet& t : c.entries) {
    d.values[t.row + static_cast<std::size_t>(t.col) * c.rows] += t.value;
    if (mirror && t.row != t.col) {
      d.values[t.col + static_cast<std::size_t>(t.row) * c.rows] += t.value;
    }
  }
  return d;
}

}  // namespace orv::cli
