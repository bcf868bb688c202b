// Ordering, Cholesky factorisation with its checks, and the solution of the stiffness matrix.
#pragma once

#include "factor/permute.h"
#include "factor/spd_matrix.h"
