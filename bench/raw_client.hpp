// What an HTTP exchange costs without the library: one libcurl easy handle,
// reused, with TCP_NODELAY, collecting the body into a reused string.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

namespace lumirex::bench {

class RawClient {
 public:
  RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // The body of the answer; raises std::runtime_error on a transport failure.
  const std::string& Get(const std::string& url);
  // POSTs the body as a form body, as the library sends its request bodies.
  const std::string& Post(const std::string& url, const std::string& body);

 private:
  struct Cleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
  };
  const std::string& Perform();

  std::unique_ptr<CURL, Cleanup> handle_;
  std::unique_ptr<curl_slist, Cleanup> formHeaders_;
  std::string body_;
};

}  // namespace lumirex::bench
