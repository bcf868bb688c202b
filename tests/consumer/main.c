#include <ORVSparseSolver/exports.h>

int main(void) {
  symRealSPDMatrixLinSys* system = 0;
  int status = exp_initMatrix_v3(&system, 2, 0);
  exp_deleteMatrix_v3(&system);
  return status;
}
