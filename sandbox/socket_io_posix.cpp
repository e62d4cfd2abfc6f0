#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "sandbox/socket_io.hpp"

namespace lumirex::sandbox {

int WaitFor(socket_t sock, SocketEvent event, int timeoutMs) {
  pollfd entry{sock, static_cast<short>(event == SocketEvent::Readable ? POLLIN : POLLOUT), 0};
  int rc = 0;
  do {
    rc = ::poll(&entry, 1, timeoutMs);
  } while (rc < 0 && errno == EINTR);
  return rc;
}

long long SendSome(socket_t sock, const char* data, std::size_t size) {
  ssize_t sent = 0;
  do {
    sent = ::send(sock, data, size, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent;
}

long long ReceiveSome(socket_t sock, char* data, std::size_t size) {
  ssize_t received = 0;
  do {
    received = ::recv(sock, data, size, 0);
  } while (received < 0 && errno == EINTR);
  return received;
}

void ShutDown(socket_t sock) {
  ::shutdown(sock, SHUT_RDWR);
}

void CloseSocket(socket_t sock) {
  ::close(sock);
}

void SetTimeouts(socket_t sock, int timeoutMs) {
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
  ::setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
}

void NoDelay(socket_t sock) {
  int on = 1;
  ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

// httplib's default also sets SO_REUSEPORT, which lets a second server bind
// a port that is already serving and quietly share its connections. Address
// reuse alone still lets a stopped sandbox start again on its port.
void ReuseAddressOnly(socket_t sock) {
  int on = 1;
  ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
}

}  // namespace lumirex::sandbox
