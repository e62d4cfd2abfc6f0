#include "shared_services/http_request.hpp"

#include <curl/curl.h>
#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "shared_services/curl_handle_pool.hpp"
#include "shared_services/http_status.hpp"
#include "shared_services/private_socket.hpp"
#include "shared_services/request_target.hpp"
#include "support/at_fork.hpp"
#include "support/errors.hpp"
#include "support/no_destructor.hpp"
#include "support/process_state.hpp"
#include "support/settings.hpp"

namespace lumirex {

namespace {

// libcurl refuses longer texts as "a bad argument", which tells nobody why.
constexpr std::size_t kMaxUrlLength = 8000000;

// libcurl takes the URL as a C string: a NUL byte in it would send the request
// to the address before the NUL while the log shows the whole text.
void CheckUrl(const std::string& url) {
  if (const auto nul = url.find('\0'); nul != std::string::npos) {
    throw HttpError("the URL holds a NUL byte at position " + std::to_string(nul),
                    HttpFailure::Request);
  }
  if (url.size() > kMaxUrlLength) {
    throw HttpError("the URL is " + std::to_string(url.size()) +
                        " bytes long; the HTTP client takes at most " +
                        std::to_string(kMaxUrlLength),
                    HttpFailure::Request);
  }
}

void CheckTimeout(std::chrono::seconds timeout) {
  if (timeout >= std::chrono::seconds(1) && timeout <= kMaxHttpTimeout) return;
  throw HttpError("invalid HTTP time-out of " + std::to_string(timeout.count()) +
                      " seconds: whole seconds from 1 to " +
                      std::to_string(kMaxHttpTimeout.count()) + " expected",
                  HttpFailure::Request);
}

// Where the write callback collects the body. The callback runs inside libcurl's
// C code, so it reports trouble through these flags instead of throwing.
struct BodySink {
  std::string body;
  bool bodyStarted = false;
  bool tooLarge = false;
  bool outOfMemory = false;
};

size_t CollectBody(char* data, size_t size, size_t count, void* context) noexcept {
  auto& sink = *static_cast<BodySink*>(context);
  const size_t bytes = size * count;
  sink.bodyStarted = true;
  if (bytes > kMaxResponseBody - sink.body.size()) {
    sink.tooLarge = true;
    return 0;  // anything short of `bytes` makes libcurl abort the transfer
  }
  try {
    sink.body.append(data, bytes);
  } catch (const std::bad_alloc&) {
    sink.outOfMemory = true;
    return 0;
  }
  return bytes;
}

// What a failed exchange means for a till: whether the service was reached,
// and whether it can have acted on the request.
HttpFailure FailureOf(CURLcode code) {
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return HttpFailure::Request;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
      return HttpFailure::Connect;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED:
      return HttpFailure::Tls;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpFailure::Timeout;
    default:
      return HttpFailure::Transfer;
  }
}

// Where the read callback takes a POST's body from. libcurl sends a POST
// again by itself, on a fresh connection, when a kept-alive one closes after
// the request went out and before any answer came; the service may have
// acted on the first, so the body is never rewound once any of it was read,
// and the exchange fails as one that may have arrived.
struct BodySource {
  const std::string* body = nullptr;
  std::size_t offset = 0;
  bool resendRefused = false;
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* context) noexcept {
  auto& source = *static_cast<BodySource*>(context);
  const size_t bytes = std::min(size * count, source.body->size() - source.offset);
  std::copy_n(source.body->data() + source.offset, bytes, buffer);
  source.offset += bytes;
  return bytes;
}

int RewindBody(void* context, curl_off_t offset, int origin) noexcept {
  auto& source = *static_cast<BodySource*>(context);
  if (offset == 0 && origin == SEEK_SET && source.offset == 0) return CURL_SEEKFUNC_OK;
  source.resendRefused = true;
  return CURL_SEEKFUNC_FAIL;
}

struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistFree>;

HeaderList AppendHeader(HeaderList list, const char* header) {
  curl_slist* grown = curl_slist_append(list.get(), header);
  if (grown == nullptr) throw std::bad_alloc();
  list.release();
  return HeaderList(grown);
}

struct EasyCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

#ifndef _WIN32
bool IsLocalSocket(int fd) {
  int domain = 0;
  socklen_t size = sizeof(domain);
  return getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 && domain == AF_UNIX;
}

// The local (AF_UNIX) sockets of the process that a program it starts would inherit.
std::vector<int> InheritedLocalSockets() {
  std::vector<int> found;
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) {
    if (errno == ENOMEM) throw std::bad_alloc();
    // No descriptor left for the listing (EMFILE), or no /proc: the system's limit, not memory.
    throw InternalError(std::string("cannot list the process's descriptors: ") +
                        std::strerror(errno));
  }
  while (const dirent* entry = readdir(folder)) {
    const int fd = std::atoi(entry->d_name);
    if (fd <= 2 || fd == dirfd(folder)) continue;
    const int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || (flags & FD_CLOEXEC) != 0 || !IsLocalSocket(fd)) continue;
    try {
      found.push_back(fd);
    } catch (...) {
      closedir(folder);
      throw;
    }
  }
  closedir(folder);
  return found;
}

