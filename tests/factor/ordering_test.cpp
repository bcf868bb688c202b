#include "factor/ordering.h"

#include <gtest/gtest.h>
#include <metis.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <random>
#include <set>
#include <thread>

#include "allocation_hooks.h"
#include "factor/permute.h"
#include "log_capture.h"
#include "test_matrices.h"

namespace orv {
namespace {

using test::fromTriplets;
using test::gridLaplacian;
using Triplets = std::vector<std::tuple<int32_t, int32_t, double>>;

const char* const kMethods[] = {"",        "metis_node", "metis",  "metis_edge",
                                "amdv1_1", "tree",       "random", "identity"};

bool isPermutation(const std::vector<int32_t>& p, int32_t n) {
  if (static_cast<int32_t>(p.size()) != n) return false;
  std::vector<int32_t> sorted(p);
  std::sort(sorted.begin(), sorted.end());
  for (int32_t i = 0; i < n; ++i) {
    if (sorted[i] != i) return false;
  }
  return true;
}

// Symbolic elimination by the elimination game, in the permuted numbering: the number of entries
// of L (diagonal included) and the elimination tree.
struct Elimination {
  int64_t factorEntries = 0;
  std::vector<int32_t> parent;
};

Elimination eliminate(const CcsRecord& a, const std::vector<int32_t>& invPerm) {
  const int32_t n = a.n;
  std::vector<std::set<int32_t>> higher(static_cast<size_t>(n));
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = a.colptr[j]; k < a.colptr[j + 1]; ++k) {
      const int32_t p = invPerm[a.rowind[k]], q = invPerm[j];
      if (p != q) higher[std::min(p, q)].insert(std::max(p, q));
    }
  }
  Elimination e;
  e.parent.assign(static_cast<size_t>(n), -1);
  for (int32_t j = 0; j < n; ++j) {
    e.factorEntries += 1 + static_cast<int64_t>(higher[j].size());
    if (higher[j].empty()) continue;
    const int32_t p = *higher[j].begin();
    e.parent[j] = p;
    for (int32_t i : higher[j]) {
      if (i != p) higher[p].insert(i);
    }
  }
  return e;
}

// In a postorder every subtree occupies the positions just before its root.
bool isPostordered(const std::vector<int32_t>& parent) {
  const int32_t n = static_cast<int32_t>(parent.size());
  std::vector<int32_t> size(static_cast<size_t>(n), 1);
  for (int32_t j = 0; j < n; ++j) {
    if (parent[j] != -1 && parent[j] <= j) return false;
    if (parent[j] != -1) size[parent[j]] += size[j];
  }
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t i = j - size[j] + 1; i < j; ++i) {
      int32_t up = i;
      while (up != -1 && up < j) up = parent[up];
      if (up != j) return false;
    }
  }
  return true;
}

std::vector<CcsRecord> sampleMatrices() {
  std::vector<CcsRecord> list;
  list.push_back(gridLaplacian(6, 5, 4, 0.0));
  list.push_back(test::solidGrid(3, 3, 2, 7u));
  list.push_back(test::randomSpd(300, 3, 0.1, 11u));
  list.push_back(test::readMatrixMarket(test::matrixPath("bcsstk05.mtx")));
  list.push_back(
      fromTriplets(5, {{0, 0, 1.0}, {1, 1, 2.0}, {2, 2, 3.0}, {3, 3, 4.0}, {4, 4, 5.0}}));
  list.push_back(fromTriplets(1, {{0, 0, 2.0}}));
  return list;
}

TEST(Ordering, EveryMethodGivesAPermutation) {
  for (const CcsRecord& a : sampleMatrices()) {
    for (const char* method : kMethods) {
      SCOPED_TRACE(testing::Message() << "n = " << a.n << ", method \"" << method << "\"");
      EXPECT_TRUE(isPermutation(orderMatrix(a, method), a.n));
    }
  }
}

TEST(Ordering, FillReducingMethodsArePostordered) {
  for (const CcsRecord& a : sampleMatrices()) {
    for (const char* method : {"metis_node", "amdv1_1", "tree"}) {
      SCOPED_TRACE(testing::Message() << "n = " << a.n << ", method " << method);
      EXPECT_TRUE(isPostordered(eliminate(a, orderMatrix(a, method)).parent));
    }
  }
}

