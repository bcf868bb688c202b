// Fill-reducing orderings of a symmetric matrix, chosen by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sparse/ccs_record.h"

namespace orv {

// Orders the symmetric matrix whose lower triangle a holds (entries stored above the diagonal
// count as their mirror images). Returns invPerm, n entries: invPerm[i] is the position of
// original row/column i in the factored ordering.
//
// Methods (exact, case-sensitive names; "" is taken as "metis_node"):
//   "metis_node", "metis", "metis_edge"  nested dissection (METIS_NodeND on the full graph)
//   "amdv1_1"                            approximate minimum degree
//   "tree"                               no-fill ordering when the graph is a forest, else "metis"
//   "random"                             a random permutation (the same one on every call)
//   "identity"                           invPerm[i] = i
// The fill-reducing methods are followed by a postorder of the elimination tree, which keeps the
// fill and makes the supernodes contiguous. "identity" and "random" are returned as they are.
//
// Returns an empty vector, after logging the reason, for the names of methods that are not
// available ("mmd", "amd", "md", "symamd", "colamd", "genmmd"), for unknown names, and when the
// ordering library fails. n = 0 gives an empty vector without a message. Memory that runs out,
// here or inside METIS or AMD, throws std::bad_alloc.
std::vector<int32_t> orderMatrix(const CcsRecord& a, const std::string& method);

}  // namespace orv
