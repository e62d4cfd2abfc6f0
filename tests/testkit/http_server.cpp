#include "testkit/http_server.hpp"

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace testkit {

namespace {

// Shuts down the server's accepted connections. cpp-httplib's workers wait out
// a kept-alive connection (five seconds) before they notice the server is
// stopping; a client that keeps its connection open (as ours does, on purpose)
// would make every server's teardown cost that wait. shutdown() rather than
// close(): the worker still owns the descriptor and closes it itself.
void ShutDownConnectionsTo(int port) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    int fd = -1;
    try {
      fd = std::stoi(entry.path().filename().string());
    } catch (const std::exception&) {
      continue;
    }
    sockaddr_storage local{};
    sockaddr_storage peer{};
    socklen_t localSize = sizeof local;
    socklen_t peerSize = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0) continue;
    if (local.ss_family != AF_INET) continue;
    if (ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port) != port) continue;
    // The listening socket has no peer; only accepted connections do.
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) continue;
    shutdown(fd, SHUT_RDWR);
  }
}

}  // namespace

HttpServer::HttpServer(const std::function<void(httplib::Server&)>& routes) {
  // Without it every kept-alive exchange stalls on Nagle's algorithm.
  server_.set_tcp_nodelay(true);
  routes(server_);
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ < 0) throw std::runtime_error("cannot bind a test HTTP server on 127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!server_.is_running()) {
    if (std::chrono::steady_clock::now() > deadline) {
      server_.stop();
      thread_.join();
      throw std::runtime_error("the test HTTP server did not start");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

HttpServer::~HttpServer() {
  server_.stop();
  ShutDownConnectionsTo(port_);
  thread_.join();
}

std::string HttpServer::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::string ReadBody(const httplib::ContentReader& reader) {
  std::string body;
  reader([&body](const char* data, size_t size) {
    body.append(data, size);
    return true;
  });
  return body;
}

}  // namespace testkit
