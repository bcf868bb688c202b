#include "seismic/seismic.h"

#include <stdexcept>

#include "seismic/kernels.h"

namespace orv {

void MediaSismicaCase1Vec(int32_t numModes, const float* in, float* out) {
  seismic::activeKernels().srss(numModes, in, out);
}

void MediaSismicaCase3Vec(int32_t numModes, const float* in, float* out) {
  seismic::activeKernels().absSum(numModes, in, out);
}

uint64_t modePairCount(int32_t numModes) {
  if (numModes <= 1) return 0;
  const auto n = static_cast<uint64_t>(numModes);
  return n * (n - 1) / 2;
}

namespace {

// The count comes from the host: it is checked against what the table can hold before it is
// narrowed to size_t, which is 32 bits wide on 32-bit builds.
std::vector<float> zeroTable(int32_t numModes) {
  // Refused on purpose: the combination reads the count as unsigned, so a negative one would
  // stand for billions of modes and read far past the caller's blocks.
  if (numModes < 0) throw std::invalid_argument("negative number of modes");
  const uint64_t count = modePairCount(numModes);
  std::vector<float> table;
  if (count > table.max_size()) throw std::length_error("correlation table too large");
  table.resize(static_cast<size_t>(count));
  return table;
}

}  // namespace

MediaSismicaCorr::MediaSismicaCorr(int32_t numModes, const float* modeValues, float damping)
    : numModes_(numModes), coeffs_(zeroTable(numModes)) {
  if (numModes_ < 2) return;
  if (modeValues == nullptr) throw std::invalid_argument("missing modal values");
  // a = 4 xi^2 rounded once from double; b = 4a is exact.
  const double xi = damping;
  const auto a = static_cast<float>((xi * 4.0) * xi);
  const auto b = static_cast<float>(static_cast<double>(a) * 4.0);
  const seismic::KernelSet& kernels = seismic::activeKernels();
  const auto n = static_cast<size_t>(numModes_);
  float* row = coeffs_.data();
  for (size_t i = 0; i + 1 < n; ++i) {
    const size_t count = n - 1 - i;
    kernels.cqcRow(modeValues[i], modeValues + i + 1, count, a, b, row);
    row += count;
  }
}

MediaSismica2::MediaSismica2(int32_t numModes, const float* modeValues, float damping)
    : MediaSismicaBase(numModes), corr_(numModes, modeValues, damping) {}

void MediaSismica2::calc24(const float* in, float* out) const {
  seismic::activeKernels().cqc(corr_.numModes(), corr_.coeffs().data(), in, out);
}

std::unique_ptr<MediaSismicaBase> createMediaSismica(int32_t kind, int32_t numModes,
                                                     const float* modeValues, float damping) {
  switch (kind) {
    case 1:
      return std::make_unique<MediaSismicaF<&MediaSismicaCase1Vec>>(numModes);
    case 2:
      return std::make_unique<MediaSismica2>(numModes, modeValues, damping);
    case 3:
      return std::make_unique<MediaSismicaF<&MediaSismicaCase3Vec>>(numModes);
    default:
      return nullptr;
  }
}

}  // namespace orv
