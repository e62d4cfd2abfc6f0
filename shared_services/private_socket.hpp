// The sockets of the library's HTTP connections: never inherited by a program
// the host starts, which would otherwise hold the service's connection open.
#pragma once

#include <curl/curl.h>

namespace lumirex {

// CURL_SOCKET_BAD when the system refuses one.
curl_socket_t OpenPrivateSocket(const curl_sockaddr& address) noexcept;
int ClosePrivateSocket(curl_socket_t socket) noexcept;

// libcurl makes local socket pairs out of the socket callbacks' reach (a
// multi handle's wake-up pair, the resolver's pair while it resolves a name).
// `socket` is one end of such a pair, known to be libcurl's: it and the other
// end become close-on-exec. The kernel names the other end (its socket
// diagnostics); where it cannot, that end is left as it is. No descriptor the
// library did not make is ever touched. Nothing to do on Windows, which hands
// a started program no socket unless asked.
void MarkCurlPairCloseOnExec(curl_socket_t socket) noexcept;

}  // namespace lumirex
