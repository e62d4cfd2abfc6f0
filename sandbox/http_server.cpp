#include "sandbox/http_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>

namespace lumirex::sandbox {

namespace {

// Enough workers for the keep-alive clients of a back end serving many tills
// and a benchmark's raw clients beside them: an idle keep-alive connection
// holds its worker until it closes.
constexpr std::size_t kWorkers = 40;
// A client such as a till keeps one connection for many calls; the library's
// default of 5 requests a connection would make the connection count lie
// about reuse.
constexpr std::size_t kRequestsPerConnection = 1000;

int ToMilliseconds(time_t sec, time_t usec) {
  return static_cast<int>(sec * 1000 + usec / 1000);
}

// poll() for one socket: > 0 ready, 0 timed out, < 0 failed.
int WaitFor(socket_t sock, short events, int timeoutMs) {
  pollfd entry{sock, events, 0};
  int rc = 0;
  do {
    rc = ::poll(&entry, 1, timeoutMs);
  } while (rc < 0 && errno == EINTR);
  return rc;
}

void NumericAddress(const sockaddr_storage& address, std::string& ip, int& port) {
  std::array<char, INET6_ADDRSTRLEN> text{};
  if (address.ss_family == AF_INET) {
    const auto& in4 = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &in4.sin_addr, text.data(), text.size());
    port = ntohs(in4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &in6.sin6_addr, text.data(), text.size());
    port = ntohs(in6.sin6_port);
  }
  ip = text.data();
}

// One accepted connection as httplib's request handling reads and writes it:
// buffered reads (httplib reads a request line byte by byte), writes that never
// raise SIGPIPE, and a way to drop the connection in the middle of a request.
// With a TLS session the bytes go through it, the socket underneath the same.
class SocketStream final : public httplib::Stream {
 public:
  SocketStream(socket_t sock, SSL* tls, int readTimeoutMs, int writeTimeoutMs)
      : sock_(sock), tls_(tls), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

  bool is_readable() const override {
    return HasBuffered() || WaitFor(sock_, POLLIN, readTimeoutMs_) > 0;
  }
  bool is_writable() const override {
    return !dropped_ && WaitFor(sock_, POLLOUT, writeTimeoutMs_) > 0;
  }

  ssize_t read(char* ptr, size_t size) override {
    if (dropped_) return -1;
    if (position_ >= end_) {
      const ssize_t received = Receive();
      if (received <= 0) return received;
    }
    const std::size_t count = std::min(size, end_ - position_);
    std::memcpy(ptr, buffer_.data() + position_, count);
    position_ += count;
    return static_cast<ssize_t>(count);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    if (tls_ != nullptr) {
      const int sent = SSL_write(tls_, ptr, static_cast<int>(std::min<size_t>(size, INT_MAX)));
      return sent > 0 ? sent : -1;
    }
    ssize_t sent = 0;
    do {
      sent = ::send(sock_, ptr, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      NumericAddress(address, ip, port);
    }
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      NumericAddress(address, ip, port);
    }
  }
  socket_t socket() const override { return sock_; }

  // Bytes already received: in our buffer, or decrypted and held by the TLS session.
  bool HasBuffered() const {
    return position_ < end_ || (tls_ != nullptr && SSL_pending(tls_) > 0);
  }

  // Ends the connection now; whatever httplib writes afterwards goes nowhere.
  void Drop() {
    dropped_ = true;
    ::shutdown(sock_, SHUT_RDWR);
  }

 private:
  ssize_t Receive() {
    const bool pending = tls_ != nullptr && SSL_pending(tls_) > 0;
    if (!pending && WaitFor(sock_, POLLIN, readTimeoutMs_) <= 0) return -1;
    const ssize_t received = tls_ != nullptr ? ReceiveTls() : ReceivePlain();
    position_ = 0;
    end_ = received > 0 ? static_cast<std::size_t>(received) : 0;
    return received;
  }

  ssize_t ReceivePlain() {
    ssize_t received = 0;
    do {
      received = ::recv(sock_, buffer_.data(), buffer_.size(), 0);
    } while (received < 0 && errno == EINTR);
    return received;
  }

  ssize_t ReceiveTls() {
    const int received = SSL_read(tls_, buffer_.data(), static_cast<int>(buffer_.size()));
    if (received > 0) return received;
    // The client's close_notify ends the stream as a plain close would.
    return SSL_get_error(tls_, received) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
  }

