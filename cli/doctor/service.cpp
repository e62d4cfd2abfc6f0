// The loyalty service, step by step: the URL, the name, TCP, TLS, and a
// customer query through the library when a CPF is given.
#include <curl/curl.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "cli/call_runner.hpp"
#include "cli/display_text.hpp"
#include "cli/doctor/checks.hpp"
#include "cli/doctor/tcp_connect.hpp"
#include "cli/parameter_list.hpp"
#include "support/path_text.hpp"
#include "support/text.hpp"

namespace lumirex::cli::doctor {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnectTimeoutMs = 5000;
constexpr long kTlsTimeoutMs = 10000;

const char* const kUrlExample = "the service's base URL (https://loyalty.example/api/)";

struct Endpoint {
  std::string scheme, host, port;
};

struct UrlFree {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlFree {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct AddrFree {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using Addresses = std::unique_ptr<addrinfo, AddrFree>;

std::string UrlPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK) return "";
  std::string value = text;
  curl_free(text);
  return value;
}

std::optional<Endpoint> ParseUrl(const Setting& url, CheckResult& result) {
  std::unique_ptr<CURLU, UrlFree> handle(curl_url());
  const CURLUcode code = handle ? curl_url_set(handle.get(), CURLUPART_URL, url.value.c_str(), 0)
                                : CURLUE_OUT_OF_MEMORY;
  Endpoint endpoint;
  if (code == CURLUE_OK) {
    endpoint = {UrlPart(handle.get(), CURLUPART_SCHEME), UrlPart(handle.get(), CURLUPART_HOST),
                UrlPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT)};
  }
  if (code != CURLUE_OK || (endpoint.scheme != "http" && endpoint.scheme != "https")) {
    result = {"service URL", false,
              url.PointsAt("") + ", which is not an http:// or https:// URL" +
                  (code != CURLUE_OK ? std::string(": ") + curl_url_strerror(code) : ""),
              url.Change(kUrlExample)};
    return std::nullopt;
  }
  result = {"service URL", true, MaskUrlPasswords(url.value) + " (from " + url.Source() + ")", ""};
  return endpoint;
}

Addresses Resolve(const Endpoint& endpoint, const Setting& url, CheckResult& result) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int code = getaddrinfo(endpoint.host.c_str(), endpoint.port.c_str(), &hints, &list);
  Addresses addresses(code == 0 ? list : nullptr);
  if (code != 0) {
    result = {"name resolves", false, endpoint.host + " does not resolve: " + gai_strerror(code),
              "check the host name in " + url.Source() +
                  " and the till's name service "
                  "(/etc/resolv.conf, /etc/hosts)"};
    return addresses;
  }
  char host[NI_MAXHOST] = {};
  getnameinfo(list->ai_addr, list->ai_addrlen, host, sizeof host, nullptr, 0, NI_NUMERICHOST);
  result = {"name resolves", true, endpoint.host + " is " + host, ""};
  return addresses;
}

CheckResult TcpCheck(const Endpoint& endpoint, const addrinfo* addresses, const Setting& url) {
  const std::string where = endpoint.host + ":" + endpoint.port;
  std::string refusal;
  const auto start = Clock::now();
  for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
    refusal = ConnectRefusal(*address, kConnectTimeoutMs);
    if (refusal.empty()) {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      return {"TCP connects", true, where + " in " + std::to_string(ms) + " ms", ""};
    }
  }
  return {"TCP connects", false, where + ": " + refusal,
          "start the service, or check the host and port in " + url.Source() +
              " and any firewall between the till and the service"};
}

CheckResult TlsCheck(const Setting& url, const std::optional<Setting>& caFile) {
  const std::string authority =
      caFile ? caFile->value + " (from " + caFile->Source() + ")" : "the system's CA store";
  if (caFile && !std::filesystem::is_regular_file(FileSystemPath(caFile->value))) {
    return {"TLS verifies", false, caFile->PointsAt("") + ", which is not a readable file",
            caFile->Change("the PEM file of the authority that signs the service's certificate")};
  }
  std::unique_ptr<CURL, CurlFree> handle(curl_easy_init());
  char errorText[CURL_ERROR_SIZE] = {};
  CURL* curl = handle.get();
  curl_easy_setopt(curl, CURLOPT_URL, url.value.c_str());
  curl_easy_setopt(curl, CURLOPT_CONNECT_ONLY, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kTlsTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  if (caFile) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile->value.c_str());
  const CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_OK) return {"TLS verifies", true, "against " + authority, ""};
  return {"TLS verifies", false,
          (errorText[0] ? std::string(errorText) : curl_easy_strerror(code)) + " (against " +
              authority + ")",
          caFile ? caFile->Change("the PEM file of the authority that signs the service's "
                                  "certificate")
                 : "give --ca-file or set LUMIREX_CA_FILE to the PEM file of the authority that "
                   "signs the service's certificate"};
}

