#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

#include "sparse/sparse.h"

namespace orv {

namespace {

// Y = A X for `width` <= kProductColumns vectors stored row by row (element c of row i at
// i * width + c), so that each entry of A updates them all with contiguous loads. The
// lower-triangle compressed-column record is read as the upper triangle in compressed-row form,
// which needs no copy. Every vector's sums are formed in the same order whatever the width.
void symmetricProductRows(const CcsRecord& a, const double* x, double* y, size_t width) {
  const auto n = static_cast<size_t>(a.n);
  std::fill(y, y + n * width, 0.0);
  std::array<double, ccsSymMatrix::kProductColumns> sum;
  for (size_t j = 0; j < n; ++j) {
    const double* xj = x + j * width;
    std::fill_n(sum.begin(), width, 0.0);
    for (int32_t p = a.colptr[j]; p < a.colptr[j + 1]; ++p) {
      const auto i = static_cast<size_t>(a.rowind[static_cast<size_t>(p)]);
      const double v = a.values[static_cast<size_t>(p)];
      const double* xi = x + i * width;
      for (size_t c = 0; c < width; ++c) sum[c] += v * xi[c];
      if (i == j) continue;
      double* yi = y + i * width;
      for (size_t c = 0; c < width; ++c) yi[c] += v * xj[c];
    }
    double* yj = y + j * width;
    for (size_t c = 0; c < width; ++c) yj[c] += sum[c];
  }
}

}  // namespace

const CcsRecord& ccsSymMatrix::requireCcs() const {
  if (!isCCS_ || !ccs_) throw Failure(FailureKind::badState, "Matrix is not assembled");
  return *ccs_;
}

void ccsSymMatrix::multiply(const double* x, double* y) const {
  symmetricProductRows(requireCcs(), x, y, 1);
}

void ccsSymMatrix::multiplyColumns(const double* X, double* Y, int32_t count,
                                   double* scratch) const {
  if (count <= 0) return;
  const CcsRecord& a = requireCcs();
  const auto n = static_cast<size_t>(a.n);
  const auto width = static_cast<size_t>(std::min(count, kProductColumns));
  std::vector<double> own;
  if (scratch == nullptr) {
    own.resize(2 * n * width);
    scratch = own.data();
  }
  double* in = scratch;
  double* out = scratch + n * width;
  for (size_t first = 0; first < static_cast<size_t>(count); first += width) {
    const size_t b = std::min(width, static_cast<size_t>(count) - first);
    const double* x = X + first * n;
    double* y = Y + first * n;
    for (size_t c = 0; c < b; ++c) {
      for (size_t i = 0; i < n; ++i) in[i * b + c] = x[c * n + i];
    }
    symmetricProductRows(a, in, out, b);
    for (size_t c = 0; c < b; ++c) {
      for (size_t i = 0; i < n; ++i) y[c * n + i] = out[i * b + c];
    }
  }
}

void ccsSymMatrix::toDense(std::vector<double>& dense) const {
  const CcsRecord& a = requireCcs();
  taucs_printf("Creating dense matrix %c\n", tag());
  const size_t n = static_cast<size_t>(a.n);
  dense.assign(n * n, 0.0);
  for (int32_t j = 0; j < a.n; ++j) {
    for (int32_t p = a.colptr[j]; p < a.colptr[j + 1]; ++p) {
      const size_t i = static_cast<size_t>(a.rowind[p]);
      dense[n * i + j] = a.values[p];
      dense[n * j + i] = a.values[p];
    }
  }
  taucs_printf("Dense matrix %c created\n", tag());
}

double ccsSymMatrix::computeNorm1() {
  if (norm1_ != 0.0) return norm1_;
  const CcsRecord& a = requireCcs();
  taucs_printf("Norm1(Mat) calculation started\n");
  std::vector<double> sums(static_cast<size_t>(a.n), 0.0);
  for (int32_t j = 0; j < a.n; ++j) {
    for (int32_t p = a.colptr[j]; p < a.colptr[j + 1]; ++p) {
      const int32_t i = a.rowind[p];
      const double magnitude = std::fabs(a.values[p]);
      sums[j] += magnitude;
      if (i != j) sums[i] += magnitude;
    }
  }
  double largest = sums.empty() ? 0.0 : sums[0];
  for (double s : sums) {
    if (s > largest) largest = s;
  }
  norm1_ = largest;
  taucs_printf("Norm1(Mat) = %g\n", norm1_);
  taucs_printf("Norm1(Mat) calculation completed\n");
  return norm1_;
}

int ccsSymMatrix::writeIjv(const char* fileName) const {
  if (!isCCS_ || !ccs_) throw Failure(FailureKind::badState, "Matrix is not assembled");
  if (fileName == nullptr) throw Failure(FailureKind::badArgument, "File name is null");
  std::FILE* file = std::fopen(fileName, "w");
  if (file == nullptr) {
    taucs_printf("Could not open ijv file %s\n", fileName);
    return -1;
  }
  const CcsRecord& a = *ccs_;
  std::fprintf(file, "%d %d\n", a.n, a.nnz());
  for (int32_t j = 0; j < a.n; ++j) {
    for (int32_t p = a.colptr[j]; p < a.colptr[j + 1]; ++p) {
      std::fprintf(file, "%d %d %0.17e\n", a.rowind[p] + 1, j + 1, a.values[p]);
    }
  }
  std::fclose(file);
  return 0;
}

void ccsSymMatrix::adoptCCS(std::unique_ptr<CcsRecord> record) {
  ccs_ = std::move(record);
  norm1_ = 0.0;
  n_ = ccs_->n;
  isCCS_ = true;
}

DiagonalExtremes scanDiagonal(const CcsRecord& a) {
  // A bad matrix may have millions of such rows: the log lists the first ones and counts the rest.
  constexpr int32_t kListedRows = 100;
  int32_t nonPositive = 0;
  DiagonalExtremes d{-std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::infinity(), 0, 0};
  for (int32_t j = 0; j < a.n; ++j) {
    double value = 0.0;
    for (int32_t p = a.colptr[j]; p < a.colptr[j + 1]; ++p) {
      if (a.rowind[p] == j) {
        value = a.values[p];
        break;
      }
    }
    if (value < d.minDiag) {
      d.minDiag = value;
      d.minDiagRow = j;
    }
    if (value > d.maxDiag) {
      d.maxDiag = value;
      d.maxDiagRow = j;
    }
    if (value <= 0.0 && ++nonPositive <= kListedRows) {
      taucs_printf("Non positive diagonal element at row %5d = %10.3g (matrix not SPD)\n", j,
                   value);
    }
  }
  if (nonPositive > kListedRows) {
    taucs_printf("... and %d more rows with a non positive diagonal element\n",
                 nonPositive - kListedRows);
  }
  return d;
}

}  // namespace orv
