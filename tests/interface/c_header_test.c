/* A host written in C: the header compiles as C and the calling sequence works. */
#include <ORVSparseSolver/exports.h>
#include <stddef.h>

int main(void) {
  symRealSPDMatrixLinSys* system = NULL;
  int status = exp_initMatrix_v3(&system, 4, 0) != 0 || exp_initMatrix_v3(&system, 5, 1) != -1;
  SysFreeString(exp_getLastError_v3(system));
  exp_deleteMatrix_v3(&system);
  return status || system != NULL;
}
