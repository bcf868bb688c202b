// Structural models generated element by element, and Matrix Market files.
#pragma once

#include "models/beam3d.h"
#include "models/frame.h"
#include "models/hex8.h"
#include "models/matrix_market.h"
#include "models/model.h"
#include "models/sink.h"
