// The outbox file could not be opened, read or written, or is full.
#pragma once

#include <stdexcept>

namespace lumirex::outbox {

class OutboxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace lumirex::outbox
