#include "allocation_faults.hpp"

#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ALLOCFAULT_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ALLOCFAULT_SANITIZED 1
#endif
#endif

namespace allocfault {
namespace {

// Plain data with constant initialisation: reading it allocates nothing.
struct State {
  Mode mode = Mode::Off;
  long count = 0;
  long target = 0;
};
constinit thread_local State state;

bool ShouldFail() noexcept {
  if (state.mode == Mode::Off) return false;
  ++state.count;
  if (state.mode == Mode::FailOne) return state.count == state.target;
  return state.mode == Mode::FailFrom && state.count >= state.target;
}

}  // namespace

void Arm(Mode mode, long target) noexcept {
  state = State{mode, 0, target};
}

long Disarm() noexcept {
  const long counted = state.count;
  state = State{};
  return counted;
}

}  // namespace allocfault

#ifndef ALLOCFAULT_SANITIZED
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);

void* malloc(std::size_t size) {
  return allocfault::ShouldFail() ? nullptr : __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  return allocfault::ShouldFail() ? nullptr : __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) {
  return size != 0 && allocfault::ShouldFail() ? nullptr : __libc_realloc(block, size);
}
void free(void* block) {
  __libc_free(block);
}
}  // extern "C"

namespace {
void* RawAllocate(std::size_t size) {
  return __libc_malloc(size == 0 ? 1 : size);
}
}  // namespace

bool allocfault::CountsMalloc() noexcept {
  return true;
}
#else
namespace {
void* RawAllocate(std::size_t size) {
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

bool allocfault::CountsMalloc() noexcept {
  return false;
}
#endif

namespace {
void* Allocate(std::size_t size) {
  if (allocfault::ShouldFail()) throw std::bad_alloc();
  void* block = RawAllocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  if (allocfault::ShouldFail()) throw std::bad_alloc();
  void* block = nullptr;
  if (posix_memalign(&block, static_cast<std::size_t>(alignment), size == 0 ? 1 : size) != 0) {
    throw std::bad_alloc();
  }
  return block;
}
}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AllocateAligned(size, alignment);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  std::free(block);
}
