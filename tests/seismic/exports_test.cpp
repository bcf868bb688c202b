// The modal-combination exports as a host sees them: the public header and the shared library.
#include <ORVSparseSolver/exports.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>

namespace {

constexpr int kLanes = 24;

struct alignas(32) Blocks {
  float v[8 * kLanes + 8];
};

void* const kUntouched = reinterpret_cast<void*>(uintptr_t{0x5EED});

TEST(MediaSismicaExports, UnknownKindLeavesTheHandle) {
  for (int32_t kind : {0, 4, -1}) {
    void* handle = kUntouched;
    EXPECT_EQ(exp_mediaSismica_init_v3(&handle, kind, 2, nullptr, 0.05f), -1) << kind;
    EXPECT_EQ(handle, kUntouched);
  }
}

TEST(MediaSismicaExports, CqcCreationFailuresLeaveTheHandle) {
  const float w[] = {1.0f, 2.0f, 3.0f};
  void* handle = kUntouched;
  EXPECT_EQ(exp_mediaSismica_init_v3(&handle, 2, -1, w, 0.05f), -1) << "negative count";
  EXPECT_EQ(exp_mediaSismica_init_v3(&handle, 2, 3, nullptr, 0.05f), -1) << "no modal values";
  EXPECT_EQ(handle, kUntouched);
  EXPECT_EQ(exp_mediaSismica_init_v3(nullptr, 1, 3, nullptr, 0.05f), -1) << "no handle variable";
}

TEST(MediaSismicaExports, TableTooLargeLeavesTheHandle) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer aborts on an allocation this large instead of throwing";
#endif
  const float w[] = {1.0f, 2.0f};
  void* handle = kUntouched;
  EXPECT_EQ(exp_mediaSismica_init_v3(&handle, 2, INT_MAX, w, 0.05f), -1);
  EXPECT_EQ(handle, kUntouched);
}

TEST(MediaSismicaExports, HandWorkedCombinations) {
  // Two modes, 3 and 4 in every lane; modal values 0.95 and 1 at 5% damping, whose
  // correlation coefficient is 0.7914064.
  Blocks in{};
  for (int l = 0; l < kLanes; ++l) {
    in.v[l] = 3.0f;
    in.v[kLanes + l] = -4.0f;
  }
  const float w[] = {0.95f, 1.0f};
  const double expected[] = {5.0, std::sqrt(9.0 + 16.0 + 2.0 * 0.7914063784 * 12.0), 7.0};
  for (int32_t kind : {1, 2, 3}) {
    void* handle = nullptr;
    ASSERT_EQ(exp_mediaSismica_init_v3(&handle, kind, 2, w, 0.05f), 0);
    ASSERT_NE(handle, nullptr);
    alignas(16) float out[kLanes] = {};
    EXPECT_EQ(exp_mediaSismica_calc24_v3(handle, in.v, out), 0);
    for (int l = 0; l < kLanes; ++l) {
      EXPECT_NEAR(out[l], expected[kind - 1], 1e-6 * expected[kind - 1]) << "kind " << kind;
    }
    EXPECT_EQ(exp_mediaSismica_free_v3(&handle), 0);
    EXPECT_EQ(handle, nullptr);
  }
}

TEST(MediaSismicaExports, ObjectsLiveSideBySide) {
  Blocks in{};
  for (int l = 0; l < kLanes; ++l) in.v[l] = -2.0f;
  void* srss = nullptr;
  void* abs = nullptr;
  ASSERT_EQ(exp_mediaSismica_init_v3(&srss, 1, 1, nullptr, 0.0f), 0);
  ASSERT_EQ(exp_mediaSismica_init_v3(&abs, 3, -5, nullptr, 0.0f), 0);
  alignas(16) float out[kLanes];
  for (float& v : out) v = 5.0f;
  EXPECT_EQ(exp_mediaSismica_calc24_v3(srss, in.v, out), 0);
  EXPECT_EQ(out[7], 3.0f) << "sqrt(4 + 5)";
  EXPECT_EQ(exp_mediaSismica_calc24_v3(abs, in.v, out), 0);
  EXPECT_EQ(out[7], 3.0f) << "no modes: unchanged";
  EXPECT_EQ(exp_mediaSismica_free_v3(&srss), 0);
  EXPECT_EQ(exp_mediaSismica_free_v3(&abs), 0);
}

TEST(MediaSismicaExports, FreeingClearsAndToleratesZero) {
  void* handle = nullptr;
  EXPECT_EQ(exp_mediaSismica_free_v3(&handle), 0);
  EXPECT_EQ(handle, nullptr);
  ASSERT_EQ(exp_mediaSismica_init_v3(&handle, 3, 4, nullptr, 0.0f), 0);
  EXPECT_EQ(exp_mediaSismica_free_v3(&handle), 0);
  EXPECT_EQ(exp_mediaSismica_free_v3(&handle), 0) << "second free through the same variable";
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(exp_mediaSismica_free_v3(nullptr), -1);
}

// Every instruction set answers a misaligned block the same way.
TEST(MediaSismicaExports, MisalignedBlocksAndMissingObjectFail) {
  Blocks in{};
  alignas(16) float out[kLanes + 4] = {};
  const float w[] = {1.0f, 2.0f};
  for (int32_t kind : {1, 2, 3}) {
    SCOPED_TRACE(kind);
    void* handle = nullptr;
    ASSERT_EQ(exp_mediaSismica_init_v3(&handle, kind, 2, w, 0.05f), 0);
    EXPECT_EQ(exp_mediaSismica_calc24_v3(handle, in.v + 1, out), -1);
    EXPECT_EQ(exp_mediaSismica_calc24_v3(handle, in.v, out + 2), -1);
    EXPECT_EQ(exp_mediaSismica_calc24_v3(handle, in.v + 4, out + 4), 0) << "16-byte aligned";
    EXPECT_EQ(exp_mediaSismica_free_v3(&handle), 0);
  }
  void* none = nullptr;
  ASSERT_EQ(exp_mediaSismica_init_v3(&none, 1, 0, nullptr, 0.0f), 0);
  EXPECT_EQ(exp_mediaSismica_calc24_v3(none, in.v + 1, out), 0) << "no modes: in is not read";
  EXPECT_EQ(exp_mediaSismica_free_v3(&none), 0);
  EXPECT_EQ(exp_mediaSismica_calc24_v3(nullptr, in.v, out), -1);
}

}  // namespace
