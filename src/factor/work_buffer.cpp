#include "factor/work_buffer.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "log/failure.h"
#include "log/log.h"

namespace orv {
namespace {

constexpr size_t kMapThreshold = size_t{8} << 20;

constexpr uint64_t kUnlimited = std::numeric_limits<uint64_t>::max();

// The number after key in a "key value" line of a /proc file, times scale; kUnlimited when it is
// not there.
uint64_t procField(const char* path, const std::string& key, uint64_t scale) {
  std::ifstream in(path);
  std::string word;
  while (in >> word) {
    if (word == key) {
      uint64_t value = 0;
      if (in >> value) return value * scale;
      break;
    }
  }
  return kUnlimited;
}

uint64_t readNumber(const std::string& path) {
  std::ifstream in(path);
  uint64_t value = 0;
  return (in >> value) ? value : kUnlimited;
}

// Room under the address-space limit: the limit less the address space already taken.
uint64_t addressSpaceRoom() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
  std::ifstream statm("/proc/self/statm");
  uint64_t pages = 0;
  if (!(statm >> pages)) return kUnlimited;
  const uint64_t used = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

// The limit in one file less the use in another; kUnlimited when either cannot be read.
uint64_t room(const std::string& limitFile, const std::string& usedFile) {
  const uint64_t limit = readNumber(limitFile);
  const uint64_t used = readNumber(usedFile);
  if (limit == kUnlimited || used == kUnlimited) return kUnlimited;
  return limit > used ? limit - used : 0;
}

// Room under the memory limit of the process's control group (version 2, then version 1).
uint64_t controlGroupRoom() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("0::", 0) == 0) {
      const std::string dir = "/sys/fs/cgroup" + line.substr(3);
      return room(dir + "/memory.max", dir + "/memory.current");
    }
  }
  return room("/sys/fs/cgroup/memory/memory.limit_in_bytes",
              "/sys/fs/cgroup/memory/memory.usage_in_bytes");
}

// Bytes the process may still take: the smallest of the physical memory available, the room left
// under its address-space limit and under its control group's memory limit; what cannot be read
// counts as no limit.
uint64_t availableMemory() {
  return std::min(
      {procField("/proc/meminfo", "MemAvailable:", 1024), addressSpaceRoom(), controlGroupRoom()});
}

// What the dependencies take for themselves besides (BLAS buffers, thread stacks): they do not say,
// and without it they stall or abort where the work itself would just fit.
constexpr uint64_t kDependencyReserve = uint64_t{64} << 20;

}  // namespace

bool memoryFits(uint64_t bytes) { return bytes + kDependencyReserve <= availableMemory(); }

void requireMemory(const char* what, uint64_t bytes) {
  bytes += kDependencyReserve;
  const uint64_t available = availableMemory();
  if (bytes <= available) return;
  taucs_printf("%s needs %llu bytes of memory, %llu bytes are available\n", what,
               static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(available));
  throw Failure::outOfMemory();
}

WorkBuffer::WorkBuffer(size_t count) {
  if (count > SIZE_MAX / sizeof(double)) throw Failure::outOfMemory();
  bytes_ = count * sizeof(double);
  if (bytes_ >= kMapThreshold) {
    void* block = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (block == MAP_FAILED) throw Failure::outOfMemory();
    data_ = static_cast<double*>(block);
    mapped_ = true;
    return;
  }
  // Through operator new, so that a host's replacement of it sees these blocks too.
  data_ = static_cast<double*>(::operator new(bytes_ > 0 ? bytes_ : 1, std::nothrow));
  if (data_ == nullptr) throw Failure::outOfMemory();
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
