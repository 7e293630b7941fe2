// In a file of its own, so no caller sees the replaced functions inlined next to its own
// new and delete.
#include "heap_counter.h"

#include <cstdlib>
#include <new>

namespace {
// Statics, as the replaced allocation functions take no context.
bool counting = false;
long allocations = 0;
}  // namespace

namespace torvexan::testing {

void StartCountingAllocations() {
  allocations = 0;
  counting = true;
}

long StopCountingAllocations() {
  counting = false;
  return allocations;
}

}  // namespace torvexan::testing

void* operator new(std::size_t size) {
  if (counting) ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
