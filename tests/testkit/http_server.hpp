// A real HTTP server on 127.0.0.1 for tests that talk HTTP: it takes a free
// port, serves on its own thread from construction, and stops and joins in
// its destructor.
#pragma once

#include <httplib.h>

#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace testkit {

class HttpServer {
 public:
  // `routes` registers the handlers before the server starts listening
  // (cpp-httplib's handler tables are not safe to change while it runs).
  explicit HttpServer(const std::function<void(httplib::Server&)>& routes);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  int port() const { return port_; }

  // "http://127.0.0.1:<port>" + path; path should start with "/".
  std::string url(std::string_view path = "/") const;

 private:
  httplib::Server server_;
  int port_ = -1;
  std::thread thread_;
};

// The whole request body of a route registered with a ContentReader. Register
// POST routes that way when bodies may be form-encoded: for an ordinary
// handler, cpp-httplib 0.11 answers 413 to any
// application/x-www-form-urlencoded body over 8 KiB before the handler runs.
std::string ReadBody(const httplib::ContentReader& reader);

}  // namespace testkit
