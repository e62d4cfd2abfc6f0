// The kinds of failure the library raises internally. The integration call
// catches them all; only their message texts ever reach the host.
#pragma once

#include <stdexcept>
#include <string>

namespace lumirex {

// A value that cannot be converted: a number, a date, a variant, a packet.
class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that cannot be opened, written or closed.
class IOError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A database that cannot be reached or read.
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A fault of the library or of the platform under it (a client that cannot
// be set up, a system limit reached): nothing the host did, nothing it can mend.
class InternalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How an HTTP exchange failed, as far as a till's next step depends on it.
enum class HttpFailure {
  Request,   // the request could not be made (a bad URL, method or time-out); nothing sent
  Internal,  // the HTTP client failed: the library's fault or the platform's, not the host's
  Connect,   // no connection: the name, a refusal, no route; nothing sent
  Tls,       // the certificate or the handshake; nothing sent
  Timeout,   // no whole answer in time
  Transfer,  // the exchange broke off, or the answer was too large
};

// An HTTP exchange that did not complete. `sent` says whether any of the
// request left this process: when it did, the service may have acted on it.
class HttpError : public std::runtime_error {
 public:
  HttpError(const std::string& message, HttpFailure failure, bool sent = false, int status = 0)
      : std::runtime_error(message), failure_(failure), sent_(sent), status_(status) {}

  HttpFailure failure() const { return failure_; }
  bool sent() const { return sent_; }
  // The status of an answer that began to arrive before the failure; 0 for none.
  int status() const { return status_; }

 private:
  HttpFailure failure_;
  bool sent_;
  int status_;
};

}  // namespace lumirex
