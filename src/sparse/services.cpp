#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "sparse/sparse.h"

namespace orv {

namespace {

// y = A x for a symmetric matrix given as the upper triangle in compressed-row form: row j holds
// columns colIndex[rowStart[j] .. rowStart[j+1]-1]. The lower-triangle compressed-column record
// read this way needs no copy.
void symmetricProductUpperCsr(int32_t n, const double* values, const int32_t* rowStart,
                              const int32_t* colIndex, const double* x, double* y) {
  std::fill(y, y + n, 0.0);
  for (int32_t j = 0; j < n; ++j) {
    const double xj = x[j];
    double sum = 0.0;
    for (int32_t p = rowStart[j]; p < rowStart[j + 1]; ++p) {
      const int32_t i = colIndex[p];
      const double a = values[p];
      sum += a * x[i];
      if (i != j) y[i] += a * xj;
    }
    y[j] += sum;
  }
}

}  // namespace

const CcsRecord& ccsSymMatrix::requireCcs() const {
  if (!isCCS_ || !ccs_) throw Failure(FailureKind::badState, "Matrix is not assembled");
  return *ccs_;
}

void ccsSymMatrix::multiply(const double* x, double* y) const {
  const CcsRecord& a = requireCcs();
  symmetricProductUpperCsr(a.n, a.values.data(), a.colptr.data(), a.rowind.data(), x, y);
}

void ccsSymMatrix::multiplyColumns(const double* X, double* Y, int32_t count) const {
  const size_t n = static_cast<size_t>(n_);
  for (int32_t k = 0; k < count; ++k) multiply(X + k * n, Y + k * n);
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
