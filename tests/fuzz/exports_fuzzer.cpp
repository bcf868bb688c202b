// libFuzzer target: a sequence of export calls decoded from the input, on two matrix objects and
// three combination objects. Every argument comes from the input: indices and values (NaN and
// infinities included), ordering names, descriptor shapes, counts, check codes and settings, file
// names (a scratch file, a missing folder or null). Host-side buffers always match what the
// descriptors and counts say, so anything the sanitizers report is the library's own.
//
// Sizes are kept small (orders up to 48, descriptors up to 64 x 8 doubles, 64 modes, a refinement
// budget up to 4 passes) so that one input runs in milliseconds.
#include <ORVSparseSolver/exports.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return position_ >= size_; }

  uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }

  int32_t int32() {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = (v << 8) | byte();
    return static_cast<int32_t>(v);
  }

  // Mostly small, sometimes any 32-bit value.
  int32_t index(int32_t n) {
    const uint8_t b = byte();
    if (b == 0xFF) return int32();
    return static_cast<int32_t>(b % ((n > 0 ? n : 0) + 4)) - 2;
  }

  double real() {
    static const double kSpecial[] = {0.0,
                                      -0.0,
                                      1.0,
                                      -1.0,
                                      4.0,
                                      1e-300,
                                      1e300,
                                      std::numeric_limits<double>::denorm_min(),
                                      std::numeric_limits<double>::max(),
                                      std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::quiet_NaN()};
    const uint8_t b = byte();
    if (b < 2 * std::size(kSpecial)) return kSpecial[b % std::size(kSpecial)];
    if (b < 0xF0) return static_cast<double>(b) / 8.0 - 4.0;
    uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits = (bits << 8) | byte();
    double v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// A scratch folder for the log and the matrix dumps, made once per process.
const std::string& scratchFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/orv-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made != nullptr ? made : "/tmp");
  }();
  return folder;
}

const char* fileName(Input& in, const std::string& scratch, const std::string& missing) {
  switch (in.byte() % 4) {
    case 0:
      return nullptr;
    case 1:
      return missing.c_str();
    case 2:
      return "";
    default:
      return scratch.c_str();
  }
}

// A descriptor whose data really hold what its bounds say: mostly the shape the call wants
// (rows and columns from the hints), sometimes any other.
struct Descriptor {
  SAFEARRAY header{};
  SAFEARRAYBOUND second{};
  std::vector<double> data;
  SAFEARRAY* pointer = &header;

  void decode(Input& in, int32_t rowsHint, int32_t columnsHint) {
    const auto clamp = [](int32_t v) {
      return static_cast<uint32_t>(v < 0 ? 0 : (v > 64 ? 64 : v));
    };
    header.cDims = static_cast<uint16_t>(in.byte() % 4);
    const uint8_t rowsCode = in.byte();
    const uint32_t rows = rowsCode < 200 ? clamp(rowsHint) : rowsCode % 65;
    const uint8_t columnsCode = in.byte();
    const uint32_t columns = columnsCode < 128 ? clamp(columnsHint) : columnsCode % 9;
    header.rgsabound[0].cElements = header.cDims == 1 ? rows : columns;
    second.cElements = rows;
    const size_t count = header.cDims == 1 ? rows : static_cast<size_t>(rows) * columns;
    data.assign(count + 1, 0.0);
    for (double& v : data) v = in.byte() < 250 ? static_cast<double>(in.byte()) - 100.0 : in.real();
    header.pvData = in.byte() == 0 ? nullptr : data.data();
  }

  SAFEARRAY** argument(Input& in) {
    const uint8_t b = in.byte();
    if (b == 0) return nullptr;
    if (b == 1) {
      static SAFEARRAY* none = nullptr;
      none = nullptr;
      return &none;
    }
    return &pointer;
  }
};

// Values beyond the range of float become infinities, as the conversion itself may not be
// relied on for them.
float toFloat(double v) {
  if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);
}

