/* A host written in C: the header compiles as C and the calling sequence works. */
#include <ORVSparseSolver/exports.h>
#include <stddef.h>

static int near(double value, double expected) {
  return value - expected < 1e-12 && expected - value < 1e-12;
}

/* A = diag(2, 4) and three load cases as a 2 x 3 block built by the header's helper: the
   solution's columns are (1, 1), (2, 0.5) and (0, 2). */
static int solvesABlock(symRealSPDMatrixLinSys* system) {
  double rhs[6] = {2.0, 4.0, 4.0, 2.0, 0.0, 8.0};
  double x[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  const double expected[6] = {1.0, 1.0, 2.0, 0.5, 0.0, 2.0};
  SAFEARRAY2D rhsBlock, xBlock;
  SAFEARRAY* rhsArray = orvMatrixDescriptor(&rhsBlock, rhs, 2, 3);
  SAFEARRAY* xArray = orvMatrixDescriptor(&xBlock, x, 2, 3);
  int k, right = 1;
  if (exp_incrMatrixElem_v3(system, 0, 0, 2.0, 0) != 0 ||
      exp_incrMatrixElem_v3(system, 1, 1, 4.0, 0) != 0 || exp_createCCS_v3(system, 0) != 0 ||
      exp_solve_v3(system, &xArray, &rhsArray) != 0) {
    return 0;
  }
  for (k = 0; k < 6; ++k) right = right && near(x[k], expected[k]);
  return right;
}

int main(void) {
  symRealSPDMatrixLinSys* system = NULL;
  int status = exp_initMatrix_v3(&system, 4, 0) != 0 || exp_initMatrix_v3(&system, 5, 1) != -1;
  SysFreeString(exp_getLastError_v3(system));
  status = status || exp_initMatrix_v3(&system, 2, 0) != 0 || !solvesABlock(system);
  exp_deleteMatrix_v3(&system);
  return status || system != NULL;
}
