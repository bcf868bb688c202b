// Seismic modal combination: objects that combine the peak responses of 24 quantities over a
// set of vibration modes by the square root of the sum of squares (SRSS), the complete
// quadratic combination (CQC) or the sum of absolute values.
//
// Data layout shared by every combination:
//  - Input: numModes blocks of 24 floats one after another, mode 0 first; value l of mode i is
//    in[24 * i + l]. in must be 16-byte aligned and must not overlap out.
//  - Output: one block of 24 floats, 16-byte aligned.
// Every lane is computed independently, in binary32 with one rounding per operation and the
// modes summed in ascending order, so results are reproducible to the last bit on every
// instruction set the library selects at run time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orv {

inline constexpr int kResponsesPerMode = 24;

// A combination kernel: folds numModes blocks at in into the block at out.
using MediaSismicaKernel = void (*)(int32_t numModes, const float* in, float* out);

// SRSS. For each lane: out = sqrt(out + sum of u_i^2); the incoming out is summed unsquared.
// numModes <= 0 reads nothing from in and leaves out = sqrt(out).
void MediaSismicaCase1Vec(int32_t numModes, const float* in, float* out);

// Sum of absolute values. For each lane: out = out + sum of |u_i| (sign bit cleared, so -0
// adds +0). numModes <= 0 leaves out unchanged.
void MediaSismicaCase3Vec(int32_t numModes, const float* in, float* out);

// A combination object, immutable once created: calc24 may run on several threads at once as
// long as each call has its own output block.
class MediaSismicaBase {
 public:
  explicit MediaSismicaBase(int32_t numModes) : numModes_(numModes) {}
  MediaSismicaBase(const MediaSismicaBase&) = delete;
  MediaSismicaBase& operator=(const MediaSismicaBase&) = delete;

  // Combines the numModes() blocks at in into the block at out (layout above).
  virtual void calc24(const float* in, float* out) const = 0;
  virtual ~MediaSismicaBase() = default;

  int32_t numModes() const { return numModes_; }

 private:
  int32_t numModes_;
};

// SRSS (Kernel = &MediaSismicaCase1Vec) or absolute sum (Kernel = &MediaSismicaCase3Vec).
// Both accumulate onto the incoming contents of the output block.
template <MediaSismicaKernel Kernel>
class MediaSismicaF final : public MediaSismicaBase {
 public:
  explicit MediaSismicaF(int32_t numModes) : MediaSismicaBase(numModes) {}
  void calc24(const float* in, float* out) const override { Kernel(numModes(), in, out); }
};

// Number of distinct mode pairs, n(n-1)/2, formed in 64 bits. 0 for n <= 1.
uint64_t modePairCount(int32_t numModes);

// CQC correlation table of n modes with one damping ratio common to all of them (Der
// Kiureghian 1981). Entry (i, j), i < j, sits at i*n - i(i+1)/2 + (j-i-1) (row by row) and
// holds 2*rho_ij, so that each unordered pair is visited once by the combination:
//   rho = 8 xi^2 (1+r) r^(3/2) / ((1-r^2)^2 + 4 xi^2 r (1+r)^2),   r = w_i / w_j.
// Only ratios enter, so modeValues may be circular frequencies, frequencies or periods.
// Nothing is checked: a ratio that is negative, infinite or NaN gives a NaN entry; damping 0
// gives 0 for distinct values and NaN for equal ones.
class MediaSismicaCorr {
 public:
  // modeValues: numModes floats, read only here (may be null when numModes <= 1).
  // Throws std::invalid_argument for a negative numModes or a missing modeValues,
  // std::length_error or std::bad_alloc for a table that cannot be held.
  MediaSismicaCorr(int32_t numModes, const float* modeValues, float damping);

  int32_t numModes() const { return numModes_; }
  const std::vector<float>& coeffs() const { return coeffs_; }

 private:
  int32_t numModes_;
  std::vector<float> coeffs_;
};

// CQC. For each lane: out = sqrt(sum of u_i^2 + sum over i<j of |u_i u_j| * 2 rho_ij), summed
// u_0^2, pairs (0,1)..(0,n-1), u_1^2, pairs (1,2).., and so on. The incoming contents of out
// are ignored.
class MediaSismica2 final : public MediaSismicaBase {
 public:
  MediaSismica2(int32_t numModes, const float* modeValues, float damping);
  void calc24(const float* in, float* out) const override;
  const MediaSismicaCorr& correlation() const { return corr_; }

 private:
  MediaSismicaCorr corr_;
};

// Creates the object of kind 1 (SRSS), 2 (CQC) or 3 (absolute sum); null for any other kind.
// modeValues and damping are read for kind 2 only. A negative numModes counts as 0 for kinds
// 1 and 3 and is refused for kind 2 (std::invalid_argument). Allocation failures throw.
std::unique_ptr<MediaSismicaBase> createMediaSismica(int32_t kind, int32_t numModes,
                                                     const float* modeValues, float damping);

}  // namespace orv
