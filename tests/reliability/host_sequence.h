// A whole host session through the exports, one export call per step: initialisation of A and B,
// assembly record by record, conversion, checks 1, 2, 4, 8 and 16 on, factorisation, a block
// solved, eigenpairs by the Lanczos route and by the dense route, modal combination of kinds 1,
// 2 and 3, and the dense packed eigen-solver; the products, dumps and largest diagonal, and a
// value edit followed by a solve of one vector.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>

#include "dense.h"
#include "host.h"

namespace orv::test {

// One export call: 0 on success. A failure gives -1 and, for the exports with an error text, one
// of `texts` ("|text|text|") as the text; empty `texts`: the export has none.
struct Step {
  std::string name;
  std::string texts;
  std::function<int32_t()> call;
};

// The session on A = the Laplacian of a size^3 grid, B = tridiag(-1, 6, -1), with `columns`
// right-hand sides. Every buffer a step writes is allocated here, so that a step allocates only
// what the library allocates.
class HostSequence {
 public:
  HostSequence(int size, uint32_t columns)
      : pair_{gridLaplacian(size, size, size, 0.1), gridLaplacian(1, 1, size * size * size, 0.0)},
        rhs_(static_cast<uint32_t>(pair_.k.n), columns) {
    const int32_t n = pair_.k.n;
    for (size_t i = 0; i < rhs_.data().size(); ++i) rhs_[i] = std::sin(static_cast<double>(i));
    for (size_t i = 0; i < shapes_.size(); ++i) shapes_[i] = 1.0f + 0.37f * static_cast<float>(i);
    // Memory that runs out reads as such, but for the texts of creation and conversion.
    const std::string memory = "|Out of memory|";
    add("exp_initMatrix_v3 A", memory + "symRealSPDMatrixLinSys not allocated|",
        [this, n] { return exp_initMatrix_v3(&handle, n, 0); });
    add("exp_initMatrix_v3 B", memory, [this, n] { return exp_initMatrix_v3(&handle, n, 1); });
    for (int which = 0; which < 2; ++which) {
      for (const models::Triplet& t : which == 0 ? pair_.k.entries : pair_.m.entries) {
        add("exp_incrMatrixElem_v3", memory, [this, t, which] {
          return exp_incrMatrixElem_v3(handle, t.row, t.col, t.value, which);
        });
      }
      add("exp_createCCS_v3", memory + "Memory allocation for ccs matrix failed|",
          [this, which] { return exp_createCCS_v3(handle, which); });
    }
    for (int code = 0; code < 5; ++code) {  // checks 1, 2, 4, 8 and 16 on, at their usual limits
      add("exp_checksSettings_v3", memory, [this, code] {
        return exp_checksSettings_v3(handle, &enable_, &limits_[code], &two_, 1 << code);
      });
    }
    add("exp_factor_v3", memory, [this] { return exp_factor_v3(handle, "metis_node"); });
    Array& x = outputs_.emplace_back(n, columns);
    add("exp_solve_v3", memory,
        [this, &x] { return exp_solve_v3(handle, x.address(), rhs_.address()); });
    Array& services = outputs_.emplace_back(2 * n + 1, 0);
    for (int which = 0; which < 2; ++which) {
      add("exp_multVector_v3", memory, [this, &services, n, which] {
        return exp_multVector_v3(handle, &rhs_[0], &services[which * n], which);
      });
      add("exp_writeMatrix_v3", memory,
          [this, which] { return exp_writeMatrix_v3(handle, dump_.c_str(), which); });
    }
    add("exp_getMaxDiag_v3", memory,
        [this, &services, n] { return exp_getMaxDiag_v3(handle, &services[2 * n]); });
    // A value edit, then one right-hand side as a vector: the numeric work and checks again.
    Array& edited = outputs_.emplace_back(n, 0);
    Array& ones = outputs_.emplace_back(n, 0, 1.0);
    add("exp_setMatrixElem_v3", memory,
        [this] { return exp_setMatrixElem_v3(handle, 0, 0, 7.0, 0); });
    add("exp_solve_v3", memory,
        [this, &edited, &ones] { return exp_solve_v3(handle, edited.address(), ones.address()); });
    for (const int32_t count : {4, n / 5 + 1}) {  // more than 0.15 n modes take the dense route
      Array& values = outputs_.emplace_back(count, 0);
      Array& vectors = outputs_.emplace_back(n, count);
      add("exp_eigenSystem_v3", memory, [=, this, &values, &vectors] {
        return exp_eigenSystem_v3(handle, count, values.address(), vectors.address(), &found_);
      });
    }
    for (int32_t kind = 1; kind <= 3; ++kind) {
      float* out = reinterpret_cast<float*>(&outputs_.emplace_back(12, 0)[0]);
      add("exp_mediaSismica_*_v3", "", [this, kind, out] {
        void* modal = nullptr;
        int32_t status = exp_mediaSismica_init_v3(&modal, kind, 4, shapes_.data(), 0.05f);
        if (status == 0) status = exp_mediaSismica_calc24_v3(modal, shapes_.data(), out);
        return exp_mediaSismica_free_v3(&modal) + status;
      });
    }
    Array& p = outputs_.emplace_back(6 + 3 + 9, 0);  // factor of B, eigenvalues, eigenvectors
    add("exp_LAPACK_DSPGVD_v3", "",
        [this, &p] { return exp_LAPACK_DSPGVD_v3(3, 0, packedA_, packedB_, &p[0], &p[6], &p[9]); });
  }
  ~HostSequence() { exp_deleteMatrix_v3(&handle); }

  // Whether every output equals other's bit for bit.
  bool sameOutputs(HostSequence& other) {
    return std::equal(outputs_.begin(), outputs_.end(), other.outputs_.begin(),
                      [](Array& a, Array& b) {
                        return std::memcmp(&a[0], &b[0], a.data().size() * sizeof(double)) == 0;
                      });
  }

  std::vector<Step> steps;
  symRealSPDMatrixLinSys* handle = nullptr;

 private:
  void add(std::string name, std::string texts, std::function<int32_t()> call) {
    steps.push_back(Step{std::move(name), std::move(texts), std::move(call)});
  }

  Pair pair_;
  Array rhs_;
  ScratchFile dump_{"session.ijv"};
  std::deque<Array> outputs_;
  int32_t enable_ = 1, two_ = 2, found_ = 0;  // two columns in the norm estimate, two refinements
  double limits_[5] = {310.0, 310.0, 1e-3, 12.0, -7.5};
  std::vector<float> shapes_ = std::vector<float>(4 * 24);  // the first 4 are the frequencies
  // The pair tridiag(-1, 2, -1), diag(1, 2, 3) of order 3 in packed lower storage.
  double packedA_[6] = {2.0, -1.0, 0.0, 2.0, -1.0, 2.0};
  double packedB_[6] = {1.0, 0.0, 0.0, 2.0, 0.0, 3.0};
};

}  // namespace orv::test
