// Winsock, which httplib.h brings in (and starts with WSAStartup as the
// program starts). Windows raises no signal on a closed peer.
#include <algorithm>

#include "sandbox/socket_io.hpp"

namespace lumirex::sandbox {

namespace {

int Clamped(std::size_t size) {
  return static_cast<int>(std::min<std::size_t>(size, 1 << 30));
}

void SetOption(socket_t sock, int level, int name, DWORD value) {
  ::setsockopt(sock, level, name, reinterpret_cast<const char*>(&value), sizeof(value));
}

}  // namespace

int WaitFor(socket_t sock, SocketEvent event, int timeoutMs) {
  WSAPOLLFD entry{sock, static_cast<SHORT>(event == SocketEvent::Readable ? POLLIN : POLLOUT), 0};
  return ::WSAPoll(&entry, 1, timeoutMs);
}

long long SendSome(socket_t sock, const char* data, std::size_t size) {
  return ::send(sock, data, Clamped(size), 0);
}

long long ReceiveSome(socket_t sock, char* data, std::size_t size) {
  return ::recv(sock, data, Clamped(size), 0);
}

void ShutDown(socket_t sock) {
  ::shutdown(sock, SD_BOTH);
}

void CloseSocket(socket_t sock) {
  ::closesocket(sock);
}

void SetTimeouts(socket_t sock, int timeoutMs) {
  SetOption(sock, SOL_SOCKET, SO_RCVTIMEO, static_cast<DWORD>(timeoutMs));
  SetOption(sock, SOL_SOCKET, SO_SNDTIMEO, static_cast<DWORD>(timeoutMs));
}

void NoDelay(socket_t sock) {
  SetOption(sock, IPPROTO_TCP, TCP_NODELAY, 1);
}

// On Windows SO_REUSEADDR would let a second server take a port that is
// already serving; the exclusive use makes a taken port fail to bind, as on
// Linux.
void ReuseAddressOnly(socket_t sock) {
  SetOption(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1);
}

}  // namespace lumirex::sandbox