TEST(Ordering, IdentityKeepsTheOrderAndThePermutationsCopy) {
  const CcsRecord a = gridLaplacian(4, 3, 2, 0.0);
  const std::vector<int32_t> invPerm = orderMatrix(a, "identity");
  std::vector<int32_t> expected(static_cast<size_t>(a.n));
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(invPerm, expected);
  std::vector<double> x(static_cast<size_t>(a.n)), y(x.size()), z(x.size());
  for (size_t i = 0; i < x.size(); ++i) x[i] = 0.5 * static_cast<double>(i) - 3.0;
  scatterByPerm(a.n, x.data(), y.data(), invPerm.data());
  gatherByPerm(a.n, x.data(), z.data(), invPerm.data());
  EXPECT_EQ(y, x);
  EXPECT_EQ(z, x);
}

TEST(Ordering, EmptyNameMeansMetisNode) {
  const CcsRecord a = test::solidGrid(3, 2, 2, 3u);
  EXPECT_EQ(orderMatrix(a, ""), orderMatrix(a, "metis_node"));
  EXPECT_EQ(orderMatrix(a, "metis_edge"), orderMatrix(a, "metis_node"));
}

TEST(Ordering, UnavailableAndUnknownNamesLogTheirLineAndGiveNothing) {
  const CcsRecord a = gridLaplacian(3, 3, 1, 0.0);
  const std::pair<const char*, const char*> cases[] = {
      {"mmd", "taucs_ccs_amd: AMD routines not linked.\n"},
      {"amd", "taucs_ccs_amd: AMD routines not linked.\n"},
      {"md", "taucs_ccs_amd: AMD routines not linked.\n"},
      {"symamd", "taucs_ccs_symamd: COLAMD routines not linked.\n"},
      {"colamd", "taucs_ccs_colamd: COLAMD routines not linked.\n"},
      {"genmmd", "taucs_ccs_genmmd: GENMMD routines not linked.\n"},
      {"METIS_NODE", "taucs_ccs_order: invalid ordering requested (METIS_NODE)\n"},
      {"nested", "taucs_ccs_order: invalid ordering requested (nested)\n"}};
  for (const auto& [method, line] : cases) {
    test::LogCapture log;
    EXPECT_TRUE(orderMatrix(a, method).empty()) << method;
    EXPECT_EQ(log.text(), line);
  }
}

TEST(Ordering, AmdFailureLogsItsCodeAndGivesNothing) {
  const CcsRecord a = gridLaplacian(4, 4, 4, 0.0);
  test::LogCapture log;
  const test::AllocationFailure allocator(0, test::AllocationFailure::Mode::once,
                                          test::AllocationFailure::Scope::suiteSparse);
  EXPECT_TRUE(orderMatrix(a, "amdv1_1").empty());
  EXPECT_EQ(log.text(), "taucs_ccs_amdv1_1: failure with AMD code -1\n");
}

TEST(Ordering, MethodsThatWorkLogNothing) {
  const CcsRecord a = gridLaplacian(4, 4, 2, 0.0);
  test::LogCapture log;
  for (const char* method : kMethods) orderMatrix(a, method);
  EXPECT_EQ(log.text(), "");
}

TEST(Ordering, FillReducingMethodsBeatTheNaturalOrderOnAGrid) {
  const CcsRecord a = gridLaplacian(10, 10, 10, 0.0);
  const int64_t natural = eliminate(a, orderMatrix(a, "identity")).factorEntries;
  const int64_t metis = eliminate(a, orderMatrix(a, "metis")).factorEntries;
  const int64_t amd = eliminate(a, orderMatrix(a, "amdv1_1")).factorEntries;
  EXPECT_LT(metis, natural / 2);
  EXPECT_LT(amd, natural / 2);
}

// METIS's iperm is the position of each original vertex; the postorder must keep its fill.
TEST(Ordering, PostorderKeepsTheFillOfMetis) {
  const CcsRecord a = test::solidGrid(4, 3, 3, 5u);
  std::vector<std::set<idx_t>> neighbours(static_cast<size_t>(a.n));
  for (int32_t j = 0; j < a.n; ++j) {
    for (int32_t k = a.colptr[j]; k < a.colptr[j + 1]; ++k) {
      if (a.rowind[k] == j) continue;
      neighbours[j].insert(a.rowind[k]);
      neighbours[a.rowind[k]].insert(j);
    }
  }
  std::vector<idx_t> xadj{0}, adjncy;
  for (const auto& list : neighbours) {
    adjncy.insert(adjncy.end(), list.begin(), list.end());
    xadj.push_back(static_cast<idx_t>(adjncy.size()));
  }
  idx_t n = a.n;
  std::vector<idx_t> perm(static_cast<size_t>(n)), iperm(static_cast<size_t>(n));
  ASSERT_EQ(
      METIS_NodeND(&n, xadj.data(), adjncy.data(), nullptr, nullptr, perm.data(), iperm.data()),
      METIS_OK);
  const std::vector<int32_t> direct(iperm.begin(), iperm.end());
  EXPECT_EQ(eliminate(a, orderMatrix(a, "metis")).factorEntries,
            eliminate(a, direct).factorEntries);
}

