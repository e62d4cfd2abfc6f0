// The HTTP server under the sandbox: cpp-httplib's request handling, with the
// life of each accepted connection in our hands so that the sandbox can count
// connections, drop one without answering, and end idle keep-alive
// connections at once when it stops, over plain HTTP and HTTPS alike.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "sandbox/tls.hpp"

namespace lumirex::sandbox {

class HttpServer : public httplib::Server {
 public:
  HttpServer();
  // Serves HTTPS with the certificate chain and private key of these PEM
  // files; raises std::runtime_error naming the file that cannot be used
  // (or, on Windows, saying that HTTPS is Linux's).
  HttpServer(const std::string& certFile, const std::string& keyFile);

  // Connections accepted since construction.
  std::size_t AcceptedConnections() const { return accepted_; }

  // Called from a request handler: closes the connection that request came on
  // without writing anything, so the client sees the connection closed and no
  // answer at all.
  static void DropCurrentConnection();

  // Closes every open connection and refuses to serve new ones; called right
  // before stop() so that idle keep-alive connections do not hold it up.
  void CloseConnections();

 private:
  // httplib runs this, on a worker thread, once per accepted socket.
  bool process_and_close_socket(socket_t sock) override;

  void Track(socket_t sock);
  void Untrack(socket_t sock);

  TlsContextPtr tls_;  // null: plain HTTP
  std::atomic<std::size_t> accepted_{0};
  std::atomic<bool> closing_{false};
  std::mutex mutex_;
  std::set<socket_t> open_;
};

}  // namespace lumirex::sandbox
