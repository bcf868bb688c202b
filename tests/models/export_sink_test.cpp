#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "dense.h"
#include "models/export_sink.h"
#include "models/models.h"

namespace orv::models {
namespace {

// The host's handle variable, released at scope exit.
struct Handle {
  symRealSPDMatrixLinSys* object = nullptr;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { exp_deleteMatrix_v3(&object); }
};

// A host-side array descriptor of doubles with room for two bound records: rgsabound[0] counts
// the columns, rgsabound[1] the rows.
struct Descriptor {
  SAFEARRAY header;
  SAFEARRAYBOUND second;
};

Descriptor describe(std::vector<double>& data, uint32_t rows, uint32_t columns, uint16_t dims) {
  Descriptor d{};
  d.header.cDims = dims;
  d.header.cbElements = sizeof(double);
  d.header.pvData = data.data();
  d.header.rgsabound[0].cElements = dims == 1 ? rows : columns;
  d.second.cElements = rows;
  return d;
}

CantileverParameters bar() {
  CantileverParameters p;
  p.elements = 24;
  p.section = rectangularSection(210e9, 0.3, 7850.0, 0.1, 0.2);
  return p;
}

TEST(ExportSink, LibraryProductsMatchTheModel) {
  FrameParameters fp;
  fp.storeys = 3;
  fp.floorMass = 500.0;
  const BuildingFrame frame(fp);
  const Cantilever cantilever(bar());
  const Model* models[] = {&cantilever, &frame};
  const unsigned seed = 4711;
  std::printf("random vector seed %u\n", seed);
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  for (const Model* model : models) {
    Handle h;
    assembleIntoLibrary(*model, &h.object, true);
    std::vector<double> x(model->size());
    for (double& v : x) v = uniform(random);
    for (int which : {kStiffness, kMass}) {
      std::vector<double> y(model->size());
      ASSERT_EQ(exp_multVector_v3(h.object, x.data(), y.data(), which), 0) << lastError(h.object);
      const std::vector<double> expected = model->multiply(x, which);
      double scale = 0.0;
      for (double v : expected) scale = std::max(scale, std::fabs(v));
      for (int i = 0; i < model->size(); ++i) EXPECT_NEAR(y[i], expected[i], 1e-12 * scale);
    }
    const testing::DenseSink dense = testing::assembleDense(*model);
    double maxDiag = 0.0;
    for (int i = 0; i < model->size(); ++i) maxDiag = std::max(maxDiag, dense.at(i, i, kStiffness));
    double reported = 0.0;
    ASSERT_EQ(exp_getMaxDiag_v3(h.object, &reported), 0) << lastError(h.object);
    EXPECT_DOUBLE_EQ(reported, maxDiag);
  }
}

TEST(ExportSink, TipDeflectionThroughTheLibrary) {
  const CantileverParameters p = bar();
  const Cantilever c(p);
  Handle h;
  assembleIntoLibrary(c, &h.object, false);
  const double P = 1000.0;
  std::vector<double> rhs(c.size(), 0.0);
  rhs[c.dof(c.tipNode(), kUz)] = -P;
  std::vector<double> x(c.size(), 0.0);
  Descriptor rhsArray = describe(rhs, static_cast<uint32_t>(c.size()), 1, 1);
  Descriptor xArray = describe(x, static_cast<uint32_t>(c.size()), 1, 1);
  SAFEARRAY* rhsPointer = &rhsArray.header;
  SAFEARRAY* xPointer = &xArray.header;
  ASSERT_EQ(exp_solve_v3(h.object, &xPointer, &rhsPointer), 0) << lastError(h.object);
  const double expected = -P * std::pow(p.length, 3) / (3 * p.section.E * p.section.Iz);
  EXPECT_NEAR(x[c.dof(c.tipNode(), kUz)], expected, 1e-9 * std::fabs(expected));
}

TEST(ExportSink, EigenvaluesThroughTheLibraryMatchDenseLapack) {
  const Cantilever c(bar());
  const int n = c.size();
  Handle h;
  assembleIntoLibrary(c, &h.object, true);
  const int count = 4;
  std::vector<double> values(count, 0.0);
  std::vector<double> vectors(std::size_t(n) * count, 0.0);
  Descriptor eig = describe(values, count, 1, 1);
  Descriptor eiv = describe(vectors, static_cast<uint32_t>(n), count, 2);
  SAFEARRAY* eigPointer = &eig.header;
  SAFEARRAY* eivPointer = &eiv.header;
  int32_t found = 0;
  ASSERT_EQ(exp_eigenSystem_v3(h.object, count, &eigPointer, &eivPointer, &found), 0)
      << lastError(h.object);
  ASSERT_EQ(found, count);
  const testing::DenseSink dense = testing::assembleDense(c);
  const std::vector<double> lambda =
      testing::generalizedEigenvalues(dense.matrix(kStiffness), dense.matrix(kMass), n);
  for (int k = 0; k < count; ++k) EXPECT_NEAR(values[k], lambda[k], 1e-8 * lambda[k]);
}

TEST(ExportSink, LibraryErrorBecomesExportError) {
  Handle h;
  ASSERT_EQ(exp_initMatrix_v3(&h.object, 3, kStiffness), 0);
  ExportSink sink(h.object);
  sink.add(2, 1, 1.0, kStiffness);
  try {
    sink.add(3, 0, 1.0, kStiffness);
    ADD_FAILURE() << "no error for a row outside the matrix";
  } catch (const ExportError& e) {
    EXPECT_STREQ(e.what(), "exp_incrMatrixElem_v3 failed: Element index out of range");
  }
}

}  // namespace
}  // namespace orv::models
