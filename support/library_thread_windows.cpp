#include <windows.h>

#include <memory>
#include <system_error>
#include <utility>

#include "support/library_thread.hpp"

namespace lumirex {

namespace {

struct Launch {
  std::function<void()> run;
  HMODULE library = nullptr;  // the reference the thread gives back as it ends
};

// The library's code runs only inside the braces; the call after them frees
// the reference and ends the thread without returning here, so the module
// may go at that moment.
DWORD WINAPI ThreadMain(void* parameter) noexcept {
  HMODULE library = nullptr;
  {
    const std::unique_ptr<Launch> launch(static_cast<Launch*>(parameter));
    library = launch->library;
    launch->run();
  }
  FreeLibraryAndExitThread(library, 0);
}

[[noreturn]] void Fail(const char* what) {
  throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
}

}  // namespace

LibraryThread::LibraryThread(std::function<void()> run) {
  auto launch = std::make_unique<Launch>();
  launch->run = std::move(run);
  // Taken here, before the thread exists: the host's FreeLibrary cannot come
  // between its start and its first step.
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&ThreadMain), &launch->library)) {
    Fail("GetModuleHandleExW");
  }
  handle_ = CreateThread(nullptr, 0, ThreadMain, launch.get(), 0, nullptr);
  if (handle_ == nullptr) {
    const DWORD error = GetLastError();
    FreeLibrary(launch->library);
    SetLastError(error);
    Fail("CreateThread");
  }
  launch.release();  // the thread's now
}

LibraryThread::LibraryThread(LibraryThread&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

LibraryThread& LibraryThread::operator=(LibraryThread&& other) noexcept {
  if (this != &other) {
    detach();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

LibraryThread::~LibraryThread() {
  detach();
}

void LibraryThread::join() noexcept {
  // Its owner saw its loop end; the exit that remains holds the module.
  detach();
}

void LibraryThread::detach() noexcept {
  if (handle_ != nullptr) CloseHandle(handle_);
  handle_ = nullptr;
}

}  // namespace lumirex
