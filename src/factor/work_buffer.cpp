#include "factor/work_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <utility>

namespace orv {
namespace {
constexpr size_t kMapThreshold = size_t{8} << 20;
}  // namespace

WorkBuffer::WorkBuffer(size_t count) {
  if (count > SIZE_MAX / sizeof(double)) throw "Out of memory";
  bytes_ = count * sizeof(double);
  if (bytes_ >= kMapThreshold) {
    void* block = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (block == MAP_FAILED) throw "Out of memory";
    data_ = static_cast<double*>(block);
    mapped_ = true;
    return;
  }
  // Through operator new, so that a host's replacement of it sees these blocks too.
  data_ = static_cast<double*>(::operator new(bytes_ > 0 ? bytes_ : 1, std::nothrow));
  if (data_ == nullptr) throw "Out of memory";
}

WorkBuffer::WorkBuffer(WorkBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      bytes_(std::exchange(other.bytes_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

WorkBuffer& WorkBuffer::operator=(WorkBuffer&& other) noexcept {
  if (this != &other) {
    release();
    data_ = std::exchange(other.data_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
    mapped_ = std::exchange(other.mapped_, false);
  }
  return *this;
}

void WorkBuffer::release() {
  if (data_ == nullptr) return;
  if (mapped_) {
    munmap(data_, bytes_);
  } else {
    ::operator delete(data_);
  }
  data_ = nullptr;
  bytes_ = 0;
  mapped_ = false;
}

}  // namespace orv
