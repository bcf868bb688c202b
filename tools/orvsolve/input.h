// Matrix Market input of the subcommands. Every problem with a file throws
// models::MatrixMarketError with the text "<file>:<line>: <what>".
#pragma once

#include <string>
#include <vector>

#include "models/models.h"

namespace orv::cli {

// A square symmetric matrix read from a file, by its lower triangle.
struct MatrixFile {
  std::string path;
  int n = 0;
  int sizeLine = 0;
  std::vector<models::Triplet> lower;
};

// Reads a symmetric (or square, exactly symmetric general) coordinate file with at least one row.
MatrixFile readMatrixFile(const std::string& path);

// Throws unless other has the dimension of reference: the message names other's size line.
void requireSameSize(const MatrixFile& reference, const MatrixFile& other);

// Right-hand sides: an array file, or a coordinate file (entries summed, a symmetric one
// mirrored), as a column-major rows x columns block.
struct DenseFile {
  int rows = 0;
  int columns = 0;
  std::vector<double> values;
};

// Reads right-hand sides for the matrix in reference; their row count must be its dimension.
DenseFile readRightHandSides(const std::string& path, const MatrixFile& reference);

}  // namespace orv::cli
