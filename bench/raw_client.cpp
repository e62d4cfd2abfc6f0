#include "raw_client.hpp"

#include <stdexcept>

namespace lumirex::bench {

namespace {

size_t Collect(char* data, size_t size, size_t count, void* context) {
  static_cast<std::string*>(context)->append(data, size * count);
  return size * count;
}

}  // namespace

RawClient::RawClient() : handle_(curl_easy_init()) {
  if (!handle_) throw std::runtime_error("cannot create a libcurl handle");
  // The same request headers as the library's POSTs, so the server sees the same request.
  // Appending to a list keeps its head, so the list stays owned throughout.
  formHeaders_.reset(curl_slist_append(nullptr, "Expect:"));
  if (!formHeaders_ ||
      !curl_slist_append(formHeaders_.get(), "Content-Type: application/x-www-form-urlencoded")) {
    throw std::runtime_error("out of memory");
  }

  CURL* handle = handle_.get();
  curl_easy_setopt(handle, CURLOPT_TCP_NODELAY, 1L);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body_);
}

const std::string& RawClient::Get(const std::string& url) {
  CURL* handle = handle_.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
  return Perform();
}

const std::string& RawClient::Post(const std::string& url, const std::string& body) {
  CURL* handle = handle_.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_POST, 1L);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, formHeaders_.get());
  return Perform();
}

const std::string& RawClient::Perform() {
  body_.clear();
  const CURLcode result = curl_easy_perform(handle_.get());
  if (result != CURLE_OK) {
    throw std::runtime_error(std::string("raw libcurl exchange failed: ") +
                             curl_easy_strerror(result));
  }
  return body_;
}

}  // namespace lumirex::bench
