/* Preloaded into a program, makes one allocation of the whole process fail on demand, whoever
   asks for it (the library, CHOLMOD, METIS, OpenBLAS, the OpenMP runtime, the C library): after
   orv_fail_arm(k), the k-th call of malloc, calloc, realloc or an aligned allocation, counted over
   all threads, returns null. orv_fail_calls() tells how many calls were counted since arming. */
#include <errno.h>
#include <stddef.h>
#include <stdint.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* block, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);

static long failAt = -1;
static long calls = 0;
static int armed = 0;

__attribute__((visibility("default"))) void orv_fail_arm(long k) {
  __atomic_store_n(&calls, 0, __ATOMIC_SEQ_CST);
  failAt = k;
  __atomic_store_n(&armed, 1, __ATOMIC_SEQ_CST);
}

__attribute__((visibility("default"))) long orv_fail_calls(void) {
  return __atomic_load_n(&calls, __ATOMIC_SEQ_CST);
}

static int failsNow(void) {
  if (!__atomic_load_n(&armed, __ATOMIC_RELAXED)) return 0;
  return __atomic_fetch_add(&calls, 1, __ATOMIC_SEQ_CST) == failAt;
}

__attribute__((visibility("default"))) void* malloc(size_t size) {
  return failsNow() ? NULL : __libc_malloc(size);
}

__attribute__((visibility("default"))) void* calloc(size_t count, size_t size) {
  return failsNow() ? NULL : __libc_calloc(count, size);
}

__attribute__((visibility("default"))) void* realloc(void* block, size_t size) {
  return failsNow() ? NULL : __libc_realloc(block, size);
}

__attribute__((visibility("default"))) void* memalign(size_t alignment, size_t size) {
  return failsNow() ? NULL : __libc_memalign(alignment, size);
}

__attribute__((visibility("default"))) void* aligned_alloc(size_t alignment, size_t size) {
  return memalign(alignment, size);
}

__attribute__((visibility("default"))) int posix_memalign(void** block, size_t alignment,
                                                          size_t size) {
  void* p = memalign(alignment, size);
  if (p == NULL) return ENOMEM;
  *block = p;
  return 0;
}
