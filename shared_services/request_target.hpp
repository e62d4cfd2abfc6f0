// The request target (path and query) a URL sends, worked out before libcurl
// sees the URL.
#pragma once

#include <string>
#include <string_view>

namespace lumirex {

// The target of a URL that libcurl's parser would hand back unchanged, found
// without it; empty for any other URL, which goes through the parser.
std::string PlainRequestTarget(std::string_view url);

// The request target of a URL, or empty when libcurl cannot parse the URL
// (it then refuses it with its own message). Throws std::bad_alloc when
// memory runs out, which libcurl's parser would otherwise hide.
std::string RequestTarget(const std::string& url);

}  // namespace lumirex
