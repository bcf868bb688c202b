// The driver on the second-difference matrix, whose eigenvalues with B = I are 2 - 2 cos(k π /
// (n + 1)): the choice of route, the fallback, the cap by B's diagonal, and its log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library_pair.h"

namespace orv::test {
namespace {

std::vector<double> ones(int n) { return std::vector<double>(static_cast<size_t>(n), 1.0); }

// The phase completion lines with their two times replaced by T.
std::string withoutTimes(std::string log) {
  const std::string from = "completed in ";
  const std::string to = " CPU)";
  for (size_t at = log.find(from); at != std::string::npos; at = log.find(from, at + 1)) {
    const size_t end = log.find(to, at);
    if (end == std::string::npos) break;
    log.replace(at, end + to.size() - at, "completed in T sec (T CPU)");
  }
  return log;
}

// A factored pair (A = second difference, B given) with its log captured from here on.
class Driver : public ::testing::Test {
 protected:
  void build(int order, const Lower& b) {
    n = order;
    pair = Pair{secondDifference(n), b};
    lib = std::make_unique<LibraryPair>(pair);
    lib->A.factor("");
    log.fresh();
  }

  int32_t solve(int count, bool withValues = true, bool withVectors = true) {
    values.assign(static_cast<size_t>(std::max(count, 1)), -7.0);
    vectors.assign(static_cast<size_t>(n) * std::max(count, 1), -7.0);
    return eigenSystem(lib->A, lib->B, count, withValues ? values.data() : nullptr,
                       withVectors ? vectors.data() : nullptr);
  }

  void expectSecondDifferenceEigenpairs(int found) {
    for (int k = 0; k < found; ++k) {
      EXPECT_NEAR(values[k], secondDifferenceEigenvalue(k + 1, n), 1e-12) << "k = " << k;
    }
    const Normalisation norm = normalisation(pair, vectors.data(), values.data(), found);
    EXPECT_LT(norm.kOrthonormality, 1e-10);
    EXPECT_LT(norm.mScaling, 1e-10);
  }

