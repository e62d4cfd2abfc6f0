// What the checks never print.
#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/doctor/checks.hpp"
#include "cli/doctor/connection_string.hpp"
#include "support/text.hpp"

namespace lumirex::cli::doctor {

namespace {

// Passwords shorter than this are left to the masking of their settings:
// replacing two letters wherever they stand would garble every line.
constexpr std::size_t kShortestReplaced = 4;

void ReplaceAll(std::string& text, const std::string& secret) {
  if (secret.size() < kShortestReplaced) return;
  for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
    text.replace(at, secret.size(), "***");
  }
}

std::string UrlPassword(const std::string& url) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), curl_url_cleanup);
  char* password = nullptr;
  if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(handle.get(), CURLUPART_PASSWORD, &password, 0) != CURLUE_OK) {
    return "";
  }
  std::string text = password;
  curl_free(password);
  return text;
}

}  // namespace

void HideSecrets(Results& results, const DoctorSettings& settings) {
  std::vector<std::string> secrets;
  if (settings.url) secrets.push_back(UrlPassword(settings.url->value));
  const std::string_view attributes = AfterScheme(settings.database.value);
  for (const char* key : {"PWD", "Password"}) {
    if (auto value = OdbcAttribute(attributes, key)) secrets.push_back(*value);
  }
  for (CheckResult& result : results) {
    for (std::string* text : {&result.detail, &result.fix}) {
      *text = MaskUrlPasswords(MaskPasswords(*text));
      for (const std::string& secret : secrets) ReplaceAll(*text, secret);
    }
  }
}

}  // namespace lumirex::cli::doctor
