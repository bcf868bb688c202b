// Fortran LAPACK entry points of the dense eigen-solvers (32-bit integers). The trailing lengths
// are the hidden character-argument lengths of the gfortran calling convention.
#pragma once

#include <cstddef>

extern "C" {
void dsyevr_(const char* jobz, const char* range, const char* uplo, const int* n, double* a,
             const int* lda, const double* vl, const double* vu, const int* il, const int* iu,
             const double* abstol, int* m, double* w, double* z, const int* ldz, int* isuppz,
             double* work, const int* lwork, int* iwork, const int* liwork, int* info,
             std::size_t jobzLength, std::size_t rangeLength, std::size_t uploLength);
void dspgvd_(const int* itype, const char* jobz, const char* uplo, const int* n, double* ap,
             double* bp, double* w, double* z, const int* ldz, double* work, const int* lwork,
             int* iwork, const int* liwork, int* info, std::size_t jobzLength,
             std::size_t uploLength);
void dsyevd_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
             double* work, const int* lwork, int* iwork, const int* liwork, int* info,
             std::size_t jobzLength, std::size_t uploLength);
void dlarnv_(const int* idist, int* iseed, const int* n, double* x);
}
