#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <set>

#include "shared_services/private_socket.hpp"
#include "support/process_state.hpp"

namespace lumirex {

namespace {

// The sockets open now, so a fork's child can close its copies: they carry
// the parent's connections, which the child's calls never use, and a copy
// left open would hold a connection the parent closed.
struct OpenSockets {
  std::mutex mutex;
  std::set<int> fds;
};

void CloseCopiesInChild() {
  OpenSockets& open = ProcessState<OpenSockets>();
  // The prepare step took the lock; this runs before the step that frees it.
  for (const int fd : open.fds) ::close(fd);
  open.fds.clear();
}

OpenSockets& Sockets() {
  static const int forkHandler =
      AtFork(ForkOrder::Runtime, {nullptr, nullptr, &CloseCopiesInChild});
  (void)forkHandler;
  return ProcessState<OpenSockets>();
}

}  // namespace

curl_socket_t OpenPrivateSocket(const curl_sockaddr& address) noexcept {
  OpenSockets& open = Sockets();
  const int fd = ::socket(address.family, address.socktype | SOCK_CLOEXEC, address.protocol);
  if (fd < 0) return CURL_SOCKET_BAD;
  try {
    std::lock_guard lock(open.mutex);
    open.fds.insert(fd);
  } catch (const std::bad_alloc&) {
    ::close(fd);
    return CURL_SOCKET_BAD;
  }
  return fd;
}

int ClosePrivateSocket(curl_socket_t socket) noexcept {
  OpenSockets& open = Sockets();
  {
    std::lock_guard lock(open.mutex);
    open.fds.erase(socket);
  }
  return ::close(socket);
}

}  // namespace lumirex
