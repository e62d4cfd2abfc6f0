// A TCP connection to one of the service's addresses, made and closed at
// once. One source file per system.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#endif

#include <string>

namespace lumirex::cli::doctor {

// Readies the system's sockets for name lookups and connections (Winsock is
// started once); nothing to do on Linux.
void UseSockets();

// "" when a connection to `address` was made within timeoutMs; else why not.
std::string ConnectRefusal(const addrinfo& address, int timeoutMs);

}  // namespace lumirex::cli::doctor
