#include "shared_services/request_target.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <new>

namespace lumirex {

namespace {

struct CurlFree {
  void operator()(char* text) const { curl_free(text); }
};

struct UrlCleanup {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using ParsedUrl = std::unique_ptr<CURLU, UrlCleanup>;

// The query of a URL as written: after the first '?', up to a '#'.
std::string_view QueryOf(std::string_view url) {
  const std::size_t mark = url.find('?');
  if (mark == std::string_view::npos) return {};
  const std::string_view query = url.substr(mark + 1);
  return query.substr(0, query.find('#'));
}

// A part of a parsed URL; empty when it has none.
std::string UrlPart(CURLU* url, CURLUPart part, CURLUcode missing) {
  char* text = nullptr;
  const CURLUcode got = curl_url_get(url, part, &text, 0);
  const std::unique_ptr<char, CurlFree> owned(text);
  if (got == CURLUE_OUT_OF_MEMORY || (got != CURLUE_OK && got != missing)) throw std::bad_alloc();
  return got == CURLUE_OK ? std::string(text) : std::string();
}

// Characters libcurl's URL parser keeps as they are in an authority, a path
// or a query: no blank, control character, backslash or byte above ASCII.
bool PlainUrlCharacter(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
         std::string_view("-._~!$&'()*+,;=:@/?%[]").find(ch) != std::string_view::npos;
}

}  // namespace

// The target of a URL that libcurl's parser would hand back unchanged, found
// without it (a tenth of an exchange's own cost): a lower-case scheme, then
// only plain characters up to the fragment, and no dot segment in the path,
// which the parser removes. Empty for any other URL.
std::string PlainRequestTarget(std::string_view url) {
  for (const std::string_view scheme :
       {std::string_view("http://"), std::string_view("https://")}) {
    if (url.substr(0, scheme.size()) != scheme) continue;
    std::string_view rest = url.substr(scheme.size());
    rest = rest.substr(0, rest.find('#'));
    if (!std::all_of(rest.begin(), rest.end(), PlainUrlCharacter)) return {};
    const std::size_t start = std::min(rest.find('/'), rest.find('?'));
    if (start == 0 || start == std::string_view::npos) return {};
    std::string_view target = rest.substr(start);
    const std::size_t mark = target.find('?');
    if (target.substr(0, mark).find("/.") != std::string_view::npos) return {};
    // As the parser does: an empty path is "/", an empty query none.
    if (mark == target.size() - 1) target.remove_suffix(1);
    std::string whole;
    if (target.empty() || target.front() == '?') whole = "/";
    whole.append(target);
    return whole;
  }
  return {};
}

// The request target (path and query) of a URL, or empty when libcurl cannot
// parse the URL and will refuse it by its own message. It is handed to
// libcurl whole: libcurl deriving it from the URL while short of memory can
// lose the query and send another request than the one asked for ("order"
// for "order?pdv=true").
std::string RequestTarget(const std::string& url) {
  if (std::string target = PlainRequestTarget(url); !target.empty()) return target;
  ParsedUrl parsed(curl_url());
  if (!parsed) throw std::bad_alloc();
  const CURLUcode set = curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0);
  if (set == CURLUE_OUT_OF_MEMORY) throw std::bad_alloc();
  if (set != CURLUE_OK) return {};
  std::string target = UrlPart(parsed.get(), CURLUPART_PATH, CURLUE_OK);
  const std::string query = UrlPart(parsed.get(), CURLUPART_QUERY, CURLUE_NO_QUERY);
  // Parsing under memory pressure can lose the query here too.
  if (query != QueryOf(url)) throw std::bad_alloc();
  if (!query.empty()) target += "?" + query;
  return target;
}

}  // namespace lumirex
