// A command line that cannot be carried out as written: exit status 64.
#pragma once

#include <stdexcept>

namespace lumirex::cli {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr int kExitUsage = 64;

}  // namespace lumirex::cli
