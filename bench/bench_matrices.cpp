#include "bench_matrices.h"

#include <algorithm>
#include <random>
#include <vector>

#include "models/models.h"

#ifndef ORV_MATRICES_DIR
#error "ORV_MATRICES_DIR must come from the build"
#endif

namespace orv::bench {

CcsRecord readMatrix(const std::string& name) {
  const models::SymmetricMatrix file =
      models::readSymmetric(std::string(ORV_MATRICES_DIR) + "/" + name);
  CcsRecord a(file.n, 0);
  for (const models::Triplet& t : models::sumDuplicates(file.lower)) {
    a.rowind.push_back(t.row);
    a.values.push_back(t.value);
    ++a.colptr[t.col + 1];
  }
  for (int32_t j = 0; j < file.n; ++j) a.colptr[j + 1] += a.colptr[j];
  return a;
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

}  // namespace orv::bench
