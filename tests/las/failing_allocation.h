// Makes a chosen malloc or realloc of the library fail. A test binary that
// includes this header (in one source file) is linked with -Wl,--wrap=malloc and
// -Wl,--wrap=realloc, so the library's calls come here; the C++ runtime's own
// allocations are not wrapped.
#ifndef MORROWTIDE_TESTS_LAS_FAILING_ALLOCATION_H
#define MORROWTIDE_TESTS_LAS_FAILING_ALLOCATION_H

#include <cstddef>

// Allocations that still succeed before one fails; -1: none fails. After the
// failure every later allocation fails too, until the test sets it again.
static int g_allocations_before_failure = -1;

extern "C" void* __real_malloc(size_t size);
extern "C" void* __real_realloc(void* p, size_t size);

static bool allocationFailsNow() {
  if (g_allocations_before_failure == 0) return true;
  if (g_allocations_before_failure > 0) g_allocations_before_failure--;
  return false;
}
extern "C" void* __wrap_malloc(size_t size) {
  return allocationFailsNow() ? nullptr : __real_malloc(size);
}
extern "C" void* __wrap_realloc(void* p, size_t size) {
  return allocationFailsNow() ? nullptr : __real_realloc(p, size);
}

#endif  // MORROWTIDE_TESTS_LAS_FAILING_ALLOCATION_H
