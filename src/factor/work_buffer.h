// Uninitialised blocks of doubles for the solves. Large blocks come straight from the kernel with
// their pages populated at once: a block of a thousand right-hand sides is hundreds of megabytes,
// and faulting it in page by page from two solving threads cost twice the solve itself. (Huge
// pages were tried and are slower still: the kernel compacts memory to find them.) Smaller
// blocks come from the global operator new (nothrow form).
#pragma once

#include <cstddef>
#include <cstdint>

namespace orv {

// Work whose size is known asks first: when `bytes`, plus a reserve for the dependencies' own
// working storage, exceed what the process may still take, this logs "<what> needs <bytes> bytes of
// memory, <available> bytes are available" and throws the out-of-memory Failure, at once, instead
// of the work running out pages later or the kernel ending the host.
void requireMemory(const char* what, uint64_t bytes);

// Whether requireMemory(what, bytes) would pass, for choosing between ways of different size.
bool memoryFits(uint64_t bytes);

class WorkBuffer {
 public:
  WorkBuffer() = default;
  // Throws the out-of-memory Failure when the block cannot be had.
  explicit WorkBuffer(size_t count);
  ~WorkBuffer() { release(); }
  WorkBuffer(WorkBuffer&& other) noexcept;
  WorkBuffer& operator=(WorkBuffer&& other) noexcept;
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;

  double* get() const { return data_; }
  void release();

 private:
  double* data_ = nullptr;
  size_t bytes_ = 0;
  bool mapped_ = false;
};

}  // namespace orv
