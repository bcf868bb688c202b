// The failure the library's own code throws: the text the host reads from the last-error export,
// and its kind, so that code between the throw and the export barrier can tell the causes apart.
#pragma once

#include <exception>

namespace orv {

enum class FailureKind {
  badArgument,  // a value or pointer the caller passed cannot be used
  badState,     // the object is not in the state the call needs
  notSpd,       // the matrix is not positive definite or too ill-conditioned to go on
  outOfMemory,  // storage for the work could not be had
  dependency,   // a library the work relies on gave up
};

// text is a string with static storage: copying a failure never allocates.
class Failure : public std::exception {
 public:
  Failure(FailureKind kind, const char* text) noexcept : kind_(kind), text_(text) {}

  static Failure outOfMemory() noexcept {
    return Failure(FailureKind::outOfMemory, "Out of memory");
  }

  FailureKind kind() const noexcept { return kind_; }
  const char* what() const noexcept override { return text_; }

 private:
  FailureKind kind_;
  const char* text_;
};

}  // namespace orv
