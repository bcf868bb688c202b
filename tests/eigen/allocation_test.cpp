// Every allocation of an eigensystem call made to fail in turn: the call ends with "Out of memory"
// (or the text of the step that failed), nothing leaks, and the next call on the same matrices
// gives the right eigenpairs. Global operator new is replaced in this program only
// (tests/support/allocation_hooks.cpp).
#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "allocation_hooks.h"
#include "library_pair.h"

namespace orv::test {
namespace {

// Failing allocation k of the call, for k = 0, 1, ... until the call needs fewer.
void sweep(int count, bool forceDense) {
  const int n = 24;
  const Pair pair{secondDifference(n), diagonal(std::vector<double>(n, 1.0))};
  LibraryPair lib(pair);
  lib.A.factor("");
  std::vector<double> values(static_cast<size_t>(count));
  std::vector<double> vectors(static_cast<size_t>(n) * count);
  std::optional<ForceLanczosFailure> dense;
  if (forceDense) dense.emplace();
  int failures = 0;
  for (long long k = 0;; ++k) {
    const char* error = nullptr;
    int found = -1;
    const int64_t liveBefore = liveAllocations();
    {
      const AllocationFailure failure(k);
      try {
        found = eigenSystem(lib.A, lib.B, count, values.data(), vectors.data());
      } catch (const char* text) {
        error = text;
      }
    }
    EXPECT_EQ(liveAllocations(), liveBefore) << "allocation " << k;
    if (error == nullptr) {
      EXPECT_EQ(found, count);
      break;
    }
    ++failures;
    EXPECT_TRUE(std::string(error) == "Out of memory" ||
                std::string(error) == "Matrix permutation failed")
        << "allocation " << k << ": " << error;
    ASSERT_EQ(eigenSystem(lib.A, lib.B, count, values.data(), vectors.data()), count);
    for (int i = 0; i < count; ++i) {
      EXPECT_NEAR(values[i], secondDifferenceEigenvalue(i + 1, n), 1e-12);
    }
  }
  EXPECT_GT(failures, 3);
}

TEST(EigenAllocationFailure, IterativeRoute) { sweep(3, false); }
TEST(EigenAllocationFailure, DenseRouteAfterAnIterativeFailure) { sweep(3, true); }
TEST(EigenAllocationFailure, DenseRouteByShareOfTheSpectrum) { sweep(10, false); }

}  // namespace
}  // namespace orv::test
