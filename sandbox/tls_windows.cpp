// No TLS library is built for Windows: the sandbox there serves plain HTTP,
// and an HTTPS sandbox is made on Linux (or behind a TLS front).
#include <stdexcept>

#include "sandbox/tls.hpp"

namespace lumirex::sandbox {

class TlsContext {};
class TlsSession {};

void TlsContextFree::operator()(TlsContext* context) const {
  std::default_delete<TlsContext>()(context);
}

void TlsSessionFree::operator()(TlsSession* session) const {
  std::default_delete<TlsSession>()(session);
}

TlsContextPtr MakeTlsContext(const std::string&, const std::string&) {
  throw std::runtime_error("sandbox: HTTPS is served by the Linux build only");
}

TlsSessionPtr AcceptTls(TlsContext&, socket_t, int) {
  return nullptr;
}

bool TlsPending(TlsSession&) {
  return false;
}

long long TlsRead(TlsSession&, char*, std::size_t) {
  return -1;
}

long long TlsWrite(TlsSession&, const char*, std::size_t) {
  return -1;
}

}  // namespace lumirex::sandbox
