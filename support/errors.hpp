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

// An HTTP exchange that did not complete.
class HttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace lumirex
