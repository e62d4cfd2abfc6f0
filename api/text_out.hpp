// Handing a text to a C host: into its buffer, cut to fit and NUL-terminated.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace lumirex::api {

// Copies what fits of text into buffer[0..size) (nothing when buffer is NULL
// or size 0) and returns the text's whole length, so a caller can ask again
// with a larger buffer.
inline std::size_t CopyOut(std::string_view text, char* buffer, std::size_t size) noexcept {
  if (buffer != nullptr && size > 0) {
    const std::size_t length = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
  }
  return text.size();
}

}  // namespace lumirex::api
