#include <winsock2.h>

#include "shared_services/private_socket.hpp"

namespace lumirex {

curl_socket_t OpenPrivateSocket(const curl_sockaddr& address) noexcept {
  const SOCKET s = WSASocketW(address.family, address.socktype, address.protocol, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  return s == INVALID_SOCKET ? CURL_SOCKET_BAD : s;
}

int ClosePrivateSocket(curl_socket_t socket) noexcept {
  return ::closesocket(socket);
}

void MarkCurlPairCloseOnExec(curl_socket_t) noexcept {}

}  // namespace lumirex
