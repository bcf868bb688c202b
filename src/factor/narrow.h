// Products of a tall column-major matrix with a few columns, without BLAS: BLAS packs the tall
// matrix before multiplying it, a copy that costs as much as the product when the other side has
// only a few columns. The factor's sweeps use them, and so does the eigen route's
// orthogonalisation.
#pragma once

namespace orv {

// Products for blocks of a few columns, all column-major. product: C (rows x columns) -= A (rows x
// inner) B (inner x columns). transposed: C (inner x columns) -= Aᵀ B, with A rows x inner and B
// rows x columns.
using NarrowProduct = void (*)(int rows, int inner, int columns, const double* a, int lda,
                               const double* b, int ldb, double* c, int ldc);
struct NarrowProducts {
  NarrowProduct product;
  NarrowProduct transposed;
};
bool processorHasAvx2();
// The AVX2 and FMA variants when asked for and the processor has them, the baseline x86-64 ones
// otherwise: the same code compiled twice.
NarrowProducts narrowProducts(bool avx2);

}  // namespace orv
