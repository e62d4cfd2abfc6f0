#include "cli/doctor/tcp_connect.hpp"
#include "support/windows_text.hpp"

namespace lumirex::cli::doctor {

namespace {

struct SocketClose {
  SOCKET sock;
  ~SocketClose() { closesocket(sock); }
};

}  // namespace

// Started for the life of the process: the command ends soon after.
void UseSockets() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

std::string ConnectRefusal(const addrinfo& address, int timeoutMs) {
  const SOCKET sock = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (sock == INVALID_SOCKET) return WindowsErrorText(WSAGetLastError());
  const SocketClose closing{sock};
  u_long nonBlocking = 1;
  ioctlsocket(sock, FIONBIO, &nonBlocking);
  if (connect(sock, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return "";
  int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK) return WindowsErrorText(error);
  WSAPOLLFD wait{sock, POLLOUT, 0};
  if (WSAPoll(&wait, 1, timeoutMs) <= 0) return WindowsErrorText(WSAETIMEDOUT);
  int size = sizeof error;
  getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
  return error == 0 ? "" : WindowsErrorText(error);
}

}  // namespace lumirex::cli::doctor