// A new multi handle's wake-up pair. libcurl does not say which descriptors
// it is, so a wake-up is sent through it: of the local sockets made since
// `before` with nothing waiting to be read, the one that then holds that one
// byte is its reading end. The first poll reads the byte and returns at once.
// Out of memory, the pair stays as libcurl made it.
void MarkWakeupPairCloseOnExec(CURLM* multi, const std::vector<int>& before) noexcept {
  try {
    std::vector<int> idle;
    for (const int fd : InheritedLocalSockets()) {
      int waiting = -1;
      if (std::find(before.begin(), before.end(), fd) == before.end() &&
          ioctl(fd, FIONREAD, &waiting) == 0 && waiting == 0) {
        idle.push_back(fd);
      }
    }
    if (idle.empty() || curl_multi_wakeup(multi) != CURLM_OK) return;
    for (const int fd : idle) {
      int waiting = 0;
      if (ioctl(fd, FIONREAD, &waiting) == 0 && waiting == 1) {
        MarkCurlPairCloseOnExec(fd);
        return;
      }
    }
  } catch (...) {
  }
}

// The resolver's pair, while libcurl resolves a name: libcurl watches its
// reading end and says so, and nothing else it watches is a local socket.
// (A descriptor past FD_SETSIZE is not reported, and stays as it is.)
void MarkResolverPairCloseOnExec(CURLM* multi) noexcept {
  fd_set reading;
  fd_set writing;
  fd_set failing;
  FD_ZERO(&reading);
  FD_ZERO(&writing);
  FD_ZERO(&failing);
  int highest = -1;
  if (curl_multi_fdset(multi, &reading, &writing, &failing, &highest) != CURLM_OK) return;
  for (int fd = 0; fd <= highest; ++fd) {
    if (!FD_ISSET(fd, &reading) || (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0) continue;
    if (IsLocalSocket(fd)) MarkCurlPairCloseOnExec(fd);
  }
}
#else
// Windows hands no descriptor to a started program unless asked: nothing to mark.
std::vector<int> InheritedLocalSockets() {
  return {};
}
void MarkWakeupPairCloseOnExec(CURLM*, const std::vector<int>&) noexcept {}
void MarkResolverPairCloseOnExec(CURLM*) noexcept {}
#endif

// libcurl takes a plain HTTP request's proxy from these variables (an HTTPS
// one always goes through a CONNECT tunnel, where the target stays the origin's).
bool PlainHttpThroughProxy(const std::string& url) {
  if (url.compare(0, 7, "http://") != 0) return false;
  for (const char* name : {"http_proxy", "all_proxy", "ALL_PROXY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

void Check(CURLcode code, const char* what) {
  if (code != CURLE_OK) {
    if (code == CURLE_OUT_OF_MEMORY) throw std::bad_alloc();
    throw HttpError(
        std::string("cannot set up the HTTP client (") + what + "): " + curl_easy_strerror(code),
        HttpFailure::Internal);
  }
}

// Held while a multi handle is made and its wake-up pair looked for.
struct MultiMaking {
  std::mutex mutex;
};

// libcurl's process-wide start, made by the first handle. A fork waits for
// it to end (the state's lock, taken in the fork's prepare step): the child
// would find it half made and wait for it for ever.
struct CurlStart {
  std::mutex mutex;
  bool done = false;
};

void StartCurl() {
  CurlStart& start = ProcessState<CurlStart>();
  std::lock_guard lock(start.mutex);
  if (start.done) return;
    // libcurl's TLS library frees its process-wide state at exit unless told
    // first not to; a call still running on another thread would use it after
    // it was freed. (A host that set it up before us decides.) Windows' TLS is
    // the system's own (Schannel).
#ifndef _WIN32
  OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
#endif
  Check(curl_global_init(CURL_GLOBAL_DEFAULT), "init");
  start.done = true;
}

// One easy handle, lent to one exchange at a time (CurlHandlePool). libcurl
// keeps its connection cache in the handle, and curl_easy_reset leaves that
// cache alone, so resetting between exchanges keeps the kept-alive
// connections while no option of one exchange leaks into the next.
//
// A session is destroyed only while idle (CurlHandlePool). Every socket
// libcurl opens goes through OpenSocket and CloseSocket, so the session knows
// which descriptors are its own: they are close-on-exec, and a fork's child
// closes its copies of them (private_socket.hpp).
class CurlSession {
 public:
  CurlSession() = default;
  // An idle session closes: first its kept-alive connections, each through
  // CloseSocket while the list of its sockets is still there.
  ~CurlSession() {
    multi_.reset();
    handle_.reset();
  }
  CurlSession(const CurlSession&) = delete;
  CurlSession& operator=(const CurlSession&) = delete;

  HttpAnswer Perform(const HttpRequest& request) {
    const std::string& url = request.url;
    CURL* handle = Handle();
    curl_easy_reset(handle);
    errorText_[0] = '\0';
    BodySink sink;
    BodySource source{&request.body};
    HeaderList headers;
    Configure(handle, url, request.timeout, sink);
    if (request.method == HttpMethod::Post) {
      headers = ConfigurePost(handle, request.form, source);
    } else {
      Check(curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L), "GET");
    }
    const CURLcode result = Transfer(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (sink.outOfMemory) throw std::bad_alloc();
    if (sink.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
      throw HttpError("the response from " + url + " is larger than 16 MiB", HttpFailure::Transfer,
                      true, static_cast<int>(status));
    }
    if (source.resendRefused) {
      throw HttpError("HTTP request to " + url +
                          " failed: the connection closed after the request went out, before "
                          "any answer; not sent again in this exchange, as the service may have it",
                      HttpFailure::Transfer, true, static_cast<int>(status));
    }
    if (result != CURLE_OK) {
      throw HttpError("HTTP request to " + url + " failed: " + FailureText(result, sink),
                      FailureOf(result), RequestLeft(handle), static_cast<int>(status));
    }
    const int code = static_cast<int>(status);
    return HttpAnswer{code, ReasonPhrase(code), std::move(sink.body)};
  }

 private:
  static curl_socket_t OpenSocket(void* context, curlsocktype /*purpose*/,
                                  curl_sockaddr* address) noexcept {
    auto& session = *static_cast<CurlSession*>(context);
    const curl_socket_t fd = OpenPrivateSocket(*address);
    if (fd == CURL_SOCKET_BAD) return CURL_SOCKET_BAD;
    try {
      session.sockets_.push_back(fd);
    } catch (const std::bad_alloc&) {
      ClosePrivateSocket(fd);
      return CURL_SOCKET_BAD;
    }
    return fd;
  }

  static int CloseSocket(void* context, curl_socket_t fd) noexcept {
    auto& sockets = static_cast<CurlSession*>(context)->sockets_;
    std::erase(sockets, fd);
    return ClosePrivateSocket(fd);
  }

  CURL* Handle() {
    if (!handle_) {
      StartCurl();
      handle_.reset(curl_easy_init());
      if (!handle_) throw HttpError("cannot create the HTTP client", HttpFailure::Internal);
    }
    return handle_.get();
  }

  // The process's multi handle, made once; its wake-up socket pair is
  // close-on-exec before any exchange starts. It holds the connection cache,
  // so connections are kept alive from one exchange to the next.
  CURLM* Multi() {
    if (!multi_) {
      // One thread at a time: the pair that holds the wake-up byte is then
      // this handle's, not that of a handle another thread makes meanwhile.
      const std::lock_guard making(ProcessState<MultiMaking>().mutex);
      const std::vector<int> before = InheritedLocalSockets();
      multi_.reset(curl_multi_init());
      if (!multi_) throw std::bad_alloc();
      MarkWakeupPairCloseOnExec(multi_.get(), before);
    }
    return multi_.get();
  }

  // One exchange through the multi handle, as curl_easy_perform would run it
  // through a multi handle of its own whose descriptors we could not reach.
  CURLcode Transfer(CURL* handle) {
    CURLM* multi = Multi();
    resolving_ = false;
    CheckMulti(curl_multi_add_handle(multi, handle), "add", false);
    // Taken out again on every path: a handle left in would refuse every later exchange.
    struct Added {
      CURLM* multi;
      CURL* handle;
      ~Added() { curl_multi_remove_handle(multi, handle); }
    } added{multi, handle};
    CURLcode result = CURLE_OK;
    // The resolver's pair lives only until the connection is made: once the
    // request is about to go out, nothing new appears, and a long body's
    // many steps need not ask for it each. An exchange that resolves no name
    // (a kept-alive connection, a cached or numeric address) makes no pair.
    bool connecting = true;
    for (bool done = false; !done;) {
      int running = 0;
      const CURLMcode performed = curl_multi_perform(multi, &running);
      if (connecting && resolving_) {
        MarkResolverPairCloseOnExec(multi);
        curl_off_t pretransfer = 0;
        curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
        connecting = pretransfer == 0;
      }
      CheckMulti(performed, "perform", RequestLeft(handle));
      int left = 0;
      while (const CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == handle) {
          result = message->data.result;
          done = true;
        }
      }
      if (!done)
        CheckMulti(curl_multi_poll(multi, nullptr, 0, 1000, nullptr), "poll", RequestLeft(handle));
    }
    return result;
  }

  // libcurl calls this before it starts resolving a name: the exchange then
  // has a resolver's pair to mark.
  static int ResolverStarting(void* /*resolver*/, void* /*reserved*/, void* context) noexcept {
    static_cast<CurlSession*>(context)->resolving_ = true;
    return 0;
  }

  void Configure(CURL* handle, const std::string& url, std::chrono::seconds timeout,
                 BodySink& sink) {
    const long timeoutMs = static_cast<long>(timeout.count()) * 1000;
    Check(curl_easy_setopt(handle, CURLOPT_URL, url.c_str()), "URL");
    // A plain HTTP request through a proxy names the whole URL, which libcurl
    // builds itself; everywhere else the target is ours, checked whole.
    target_ = PlainHttpThroughProxy(url) ? std::string() : RequestTarget(url);
    Check(curl_easy_setopt(handle, CURLOPT_REQUEST_TARGET,
                           target_.empty() ? nullptr : target_.c_str()),
          "request target");
    Check(curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText_), "error buffer");
    // The URL comes from the host's parameters: plain HTTP and HTTPS only, so
    // it can never make us read a local file or speak another protocol.
    Check(curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https"), "protocols");
    Check(curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeoutMs), "time-out");
    Check(curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs), "connect time-out");
    // Without this, libcurl's DNS time-out uses SIGALRM, which is not ours to take
    // inside a host's process.
    Check(curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L), "no signals");
    Check(curl_easy_setopt(handle, CURLOPT_SHARE, SharedCurlData()), "share");
    Check(curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, &CurlSession::OpenSocket),
          "socket callback");
    Check(curl_easy_setopt(handle, CURLOPT_OPENSOCKETDATA, this), "socket callback data");
    Check(curl_easy_setopt(handle, CURLOPT_CLOSESOCKETFUNCTION, &CurlSession::CloseSocket),
          "socket callback");
    Check(curl_easy_setopt(handle, CURLOPT_CLOSESOCKETDATA, this), "socket callback data");
    Check(curl_easy_setopt(handle, CURLOPT_RESOLVER_START_FUNCTION, &CurlSession::ResolverStarting),
          "resolver callback");
    Check(curl_easy_setopt(handle, CURLOPT_RESOLVER_START_DATA, this), "resolver callback data");
    Check(curl_easy_setopt(handle, CURLOPT_TCP_NODELAY, 1L), "TCP_NODELAY");
    Check(curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L), "peer verification");
    Check(curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L), "host verification");
    // A service signed by the host's own authority is trusted only when the host
    // names it; the reset before every exchange puts the system's store back.
    if (const auto caFile = settings::CaFile()) {
      Check(curl_easy_setopt(handle, CURLOPT_CAINFO, caFile->c_str()), "CA file");
    }
    // Stops early when the server announces the size; the write callback
    // catches the bodies that arrive without one.
    Check(curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                           static_cast<curl_off_t>(kMaxResponseBody)),
          "size limit");
    Check(curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &CollectBody), "write callback");
    Check(curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink), "write data");
  }

  // The body is read from memory by its length, so NUL bytes survive and
  // libcurl never falls back to reading it from stdin; it is read once
  // (BodySource).
  static HeaderList ConfigurePost(CURL* handle, bool formBody, BodySource& source) {
    Check(curl_easy_setopt(handle, CURLOPT_POST, 1L), "POST");
    Check(curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                           static_cast<curl_off_t>(source.body->size())),
          "body size");
    Check(curl_easy_setopt(handle, CURLOPT_READFUNCTION, &ReadBody), "body");
    Check(curl_easy_setopt(handle, CURLOPT_READDATA, &source), "body");
    Check(curl_easy_setopt(handle, CURLOPT_SEEKFUNCTION, &RewindBody), "body rewind");
    Check(curl_easy_setopt(handle, CURLOPT_SEEKDATA, &source), "body rewind");
    // libcurl would ask larger bodies to wait for "100 Continue"; a server that
    // never sends it makes every call sit out libcurl's one-second wait.
    HeaderList headers = AppendHeader(nullptr, "Expect:");
    headers = AppendHeader(std::move(headers),
                           formBody ? "Content-Type: application/x-www-form-urlencoded"
                                    : "Content-Type: application/octet-stream");
    Check(curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get()), "headers");
    return headers;
  }

  std::string FailureText(CURLcode result, const BodySink& sink) const {
    // libcurl runs out of its own buffer, not of memory, on a header line over
    // CURL_MAX_HTTP_HEADER, and says only "Out of memory".
    if (result == CURLE_OUT_OF_MEMORY && !sink.bodyStarted) {
      return "the answer's headers are larger than the HTTP client reads (" +
             std::to_string(CURL_MAX_HTTP_HEADER / 1024) + " KiB a header)";
    }
    if (errorText_[0] != '\0') return errorText_;
    return curl_easy_strerror(result);
  }

  // A failure of the multi handle is the client's own, never the answer's:
  // out of memory said as such, anything else as the library failing.
  static void CheckMulti(CURLMcode code, const char* what, bool sent) {
    if (code == CURLM_OK) return;
    if (code == CURLM_OUT_OF_MEMORY) throw std::bad_alloc();
    throw HttpError(
        std::string("the HTTP client failed (") + what + "): " + curl_multi_strerror(code),
        HttpFailure::Internal, sent);
  }

  // Whether any of the request was written to the connection.
  static bool RequestLeft(CURL* handle) {
    long requestBytes = 0;
    curl_easy_getinfo(handle, CURLINFO_REQUEST_SIZE, &requestBytes);
    return requestBytes > 0;
  }

  std::unique_ptr<CURLM, MultiCleanup> multi_;
  std::unique_ptr<CURL, EasyCleanup> handle_;
  std::string target_;                  // of the request in progress
  bool resolving_ = false;              // a name is resolved in the exchange
  std::vector<curl_socket_t> sockets_;  // open sockets of handle_'s connections
  char errorText_[CURL_ERROR_SIZE] = {};
};

}  // namespace

const char* HttpMethodName(HttpMethod method) {
  return method == HttpMethod::Post ? "POST" : "GET";
}

HttpMethod HttpMethodNamed(const std::string& name) {
  if (name == "GET") return HttpMethod::Get;
  if (name == "POST") return HttpMethod::Post;
  throw HttpError("unsupported HTTP method '" + name + "'", HttpFailure::Request);
}

HttpAnswer SendHttpRequest(const HttpRequest& request) {
  CheckUrl(request.url);
  CheckTimeout(request.timeout);
  const CurlHandlePool<CurlSession>::Lease session;
  return session->Perform(request);
}

}  // namespace lumirex
