// The tall matrix (a block of L, a Krylov basis) is read where it lies: each of its columns is
// streamed once, four or eight at a time with the next ones prefetched, while the few columns on
// the other side stay in cache.
#include <cstdint>
#include <cstring>

#include "factor/narrow.h"

namespace orv {
namespace {

// Four doubles: one AVX register in the AVX2 variant, two SSE registers in the baseline one.
// Every function that takes or returns one is inlined into a variant.
#pragma GCC diagnostic ignored "-Wpsabi"
using Vector = double __attribute__((vector_size(32)));
constexpr int kLanes = 4;

#define ORV_INLINE [[gnu::always_inline]] inline

ORV_INLINE Vector load(const double* p) {
  Vector v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

ORV_INLINE void store(double* p, const Vector& v) { std::memcpy(p, &v, sizeof v); }

// C(:, 0:K) -= A(:, 0:Q) B(0:Q, 0:K) over `rows` rows.
template <int Q, int K>
ORV_INLINE void subtractTile(int rows, const double* a, int lda, const double* b, int ldb,
                             double* c, int ldc) {
  double coefficient[Q][K];
  for (int q = 0; q < Q; ++q) {
    for (int k = 0; k < K; ++k) coefficient[q][k] = b[q + k * ldb];
  }
  int i = 0;
  for (; i + kLanes <= rows; i += kLanes) {
    Vector column[Q];
    for (int q = 0; q < Q; ++q) {
      column[q] = load(a + i + q * lda);
      __builtin_prefetch(a + i + (q + Q) * lda);
    }
    for (int k = 0; k < K; ++k) {
      Vector sum = load(c + i + k * ldc);
      for (int q = 0; q < Q; ++q) sum -= column[q] * coefficient[q][k];
      store(c + i + k * ldc, sum);
    }
  }
  for (; i < rows; ++i) {
    for (int k = 0; k < K; ++k) {
      double sum = c[i + k * ldc];
      for (int q = 0; q < Q; ++q) sum -= a[i + q * lda] * coefficient[q][k];
      c[i + k * ldc] = sum;
    }
  }
}

// C(0:J, 0:K) -= A(:, 0:J)ᵀ B(:, 0:K) over `rows` rows.
template <int J, int K>
ORV_INLINE void subtractTransposedTile(int rows, const double* a, int lda, const double* b, int ldb,
                                       double* c, int ldc) {
  Vector sum[J][K] = {};
  int i = 0;
  for (; i + kLanes <= rows; i += kLanes) {
    Vector column[J];
    for (int j = 0; j < J; ++j) {
      column[j] = load(a + i + j * lda);
      __builtin_prefetch(a + i + (j + J) * lda);
    }
    for (int k = 0; k < K; ++k) {
      const Vector right = load(b + i + k * ldb);
      for (int j = 0; j < J; ++j) sum[j][k] += column[j] * right;
    }
  }
  for (int j = 0; j < J; ++j) {
    for (int k = 0; k < K; ++k) {
      double total = (sum[j][k][0] + sum[j][k][1]) + (sum[j][k][2] + sum[j][k][3]);
      for (int r = i; r < rows; ++r) total += a[r + j * lda] * b[r + k * ldb];
      c[j + k * ldc] -= total;
    }
  }
}

// subtractTile<Q, K> over all columns of C, four at a time.
template <int Q>
ORV_INLINE void productColumns(int rows, int columns, const double* a, int lda, const double* b,
                               int ldb, double* c, int ldc) {
  int k = 0;
  for (; k + 4 <= columns; k += 4) {
    subtractTile<Q, 4>(rows, a, lda, b + static_cast<int64_t>(k) * ldb, ldb,
                       c + static_cast<int64_t>(k) * ldc, ldc);
  }
  const double* bk = b + static_cast<int64_t>(k) * ldb;
  double* ck = c + static_cast<int64_t>(k) * ldc;
  switch (columns - k) {
    case 3:
      subtractTile<Q, 3>(rows, a, lda, bk, ldb, ck, ldc);
      break;
    case 2:
      subtractTile<Q, 2>(rows, a, lda, bk, ldb, ck, ldc);
      break;
    case 1:
      subtractTile<Q, 1>(rows, a, lda, bk, ldb, ck, ldc);
      break;
    default:
      break;
  }
}

// subtractTransposedTile<J, K> over all columns of C, three at a time (with four columns of A,
// twelve sums and the loads fit the sixteen AVX registers).
template <int J>
ORV_INLINE void transposedColumns(int rows, int columns, const double* a, int lda, const double* b,
                                  int ldb, double* c, int ldc) {
  int k = 0;
  for (; k + 3 <= columns; k += 3) {
    subtractTransposedTile<J, 3>(rows, a, lda, b + static_cast<int64_t>(k) * ldb, ldb,
                                 c + static_cast<int64_t>(k) * ldc, ldc);
  }
  const double* bk = b + static_cast<int64_t>(k) * ldb;
  double* ck = c + static_cast<int64_t>(k) * ldc;
  switch (columns - k) {
    case 2:
      subtractTransposedTile<J, 2>(rows, a, lda, bk, ldb, ck, ldc);
      break;
    case 1:
      subtractTransposedTile<J, 1>(rows, a, lda, bk, ldb, ck, ldc);
      break;
    default:
      break;
  }
}

ORV_INLINE void product(int rows, int inner, int columns, const double* a, int lda, const double* b,
                        int ldb, double* c, int ldc) {
  if (rows <= 0) return;
  int p = 0;
  // Eight columns of A at a time: each element of C is loaded and stored once per eight products.
  for (; p + 8 <= inner; p += 8) {
    productColumns<8>(rows, columns, a + static_cast<int64_t>(p) * lda, lda, b + p, ldb, c, ldc);
  }
  for (; p + 2 <= inner; p += 2) {
    productColumns<2>(rows, columns, a + static_cast<int64_t>(p) * lda, lda, b + p, ldb, c, ldc);
  }
  if (p < inner) {
    productColumns<1>(rows, columns, a + static_cast<int64_t>(p) * lda, lda, b + p, ldb, c, ldc);
  }
}

ORV_INLINE void transposedProduct(int rows, int inner, int columns, const double* a, int lda,
                                  const double* b, int ldb, double* c, int ldc) {
  if (rows <= 0) return;
  int j = 0;
  for (; j + 4 <= inner; j += 4) {
    transposedColumns<4>(rows, columns, a + static_cast<int64_t>(j) * lda, lda, b, ldb, c + j, ldc);
  }
  for (; j < inner; ++j) {
    transposedColumns<1>(rows, columns, a + static_cast<int64_t>(j) * lda, lda, b, ldb, c + j, ldc);
  }
}

__attribute__((target("avx2,fma"))) void productAvx2(int rows, int inner, int columns,
                                                     const double* a, int lda, const double* b,
                                                     int ldb, double* c, int ldc) {
  product(rows, inner, columns, a, lda, b, ldb, c, ldc);
}

__attribute__((target("avx2,fma"))) void transposedProductAvx2(int rows, int inner, int columns,
                                                               const double* a, int lda,
                                                               const double* b, int ldb, double* c,
                                                               int ldc) {
  transposedProduct(rows, inner, columns, a, lda, b, ldb, c, ldc);
}

void productBaseline(int rows, int inner, int columns, const double* a, int lda, const double* b,
                     int ldb, double* c, int ldc) {
  product(rows, inner, columns, a, lda, b, ldb, c, ldc);
}

void transposedProductBaseline(int rows, int inner, int columns, const double* a, int lda,
                               const double* b, int ldb, double* c, int ldc) {
  transposedProduct(rows, inner, columns, a, lda, b, ldb, c, ldc);
}

}  // namespace

bool processorHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has;
}

NarrowProducts narrowProducts(bool avx2) {
  if (avx2 && processorHasAvx2()) return {productAvx2, transposedProductAvx2};
  return {productBaseline, transposedProductBaseline};
}

}  // namespace orv
