// The one helper every benchmark shares: generated models as record lists and library objects.
#pragma once

#include <ORVSparseSolver/exports.h>

#include <vector>

#include "models/models.h"

namespace orv::bench {

// A brick solid of about the given number of equations (cube-like, clamped at one face).
models::BrickSolid brickOfSize(int equations);

// The stiffness records of a model in the order the generator emits them.
std::vector<models::Triplet> stiffnessRecords(const models::Model& model);

// Owns a linear-system handle.
class LibrarySystem {
 public:
  LibrarySystem() = default;
  ~LibrarySystem() { exp_deleteMatrix_v3(&handle_); }
  LibrarySystem(const LibrarySystem&) = delete;
  LibrarySystem& operator=(const LibrarySystem&) = delete;
  symRealSPDMatrixLinSys* get() const { return handle_; }
  symRealSPDMatrixLinSys** address() { return &handle_; }

  // Initialises A to n and appends the records through exp_incrMatrixElem_v3.
  void assemble(int n, const std::vector<models::Triplet>& records);

 private:
  symRealSPDMatrixLinSys* handle_ = nullptr;
};

}  // namespace orv::bench
