#include "models/sink.h"

#include <algorithm>

namespace orv::models {

void TripletSink::add(int row, int col, double value, int whichMatrix) {
  entries_[whichMatrix == kStiffness ? 0 : 1].push_back({row, col, value});
}

const std::vector<Triplet>& TripletSink::entries(int whichMatrix) const {
  return entries_[whichMatrix == kStiffness ? 0 : 1];
}

ProductSink::ProductSink(std::span<const double> x, int whichMatrix)
    : x_(x.begin(), x.end()), y_(x.size(), 0.0), which_(whichMatrix == kStiffness ? 0 : 1) {}

void ProductSink::add(int row, int col, double value, int whichMatrix) {
  if ((whichMatrix == kStiffness ? 0 : 1) != which_) return;
  y_[row] += value * x_[col];
  if (row != col) y_[col] += value * x_[row];
}

std::vector<Triplet> sumDuplicates(std::vector<Triplet> entries) {
  std::sort(entries.begin(), entries.end(), [](const Triplet& a, const Triplet& b) {
    return a.col != b.col ? a.col < b.col : a.row < b.row;
  });
  std::vector<Triplet> summed;
  for (const Triplet& t : entries) {
    if (!summed.empty() && summed.back().row == t.row && summed.back().col == t.col) {
      summed.back().value += t.value;
    } else {
      summed.push_back(t);
    }
  }
  return summed;
}

}  // namespace orv::models
