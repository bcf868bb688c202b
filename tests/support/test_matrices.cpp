#include "test_matrices.h"

#include "models/models.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

namespace orv::test {

CcsRecord readMatrixMarket(const std::string& path) {
  const models::SymmetricMatrix file = models::readSymmetric(path);
  std::vector<std::tuple<int32_t, int32_t, double>> entries;
  entries.reserve(file.lower.size());
  for (const models::Triplet& t : file.lower) entries.emplace_back(t.row, t.col, t.value);
  return fromTriplets(file.n, entries);
}

CcsRecord buildingFrameStiffness(int32_t storeys, int32_t baysX, int32_t baysY) {
  models::FrameParameters parameters;
  parameters.storeys = storeys;
  parameters.baysX = baysX;
  parameters.baysY = baysY;
  const models::BuildingFrame frame(parameters);
  models::TripletSink sink;
  frame.assembleStiffness(sink);
  std::vector<std::tuple<int32_t, int32_t, double>> entries;
  for (const models::Triplet& t : sink.entries(models::kStiffness)) {
    entries.emplace_back(t.row, t.col, t.value);
  }
  return fromTriplets(frame.size(), entries);
}

CcsRecord fromTriplets(int32_t n, const std::vector<std::tuple<int32_t, int32_t, double>>& entries,
                       bool keepUpper) {
  std::vector<std::tuple<int32_t, int32_t, double>> sorted;
  sorted.reserve(entries.size());
  for (const auto& [i, j, v] : entries) {
    if (keepUpper || i >= j) {
      sorted.emplace_back(j, i, v);
    } else {
      sorted.emplace_back(i, j, v);
    }
  }
  std::sort(sorted.begin(), sorted.end(), [](const auto& x, const auto& y) {
    return std::get<0>(x) != std::get<0>(y) ? std::get<0>(x) < std::get<0>(y)
                                            : std::get<1>(x) < std::get<1>(y);
  });
  CcsRecord a(n, 0);
  int32_t previousColumn = -1;
  int32_t previousRow = -1;
  for (const auto& [column, row, value] : sorted) {
    if (column == previousColumn && row == previousRow) {
      a.values.back() += value;
      continue;
    }
    a.rowind.push_back(row);
    a.values.push_back(value);
    ++a.colptr[column + 1];
    previousColumn = column;
    previousRow = row;
  }
  for (int32_t j = 0; j < n; ++j) a.colptr[j + 1] += a.colptr[j];
  return a;
}

CcsRecord gridLaplacian(int32_t nx, int32_t ny, int32_t nz, double shift) {
  const int32_t n = nx * ny * nz;
  std::vector<std::tuple<int32_t, int32_t, double>> entries;
  const auto index = [&](int32_t x, int32_t y, int32_t z) { return x + nx * (y + ny * z); };
  for (int32_t z = 0; z < nz; ++z) {
    for (int32_t y = 0; y < ny; ++y) {
      for (int32_t x = 0; x < nx; ++x) {
        const int32_t v = index(x, y, z);
        entries.emplace_back(v, v, 6.0 + shift);
        if (x + 1 < nx) entries.emplace_back(index(x + 1, y, z), v, -1.0);
        if (y + 1 < ny) entries.emplace_back(index(x, y + 1, z), v, -1.0);
        if (z + 1 < nz) entries.emplace_back(index(x, y, z + 1), v, -1.0);
      }
    }
  }
  return fromTriplets(n, entries);
}

CcsRecord solidGrid(int32_t nx, int32_t ny, int32_t nz, uint32_t seed) {
  const int32_t px = nx + 1, py = ny + 1, pz = nz + 1;
  const int32_t nodes = px * py * pz;
  const int32_t n = 3 * nodes;
  const auto node = [&](int32_t x, int32_t y, int32_t z) { return x + px * (y + py * z); };

  // Pattern: every node couples with the 27 nodes around it.
  CcsRecord a(n, 0);
  for (int32_t z = 0; z < pz; ++z) {
    for (int32_t y = 0; y < py; ++y) {
      for (int32_t x = 0; x < px; ++x) {
        std::vector<int32_t> neighbours;
        for (int32_t dz = -1; dz <= 1; ++dz) {
          for (int32_t dy = -1; dy <= 1; ++dy) {
            for (int32_t dx = -1; dx <= 1; ++dx) {
              const int32_t qx = x + dx, qy = y + dy, qz = z + dz;
              if (qx < 0 || qy < 0 || qz < 0 || qx >= px || qy >= py || qz >= pz) continue;
              if (node(qx, qy, qz) >= node(x, y, z)) neighbours.push_back(node(qx, qy, qz));
            }
          }
        }
        std::sort(neighbours.begin(), neighbours.end());
        const int32_t self = node(x, y, z);
        for (int32_t c = 0; c < 3; ++c) {
          const int32_t column = 3 * self + c;
          for (int32_t b : neighbours) {
            for (int32_t r = 0; r < 3; ++r) {
              if (3 * b + r >= column) a.rowind.push_back(3 * b + r);
            }
          }
          a.colptr[column + 1] = static_cast<int32_t>(a.rowind.size());
        }
      }
    }
  }
  a.values.assign(a.rowind.size(), 0.0);

  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  constexpr int kDofs = 24, kRank = 18, kVariants = 8;
  std::vector<std::vector<double>> elements(kVariants, std::vector<double>(kDofs * kDofs, 0.0));
  for (auto& k : elements) {
    std::vector<double> b(kDofs * kRank);
    for (double& v : b) v = uniform(generator);
    for (int i = 0; i < kDofs; ++i) {
      for (int j = 0; j < kDofs; ++j) {
        double sum = 0.0;
        for (int r = 0; r < kRank; ++r) sum += b[i * kRank + r] * b[j * kRank + r];
        k[i * kDofs + j] = sum;
      }
    }
  }
  std::uniform_int_distribution<int> pick(0, kVariants - 1);
  int32_t dofs[kDofs];
  for (int32_t z = 0; z < nz; ++z) {
    for (int32_t y = 0; y < ny; ++y) {
      for (int32_t x = 0; x < nx; ++x) {
        int corner = 0;
        for (int32_t dz = 0; dz <= 1; ++dz) {
          for (int32_t dy = 0; dy <= 1; ++dy) {
            for (int32_t dx = 0; dx <= 1; ++dx, ++corner) {
              for (int32_t c = 0; c < 3; ++c)
                dofs[3 * corner + c] = 3 * node(x + dx, y + dy, z + dz) + c;
            }
          }
        }
        const std::vector<double>& k = elements[pick(generator)];
        for (int j = 0; j < kDofs; ++j) {
          const int32_t column = dofs[j];
          const auto first = a.rowind.begin() + a.colptr[column];
          const auto last = a.rowind.begin() + a.colptr[column + 1];
          for (int i = 0; i < kDofs; ++i) {
            if (dofs[i] < column) continue;
            const auto at = std::lower_bound(first, last, dofs[i]);
            a.values[at - a.rowind.begin()] += k[i * kDofs + j];
          }
        }
      }
    }
  }
  double diagonalSum = 0.0;
  for (int32_t j = 0; j < n; ++j) diagonalSum += a.values[a.colptr[j]];
  const double shift = 1e-2 * diagonalSum / n;
  for (int32_t j = 0; j < n; ++j) a.values[a.colptr[j]] += shift;
  return a;
}

CcsRecord randomSpd(int32_t n, int32_t degree, double margin, uint32_t seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::uniform_int_distribution<int32_t> row(0, n - 1);
  std::vector<std::tuple<int32_t, int32_t, double>> entries;
  std::vector<double> rowSum(static_cast<size_t>(n), 0.0);
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = 0; k < degree; ++k) {
      const int32_t i = row(generator);
      if (i == j) continue;
      const double v = uniform(generator);
      entries.emplace_back(std::max(i, j), std::min(i, j), v);
      rowSum[i] += std::fabs(v);
      rowSum[j] += std::fabs(v);
    }
  }
  for (int32_t j = 0; j < n; ++j) entries.emplace_back(j, j, rowSum[j] * (1.0 + margin) + margin);
  return fromTriplets(n, entries);
}

std::vector<double> toDense(const CcsRecord& a) {
  const size_t n = static_cast<size_t>(a.n);
  std::vector<double> dense(n * n, 0.0);
  for (int32_t j = 0; j < a.n; ++j) {
    for (int32_t k = a.colptr[j]; k < a.colptr[j + 1]; ++k) {
      const size_t i = static_cast<size_t>(a.rowind[k]);
      dense[i + n * j] += a.values[k];
      if (i != static_cast<size_t>(j)) dense[j + n * i] += a.values[k];
    }
  }
  return dense;
}

}  // namespace orv::test
