// One HTTP exchange, typed: what is sent and what came back. The client
// behind it lends each exchange a pooled libcurl handle, whose kept-alive
// connections the next exchange with the same service rides instead of paying
// a TCP (and TLS) handshake at every call.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace lumirex {

// A response body larger than this raises: the service's answers are a few
// kilobytes, and the till must not be made to buffer an unbounded stream.
inline constexpr std::size_t kMaxResponseBody = std::size_t{16} * 1024 * 1024;

// Longer than any real exchange, short enough that the milliseconds handed to
// libcurl stay far from overflowing a long.
inline constexpr std::chrono::seconds kMaxHttpTimeout{24 * 60 * 60};

enum class HttpMethod { Get, Post };

// "GET" and "POST", as a kept report stores them.
const char* HttpMethodName(HttpMethod method);
// Raises HttpError "unsupported HTTP method '<name>'" for any other name.
HttpMethod HttpMethodNamed(const std::string& name);

struct HttpRequest {
  HttpMethod method = HttpMethod::Get;
  std::string url;
  std::string body;  // POST only: sent byte for byte
  bool form = true;  // the body is typed as a form body, else as application/octet-stream
  // Bounds connecting and the rest; from 1 second to kMaxHttpTimeout.
  std::chrono::seconds timeout{0};
};

// The status is not judged: a 500 with its error page is an answer like any other.
struct HttpAnswer {
  int status = 0;
  std::string reason;  // the status's registered phrase ("Bad Gateway"); "" when it has none
  std::string body;
};

// Sends the request and waits for the whole answer. A URL holding a NUL byte
// or too long for the client, or a time-out out of range, raises HttpError
// before anything is sent; so do a transport failure and a body over
// kMaxResponseBody, naming the URL.
HttpAnswer SendHttpRequest(const HttpRequest& request);

}  // namespace lumirex
