// The object behind a matrix handle: the stiffness matrix A, the second matrix B and the text
// of the last failure.
#pragma once

#include <string>

#include "factor/factor.h"
#include "platform/platform.h"
#include "sparse/sparse.h"

struct symRealSPDMatrixLinSys {
  symRealSPDMatrixLinSys() = default;
  // Releases A then B, forgets the last error and turns the process-wide log off.
  ~symRealSPDMatrixLinSys();
  symRealSPDMatrixLinSys(const symRealSPDMatrixLinSys&) = delete;
  symRealSPDMatrixLinSys& operator=(const symRealSPDMatrixLinSys&) = delete;

  // Initialises A (which 0) or B (otherwise) to dimension n; initialising A releases B.
  void initMatrix(int32_t n, int32_t which);
  // A's matrix for which 0, B otherwise.
  const orv::ccsSymMatrix& matrix(int32_t which) const;
  // The edits of the matrix `which` names, as ccsSymMatrix has them; A's drop what it derived
  // from its values.
  void incrElement(int32_t which, int32_t row, int32_t column, double value);
  void setElement(int32_t which, int32_t row, int32_t column, double value);
  void createCCS(int32_t which);

  orv::ccsSymSPDMatrix A;
  orv::ccsSymMatrix B{'B'};
  std::string lastError;
};

namespace orv {

// The process-wide last-error text, used when a failing call had no object. takeProcessError
// returns it as a new BSTR and empties it; when memory is exhausted it throws std::bad_alloc and
// the text stays. setProcessError keeps the first 63 bytes of text.
BSTR takeProcessError();
void clearProcessError();
void setProcessError(const char* text);

// The object a matrix export works on; a null one fails the export.
symRealSPDMatrixLinSys& requireObject(symRealSPDMatrixLinSys* obj);

}  // namespace orv
