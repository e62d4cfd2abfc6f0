// Work a fork's child does before it goes on: freeing locks that a thread of
// the parent held, dropping what belongs to the parent. Windows has no fork(),
// so there nothing is registered.
#pragma once

#ifndef _WIN32
#include <pthread.h>
#endif

namespace lumirex {

inline int AtForkInChild(void (*handler)()) {
#ifdef _WIN32
  (void)handler;
  return 0;
#else
  return pthread_atfork(nullptr, nullptr, handler);
#endif
}

}  // namespace lumirex
