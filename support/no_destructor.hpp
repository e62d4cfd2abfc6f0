// A holder for process-wide state that is built on first use and never
// destroyed. A host may call exit() while one of its threads is inside a
// call, or join such threads from a static destructor of its own; state torn
// down by the library's static destructors would then be used after it is
// freed. The holder stays in static storage, so leak checkers still see
// everything it points to as reachable.
#pragma once

#include <utility>

namespace lumirex {

template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  constexpr explicit NoDestructor(Args&&... args) : value_(std::forward<Args>(args)...) {}
  // A union member is destroyed only when asked to; nobody asks.
  ~NoDestructor() {}
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;

  constexpr T& operator*() { return value_; }
  constexpr T* operator->() { return &value_; }

 private:
  union {
    T value_;
  };
};

}  // namespace lumirex
