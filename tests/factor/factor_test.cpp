// The supernodal Cholesky factor, the orderings and the symmetric permutation, against dense
// LAPACK, hand-worked cases and the exact log lines.
#include <cholmod.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "allocation_hooks.h"
#include "factor/blas.h"
#include "factor/llfactor.h"
#include "factor/ordering.h"
#include "factor/permute.h"
#include "factor/supernodal.h"
#include "log_capture.h"
#include "models/hex8.h"
#include "record.h"

namespace orv {
namespace {

using test::Lower;

// L as a dense column-major n x n array, converted from the supernodal storage by CHOLMOD.
std::vector<double> denseL(const llFactor& f) {
  cholmod_common common;
  cholmod_l_start(&common);
  const auto* l = reinterpret_cast<const cholmod_factor*>(f.factor());
  cholmod_factor* copy = cholmod_l_copy_factor(const_cast<cholmod_factor*>(l), &common);
  cholmod_sparse* sparse = cholmod_l_factor_to_sparse(copy, &common);
  cholmod_dense* dense = cholmod_l_sparse_to_dense(sparse, &common);
  const auto* x = static_cast<const double*>(dense->x);
  const std::vector<double> values(x, x + l->n * l->n);
  cholmod_l_free_dense(&dense, &common);
  cholmod_l_free_sparse(&sparse, &common);
  cholmod_l_free_factor(&copy, &common);
  cholmod_l_finish(&common);
  return values;
}

// max |x - y| / max |y|.
double relativeError(const double* x, const std::vector<double>& y) {
  double difference = 0.0, size = 0.0;
  for (size_t i = 0; i < y.size(); ++i) {
    difference = std::max(difference, std::fabs(x[i] - y[i]));
    size = std::max(size, std::fabs(y[i]));
  }
  return difference / size;
}

// Every other entry below the diagonal stored as its mirror image above it.
Lower halfMirrored(Lower a) {
  for (size_t k = 0; k < a.entries.size(); k += 2) std::swap(a.entries[k].row, a.entries[k].col);
  return a;
}

// Every ordering name gives a permutation or logs why not. On the grid and on a tree, where nothing
// cancels in L, the fill-reducing ones at least halve the natural order's fill and give a
// postordered elimination tree (parent: the first row below the diagonal of L), in which the node
// after j is its parent or a leaf. For every matrix L Lᵀ is P A Pᵀ, and a block of 40 columns (for
// bcsstk14 split over two threads when the BLAS runs single-threaded) solves as dposv and as 40
// single columns, and so do blocks of 1 to 32 columns (swept without BLAS up to 16 columns, and
// 32 as two halves of 16 on two threads); the tolerance against dposv follows the conditioning.
TEST(LlFactor, EveryOrderingFactorsThePermutedMatrixAndSolvesAsDenseLapack) {
  const Lower grid = test::gridLaplacian(8, 8, 8, 0.0);
  Lower star{50, {{0, 0, 50.0}}};  // a tree: the natural order eliminates its centre first
  for (int i = 1; i < 50; ++i) star.entries.insert(star.entries.end(), {{i, i, 2.0}, {i, 0, -1.0}});
  const struct {
    Lower a;
    std::string method;
    double tolerance;
    const char* line = "";  // logged instead of ordering
  } rows[] = {
      {grid, "identity", 1e-12},
      {grid, "random", 1e-12},
      {grid, "", 1e-12},
      {grid, "metis_node", 1e-12},
      {grid, "metis", 1e-12},
      {grid, "metis_edge", 1e-12},
      {grid, "amdv1_1", 1e-12},
      {grid, "tree", 1e-12},
      {star, "identity", 1e-12},
      {star, "tree", 1e-12},
      {halfMirrored(test::modelPair(models::BrickSolid()).k), "metis_node", 1e-9},
      {test::readMatrix("bcsstk14.mtx"), "metis_node", 1e-4},
      {grid, "mmd", 0.0, "taucs_ccs_amd: AMD routines not linked.\n"},
      {grid, "amd", 0.0, "taucs_ccs_amd: AMD routines not linked.\n"},
      {grid, "md", 0.0, "taucs_ccs_amd: AMD routines not linked.\n"},
      {grid, "symamd", 0.0, "taucs_ccs_symamd: COLAMD routines not linked.\n"},
      {grid, "colamd", 0.0, "taucs_ccs_colamd: COLAMD routines not linked.\n"},
      {grid, "genmmd", 0.0, "taucs_ccs_genmmd: GENMMD routines not linked.\n"},
      {grid, "METIS_NODE", 0.0, "taucs_ccs_order: invalid ordering requested (METIS_NODE)\n"}};
  std::pair<int, size_t> natural;  // order and fill of the last matrix in its natural order
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "n " << row.a.n << ", " << row.method);
    const int n = row.a.n;
    const auto size = static_cast<size_t>(n);
    const CcsRecord a = test::toRecord(row.a);
    test::LogCapture log;
    const std::vector<int32_t> invPerm = orderMatrix(a, row.method);
    EXPECT_EQ(log.text(), row.line);
    EXPECT_EQ(invPerm.empty(), *row.line != '\0');
    if (*row.line != '\0') continue;
    std::vector<int32_t> identity(size);
    std::iota(identity.begin(), identity.end(), 0);
    ASSERT_TRUE(
        std::is_permutation(invPerm.begin(), invPerm.end(), identity.begin(), identity.end()));
    EXPECT_EQ(invPerm == identity, row.method == "identity");

