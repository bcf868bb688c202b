// exp_eigenSystem_v3 as a host calls it: descriptors, argument errors, what is written, and the
// cantilever of the models library against Euler-Bernoulli theory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "export_helpers.h"
#include "models/export_sink.h"
#include "models/models.h"
#include "oracle.h"
#include "test_support.h"

namespace orv::test {
namespace {

// A host-side descriptor of doubles with room for two bound records: rgsabound[0] counts the
// columns (or the elements of a vector), rgsabound[1] the rows.
class Array {
 public:
  Array(uint16_t dims, uint32_t first, uint32_t second = 0)
      : data_(static_cast<size_t>(first) * (dims == 2 ? second : 1), -7.0) {
    storage_.header.cDims = dims;
    storage_.header.cbElements = sizeof(double);
    storage_.header.pvData = data_.data();
    storage_.header.rgsabound[0].cElements = dims == 2 ? second : first;
    storage_.second.cElements = first;
    pointer_ = &storage_.header;
  }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;

  // rows x columns, or a vector of rows elements.
  static Array matrix(uint32_t rows, uint32_t columns) { return Array(2, rows, columns); }
  static Array vector(uint32_t elements) { return Array(1, elements); }

  SAFEARRAY** address() { return &pointer_; }
  SAFEARRAY& header() { return storage_.header; }
  std::vector<double>& data() { return data_; }

 private:
  struct Storage {
    SAFEARRAY header;
    SAFEARRAYBOUND second;
  };
  std::vector<double> data_;
  Storage storage_{};
  SAFEARRAY* pointer_ = nullptr;
};

// The second-difference matrix of order n as A and B given by its diagonal, through the exports.
class EigenExport : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(exp_logDestination_v3(nullptr, log.c_str()), 0); }
  void TearDown() override { exp_logDestination_v3(nullptr, ""); }

  void build(int order, const std::vector<double>& bDiagonal) {
    n = order;
    ASSERT_EQ(exp_initMatrix_v3(system.address(), n, 0), 0);
    ASSERT_EQ(exp_initMatrix_v3(system.address(), n, 1), 0);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), i, i, 2.0, 0), 0);
      if (i + 1 < n) {
        ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), i + 1, i, -1.0, 0), 0);
      }
      if (bDiagonal[static_cast<size_t>(i)] != 0.0) {
        ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), i, i, bDiagonal[static_cast<size_t>(i)], 1),
                  0);
      }
    }
    ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
    ASSERT_EQ(exp_createCCS_v3(system.get(), 1), 0);
  }

  // Expects -1 with text, and found untouched.
  void expectFailure(int count, SAFEARRAY** eig, SAFEARRAY** eiv, const std::string& text) {
    int32_t found = 12345;
    EXPECT_EQ(exp_eigenSystem_v3(system.get(), count, eig, eiv, &found), -1);
    EXPECT_EQ(lastError(system.get()), text);
    EXPECT_EQ(found, 12345);
  }

  static double lambda(int k, int n) {
    return 2.0 - 2.0 * std::cos(k * std::numbers::pi / (n + 1));
  }

  ScratchFile log{"eigen_export.log"};
  SystemHandle system;
  int n = 0;
};

TEST_F(EigenExport, DescriptorShapesAreChecked) {
  build(10, std::vector<double>(10, 1.0));
  Array eig = Array::vector(3);
  Array eiv = Array::matrix(10, 3);
  Array eigTooLong = Array::vector(4);
  Array eigTwoDims = Array::matrix(3, 1);
  expectFailure(3, eigTooLong.address(), eiv.address(), "Dimensions of eig are incorrect");
  expectFailure(3, eigTwoDims.address(), eiv.address(), "Dimensions of eig are incorrect");
  Array eivOneDim = Array::vector(3);
  Array eivColumns = Array::matrix(10, 4);
  Array eivRows = Array::matrix(9, 3);
  expectFailure(3, eig.address(), eivOneDim.address(), "Dimensions of eiv are incorrect");
  expectFailure(3, eig.address(), eivColumns.address(), "Dimensions of eiv are incorrect");
  expectFailure(3, eig.address(), eivRows.address(), "Dimensions of eiv are incorrect");
  expectFailure(-1, eig.address(), nullptr, "Dimensions of eig are incorrect");
  EXPECT_EQ(eig.data()[0], -7.0);
  EXPECT_EQ(eiv.data()[0], -7.0);
  const std::string text = readFile(log.path());
  EXPECT_NE(text.find("ERROR: Dimensions of eiv are incorrect\n\n"), std::string::npos);
  EXPECT_EQ(text.find("Eigensystem calculation"), std::string::npos);
}

// B has 2 non-zero diagonal entries, so at most 2 eigenvalues exist; the columns still count.
TEST_F(EigenExport, EivColumnsMustEqualCountEvenAboveTheCap) {
  std::vector<double> b(10, 0.0);
  b[2] = 1.0;
  b[7] = 1.0;
  build(10, b);
  Array eig = Array::vector(5);
  Array eivCapped = Array::matrix(10, 2);
  expectFailure(5, eig.address(), eivCapped.address(), "Dimensions of eiv are incorrect");
  Array eiv = Array::matrix(10, 5);
  int32_t found = -1;
  ASSERT_EQ(exp_eigenSystem_v3(system.get(), 5, eig.address(), eiv.address(), &found), 0)
      << lastError(system.get());
  EXPECT_EQ(found, 2);
  EXPECT_EQ(eig.data()[4], -7.0);
  EXPECT_NE(
      readFile(log.path()).find("Searching 2 smallest eigenvalues and related eigenvectors\n"),
      std::string::npos);
}