// A random forest (each vertex hangs from an earlier one or starts a new tree), its entries
// stored below or above the diagonal at random.
CcsRecord randomForest(int32_t n, uint32_t seed) {
  std::mt19937 generator(seed);
  Triplets entries;
  for (int32_t i = 0; i < n; ++i) {
    entries.emplace_back(i, i, 10.0);
    if (i == 0 || generator() % 10 == 0) continue;
    const auto parent = static_cast<int32_t>(generator() % static_cast<uint32_t>(i));
    if (generator() % 2 == 0) {
      entries.emplace_back(i, parent, -1.0);
    } else {
      entries.emplace_back(parent, i, -1.0);
    }
  }
  return fromTriplets(n, entries, true);
}

TEST(Ordering, TreeOrderingOfAForestHasNoFill) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    const CcsRecord a = randomForest(300, seed);
    const Elimination e = eliminate(a, orderMatrix(a, "tree"));
    EXPECT_EQ(e.factorEntries, a.nnz()) << "seed " << seed;
  }
}

TEST(Ordering, TreeFallsBackToMetisWhenTheGraphHasACycle) {
  const CcsRecord a = gridLaplacian(5, 4, 3, 0.0);
  EXPECT_EQ(orderMatrix(a, "tree"), orderMatrix(a, "metis"));
}

TEST(Ordering, EntriesAboveTheDiagonalCountAsEdges) {
  const CcsRecord lower = test::randomSpd(200, 3, 0.1, 17u);
  Triplets flipped;
  for (int32_t j = 0; j < lower.n; ++j) {
    for (int32_t k = lower.colptr[j]; k < lower.colptr[j + 1]; ++k) {
      flipped.emplace_back(j, lower.rowind[k], lower.values[k]);
    }
  }
  const CcsRecord upper = fromTriplets(lower.n, flipped, true);
  for (const char* method : {"metis", "amdv1_1", "tree"}) {
    EXPECT_EQ(orderMatrix(upper, method), orderMatrix(lower, method)) << method;
  }
}

TEST(Ordering, RandomIsARepeatablePermutationOtherThanTheIdentity) {
  const CcsRecord a = gridLaplacian(5, 5, 2, 0.0);
  const std::vector<int32_t> first = orderMatrix(a, "random");
  EXPECT_TRUE(isPermutation(first, a.n));
  EXPECT_EQ(orderMatrix(a, "random"), first);
  EXPECT_NE(first, orderMatrix(a, "identity"));
}

// METIS seeds and draws the C library's rand() in every call: an ordering used to reseed the
// host's sequence.
TEST(Ordering, MetisReseededTheHostsRand) {
  const CcsRecord a = gridLaplacian(6, 6, 3, 0.0);
  std::srand(2024u);
  std::vector<int> expected(4);
  for (int& r : expected) r = std::rand();
  std::srand(2024u);
  std::vector<int> drawn(4);
  drawn[0] = std::rand();
  drawn[1] = std::rand();
  for (const char* method : {"metis_node", "metis", "metis_edge", "tree"}) {
    EXPECT_TRUE(isPermutation(orderMatrix(a, method), a.n)) << method;
  }
  drawn[2] = std::rand();
  drawn[3] = std::rand();
  EXPECT_EQ(drawn, expected);
}

// Orderings on several threads at once used to draw from one another's rand() sequence, and came
// out different from the same orderings one after the other.
TEST(Ordering, ConcurrentMetisOrderingsDifferedFromSequentialOnes) {
  std::vector<CcsRecord> matrices;
  for (int t = 0; t < 4; ++t) matrices.push_back(gridLaplacian(8 + t, 7, 3, 0.0));
  std::vector<std::vector<int32_t>> alone;
  for (const CcsRecord& a : matrices) alone.push_back(orderMatrix(a, "metis_node"));
  for (int round = 0; round < 5; ++round) {
    std::vector<std::vector<int32_t>> together(matrices.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < matrices.size(); ++t) {
      threads.emplace_back([&, t] {
        for (int r = 0; r < 5; ++r) together[t] = orderMatrix(matrices[t], "metis_node");
      });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t t = 0; t < matrices.size(); ++t) {
      EXPECT_EQ(together[t], alone[t]) << "round " << round << ", matrix " << t;
    }
  }
}

}  // namespace
}  // namespace orv