  socket_t sock_;
  SSL* tls_;
  int readTimeoutMs_;
  int writeTimeoutMs_;
  bool dropped_ = false;
  std::array<char, 4096> buffer_{};
  std::size_t position_ = 0;
  std::size_t end_ = 0;
};

// The connection whose request this worker thread is handling.
thread_local SocketStream* tCurrentStream = nullptr;

// httplib's default also sets SO_REUSEPORT, which lets a second server bind
// a port that is already serving and quietly share its connections. Address
// reuse alone still lets a stopped sandbox start again on its port.
void ReuseAddressOnly(socket_t sock) {
  int on = 1;
  ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
}

struct SslFree {
  void operator()(SSL* tls) const { SSL_free(tls); }
};
using TlsSession = std::unique_ptr<SSL, SslFree>;

// The server's side of a TLS handshake on an accepted socket; null when the
// client gives up (as one that does not trust the certificate does). The
// socket's own time-outs bound a client that never speaks.
TlsSession AcceptTls(SSL_CTX* context, socket_t sock, int timeoutMs) {
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
  ::setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
  // OpenSSL writes with write(2), which raises SIGPIPE on a connection the
  // client closed; blocked on this worker thread, it only fails the write.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  TlsSession tls(SSL_new(context));
  if (!tls || SSL_set_fd(tls.get(), sock) != 1 || SSL_accept(tls.get()) != 1) {
    ERR_clear_error();
    return nullptr;
  }
  return tls;
}

}  // namespace

HttpServer::HttpServer(const std::string& certFile, const std::string& keyFile) : HttpServer() {
  tls_.reset(SSL_CTX_new(TLS_server_method()));
  if (!tls_) throw std::runtime_error("sandbox: cannot set up TLS");
  if (SSL_CTX_use_certificate_chain_file(tls_.get(), certFile.c_str()) != 1) {
    ERR_clear_error();
    throw std::runtime_error("sandbox: cannot use the certificate in " + certFile);
  }
  if (SSL_CTX_use_PrivateKey_file(tls_.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(tls_.get()) != 1) {
    ERR_clear_error();
    throw std::runtime_error("sandbox: cannot use the private key in " + keyFile);
  }
}

HttpServer::HttpServer() {
  // httplib takes ownership of the queue it is handed.
  new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  set_socket_options(ReuseAddressOnly);
  set_tcp_nodelay(true);
  set_keep_alive_max_count(kRequestsPerConnection);
}

void HttpServer::DropCurrentConnection() {
  if (tCurrentStream != nullptr) tCurrentStream->Drop();
}

void HttpServer::CloseConnections() {
  closing_ = true;
  std::lock_guard lock(mutex_);
  for (socket_t sock : open_) ::shutdown(sock, SHUT_RDWR);
}

void HttpServer::Track(socket_t sock) {
  std::lock_guard lock(mutex_);
  open_.insert(sock);
}

void HttpServer::Untrack(socket_t sock) {
  std::lock_guard lock(mutex_);
  open_.erase(sock);
}

bool HttpServer::process_and_close_socket(socket_t sock) {
  ++accepted_;
  Track(sock);
  int on = 1;
  ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));

  const int readTimeoutMs = ToMilliseconds(read_timeout_sec_, read_timeout_usec_);
  TlsSession tls;
  if (tls_) tls = AcceptTls(tls_.get(), sock, readTimeoutMs);
  SocketStream stream(sock, tls.get(), readTimeoutMs,
                      ToMilliseconds(write_timeout_sec_, write_timeout_usec_));
  tCurrentStream = &stream;
  const int keepAliveMs = ToMilliseconds(keep_alive_timeout_sec_, 0);
  bool ok = false;
  const bool ready = !tls_ || tls;
  for (std::size_t left = keep_alive_max_count_; ready && left > 0 && !closing_; --left) {
    if (!stream.HasBuffered() && WaitFor(sock, POLLIN, keepAliveMs) <= 0) break;
    bool closedByClient = false;
    ok = process_request(stream, left == 1, closedByClient, nullptr);
    if (!ok || closedByClient) break;
  }
  tCurrentStream = nullptr;
  // The session goes before the socket it writes to.
  tls.reset();

  Untrack(sock);
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace lumirex::sandbox