  Log log;
  int n = 0;
  Pair pair;
  std::unique_ptr<LibraryPair> lib;
  std::vector<double> values;
  std::vector<double> vectors;
};

const char* const kDenseLog =
    "Attempting dense search method\n"
    "Creating dense matrix B\n"
    "Dense matrix B created\n"
    "Creating dense matrix Z\n"
    "Dense matrix Z created\n";

TEST_F(Driver, SixUnknownsAndOneEigenvalueTakeTheDenseRouteDirectly) {
  build(6, diagonal(ones(6)));
  ASSERT_EQ(solve(1), 1);
  expectSecondDifferenceEigenpairs(1);
  EXPECT_EQ(withoutTimes(log.fresh()),
            std::string("A: Eigensystem calculation started\n"
                        "Searching 1 smallest eigenvalues and related eigenvectors\n") +
                kDenseLog +
                "Back transforming 1 eigenvalues\n"
                "Back-transformation completed: 1 eigenvalues valid\n"
                "A: Eigensystem calculation completed in T sec (T CPU)\n\n");
}

TEST_F(Driver, SevenUnknownsAndOneEigenvalueTakeTheIterativeRoute) {
  build(7, diagonal(ones(7)));
  ASSERT_EQ(solve(1, true, false), 1);
  EXPECT_NEAR(values[0], secondDifferenceEigenvalue(1, 7), 1e-12);
  EXPECT_EQ(withoutTimes(log.fresh()),
            "A: Eigensystem calculation started\n"
            "Searching 1 smallest eigenvalues\n"
            "Attempting search of selected eigenvalues only\n"
            "Back transforming 1 eigenvalues\n"
            "Back-transformation completed: 1 eigenvalues valid\n"
            "A: Eigensystem calculation completed in T sec (T CPU)\n\n");
}

// 0.15 x 20 = 3.0 >= 3 exactly.
TEST_F(Driver, TwentyUnknownsAndThreeEigenvaluesTakeTheIterativeRoute) {
  build(20, diagonal(ones(20)));
  ASSERT_EQ(solve(3), 3);
  expectSecondDifferenceEigenpairs(3);
  const std::string text = log.fresh();
  EXPECT_NE(text.find("Attempting search of selected eigenvalues only\n"), std::string::npos);
  EXPECT_EQ(text.find("Attempting dense search method"), std::string::npos);
  EXPECT_EQ(solve(4), 4);
  EXPECT_NE(log.fresh().find(kDenseLog), std::string::npos);
}

TEST_F(Driver, AnIterativeFailureFallsBackToTheDenseRoute) {
  build(20, diagonal(ones(20)));
  ForceLanczosFailure fail;
  ASSERT_EQ(solve(3), 3);
  expectSecondDifferenceEigenpairs(3);
  EXPECT_EQ(withoutTimes(log.fresh()),
            std::string("A: Eigensystem calculation started\n"
                        "Searching 3 smallest eigenvalues and related eigenvectors\n"
                        "Attempting search of selected eigenvalues only\n"
                        "Search of selected eigenvalues failed\n") +
                kDenseLog +
                "Back transforming 3 eigenvalues\n"
                "Back-transformation completed: 3 eigenvalues valid\n"
                "A: Eigensystem calculation completed in T sec (T CPU)\n\n");
}

// Diagonal entry 3 stored as 0.0 and entry 7 absent: at most 18 eigenvalues are finite.
TEST_F(Driver, MissingAndZeroDiagonalEntriesOfBCapTheSearch) {
  Lower b = diagonal(ones(20));
  b.entries[3].value = 0.0;
  b.entries.erase(b.entries.begin() + 7);
  build(20, b);
  ASSERT_EQ(solve(19), 18);
  EXPECT_NE(log.fresh().find("Searching 18 smallest eigenvalues and related eigenvectors\n"),
            std::string::npos);
  const std::vector<double> lambda = smallestEigenvalues(pair, 18);
  for (int k = 0; k < 18; ++k) EXPECT_NEAR(values[k], lambda[k], 1e-12 * lambda[k]);
  const Normalisation norm = normalisation(pair, vectors.data(), values.data(), 18);
  EXPECT_LT(norm.kOrthonormality, 1e-10);
  EXPECT_LT(norm.mScaling, 1e-10);

  ASSERT_EQ(solve(2), 2);  // below the cap the count rules, here by Lanczos
  EXPECT_NEAR(values[0], lambda[0], 1e-12 * lambda[0]);
  EXPECT_NEAR(values[1], lambda[1], 1e-12 * lambda[1]);
}

TEST_F(Driver, NoEigenvalueWantedFindsNoneAfterTheSearchLine) {
  build(10, diagonal(ones(10)));
  const std::string expected =
      "A: Eigensystem calculation started\n"
      "Searching 0 smallest eigenvalues and related eigenvectors\n"
      "A: Eigensystem calculation completed in T sec (T CPU)\n\n";
  EXPECT_EQ(solve(0), 0);
  EXPECT_EQ(withoutTimes(log.fresh()), expected);
  EXPECT_EQ(solve(-5), 0);
  EXPECT_EQ(withoutTimes(log.fresh()), expected);
  EXPECT_EQ(values[0], -7.0);
  EXPECT_EQ(vectors[0], -7.0);
}

TEST_F(Driver, ABWithoutMassFindsNothing) {
  build(10, diagonal(std::vector<double>(10, 0.0)));
  EXPECT_EQ(solve(3), 0);
  EXPECT_NE(log.fresh().find("Searching 0 smallest eigenvalues"), std::string::npos);
}

TEST_F(Driver, EigenvaluesNeedNotBeReturnedForVectorsToBe) {
  build(20, diagonal(ones(20)));
  ASSERT_EQ(solve(3, false, true), 3);
  EXPECT_EQ(values[0], -7.0);
  for (int k = 0; k < 3; ++k) values[k] = secondDifferenceEigenvalue(k + 1, n);
  expectSecondDifferenceEigenpairs(3);
  ASSERT_EQ(solve(8, false, true), 8);  // the dense route too
  for (int k = 0; k < 8; ++k) values[k] = secondDifferenceEigenvalue(k + 1, n);
  expectSecondDifferenceEigenpairs(8);
}

// S is the identity: every μ and every λ is 1, by either route.
TEST(DriverSpectrum, BEqualToAGivesEigenvaluesOneByBothRoutes) {
  const Lower k = readMatrix("bcsstk05.mtx");
  LibraryPair lib(Pair{k, k});
  for (const int count : {5, 40}) {
    std::vector<double> values(static_cast<size_t>(count));
    std::vector<double> vectors(static_cast<size_t>(k.n) * count);
    ASSERT_EQ(eigenSystem(lib.A, lib.B, count, values.data(), vectors.data()), count);
    for (double v : values) EXPECT_NEAR(v, 1.0, 1e-10);
    const Normalisation norm = normalisation(Pair{k, k}, vectors.data(), values.data(), count);
    EXPECT_LT(norm.kOrthonormality, 1e-10);
  }
}

TEST(DriverArguments, BMustBeAssembledAndCheckedBeforeAnyWork) {
  Log log;
  ccsSymSPDMatrix A;
  load(A, secondDifference(8));
  ccsSymMatrix B('B');
  B.initialise(8, 8);
  B.incrElement(0, 0, 1.0);
  log.fresh();
  std::vector<double> values(2);
  try {
    eigenSystem(A, B, 2, values.data(), nullptr);
    ADD_FAILURE() << "no error";
  } catch (const char* text) {
    EXPECT_STREQ(text, "Matrix B is not assembled");
  }
  EXPECT_FALSE(A.numericReady());
  EXPECT_EQ(log.fresh(), "");

  ccsSymMatrix other('B');
  load(other, diagonal(ones(5)));
  try {
    eigenSystem(A, other, 2, values.data(), nullptr);
    ADD_FAILURE() << "no error";
  } catch (const char* text) {
    EXPECT_STREQ(text, "Matrices A and B differ in size");
  }
}

TEST(DriverArguments, AnUnfactoredAIsFactoredWithTheDefaultOrderingAndStaysFactored) {
  Log log;
  LibraryPair lib(Pair{secondDifference(12), diagonal(ones(12))});
  log.fresh();
  std::vector<double> values(1);
  ASSERT_EQ(eigenSystem(lib.A, lib.B, 1, values.data(), nullptr), 1);
  EXPECT_TRUE(lib.A.numericReady());
  const std::string first = log.fresh();
  const size_t ordering = first.find("Ordering method used: metis_node\n");
  ASSERT_NE(ordering, std::string::npos);
  EXPECT_LT(ordering, first.find("A: Eigensystem calculation started\n"));
  ASSERT_EQ(eigenSystem(lib.A, lib.B, 1, values.data(), nullptr), 1);
  EXPECT_EQ(log.fresh().find("factorization"), std::string::npos);
}

}  // namespace
}  // namespace orv::test
