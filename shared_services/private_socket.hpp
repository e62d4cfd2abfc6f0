// The sockets of the library's HTTP connections: never inherited by a program
// the host starts, which would otherwise hold the service's connection open.
#pragma once

#include <curl/curl.h>

namespace lumirex {

// CURL_SOCKET_BAD when the system refuses one.
curl_socket_t OpenPrivateSocket(const curl_sockaddr& address) noexcept;
int ClosePrivateSocket(curl_socket_t socket) noexcept;

}  // namespace lumirex
