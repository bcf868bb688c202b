// libFuzzer target: the Matrix Market reader on any text, through each of its three entry points.
// A damaged file must end in MatrixMarketError; any other exception, a crash or a sanitizer report
// is a fault.
#include <sstream>

#include "models/matrix_market.h"

using namespace orv::models;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (int reader = 0; reader < 3; ++reader) {
    std::istringstream in(text);
    try {
      if (reader == 0) findAsymmetry(readCoordinate(in, "fuzz.mtx"), 1e-12);
      if (reader == 1) readArray(in, "fuzz.mtx");
      if (reader == 2) readSymmetric(in, "fuzz.mtx");
    } catch (const MatrixMarketError&) {
    }
  }
  return 0;
}