    llFactor factor;
    ASSERT_TRUE(factor.numeric(permuteSymmetric(a, invPerm)));
    Lower permuted{n, {}};  // P A Pᵀ: entry (invPerm[i], invPerm[j]) is A(i, j)
    for (const models::Triplet& t : row.a.entries) {
      permuted.entries.push_back({invPerm[size_t(t.row)], invPerm[size_t(t.col)], t.value});
    }
    const std::vector<double> l = denseL(factor), expected = test::dense(permuted);
    std::vector<double> llt(l.size());
    const double one = 1.0, zero = 0.0;
    dgemm_("N", "T", &n, &n, &n, &one, l.data(), &n, l.data(), &n, &zero, llt.data(), &n);
    EXPECT_LE(relativeError(llt.data(), expected), 1e-12);

    std::vector<size_t> parent(size, size);
    std::vector<bool> leaf(size + 1, true);
    size_t fill = 0;
    for (size_t j = 0; j < size; ++j) {
      for (size_t i = size; i-- > j;) {
        if (l[i + size * j] == 0.0) continue;
        ++fill;
        if (i > j) parent[j] = i;
      }
      leaf[parent[j]] = false;
    }
    bool postordered = true;
    for (size_t j = 0; j + 1 < size; ++j) postordered &= parent[j] == j + 1 || leaf[j + 1];
    if (row.method == "identity") natural = {n, fill};
    const bool reduces = n == natural.first && row.method != "identity" && row.method != "random";
    EXPECT_TRUE(!reduces || (postordered && fill < natural.second / 2));

    std::vector<double> b(size * 40), work(b), x(b.size()), single(size);
    for (size_t k = 0; k < b.size(); ++k) b[k] = std::sin(1.0 + double(k));
    const std::vector<double> reference = test::solveSpd(expected, n, b);
    for (const int width : {1, 3, 5, 16, 32, 40}) {
      work = b;
      ASSERT_TRUE(factor.solve(x.data(), work.data(), width));
      const size_t used = size * static_cast<size_t>(width);
      EXPECT_LE(relativeError(x.data(), {reference.begin(), reference.begin() + ptrdiff_t(used)}),
                row.tolerance)
          << width << " columns";
    }
    for (size_t c = 0; c < 40; ++c) {
      work.assign(b.begin() + static_cast<ptrdiff_t>(c * size), b.end());
      ASSERT_TRUE(factor.solve(single.data(), work.data(), 1));
      EXPECT_LE(relativeError(x.data() + c * size, single), 1e-13) << "column " << c;
    }
  }
}

// Blocks on a factor large enough are solved on two threads: up to 16 columns each thread takes
// one group of subtrees for all columns (the second setting its updates of the common ancestors
// aside), wider blocks are split into column halves; each thread has scratch of its own. Every
// column of such a block is the column solved alone (on one thread: one column of this factor is
// too little work for two), but for the order of the sums.
TEST(LlFactor, BlocksSplitOverTwoThreadsSolveAsSingleColumns) {
  const CcsRecord a = test::toRecord(test::gridLaplacian(24, 24, 24, 0.0));
  llFactor factor;
  ASSERT_TRUE(factor.numeric(permuteSymmetric(a, orderMatrix(a, "metis_node"))));
  const auto* l = reinterpret_cast<const cholmod_factor*>(factor.factor());
  ASSERT_GE(static_cast<int64_t>(l->xsize), std::max(kSplitWork / 2, kNarrowEntries));
  const size_t n = l->n;
  for (const int width : {2, 8, 17, 32}) {
    std::vector<double> b(n * size_t(width)), x(b.size()), single(n), work(n);
    for (size_t k = 0; k < b.size(); ++k) b[k] = std::cos(0.1 * double(k));
    std::vector<double> block = b;
    ASSERT_TRUE(factor.solve(x.data(), block.data(), width));
    for (size_t c = 0; c < size_t(width); ++c) {
      std::copy_n(b.begin() + ptrdiff_t(c * n), n, work.begin());
      ASSERT_TRUE(factor.solve(single.data(), work.data(), 1));
      EXPECT_LE(relativeError(x.data() + c * n, single), 1e-13) << width << ", column " << c;
    }
  }
}