const char* orderingName(Input& in) {
  static const char* const kNames[] = {"metis_node", "metis",  "metis_edge", "amdv1_1",
                                       "tree",       "random", "identity",   "",
                                       "mmd",        "genmmd", "METIS",      "colamd"};
  const uint8_t b = in.byte();
  if (b == 0xFF) return nullptr;
  return kNames[b % std::size(kNames)];
}

struct alignas(16) Blocks {
  float value[24 * 64 + 4];
};

void runOnce(Input& in) {
  const std::string scratch = scratchFolder() + "/file.txt";
  const std::string logFile = scratchFolder() + "/run.log";
  const std::string missing = scratchFolder() + "/missing/file.txt";
  symRealSPDMatrixLinSys* objects[2] = {nullptr, nullptr};
  int32_t orders[2] = {0, 0};
  void* modal[3] = {nullptr, nullptr, nullptr};
  int32_t modalModes[3] = {0, 0, 0};
  static Blocks blocks;
  static Blocks out;

  for (int steps = 0; !in.empty() && steps < 400; ++steps) {
    const uint8_t op = in.byte();
    const int slot = op & 1;
    symRealSPDMatrixLinSys*& obj = objects[slot];
    // Now and then a call goes to no object at all.
    symRealSPDMatrixLinSys* target = (op & 0x80) != 0 ? nullptr : obj;
    const int32_t n = orders[slot];
    switch ((op >> 1) % 19) {
      case 0: {
        const int32_t order = static_cast<int32_t>(in.byte() % 52) - 4;
        const int32_t which = in.byte() % 3;
        if (exp_initMatrix_v3(&obj, order, which) == 0 && which == 0) orders[slot] = order;
        break;
      }
      case 1:
        exp_deleteMatrix_v3(&obj);
        orders[slot] = 0;
        break;
      case 2:
      case 3: {
        const int32_t row = in.index(n);
        const int32_t column = in.index(n);
        const double value = in.real();
        const int32_t which = in.byte() % 2;
        if ((op >> 1) % 19 == 2) {
          exp_incrMatrixElem_v3(target, row, column, value, which);
        } else {
          exp_setMatrixElem_v3(target, row, column, value, which);
        }
        break;
      }
      case 4: {
        // A run of records along the diagonal and its neighbours, which makes factorable
        // matrices likely.
        const int32_t which = in.byte() % 2;
        const double scale = in.real();
        for (int32_t i = 0; i < n; ++i) {
          exp_incrMatrixElem_v3(target, i, i, 4.0 * scale, which);
          if (i > 0) exp_incrMatrixElem_v3(target, i, i - 1, -scale, which);
        }
        break;
      }
      case 5:
        exp_createCCS_v3(target, in.byte() % 3);
        break;
      case 6:
        exp_factor_v3(target, orderingName(in));
        break;
      case 7: {
        Descriptor x;
        Descriptor b;
        const int32_t columns = in.byte() % 9;
        x.decode(in, n, columns);
        b.decode(in, n, columns);
        exp_solve_v3(target, x.argument(in), b.argument(in));
        break;
      }
      case 8: {
        const uint8_t c = in.byte();
        const int32_t count = c == 0xFF ? in.int32() : static_cast<int32_t>(c % 24) - 2;
        Descriptor eig;
        Descriptor eiv;
        eig.decode(in, count, 1);
        eiv.decode(in, n, count);
        // The descriptors' own bounds say how much they hold; count only has to match them for
        // the call to succeed.
        int32_t found = 0;
        exp_eigenSystem_v3(target, count, eig.argument(in), eiv.argument(in),
                           in.byte() == 0 ? nullptr : &found);
        break;
      }
      case 9: {
        static const int32_t kCodes[] = {1, 2, 4, 8, 16, 0, 3, 32, -1};
        const uint8_t c = in.byte();
        const int32_t code = c == 0xFF ? in.int32() : kCodes[c % std::size(kCodes)];
        int32_t enable = static_cast<int32_t>(in.byte() % 4) - 1;
        double value = in.real();
        // The refinement budget is the host's to choose; a huge one only takes long.
        int32_t ivalue = code == 16 ? static_cast<int32_t>(in.byte() % 7) - 2 : in.index(n);
        const uint8_t nulls = in.byte();
        exp_checksSettings_v3(target, (nulls & 1) != 0 ? nullptr : &enable,
                              (nulls & 2) != 0 ? nullptr : &value,
                              (nulls & 4) != 0 ? nullptr : &ivalue, code);
        break;
      }
      case 10: {
        std::vector<double> x(static_cast<size_t>(n > 0 ? n : 0) + 1);
        std::vector<double> y(x.size());
        for (double& v : x) v = in.real();
        const uint8_t nulls = in.byte();
        exp_multVector_v3(target, (nulls & 1) != 0 ? nullptr : x.data(),
                          (nulls & 2) != 0 ? nullptr : y.data(), in.byte() % 2);
        break;
      }
      case 11: {
        double maxDiag = 0.0;
        exp_getMaxDiag_v3(target, in.byte() == 0 ? nullptr : &maxDiag);
        break;
      }
      case 12:
        exp_writeMatrix_v3(target, fileName(in, scratch, missing), in.byte() % 2);
        break;
      case 13:
        SysFreeString(exp_getLastError_v3(target));
        break;
      case 14:
        exp_logDestination_v3(target, fileName(in, logFile, missing));
        break;
      case 15: {
        const int m = op % 3;
        exp_mediaSismica_free_v3(&modal[m]);
        const int32_t kind = static_cast<int32_t>(in.byte() % 6) - 1;
        const int32_t modes = static_cast<int32_t>(in.byte() % 68) - 3;
        std::vector<float> values(static_cast<size_t>(modes > 0 ? modes : 0));
        for (float& v : values) v = toFloat(in.real());
        const float damping = toFloat(in.real());
        if (exp_mediaSismica_init_v3(&modal[m], kind, modes,
                                     in.byte() == 0 ? nullptr : values.data(), damping) == 0) {
          modalModes[m] = modes;
        }
        break;
      }
      case 16: {
        const int m = op % 3;
        for (int k = 0; k < 24 * (modalModes[m] > 0 ? modalModes[m] : 0); ++k) {
          blocks.value[k] = toFloat(in.real());
        }
        for (float& v : out.value) v = static_cast<float>(in.byte());
        exp_mediaSismica_calc24_v3(modal[m], blocks.value, out.value);
        break;
      }
      case 17:
        exp_mediaSismica_free_v3(&modal[op % 3]);
        modalModes[op % 3] = 0;
        break;
      default: {
        const int32_t order = static_cast<int32_t>(in.byte() % 16) - 2;
        const size_t size = order > 0 ? static_cast<size_t>(order) : 0;
        std::vector<double> a(size * (size + 1) / 2 + 1);
        std::vector<double> b(a.size());
        std::vector<double> bp(a.size());
        std::vector<double> w(size + 1);
        std::vector<double> z(size * size + 1);
        for (size_t i = 0; i < a.size(); ++i) {
          a[i] = in.real();
          b[i] = in.real();
        }
        const uint8_t nulls = in.byte();
        const int32_t ready = in.byte() % 2;
        const double* source =
            (nulls & 1) != 0 ? nullptr : ((nulls & 32) != 0 ? bp.data() : b.data());
        exp_LAPACK_DSPGVD_v3(order, ready, (nulls & 2) != 0 ? nullptr : a.data(), source,
                             (nulls & 4) != 0 ? nullptr : bp.data(),
                             (nulls & 8) != 0 ? nullptr : w.data(),
                             (nulls & 16) != 0 ? nullptr : z.data());
        break;
      }
    }
  }
  for (symRealSPDMatrixLinSys*& obj : objects) exp_deleteMatrix_v3(&obj);
  for (void*& m : modal) exp_mediaSismica_free_v3(&m);
  exp_logDestination_v3(nullptr, "");
  SysFreeString(exp_getLastError_v3(nullptr));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  runOnce(in);
  return 0;
}
