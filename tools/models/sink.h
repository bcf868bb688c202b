// Destination of element contributions, and the sinks that need nothing but the standard library.
//
// A model hands every element matrix entry of its lower triangle (row >= col, 0-based DOF
// numbers, supports already eliminated) to a sink, one call per entry, exactly as a host program
// feeds the solver. The same position arrives many times, once from each element that shares it;
// summing them is the consumer's business.
#pragma once

#include <array>
#include <span>
#include <vector>

namespace orv::models {

// whichMatrix values: the stiffness K and the mass M (the library's A and B).
inline constexpr int kStiffness = 0;
inline constexpr int kMass = 1;

struct Triplet {
  int row;
  int col;
  double value;

  friend bool operator==(const Triplet&, const Triplet&) = default;
};

class AssemblySink {
 public:
  virtual ~AssemblySink() = default;
  // Adds value at (row, col) of the matrix selected by whichMatrix; row >= col.
  virtual void add(int row, int col, double value, int whichMatrix) = 0;
};

// Keeps every record as it arrives, one list per matrix (any whichMatrix other than 0 is M).
class TripletSink : public AssemblySink {
 public:
  void add(int row, int col, double value, int whichMatrix) override;
  const std::vector<Triplet>& entries(int whichMatrix) const;

 private:
  std::array<std::vector<Triplet>, 2> entries_;
};

// Accumulates y += A x for one matrix, reading each lower-triangle record as its symmetric pair.
class ProductSink : public AssemblySink {
 public:
  ProductSink(std::span<const double> x, int whichMatrix);
  void add(int row, int col, double value, int whichMatrix) override;
  const std::vector<double>& result() const { return y_; }

 private:
  std::vector<double> x_;
  std::vector<double> y_;
  int which_;
};

// The records ordered by column, then row, with the values of one position summed.
std::vector<Triplet> sumDuplicates(std::vector<Triplet> entries);

}  // namespace orv::models
