// orvsolve model: a generated structure written as a pair of Matrix Market files.
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "building.h"
#include "commands.h"
#include "models/models.h"
#include "output.h"
#include "report.h"

namespace orv::cli {

const char* const kModelUsage =
    "usage: orvsolve model frame [--size STOREYSxBAYSXxBAYSY] [--write K.mtx M.mtx]\n"
    "       orvsolve model solid [--size NXxNYxNZ] [--write K.mtx M.mtx]\n"
    "\n"
    "Generates a structure element by element and writes its stiffness K and mass M as\n"
    "Matrix Market coordinate files (real symmetric, lower triangle, values exact to the last\n"
    "bit), ready for 'orvsolve solve' and 'orvsolve eigen'. Supports are eliminated.\n"
    "\n"
    "  frame   the built-in building frame (default 6x4x3: 6 storeys of 3.2 m, 4 bays of 6 m\n"
    "          along X, 3 bays of 5 m along Y, concrete 0.5 x 0.5 m columns and 0.3 x 0.6 m\n"
    "          beams, 0.8 t/m2 floor mass); 6 equations per node above the fixed base\n"
    "  solid   a 10 x 1 x 1 m concrete block of 8-node bricks clamped at x = 0 (default\n"
    "          20x2x2 elements); 3 equations per node\n"
    "  --size AxBxC  the three counts; the model may have at most 100000 equations\n"
    "  --write K.mtx M.mtx  the two files to write (both or neither: through temporary files in\n"
    "          their folders); without it only the sizes are shown\n";

namespace {

// The models are built in memory, element records and all, and written as text: beyond this the
// memory and the time they take are out of proportion to a generated test problem.
constexpr int kMaxEquations = 100000;

struct Size {
  int a;
  int b;
  int c;
};

Size parseSize(const std::string& text) {
  const std::string needs = "--size needs three positive counts as AxBxC, not '" + text + "'";
  int counts[3] = {};
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? text.find('x', start) : text.size();
    if (end == std::string::npos) throw UsageError(needs);
    const std::string word = text.substr(start, end - start);
    if (word.find_first_not_of("0123456789") != std::string::npos ||
        word.find_first_not_of('0') == std::string::npos) {
      throw UsageError(needs);
    }
    counts[i] = parseCount("--size", word, 1);
    start = end + 1;
  }
  return {counts[0], counts[1], counts[2]};
}

// Equations of a frame (6 per node above the fixed base) and of a solid clamped at x = 0 (3 per
// node off that face), in 64 bits, before anything is built.
void requireModelSize(const std::string& kind, const Size& s, const std::string& sizeText) {
  // In floating point: three counts near INT_MAX overflow even 64 bits.
  const double equations = (kind == "frame" ? 6.0 : 3.0) * s.a * (s.b + 1.0) * (s.c + 1.0);
  if (equations > kMaxEquations) {
    char count[32];
    std::snprintf(count, sizeof count, "%.0f", equations);
    throw UsageError("--size " + sizeText + ": a " + kind + " of " + count +
                     " equations, more than the " + std::to_string(kMaxEquations) +
                     " orvsolve generates; choose smaller counts");
  }
}

std::string frameText(const models::FrameParameters& p) {
  char text[256];
  std::snprintf(
      text, sizeof text,
      "building frame: %d storey%s of %.2f m, %d x %d bays of %.2f m x %.2f m, floor mass "
      "%.0f kg/m2",
      p.storeys, p.storeys == 1 ? "" : "s", p.storeyHeight, p.baysX, p.baysY, p.bayX, p.bayY,
      p.floorMass);
  return text;
}

std::string solidText(const models::BrickParameters& p) {
  char text[256];
  std::snprintf(text, sizeof text,
                "solid block: %g x %g x %g m of %d x %d x %d 8-node bricks, clamped at x = 0", p.lx,
                p.ly, p.lz, p.nx, p.ny, p.nz);
  return text;
}

}  // namespace

int runModel(Arguments& args) {
  const std::optional<std::string> sizeText = args.value("--size");
  const std::optional<std::vector<std::string>> files = args.values("--write", 2);
  const std::string kind = args.positionals(1, 1).front();
  if (kind != "frame" && kind != "solid") {
    throw UsageError("unknown model '" + kind + "' (frame or solid)");
  }
  std::optional<Size> size;
  if (sizeText) {
    size = parseSize(*sizeText);
    requireModelSize(kind, *size, *sizeText);
  }
  std::vector<std::unique_ptr<OutputFile>> outputs;
  if (files) {
    requireDistinct({}, {{"--write K", (*files)[0]}, {"--write M", (*files)[1]}});
    for (const std::string& file : *files) outputs.push_back(std::make_unique<OutputFile>(file));
  }
  std::unique_ptr<models::Model> model;
  std::string description;
  try {
    if (kind == "frame") {
      models::FrameParameters p = referenceBuilding();
      if (size) {
        p.storeys = size->a;
        p.baysX = size->b;
        p.baysY = size->c;
      }
      model = std::make_unique<models::BuildingFrame>(p);
      description = frameText(p);
    } else {
      models::BrickParameters p;
      if (size) {
        p.nx = size->a;
        p.ny = size->b;
        p.nz = size->c;
      }
      model = std::make_unique<models::BrickSolid>(p);
      description = solidText(p);
    }
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("--size: ") + e.what());
  }

  models::TripletSink sink;
  model->assemble(sink);
  const std::vector<models::Triplet> k = models::sumDuplicates(sink.entries(models::kStiffness));
  const std::vector<models::Triplet> m = models::sumDuplicates(sink.entries(models::kMass));
  std::printf("%s\n", description.c_str());
  std::printf("  equations       %d\n", model->size());
  std::printf("  stored entries  K %zu, M %zu (lower triangle)\n", k.size(), m.size());
  if (files) {
    std::fflush(stdout);
    outputs[0]->write([&](const std::string& path) {
      models::writeSymmetric(path, model->size(), k, "stiffness K of the " + description);
    });
    outputs[1]->write([&](const std::string& path) {
      models::writeSymmetric(path, model->size(), m, "mass M of the " + description);
    });
    for (const std::unique_ptr<OutputFile>& output : outputs) output->publish();
    std::printf("  written         %s, %s\n", (*files)[0].c_str(), (*files)[1].c_str());
  }
  return 0;
}

}  // namespace orv::cli
