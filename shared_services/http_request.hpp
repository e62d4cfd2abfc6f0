// The HTTP client behind RequisicaoHTTP: one libcurl handle for the whole
// process, so consecutive exchanges with one service ride one kept-alive
// connection instead of paying a TCP (and TLS) handshake at every call.
#pragma once

#include <cstddef>
#include <string>

#include "lumirex/lumirex.hpp"

namespace lumirex {

// A response body larger than this raises: the service's answers are a few
// kilobytes, and the till must not be made to buffer an unbounded stream.
inline constexpr std::size_t kMaxResponseBody = std::size_t{16} * 1024 * 1024;

// Sends one request and waits for the whole response.
//   method "GET": no body; "POST": exactly `body`'s bytes, typed as a form
//   body when contentMarker is "URLENCODED", else as application/octet-stream.
//   Any other method raises HttpError before anything is sent.
//   timeout: whole seconds from 1 to a day ("10"), bounding connecting and the
//   rest; any other text raises HttpError before anything is sent.
// Returns an ARRAY of two: the HTTP status (INT) and the body (STRING). The
// status is not judged. A transport failure or a body over kMaxResponseBody
// raises HttpError naming the URL.
Variant SendHttpRequest(const std::string& url, const std::string& contentMarker,
                        const std::string& method, const std::string& body,
                        const std::string& timeout);

}  // namespace lumirex
