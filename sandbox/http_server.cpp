#include "sandbox/http_server.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "sandbox/socket_io.hpp"

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

// One accepted connection as httplib's request handling reads and writes it:
// buffered reads (httplib reads a request line byte by byte), writes that never
// raise SIGPIPE, and a way to drop the connection in the middle of a request.
// With a TLS session the bytes go through it, the socket underneath the same.
class SocketStream final : public httplib::Stream {
 public:
  SocketStream(socket_t sock, TlsSession* tls, int readTimeoutMs, int writeTimeoutMs)
      : sock_(sock), tls_(tls), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

  bool is_readable() const override {
    return HasBuffered() || WaitFor(sock_, SocketEvent::Readable, readTimeoutMs_) > 0;
  }
  bool is_writable() const override {
    return !dropped_ && WaitFor(sock_, SocketEvent::Writable, writeTimeoutMs_) > 0;
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
    return static_cast<ssize_t>(tls_ != nullptr ? TlsWrite(*tls_, ptr, size)
                                                : SendSome(sock_, ptr, size));
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    PeerAddress(sock_, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    LocalAddress(sock_, ip, port);
  }
  socket_t socket() const override { return sock_; }

  // Bytes already received: in our buffer, or decrypted and held by the TLS session.
  bool HasBuffered() const { return position_ < end_ || (tls_ != nullptr && TlsPending(*tls_)); }

  // Ends the connection now; whatever httplib writes afterwards goes nowhere.
  void Drop() {
    dropped_ = true;
    ShutDown(sock_);
  }

 private:
  ssize_t Receive() {
    const bool pending = tls_ != nullptr && TlsPending(*tls_);
    if (!pending && WaitFor(sock_, SocketEvent::Readable, readTimeoutMs_) <= 0) return -1;
    const auto received =
        static_cast<ssize_t>(tls_ != nullptr ? TlsRead(*tls_, buffer_.data(), buffer_.size())
                                             : ReceiveSome(sock_, buffer_.data(), buffer_.size()));
    position_ = 0;
    end_ = received > 0 ? static_cast<std::size_t>(received) : 0;
    return received;
  }

  socket_t sock_;
  TlsSession* tls_;
  int readTimeoutMs_;
  int writeTimeoutMs_;
  bool dropped_ = false;
  std::array<char, 4096> buffer_{};
  std::size_t position_ = 0;
  std::size_t end_ = 0;
};

// The connection whose request this worker thread is handling.
thread_local SocketStream* tCurrentStream = nullptr;

}  // namespace

HttpServer::HttpServer(const std::string& certFile, const std::string& keyFile) : HttpServer() {
  tls_ = MakeTlsContext(certFile, keyFile);
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
  for (socket_t sock : open_) ShutDown(sock);
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
  NoDelay(sock);

  const int readTimeoutMs = ToMilliseconds(read_timeout_sec_, read_timeout_usec_);
  TlsSessionPtr tls;
  if (tls_) tls = AcceptTls(*tls_, sock, readTimeoutMs);
  SocketStream stream(sock, tls.get(), readTimeoutMs,
                      ToMilliseconds(write_timeout_sec_, write_timeout_usec_));
  tCurrentStream = &stream;
  const int keepAliveMs = ToMilliseconds(keep_alive_timeout_sec_, 0);
  bool ok = false;
  const bool ready = !tls_ || tls;
  for (std::size_t left = keep_alive_max_count_; ready && left > 0 && !closing_; --left) {
    if (!stream.HasBuffered() && WaitFor(sock, SocketEvent::Readable, keepAliveMs) <= 0) break;
    bool closedByClient = false;
    ok = process_request(stream, left == 1, closedByClient, nullptr);
    if (!ok || closedByClient) break;
  }
  tCurrentStream = nullptr;
  // The session goes before the socket it writes to.
  tls.reset();

  Untrack(sock);
  ShutDown(sock);
  CloseSocket(sock);
  return ok;
}

}  // namespace lumirex::sandbox
