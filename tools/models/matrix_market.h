// Matrix Market files: coordinate matrices (real, integer or pattern; general or symmetric) and
// dense arrays (real or integer, general).
//
// Every reading error throws MatrixMarketError whose text starts with "<file>:<line>: " (1-based
// line; just "<file>: " when the file cannot be opened). Indices are 0-based once read.
#pragma once

#include <fstream>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "models/sink.h"

namespace orv::models {

class MatrixMarketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class MatrixMarketField { Real, Integer, Pattern };
enum class MatrixMarketSymmetry { General, Symmetric };

// A coordinate file as stored: entries in file order, duplicates and explicit zeros kept, pattern
// entries valued 1. A symmetric file holds only row >= col (an entry above the diagonal is an
// error, since it could not be told apart from a duplicate of its mirror).
struct CoordinateMatrix {
  int rows = 0;
  int cols = 0;
  MatrixMarketField field = MatrixMarketField::Real;
  MatrixMarketSymmetry symmetry = MatrixMarketSymmetry::General;
  std::vector<Triplet> entries;
  std::vector<int> lines;  // line of each entry
  int sizeLine = 0;
};

// Column-major values: element (r, c) is values[r + c * rows].
struct DenseArray {
  int rows = 0;
  int cols = 0;
  std::vector<double> values;
  int sizeLine = 0;
};

// A square symmetric matrix by its lower triangle (entries in file order, not summed).
struct SymmetricMatrix {
  int n = 0;
  std::vector<Triplet> lower;
  int sizeLine = 0;
};

// A position whose value differs from that of its mirror (values of repeated entries summed, a
// missing entry counting as 0), with the file line that holds it.
struct AsymmetricEntry {
  int row;
  int col;
  double value;
  double mirrorValue;
  int line;
};

// Opens a file for the stream readers; a missing or unreadable file gives the system's reason, a
// directory or a device is named as such.
std::ifstream openForReading(const std::string& path);

CoordinateMatrix readCoordinate(const std::string& path);
CoordinateMatrix readCoordinate(std::istream& in, const std::string& name);
DenseArray readArray(const std::string& path);
DenseArray readArray(std::istream& in, const std::string& name);

// The first entry in file order (of a square matrix) with |a_ij - a_ji| > tolerance max(|a_ij|,
// |a_ji|); none for a symmetric file.
std::optional<AsymmetricEntry> findAsymmetry(const CoordinateMatrix& m, double tolerance = 0.0);

// Reads a coordinate file as a symmetric matrix: a symmetric file as it is, a general one after
// checking that it is square and exactly symmetric, keeping its entries with row >= col. Reports
// "matrix is not square (r x c)" at the size line and "matrix is not symmetric: entry (i, j) = a
// but (j, i) = b" (1-based) at the first asymmetric entry.
SymmetricMatrix readSymmetric(const std::string& path);
SymmetricMatrix readSymmetric(std::istream& in, const std::string& name);

// Writes "coordinate real symmetric" with values as %.17g (exact on reading back). Entries must
// satisfy 0 <= col <= row < n (std::invalid_argument otherwise); a file that cannot be written
// throws MatrixMarketError. Each line of comment becomes a '%' line.
void writeSymmetric(const std::string& path, int n, std::span<const Triplet> lower,
                    const std::string& comment = {});
// Writes "array real general" of rows x cols column-major values.
void writeArray(const std::string& path, int rows, int cols, std::span<const double> values,
                const std::string& comment = {});

}  // namespace orv::models
