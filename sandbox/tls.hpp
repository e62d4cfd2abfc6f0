// The server's side of TLS for the sandbox: OpenSSL on Linux. Windows builds
// serve plain HTTP only; asking for HTTPS there fails as it starts.
#pragma once

#include <httplib.h>

#include <cstddef>
#include <memory>
#include <string>

namespace lumirex::sandbox {

// The certificate and key the sandbox serves with.
class TlsContext;
struct TlsContextFree {
  void operator()(TlsContext* context) const;
};
using TlsContextPtr = std::unique_ptr<TlsContext, TlsContextFree>;

// Raises std::runtime_error naming the file that cannot be used.
TlsContextPtr MakeTlsContext(const std::string& certFile, const std::string& keyFile);

// One accepted connection's session.
class TlsSession;
struct TlsSessionFree {
  void operator()(TlsSession* session) const;
};
using TlsSessionPtr = std::unique_ptr<TlsSession, TlsSessionFree>;

// The server's side of a handshake on an accepted socket; null when the
// client gives up (as one that does not trust the certificate does). The
// socket's own time-outs bound a client that never speaks.
TlsSessionPtr AcceptTls(TlsContext& context, socket_t sock, int timeoutMs);

// Decrypted bytes the session holds that the socket will not announce.
bool TlsPending(TlsSession& session);
// Bytes read, 0 at the client's close_notify, < 0 on failure.
long long TlsRead(TlsSession& session, char* data, std::size_t size);
// Bytes written, < 0 on failure.
long long TlsWrite(TlsSession& session, const char* data, std::size_t size);

}  // namespace lumirex::sandbox
