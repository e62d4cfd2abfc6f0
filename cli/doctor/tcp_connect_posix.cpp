#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/doctor/tcp_connect.hpp"

namespace lumirex::cli::doctor {

void UseSockets() {}

std::string ConnectRefusal(const addrinfo& address, int timeoutMs) {
  const int fd = socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                        address.ai_protocol);
  if (fd < 0) return std::strerror(errno);
  int error = 0;
  if (connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd wait{fd, POLLOUT, 0};
      if (poll(&wait, 1, timeoutMs) <= 0) {
        error = ETIMEDOUT;
      } else {
        socklen_t size = sizeof error;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
      }
    }
  }
  close(fd);
  return error == 0 ? "" : std::strerror(error);
}

}  // namespace lumirex::cli::doctor
