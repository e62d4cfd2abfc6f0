// Who the checks run as, and what they never print.
#include <curl/curl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "cli/doctor/checks.hpp"
#include "cli/doctor/connection_string.hpp"
#include "support/text.hpp"

namespace lumirex::cli::doctor {

namespace {

std::string UserName(uid_t uid) {
  const passwd* entry = ::getpwuid(uid);
  return entry != nullptr ? std::string(entry->pw_name) : "uid " + std::to_string(uid);
}

// Takes on the user for good: groups, group, then user, so nothing of root
// stays that could make a check pass which the till would fail.
bool BecomeUser(uid_t uid, gid_t gid) {
  const passwd* entry = ::getpwuid(uid);
  const int groups = entry != nullptr ? ::initgroups(entry->pw_name, gid) : ::setgroups(0, nullptr);
  return groups == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0;
}

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

CheckResult RunAsTillUser(const DoctorSettings& settings) {
  if (::geteuid() != 0) {
    return {"till user", true, UserName(::geteuid()) + " (the user running the doctor)", ""};
  }
  struct stat base {};
  if (::stat(settings.baseDir.value.c_str(), &base) != 0) {
    return {"till user", true,
            "run as root, and the base folder is not there to say whose it is: checked as root",
            ""};
  }
  const std::string owner = UserName(base.st_uid);
  if (base.st_uid == 0) {
    return {"till user", true, "root, the owner of the base folder " + settings.baseDir.value, ""};
  }
  if (!BecomeUser(base.st_uid, base.st_gid)) {
    return {"till user", false,
            "run as root, and cannot check as " + owner +
                ", the owner of the base folder: " + std::strerror(errno),
            "run the doctor as " + owner + " (sudo -u " + owner + " lumirex doctor ...)"};
  }
  return {"till user", true,
          owner + ", the owner of the base folder " + settings.baseDir.value +
              ": run as root, the doctor checks as that user",
          ""};
}

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
