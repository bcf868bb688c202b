/* A host written in C: the header compiles as C and the calling sequence works. */
#include <ORVSparseSolver/exports.h>
#include <stdio.h>

int main(void) {
  symRealSPDMatrixLinSys* system = NULL;
  BSTR text;
  if (exp_initMatrix_v3(&system, 4, 0) != 0 || system == NULL) return 1;
  if (exp_initMatrix_v3(&system, 5, 1) != -1) return 2; /* B must match A's size */
  text = exp_getLastError_v3(system);
  if (text == NULL) return 3;
  printf("%.*s\n", (int)SysStringByteLen(text), text);
  SysFreeString(text);
  exp_deleteMatrix_v3(&system);
  return system == NULL ? 0 : 4;
}
