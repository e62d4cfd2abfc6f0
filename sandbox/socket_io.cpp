// The numeric addresses of a connection: the same calls on both systems
// (socklen_t is Winsock's int), through the headers httplib.h brings in.
#include <array>

#include "sandbox/socket_io.hpp"

namespace lumirex::sandbox {

namespace {

bool NumericAddress(const sockaddr_storage& address, std::string& ip, int& port) {
  std::array<char, INET6_ADDRSTRLEN> text{};
  if (address.ss_family == AF_INET) {
    const auto& in4 = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &in4.sin_addr, text.data(), text.size());
    port = ntohs(in4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &in6.sin6_addr, text.data(), text.size());
    port = ntohs(in6.sin6_port);
  } else {
    return false;
  }
  ip = text.data();
  return true;
}

}  // namespace

bool PeerAddress(socket_t sock, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof(address);
  return ::getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
         NumericAddress(address, ip, port);
}

bool LocalAddress(socket_t sock, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof(address);
  return ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
         NumericAddress(address, ip, port);
}

}  // namespace lumirex::sandbox
