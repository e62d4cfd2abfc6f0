// A thread of the library's own (the forwarder's, the janitor's): the part
// that differs between Linux and Windows. It has std::thread's interface, so
// it stands in for one.
//
// On Linux it is std::thread: the exit handler and Finalize join it, and a
// library unloaded with it running is the host's fault that dlclose cannot
// undo.
//
// On Windows a host may call FreeLibrary without Finalize, and nothing of the
// library may stop or wait for a thread from DllMain (the loader lock is
// held there, and the thread's end needs it). So the thread holds a
// reference to the module it runs in (lumirex.dll, or the program it is
// linked into) from before it starts, and gives it back as the very last
// thing it does (FreeLibraryAndExitThread): a FreeLibrary of the host's
// unloads the library only once the thread has left its code. Its owners
// join it once they have seen its loop end; what remains of it then is its
// exit, which that reference covers, so join() only lets the handle go:
// waiting for the exit would never end under a loader lock the caller holds
// (a host that calls Finalize from its own DllMain).
//
// A host that never calls Finalize: at the end of the process Windows ends
// the thread wherever it stands. A resend in flight then leaves its report
// claimed by a process that is gone; the next sender on this machine sees
// that and takes it back at once (one on another machine, when the two
// minutes of the claim have run out), and sends it again. The report was
// marked when claimed as one that may have arrived, so the verdict to that
// resend is recorded as a possible repeat, and the service refuses it if it
// had it.
#pragma once

#ifdef _WIN32
#include <functional>
#else
#include <thread>
#endif

namespace lumirex {

#ifdef _WIN32

class LibraryThread {
 public:
  LibraryThread() noexcept = default;
  // Starts `run`. Raises std::system_error or std::bad_alloc when no thread
  // can be started.
  explicit LibraryThread(std::function<void()> run);
  LibraryThread(LibraryThread&& other) noexcept;
  // A thread not joined is let go: its reference keeps the library.
  LibraryThread& operator=(LibraryThread&& other) noexcept;
  ~LibraryThread();

  bool joinable() const noexcept { return handle_ != nullptr; }
  // Once `run` has returned, or is about to return.
  void join() noexcept;
  void detach() noexcept;

 private:
  void* handle_ = nullptr;
};

#else

using LibraryThread = std::thread;

#endif

}  // namespace lumirex
