// The modal-combination exports: own handles, no error text; a trap the caller enabled gives -1.
#include <ORVSparseSolver/exports.h>

#include <cstdint>
#include <utility>

#include "interface/frame.h"
#include "platform/platform.h"
#include "seismic/seismic.h"

namespace {

bool aligned16(const void* p) { return reinterpret_cast<uintptr_t>(p) % 16 == 0; }

int32_t createObject(void** handle, int32_t kind, int32_t numModes, const float* modeValues,
                     float damping) {
  if (handle == nullptr) return -1;
  orv::probeWrite(handle, sizeof *handle);
  if (kind == 2 && numModes > 0 && modeValues != nullptr) {
    orv::probeRead(modeValues, sizeof(float) * static_cast<size_t>(numModes));
  }
  auto object = orv::createMediaSismica(kind, numModes, modeValues, damping);
  if (object == nullptr) return -1;
  *handle = object.release();
  return 0;
}

// The 128-bit kernels fault on a misaligned block and the 256-bit ones would not: checking
// here gives the same -1 whichever the processor runs. in is read only when there are modes.
int32_t combine(void* handle, const float* in, float* out) {
  if (handle == nullptr || out == nullptr || !aligned16(out)) return -1;
  const auto* object = static_cast<const orv::MediaSismicaBase*>(handle);
  if (object->numModes() > 0 && (in == nullptr || !aligned16(in))) return -1;
  object->calc24(in, out);
  return 0;
}

// The variable is cleared before the object goes, so it is 0 on every way out.
int32_t destroyObject(void** handle) {
  if (handle == nullptr) return -1;
  orv::probeWrite(handle, sizeof *handle);
  delete static_cast<orv::MediaSismicaBase*>(std::exchange(*handle, nullptr));
  return 0;
}

}  // namespace

extern "C" {

ORV_API int32_t ORV_CALL exp_mediaSismica_init_v3(void** handle, int32_t kind, int32_t numModes,
                                                  const float* modeValues, float damping) {
  return orv::silentFrame(
      [&] { return createObject(handle, kind, numModes, modeValues, damping); });
}

ORV_API int32_t ORV_CALL exp_mediaSismica_calc24_v3(void* handle, const float* in, float* out) {
  return orv::silentFrame([&] { return combine(handle, in, out); });
}

ORV_API int32_t ORV_CALL exp_mediaSismica_free_v3(void** handle) {
  return orv::silentFrame([&] { return destroyObject(handle); });
}

}  // extern "C"