// The two groups of the tree split are whole subtrees: every row a supernode updates belongs to a
// supernode of its own group or of the top, never to the other group, so the two threads never
// write the same row and each finds its rows updated when it reaches them. The top updates only
// itself. Together they hold every supernode once, and the larger group at most 60 % of the
// entries outside the top. The grid and the brick split; a chain (a path in its natural order)
// does not.
TEST(TreeSplit, GroupsAreWholeSubtreesOfBalancedWork) {
  const struct {
    Lower a;
    const char* ordering;
    bool splits;
  } rows[] = {{test::gridLaplacian(12, 12, 12, 0.0), "metis_node", true},
              {test::modelPair(models::BrickSolid()).k, "metis_node", true},
              {test::gridLaplacian(400, 1, 1, 0.0), "identity", false}};
  for (const auto& row : rows) {
    const CcsRecord a = test::toRecord(row.a);
    llFactor factor;
    ASSERT_TRUE(factor.numeric(permuteSymmetric(a, orderMatrix(a, row.ordering))));
    const auto* l = reinterpret_cast<const cholmod_factor*>(factor.factor());
    SupernodalView f;
    f.n = static_cast<int64_t>(l->n);
    f.nsuper = static_cast<int64_t>(l->nsuper);
    f.super = static_cast<const int64_t*>(l->super);
    f.pi = static_cast<const int64_t*>(l->pi);
    f.s = static_cast<const int64_t*>(l->s);
    const TreeSplit split = splitTree(f);
    EXPECT_EQ(!split.group[0].empty(), row.splits) << row.a.n;
    if (split.group[0].empty()) continue;
    std::vector<int> owner(size_t(f.n), -1);  // 0, 1: the groups, 2: the top
    std::vector<int> seen(size_t(f.nsuper), 0);
    double work[3] = {0.0, 0.0, 0.0};
    const std::vector<int64_t>* lists[3] = {&split.group[0], &split.group[1], &split.top};
    for (int g = 0; g < 3; ++g) {
      EXPECT_TRUE(std::is_sorted(lists[g]->begin(), lists[g]->end()));
      for (int64_t k : *lists[g]) {
        ++seen[size_t(k)];
        work[g] += double(f.super[k + 1] - f.super[k]) * double(f.pi[k + 1] - f.pi[k]);
        for (int64_t c = f.super[k]; c < f.super[k + 1]; ++c) owner[size_t(c)] = g;
      }
    }
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; }));
    EXPECT_LE(std::max(work[0], work[1]), 0.6 * (work[0] + work[1]));
    int32_t slots = 0;
    for (int64_t c = 0; c < f.n; ++c) {
      EXPECT_EQ(split.topSlot[size_t(c)], owner[size_t(c)] == 2 ? slots++ : -1);
    }
    EXPECT_EQ(split.topColumns, slots);
    for (int64_t k = 0; k < f.nsuper; ++k) {
      const int g = owner[size_t(f.super[k])];
      for (int64_t p = f.pi[k]; p < f.pi[k + 1]; ++p) {
        const int target = owner[size_t(f.s[p])];
        EXPECT_TRUE(target == g || target == 2) << "supernode " << k << " row " << f.s[p];
      }
    }
  }
}

