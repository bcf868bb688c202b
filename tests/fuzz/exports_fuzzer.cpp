// libFuzzer target: export calls decoded from the input, on one linear system and one combination
// object. Each step reads a call, two small integers (indices, orders, counts, choices of null),
// a matrix choice and a value (NaN, infinities and extremes included). Host buffers always hold
// what the arguments say they hold, so anything a sanitizer reports is the library's own.
#include <ORVSparseSolver/exports.h>

#include <cmath>

namespace {

const uint8_t *input, *end;
uint8_t byte() { return input < end ? *input++ : 0; }
const double kSpecial[] = {0.0, -0.0, 1e-310, 1e300, 1.7e308, INFINITY, -INFINITY, NAN};
double real() { return byte() % 2 == 0 ? kSpecial[byte() % 8] : byte() / 16.0 - 4.0; }

symRealSPDMatrixLinSys *linear, *target;
void* modal;
int32_t i, j, which;
double value, m[5][48 * 48];  // orders stay below 48, so that one input runs in milliseconds
alignas(16) float blocks[24 * 50], out[32];
// Relative names: the files go to the working folder.
const char* const kFiles[] = {"fuzz-file.txt", "", "missing-folder/file.txt", nullptr};
const int32_t kChecks[] = {1, 2, 4, 8, 16, 0, 3, -1};
const char* const kOrderings[] = {"metis_node", "metis_edge", "amdv1_1", "tree", "identity", ""};

// A descriptor of 0 to 2 dimensions, up to 51 x 51 doubles, whose data hold that many.
struct Array {
  SAFEARRAY** decode() {
    header = {uint16_t(byte() % 3), 0, 8, 0, byte() == 0 ? nullptr : data, {{byte() % 52u, 0}}};
    second.cElements = byte() % 52;
    return byte() == 0 ? nullptr : &pointer;
  }
  SAFEARRAY header;
  SAFEARRAYBOUND second;  // the second bound follows the first in memory
  double data[52 * 52];
  SAFEARRAY* pointer = &header;
} solution, right, values, vectors;

void (*const kCalls[])() = {
    [] { exp_initMatrix_v3(&linear, i, which); },
    [] { exp_deleteMatrix_v3(&linear); },
    [] { exp_incrMatrixElem_v3(target, i, j, value, which); },
    [] { exp_setMatrixElem_v3(target, i, j, value, which); },
    [] { exp_createCCS_v3(target, which); },
    [] { exp_factor_v3(target, i < 0 ? nullptr : kOrderings[i % 6]); },
    [] { exp_solve_v3(target, solution.decode(), right.decode()); },
    [] { exp_eigenSystem_v3(target, i, values.decode(), vectors.decode(), &j); },
    [] { exp_checksSettings_v3(target, &which, &value, i < 0 ? nullptr : &j, kChecks[j & 7]); },
    [] { exp_multVector_v3(target, m[0], i < 0 ? nullptr : m[1], which); },
    [] { exp_getMaxDiag_v3(target, i < 0 ? nullptr : &value); },
    [] { exp_writeMatrix_v3(target, kFiles[j & 3], which); },
    [] { SysFreeString(exp_getLastError_v3(target)); },
    [] { exp_logDestination_v3(target, kFiles[j & 3]); },
    [] { exp_mediaSismica_free_v3(&modal); },
    [] {
      if (!modal) exp_mediaSismica_init_v3(&modal, j % 6, i, blocks + which, 0.05f);
    },
    [] { exp_mediaSismica_calc24_v3(modal, blocks + (i < 0), out + which); },
    [] { exp_LAPACK_DSPGVD_v3(i, which, m[0], j < 0 ? nullptr : m[j & 1], m[2], m[3], m[4]); },
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  input = data;
  end = data + size;
  for (int step = 0; input < end && step < 400; ++step) {
    const uint8_t call = byte();
    target = call & 0x80 ? nullptr : linear;  // now and then a call to no object
    i = byte() % 52 - 4;
    j = byte() % 20 - 2;
    which = byte() % 3;
    value = real();
    m[0][i + 4] = blocks[j + 2] = float(i) / 4;  // values for the dense exports and the combination
    kCalls[call % (sizeof kCalls / sizeof *kCalls)]();
  }
  exp_deleteMatrix_v3(&linear);
  exp_mediaSismica_free_v3(&modal);
  exp_logDestination_v3(nullptr, "");
  return 0;
}