// Where the customer query goes: the base URL with its slash, and "user".
std::string CustomerRoute(const Setting& url) {
  std::string route = url.value;
  if (route.empty() || route.back() != '/') route += '/';
  return route + "user";
}

// An answer with an HTTP error to a customer query says the route is wrong
// (a mistyped base path), whatever document came with it; a customer the
// service does not know is answered with a success status and a verdict.
std::optional<CheckResult> RouteFailure(const Setting& url, long status) {
  if (status == 0 || (status >= 200 && status < 300)) return std::nullopt;
  const std::string answers =
      "the service answers " + std::to_string(status) + " at " + CustomerRoute(url);
  // No such resource: the path is wrong. Anything else the service says about itself.
  if (status == 404 || status == 405 || status == 410) {
    return CheckResult{"service route", false, answers + ": check the base path",
                       url.Change("the service's base URL with its path, as the service's "
                                  "provider gives it (https://loyalty.example/api/)")};
  }
  return CheckResult{"service route", false, answers + ", an error, not a verdict",
                     "check the base URL in " + url.Source() +
                         "; if it is right, the service is failing: ask its provider"};
}

size_t Discard(char*, size_t size, size_t count, void*) {
  return size * count;
}

// Without a CPF the route is tried with a customer query of a CPF nobody
// has, sent directly and not logged: only the answer's status is looked at.
CheckResult RouteProbe(const Setting& url, const std::optional<Setting>& caFile) {
  std::unique_ptr<CURL, CurlFree> handle(curl_easy_init());
  CURL* curl = handle.get();
  const std::string target = CustomerRoute(url) + "?cpf=00000000000&pdv=true";
  char errorText[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kTlsTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  if (caFile) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile->value.c_str());
  const CURLcode code = curl_easy_perform(curl);
  if (code != CURLE_OK) {
    return {"service route", false,
            CustomerRoute(url) + " was not answered: " +
                (errorText[0] ? std::string(errorText) : curl_easy_strerror(code)),
            "check " + url.Source() + " and that the service is up"};
  }
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (auto failure = RouteFailure(url, status)) return *failure;
  return {"service route", true,
          CustomerRoute(url) + " answers " + std::to_string(status) + " (a CPF no customer has)",
          ""};
}

// A customer query made as a till makes it: through the library, logged.
CheckResult CustomerQuery(const Setting& url, const std::string& cpf) {
  if (cpf.empty()) {
    return {"HTTP request", true, "not sent: give --cpf CPF to send a customer query", ""};
  }
  const auto start = Clock::now();
  CallRun run = Call(CommonParameters("CONSULTA", url.value, cpf, "", "", ""));
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  if (auto failure = RouteFailure(url, run.last.httpStatus)) return *failure;
  if (!run.returned) {
    return {"HTTP request", false, "customer query failed: " + FromAnsi(run.last.message),
            "see the call in " + run.logFile + "; check the base URL in " + url.Source()};
  }
  const auto& items = run.result.items();
  const std::string message =
      items.size() > 1 && items[1].type() == Variant::Type::String ? items[1].asString() : "";
  return {"HTTP request", true,
          "customer query answered in " + std::to_string(ms) + " ms" +
              (Accepted(run) ? ": " : ", declined: ") + FromAnsi(message),
          ""};
}

}  // namespace

Results CheckService(const DoctorSettings& settings) {
  if (!settings.url) {
    return {{"service URL", false, "none given",
             "give --url or set LUMIREX_URL to " + std::string(kUrlExample)}};
  }
  Results results(1);
  const auto endpoint = ParseUrl(*settings.url, results.back());
  if (!endpoint) return results;
  results.emplace_back();
  UseSockets();
  const Addresses addresses = Resolve(*endpoint, *settings.url, results.back());
  if (!addresses) return results;
  results.push_back(TcpCheck(*endpoint, addresses.get(), *settings.url));
  if (!results.back().ok) return results;
  if (endpoint->scheme == "https") {
    results.push_back(TlsCheck(*settings.url, settings.caFile));
    if (!results.back().ok) return results;
  } else {
    results.push_back({"TLS verifies", true, "not used: the URL is http://", ""});
  }
  if (settings.cpf.empty()) {
    results.push_back(RouteProbe(*settings.url, settings.caFile));
    if (!results.back().ok) return results;
  }
  results.push_back(CustomerQuery(*settings.url, settings.cpf));
  return results;
}

}  // namespace lumirex::cli::doctor
