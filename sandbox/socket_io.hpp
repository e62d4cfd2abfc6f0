// What the sandbox's server asks of the system's sockets beyond what
// cpp-httplib does: waiting on one socket, sending without a signal, and
// ending a connection. One source file per system.
#pragma once

#include <httplib.h>

#include <cstddef>
#include <string>

namespace lumirex::sandbox {

// The events of one socket's wait.
enum class SocketEvent { Readable, Writable };

// > 0 ready, 0 timed out, < 0 failed.
int WaitFor(socket_t sock, SocketEvent event, int timeoutMs);

// The bytes sent or received, < 0 on failure; a closed peer never raises a
// signal, and an interrupted call is made again.
long long SendSome(socket_t sock, const char* data, std::size_t size);
long long ReceiveSome(socket_t sock, char* data, std::size_t size);

// Both directions shut: the peer sees the connection end, and a thread
// blocked on it wakes.
void ShutDown(socket_t sock);
void CloseSocket(socket_t sock);

// The peer's or our own numeric address and port; false when the system
// cannot say.
bool PeerAddress(socket_t sock, std::string& ip, int& port);
bool LocalAddress(socket_t sock, std::string& ip, int& port);

// Reads and writes on the socket give up after this long.
void SetTimeouts(socket_t sock, int timeoutMs);

// TCP_NODELAY, and address reuse without httplib's SO_REUSEPORT.
void NoDelay(socket_t sock);
void ReuseAddressOnly(socket_t sock);

}  // namespace lumirex::sandbox
