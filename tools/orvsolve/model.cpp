// orvsolve model: a generated structure written as a pair of Matrix Market files.
#include <cstdio>
#include <memory>
#include <sstream>

#include "building.h"
#include "commands.h"
#include "models/models.h"
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
    "  --size AxBxC  the three counts\n"
    "  --write K.mtx M.mtx  the two files to write; without it only the sizes are shown\n";

namespace {

struct Size {
  int a;
  int b;
  int c;
};

Size parseSize(const std::string& text) {
  Size s{};
  char x1 = 0, x2 = 0;
  std::istringstream in(text);
  if (!(in >> s.a >> x1 >> s.b >> x2 >> s.c) || x1 != 'x' || x2 != 'x' || !in.eof() || s.a < 1 ||
      s.b < 1 || s.c < 1) {
    throw UsageError("--size needs three positive counts as AxBxC, not '" + text + "'");
  }
  return s;
}

std::string frameText(const models::FrameParameters& p) {
  char text[256];
  std::snprintf(text, sizeof text,
                "building frame: %d storeys of %.2f m, %d x %d bays of %.2f m x %.2f m, floor mass "
                "%.0f kg/m2",
                p.storeys, p.storeyHeight, p.baysX, p.baysY, p.bayX, p.bayY, p.floorMass);
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
  std::unique_ptr<models::Model> model;
  std::string description;
  try {
    if (kind == "frame") {
      models::FrameParameters p = referenceBuilding();
      if (sizeText) {
        const Size s = parseSize(*sizeText);
        p.storeys = s.a;
        p.baysX = s.b;
        p.baysY = s.c;
      }
      model = std::make_unique<models::BuildingFrame>(p);
      description = frameText(p);
    } else if (kind == "solid") {
      models::BrickParameters p;
      if (sizeText) {
        const Size s = parseSize(*sizeText);
        p.nx = s.a;
        p.ny = s.b;
        p.nz = s.c;
      }
      model = std::make_unique<models::BrickSolid>(p);
      description = solidText(p);
    } else {
      throw UsageError("unknown model '" + kind + "' (frame or solid)");
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
    try {
      models::writeSymmetric((*files)[0], model->size(), k, "stiffness K of the " + description);
      models::writeSymmetric((*files)[1], model->size(), m, "mass M of the " + description);
    } catch (const models::MatrixMarketError& e) {
      throw InputError(e.what());
    }
    std::printf("  written         %s, %s\n", (*files)[0].c_str(), (*files)[1].c_str());
  }
  return 0;
}

}  // namespace orv::cli
