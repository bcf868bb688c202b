// Fortran BLAS entry points used by the supernodal sweeps (32-bit integers, as OpenBLAS and the
// reference BLAS are built here).
#pragma once

extern "C" {
void dtrsm_(const char* side, const char* uplo, const char* transa, const char* diag, const int* m,
            const int* n, const double* alpha, const double* a, const int* lda, double* b,
            const int* ldb);
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b, const int* ldb,
            const double* beta, double* c, const int* ldc);
double dasum_(const int* n, const double* x, const int* incx);
void daxpy_(const int* n, const double* alpha, const double* x, const int* incx, double* y,
            const int* incy);
}