TEST_F(EigenExport, ArgumentErrors) {
  build(10, std::vector<double>(10, 1.0));
  Array eig = Array::vector(2);
  EXPECT_EQ(exp_eigenSystem_v3(system.get(), 2, eig.address(), nullptr, nullptr), -1);
  EXPECT_EQ(lastError(system.get()), "Result pointer is null");
  int32_t found = 12345;
  EXPECT_EQ(exp_eigenSystem_v3(nullptr, 2, eig.address(), nullptr, &found), -1);
  EXPECT_EQ(lastError(nullptr), "symRealSPDMatrixLinSys not allocated");
  EXPECT_EQ(found, 12345);
  eig.header().pvData = nullptr;
  expectFailure(2, eig.address(), nullptr, "eig data not allocated");
  Array eiv = Array::matrix(10, 2);
  eiv.header().pvData = nullptr;
  expectFailure(2, nullptr, eiv.address(), "eiv data not allocated");
}

TEST_F(EigenExport, BMustBeAssembled) {
  ASSERT_EQ(exp_initMatrix_v3(system.address(), 4, 0), 0);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(exp_incrMatrixElem_v3(system.get(), i, i, 1.0, 0), 0);
  ASSERT_EQ(exp_createCCS_v3(system.get(), 0), 0);
  int32_t found = 12345;
  Array eig = Array::vector(1);
  EXPECT_EQ(exp_eigenSystem_v3(system.get(), 1, eig.address(), nullptr, &found), -1);
  EXPECT_EQ(lastError(system.get()), "Matrix B is not assembled");
  EXPECT_EQ(found, 12345);
}

TEST_F(EigenExport, VectorsWithoutEigenvalueArray) {
  build(20, std::vector<double>(20, 1.0));
  Array eiv = Array::matrix(20, 3);
  SAFEARRAY* none = nullptr;
  int32_t found = -1;
  ASSERT_EQ(exp_eigenSystem_v3(system.get(), 3, &none, eiv.address(), &found), 0)
      << lastError(system.get());
  ASSERT_EQ(found, 3);
  Pair pair{{20, {}}, {20, {}}};
  for (int i = 0; i < 20; ++i) {
    pair.k.entries.push_back({i, i, 2.0});
    if (i + 1 < 20) pair.k.entries.push_back({i + 1, i, -1.0});
    pair.m.entries.push_back({i, i, 1.0});
  }
  const double lambdas[3] = {lambda(1, 20), lambda(2, 20), lambda(3, 20)};
  const Normalisation norm = normalisation(pair, eiv.data().data(), lambdas, 3);
  EXPECT_LT(norm.kOrthonormality, 1e-10);
  EXPECT_LT(norm.mScaling, 1e-10);
  found = -1;  // a null descriptor address stands for no array as well
  ASSERT_EQ(exp_eigenSystem_v3(system.get(), 3, nullptr, eiv.address(), &found), 0);
  EXPECT_EQ(found, 3);
}

TEST_F(EigenExport, EigenvaluesWithoutVectorsLogNoSuffix) {
  build(20, std::vector<double>(20, 1.0));
  Array eig = Array::vector(3);
  SAFEARRAY* none = nullptr;
  int32_t found = -1;
  ASSERT_EQ(exp_eigenSystem_v3(system.get(), 3, eig.address(), &none, &found), 0);
  ASSERT_EQ(found, 3);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(eig.data()[k], lambda(k + 1, 20), 1e-12);
  EXPECT_NE(readFile(log.path()).find("Searching 3 smallest eigenvalues\n"), std::string::npos);
}

// Horizontal bending of the IPE 400 cantilever (weak axis, Iy) in the models library: ω_k =
// (β_k L)² / L² √(E Iy / (ρ A)). The modes are told apart by their vectors: horizontal bending
// moves the nodes along Y only.
TEST(EigenExportModels, CantileverBendingFrequenciesMatchEulerBernoulli) {
  const models::Cantilever beam;
  const int n = beam.size();
  symRealSPDMatrixLinSys* object = nullptr;
  models::assembleIntoLibrary(beam, &object, true);
  const int count = 12;
  Array eig = Array::vector(count);
  Array eiv = Array::matrix(static_cast<uint32_t>(n), count);
  int32_t found = -1;
  const int32_t result = exp_eigenSystem_v3(object, count, eig.address(), eiv.address(), &found);
  const std::string error = models::lastError(object);
  exp_deleteMatrix_v3(&object);
  ASSERT_EQ(result, 0) << error;
  ASSERT_EQ(found, count);

  const models::CantileverParameters& p = beam.parameters();
  const double base =
      std::sqrt(p.section.E * p.section.Iy / (p.section.rho * p.section.A)) / (p.length * p.length);
  const double betaL[3] = {1.875104, 4.694091, 7.854757};
  int bending = 0;
  for (int k = 0; k < found && bending < 3; ++k) {
    const double* x = eiv.data().data() + static_cast<size_t>(k) * n;
    double along[3] = {0.0, 0.0, 0.0};
    double all = 0.0;
    for (int node = 1; node <= beam.tipNode(); ++node) {
      for (int c = 0; c < 6; ++c) {
        const double v = x[beam.dof(node, c)];
        if (c < 3) along[c] += v * v;
        all += v * v;
      }
    }
    if (along[models::kUy] < 0.99 * (along[0] + along[1] + along[2]) ||
        along[models::kUy] < 1e-3 * all) {
      continue;
    }
    const double omega = betaL[bending] * betaL[bending] * base;
    EXPECT_NEAR(std::sqrt(eig.data()[k]), omega, 0.005 * omega) << "bending mode " << bending;
    ++bending;
  }
  EXPECT_EQ(bending, 3);
}

}  // namespace
}  // namespace orv::test
