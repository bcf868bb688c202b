#include "input.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace orv::cli {

namespace {

using models::MatrixMarketError;

[[noreturn]] void fail(const std::string& path, int line, const std::string& what) {
  throw MatrixMarketError(path + ":" + std::to_string(line) + ": " + what);
}

struct Preamble {
  bool array = false;
  int sizeLine = 0;
};

// The format word of the banner and the line of the size line (the first line after the banner
// that is neither blank nor a comment). The reader proper reports anything malformed.
Preamble preamble(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw MatrixMarketError(path + ": cannot open file");
  Preamble p;
  std::string text;
  int line = 0;
  while (std::getline(in, text)) {
    ++line;
    std::istringstream words(text);
    std::string first;
    if (line == 1) {
      std::string object, format;
      words >> first >> object >> format;
      for (char& c : format) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      p.array = format == "array";
      continue;
    }
    if (words >> first && first.front() != '%') {
      p.sizeLine = line;
      break;
    }
  }
  return p;
}

std::string dimensions(int rows, int columns) {
  return std::to_string(rows) + " x " + std::to_string(columns);
}

}  // namespace

MatrixFile readMatrixFile(const std::string& path) {
  MatrixFile m;
  m.path = path;
  models::SymmetricMatrix s = models::readSymmetric(path);
  m.sizeLine = preamble(path).sizeLine;
  if (s.n == 0) fail(path, m.sizeLine, "matrix has no rows (0 x 0)");
  m.n = s.n;
  m.lower = std::move(s.lower);
  return m;
}

void requireSameSize(const MatrixFile& reference, const MatrixFile& other) {
  if (other.n == reference.n) return;
  fail(other.path, other.sizeLine,
       "matrix is " + dimensions(other.n, other.n) + " but " + reference.path + " is " +
           dimensions(reference.n, reference.n));
}

DenseFile readRightHandSides(const std::string& path, const MatrixFile& reference) {
  const Preamble p = preamble(path);
  DenseFile d;
  if (p.array) {
    models::DenseArray a = models::readArray(path);
    d.rows = a.rows;
    d.columns = a.cols;
    d.values = std::move(a.values);
  } else {
    const models::CoordinateMatrix c = models::readCoordinate(path);
    d.rows = c.rows;
    d.columns = c.cols;
    d.values.assign(static_cast<std::size_t>(c.rows) * static_cast<std::size_t>(c.cols), 0.0);
    const bool mirror = c.symmetry == models::MatrixMarketSymmetry::Symmetric;
    for (const models::Triplet& t : c.entries) {
      d.values[t.row + static_cast<std::size_t>(t.col) * c.rows] += t.value;
      if (mirror && t.row != t.col) {
        d.values[t.col + static_cast<std::size_t>(t.row) * c.rows] += t.value;
      }
    }
  }
  if (d.rows != reference.n) {
    fail(path, p.sizeLine,
         "right-hand sides have " + std::to_string(d.rows) + " rows but " + reference.path +
             " is " + dimensions(reference.n, reference.n));
  }
  if (d.columns == 0) fail(path, p.sizeLine, "no right-hand side (0 columns)");
  return d;
}

}  // namespace orv::cli
