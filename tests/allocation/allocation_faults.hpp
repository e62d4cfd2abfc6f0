// Fails allocations of the calling thread on purpose, as memory pressure
// would: the Nth one alone, or the Nth and every one after it. The program's
// own operator new and delete count every C++ allocation; outside the
// sanitizer builds malloc, calloc and realloc are replaced as well, so the C
// allocations of the library and of the libraries it uses count too. Under a
// sanitizer, whose allocator owns malloc, only operator new counts.
#pragma once

namespace allocfault {

enum class Mode { Off, Count, FailOne, FailFrom };

// Starts counting this thread's allocations; with FailOne the target-th
// fails, with FailFrom that one and every one after it.
void Arm(Mode mode, long target = 0) noexcept;

// Stops counting and returns how many allocations were made since Arm.
long Disarm() noexcept;

// Whether malloc and its kin are counted in this build.
bool CountsMalloc() noexcept;

}  // namespace allocfault
