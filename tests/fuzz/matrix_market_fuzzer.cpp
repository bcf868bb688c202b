// libFuzzer target: the Matrix Market reader on any text, read from a stream by each of its three
// entry points. A damaged file must end in MatrixMarketError; any other exception, a crash or a
// sanitizer report is a fault. What is read must satisfy the reader's promises.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "models/matrix_market.h"

namespace {

using orv::models::MatrixMarketError;

// Aborts, so that libFuzzer keeps the input, when a promise of the reader does not hold.
void require(bool condition) {
  if (!condition) std::abort();
}

void readAsCoordinate(const std::string& text) {
  std::istringstream in(text);
  try {
    const orv::models::CoordinateMatrix m = orv::models::readCoordinate(in, "fuzz.mtx");
    require(m.entries.size() == m.lines.size());
    for (const orv::models::Triplet& t : m.entries) {
      require(t.row >= 0 && t.row < m.rows && t.col >= 0 && t.col < m.cols);
      if (m.symmetry == orv::models::MatrixMarketSymmetry::Symmetric) require(t.row >= t.col);
    }
    orv::models::findAsymmetry(m, 1e-12);
  } catch (const MatrixMarketError&) {
  }
}

void readAsArray(const std::string& text) {
  std::istringstream in(text);
  try {
    const orv::models::DenseArray a = orv::models::readArray(in, "fuzz.mtx");
    require(a.values.size() == static_cast<size_t>(a.rows) * static_cast<size_t>(a.cols));
  } catch (const MatrixMarketError&) {
  }
}

void readAsSymmetric(const std::string& text) {
  std::istringstream in(text);
  try {
    const orv::models::SymmetricMatrix s = orv::models::readSymmetric(in, "fuzz.mtx");
    for (const orv::models::Triplet& t : s.lower)
      require(t.col >= 0 && t.col <= t.row && t.row < s.n);
  } catch (const MatrixMarketError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  readAsCoordinate(text);
  readAsArray(text);
  readAsSymmetric(text);
  return 0;
}
