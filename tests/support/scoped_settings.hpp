// Settings that a test changes and puts back, so tests do not leak state.
#pragma once

#include <optional>
#include <string>

#include "support/settings.hpp"

namespace lumirex::testing {

class ScopedDecimalSeparator {
 public:
  explicit ScopedDecimalSeparator(char separator) : old_(settings::DecimalSeparator()) {
    settings::SetDecimalSeparator(separator);
  }
  ~ScopedDecimalSeparator() { settings::SetDecimalSeparator(old_); }
  ScopedDecimalSeparator(const ScopedDecimalSeparator&) = delete;
  ScopedDecimalSeparator& operator=(const ScopedDecimalSeparator&) = delete;

 private:
  char old_;
};

// The base folder set for the scope; afterwards the default again.
class ScopedBaseDir {
 public:
  explicit ScopedBaseDir(std::string dir) { settings::SetBaseDir(std::move(dir)); }
  ~ScopedBaseDir() { settings::SetBaseDir(std::nullopt); }
  ScopedBaseDir(const ScopedBaseDir&) = delete;
  ScopedBaseDir& operator=(const ScopedBaseDir&) = delete;
};

}  // namespace lumirex::testing