// Both variants of the products that sweep narrow blocks, against dgemm, over shapes that leave
// every remainder of their tiles (rows by fours, columns of A by eights, twos and ones or fours
// and ones, right-hand sides by fours or threes), with leading dimensions beyond the rows.
TEST(NarrowProducts, BothVariantsSubtractWhatDgemmComputes) {
  const NarrowProducts variants[] = {narrowProducts(false), narrowProducts(true)};
  EXPECT_EQ(variants[1].product != variants[0].product, processorHasAvx2());
  for (const NarrowProducts& variant : variants) {
    for (const int rows : {0, 1, 3, 4, 9, 37}) {
      for (const int inner : {1, 2, 3, 7, 8, 11, 21}) {
        for (const int columns : {1, 2, 3, 4, 5, 7, 16}) {
          SCOPED_TRACE(testing::Message() << rows << " x " << inner << " x " << columns);
          const int lda = rows + 3, ldb = inner + 2, ldc = rows + 1, ldt = inner + 1;
          std::vector<double> a(size_t(lda) * inner), b(size_t(ldb) * columns);
          std::vector<double> c(size_t(ldc) * columns), bt(size_t(lda) * columns);
          std::vector<double> ct(size_t(ldt) * columns);
          for (size_t k = 0; k < a.size(); ++k) a[k] = std::sin(0.3 + double(k));
          for (size_t k = 0; k < b.size(); ++k) b[k] = std::cos(0.7 * double(k));
          for (size_t k = 0; k < c.size(); ++k) c[k] = std::sin(2.0 * double(k));
          for (size_t k = 0; k < bt.size(); ++k) bt[k] = std::cos(1.1 + double(k));
          for (size_t k = 0; k < ct.size(); ++k) ct[k] = std::sin(0.9 * double(k));
          std::vector<double> expected = c, expectedT = ct;
          const double minusOne = -1.0, one = 1.0;
          if (rows > 0) {
            dgemm_("N", "N", &rows, &columns, &inner, &minusOne, a.data(), &lda, b.data(), &ldb,
                   &one, expected.data(), &ldc);
            dgemm_("T", "N", &inner, &columns, &rows, &minusOne, a.data(), &lda, bt.data(), &lda,
                   &one, expectedT.data(), &ldt);
          }
          variant.product(rows, inner, columns, a.data(), lda, b.data(), ldb, c.data(), ldc);
          variant.transposed(rows, inner, columns, a.data(), lda, bt.data(), lda, ct.data(), ldt);
          for (size_t k = 0; k < c.size(); ++k) EXPECT_NEAR(c[k], expected[k], 1e-13) << k;
          for (size_t k = 0; k < ct.size(); ++k) EXPECT_NEAR(ct[k], expectedT[k], 1e-13) << k;
        }
      }
    }
  }
}

// METIS seeds and draws the C library's rand() in every call: an ordering used to reseed the
// host's sequence.
TEST(Ordering, MetisReseededTheHostsRand) {
  const CcsRecord a = test::toRecord(test::gridLaplacian(6, 6, 3, 0.0));
  std::srand(2024u);
  const int first = std::rand();
  std::srand(2024u);
  for (const char* method : {"metis_node", "tree"}) EXPECT_FALSE(orderMatrix(a, method).empty());
  EXPECT_EQ(std::rand(), first);
}

// The dense kernels test a pivot with "<= 0", which NaN passes: a matrix holding a NaN used to be
// factorised "successfully" into a factor full of NaN. A NaN below the diagonal reaches L's
// diagonal two columns later. Like an indefinite matrix, it fails after the analysis, which the
// next factorisation of the same pattern reuses.
TEST(LlFactor, NaNInTheMatrixWasFactorisedAsPositiveDefinite) {
  const std::pair<Lower, int> rows[] = {
      {{3, {{0, 0, 4.0}, {1, 0, 1.0}, {1, 1, NAN}, {2, 1, 1.0}, {2, 2, 4.0}}}, 1},
      {{3, {{0, 0, 4.0}, {1, 0, 1.0}, {1, 1, 4.0}, {2, 0, NAN}, {2, 2, 4.0}}}, 2},
      {{2, {{0, 0, 1.0}, {1, 0, 2.0}, {1, 1, 1.0}}}, 1}};
  for (const auto& [a, column] : rows) {
    llFactor factor;
    test::LogCapture log;
    EXPECT_FALSE(factor.numeric(test::toRecord(a)));
    const std::string failed = log.fresh();
    EXPECT_EQ(
        failed.substr(failed.find("\nLL")),
        "\nLL^T Factorization: Matrix is not positive definite.\nNon-positive pivot in column " +
            std::to_string(column) + "\n");
    Lower edited = a;
    for (models::Triplet& t : edited.entries) t.value = t.row == t.col ? 4.0 : 0.5;
    EXPECT_TRUE(factor.numeric(test::toRecord(edited)));
    EXPECT_EQ(log.fresh().rfind("Supernodal Multifrontal LL^T = ", 0), 0u);
  }
}

// Every allocation inside the analysis and the factorisation fails in turn: each is out of memory,
// and the same object factorises once memory is back.
TEST(LlFactor, EveryAllocationFailureIsOutOfMemoryAndRecoverable) {
  const CcsRecord a = test::toRecord(test::gridLaplacian(3, 3, 2, 0.0));
  int64_t k = 0;
  for (;; ++k) {
    llFactor factor;
    test::LogCapture log;
    test::AllocationFailure failure(k);
    if (factor.numeric(a)) break;
    EXPECT_NE(log.text().find(" failed: out of memory\n"), std::string::npos) << k << log.text();
    failure.stop();
    EXPECT_TRUE(factor.numeric(a));
  }
  EXPECT_GT(k, 5);
}

}  // namespace
}  // namespace orv
