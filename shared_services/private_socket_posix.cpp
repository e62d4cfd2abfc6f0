#include <sys/socket.h>
#include <unistd.h>

#include "shared_services/private_socket.hpp"

namespace lumirex {

curl_socket_t OpenPrivateSocket(const curl_sockaddr& address) noexcept {
  const int fd = ::socket(address.family, address.socktype | SOCK_CLOEXEC, address.protocol);
  return fd < 0 ? CURL_SOCKET_BAD : fd;
}

int ClosePrivateSocket(curl_socket_t socket) noexcept {
  return ::close(socket);
}

}  // namespace lumirex
