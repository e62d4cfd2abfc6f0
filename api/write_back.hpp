// What every entry shares once it has copied the host's values in: the call
// itself, and the write-back of the result elements the call changed, all or
// nothing. Only the conversions to the host's own values differ by entry.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "lumirex/lumirex.hpp"

namespace lumirex::api {

// The host's result array as an entry writes into it. Build makes each
// changed element as the host's value, raising when it cannot (out of memory,
// a failed system call) with nothing of the host's changed; PutInPlace then
// puts them all in place at once, or raises before it changes anything.
// Elements built and never put in place are released by the destructor.
class HostResult {
 public:
  virtual ~HostResult() = default;
  // How many elements the host's array holds.
  virtual std::size_t Count() const = 0;
  virtual void Build(std::size_t index, const Variant& value) = 0;
  virtual void PutInPlace() = 0;
};

// Runs the call on the host's values as copied in. `result` is the host's
// result array as copied (null when the host passed none); `host` writes into
// the host's array (null when it cannot take elements). After a false return
// the host's array is as it was. A write-back that fails after the exchange
// fails the call with its own code, keeping what the record says of the
// exchange: a sale that reached the service says so.
bool CallAndWriteBack(std::vector<Variant> params, const std::string& refusal,
                      const Variant* result, HostResult* host) noexcept;

}  // namespace lumirex::api
