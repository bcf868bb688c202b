// Matrix Market input of the subcommands. Every problem with a file throws
// models::MatrixMarketError with the text "<file>:<line>: <what>" (just "<file>: <what>" for a
// property of the whole matrix).
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

// Reads a stiffness matrix: fewer entries than rows cannot hold the diagonal of a positive-definite
// matrix, and such a file (a damaged size line) is refused before its size is allocated anywhere.
MatrixFile readStiffnessFile(const std::string& path);

// Throws unless other has the dimension of reference: the message names other's size line.
void requireSameSize(const MatrixFile& reference, const MatrixFile& other);

// What the diagonal and the 2 x 2 principal minors of a mass matrix show. A mass matrix is
// positive semi-definite: a negative diagonal entry or an entry with m_ij^2 > m_ii m_jj proves
// it is not, and K x = lambda M x then has negative eigenvalues, which the library does not
// compute. Throws for those and for a matrix with no non-zero diagonal entry.
struct MassShape {
  int nonZeroDiagonal = 0;
};
MassShape inspectMass(const MatrixFile& m);

// Right-hand sides: an array file, or a coordinate file (entries summed, a symmetric one
// mirrored), as a column-major rows x columns block.
struct DenseFile {
  int rows = 0;
  int columns = 0;
  std::vector<double> values;
};

// Reads right-hand sides for the matrix in reference; their row count must be its dimension, and
// the block, with the solutions and the copies a solve makes, must fit in the machine's memory.
DenseFile readRightHandSides(const std::string& path, const MatrixFile& reference);

}  // namespace orv::cli
