// Two groups of independent subtrees of the supernodal elimination tree, for sweeps on two
// threads that each read half of L instead of all of it for half of the columns.
#include <algorithm>
#include <numeric>

#include "supernodal.h"

namespace orv {
namespace {

// The larger group may hold at most this share of the work of both.
constexpr double kBalance = 0.6;
// Above this share of all work in the common ancestors, a split gains too little: the top is
// swept in column halves, each thread reading all of it.
constexpr double kTopShare = 0.8;

struct Tree {
  std::vector<int64_t> parent;      // -1 for a root
  std::vector<int64_t> childStart;  // children of k: child[childStart[k] .. childStart[k+1]-1]
  std::vector<int64_t> child;
  std::vector<double> subtreeWork;  // entries of L in the subtree
};

Tree buildTree(const SupernodalView& f) {
  const auto nsuper = static_cast<size_t>(f.nsuper);
  Tree tree;
  std::vector<int64_t> owner(static_cast<size_t>(f.n));
  for (size_t k = 0; k < nsuper; ++k) {
    std::fill(owner.begin() + f.super[k], owner.begin() + f.super[k + 1], static_cast<int64_t>(k));
  }
  tree.parent.assign(nsuper, -1);
  tree.subtreeWork.assign(nsuper, 0.0);
  std::vector<int64_t> count(nsuper + 1, 0);
  for (size_t k = 0; k < nsuper; ++k) {
    const int64_t own = f.super[k + 1] - f.super[k];
    const int64_t rows = f.pi[k + 1] - f.pi[k];
    tree.subtreeWork[k] += static_cast<double>(own) * static_cast<double>(rows);
    // A parent's columns follow its children's, so its index is larger and its sum not yet used.
    if (rows > own) {
      const int64_t p = owner[static_cast<size_t>(f.s[f.pi[k] + own])];
      tree.parent[k] = p;
      tree.subtreeWork[static_cast<size_t>(p)] += tree.subtreeWork[k];
      ++count[static_cast<size_t>(p) + 1];
    }
  }
  std::partial_sum(count.begin(), count.end(), count.begin());
  tree.childStart = count;
  tree.child.resize(static_cast<size_t>(count.back()));
  for (size_t k = 0; k < nsuper; ++k) {
    const int64_t p = tree.parent[k];
    if (p >= 0) tree.child[static_cast<size_t>(count[static_cast<size_t>(p)]++)] = int64_t(k);
  }
  return tree;
}

// Largest first into the lighter bin; returns the bin of each candidate and the two loads.
std::vector<int> pack(const Tree& tree, const std::vector<int64_t>& candidates, double load[2]) {
  std::vector<size_t> order(candidates.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return tree.subtreeWork[static_cast<size_t>(candidates[a])] >
           tree.subtreeWork[static_cast<size_t>(candidates[b])];
  });
  std::vector<int> bin(candidates.size());
  load[0] = load[1] = 0.0;
  for (size_t i : order) {
    const int lighter = load[0] <= load[1] ? 0 : 1;
    bin[i] = lighter;
    load[lighter] += tree.subtreeWork[static_cast<size_t>(candidates[i])];
  }
  return bin;
}

}  // namespace

TreeSplit splitTree(const SupernodalView& f) {
  TreeSplit split;
  if (f.nsuper < 2) return split;
  const Tree tree = buildTree(f);
  std::vector<int64_t> candidates;  // roots of subtrees below the top
  double total = 0.0;
  for (int64_t k = 0; k < f.nsuper; ++k) {
    if (tree.parent[static_cast<size_t>(k)] < 0) {
      candidates.push_back(k);
      total += tree.subtreeWork[static_cast<size_t>(k)];
    }
  }
  std::vector<int64_t>& top = split.top;
  double topWork = 0.0;
  std::vector<int> bin;
  for (;;) {
    double load[2];
    bin = pack(tree, candidates, load);
    if (std::max(load[0], load[1]) <= kBalance * (load[0] + load[1])) break;
    // The heaviest subtree moves its root to the top and offers its children instead.
    const auto heaviest =
        std::max_element(candidates.begin(), candidates.end(), [&](int64_t a, int64_t b) {
          return tree.subtreeWork[static_cast<size_t>(a)] <
                 tree.subtreeWork[static_cast<size_t>(b)];
        });
    const auto h = static_cast<size_t>(*heaviest);
    const double childWork = std::accumulate(
        tree.child.begin() + tree.childStart[h], tree.child.begin() + tree.childStart[h + 1], 0.0,
        [&](double sum, int64_t c) { return sum + tree.subtreeWork[static_cast<size_t>(c)]; });
    topWork += tree.subtreeWork[h] - childWork;
    if (topWork > kTopShare * total || tree.childStart[h] == tree.childStart[h + 1]) return {};
    top.push_back(*heaviest);
    candidates.erase(heaviest);
    candidates.insert(candidates.end(), tree.child.begin() + tree.childStart[h],
                      tree.child.begin() + tree.childStart[h + 1]);
  }
  for (size_t i = 0; i < candidates.size(); ++i) {
    std::vector<int64_t>& group = split.group[bin[i]];
    std::vector<int64_t> stack{candidates[i]};
    while (!stack.empty()) {
      const auto k = static_cast<size_t>(stack.back());
      stack.pop_back();
      group.push_back(int64_t(k));
      stack.insert(stack.end(), tree.child.begin() + tree.childStart[k],
                   tree.child.begin() + tree.childStart[k + 1]);
    }
  }
  for (std::vector<int64_t>& group : split.group) std::sort(group.begin(), group.end());
  std::sort(top.begin(), top.end());
  split.topSlot.assign(static_cast<size_t>(f.n), -1);
  for (int64_t k : top) {
    for (int64_t c = f.super[k]; c < f.super[k + 1]; ++c) {
      split.topSlot[static_cast<size_t>(c)] = split.topColumns++;
    }
  }
  return split;
}

}  // namespace orv
