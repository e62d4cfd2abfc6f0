#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <stdexcept>

#include "sandbox/socket_io.hpp"
#include "sandbox/tls.hpp"

namespace lumirex::sandbox {

class TlsContext {
 public:
  SSL_CTX* context;
};

class TlsSession {
 public:
  SSL* tls;
};

void TlsContextFree::operator()(TlsContext* context) const {
  SSL_CTX_free(context->context);
  std::default_delete<TlsContext>()(context);
}

void TlsSessionFree::operator()(TlsSession* session) const {
  SSL_free(session->tls);
  std::default_delete<TlsSession>()(session);
}

TlsContextPtr MakeTlsContext(const std::string& certFile, const std::string& keyFile) {
  SSL_CTX* raw = SSL_CTX_new(TLS_server_method());
  if (raw == nullptr) throw std::runtime_error("sandbox: cannot set up TLS");
  TlsContextPtr context(std::make_unique<TlsContext>(TlsContext{raw}).release());
  if (SSL_CTX_use_certificate_chain_file(raw, certFile.c_str()) != 1) {
    ERR_clear_error();
    throw std::runtime_error("sandbox: cannot use the certificate in " + certFile);
  }
  if (SSL_CTX_use_PrivateKey_file(raw, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(raw) != 1) {
    ERR_clear_error();
    throw std::runtime_error("sandbox: cannot use the private key in " + keyFile);
  }
  return context;
}

TlsSessionPtr AcceptTls(TlsContext& context, socket_t sock, int timeoutMs) {
  SetTimeouts(sock, timeoutMs);
  // OpenSSL writes with write(2), which raises SIGPIPE on a connection the
  // client closed; blocked on this worker thread, it only fails the write.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  SSL* raw = SSL_new(context.context);
  if (raw == nullptr) return nullptr;
  TlsSessionPtr session(std::make_unique<TlsSession>(TlsSession{raw}).release());
  if (SSL_set_fd(raw, sock) != 1 || SSL_accept(raw) != 1) {
    ERR_clear_error();
    return nullptr;
  }
  return session;
}

bool TlsPending(TlsSession& session) {
  return SSL_pending(session.tls) > 0;
}

long long TlsRead(TlsSession& session, char* data, std::size_t size) {
  const int received =
      SSL_read(session.tls, data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
  if (received > 0) return received;
  // The client's close_notify ends the stream as a plain close would.
  return SSL_get_error(session.tls, received) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

long long TlsWrite(TlsSession& session, const char* data, std::size_t size) {
  const int sent = SSL_write(session.tls, data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
  return sent > 0 ? sent : -1;
}

}  // namespace lumirex::sandbox
