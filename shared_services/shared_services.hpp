// The services the integration relies on from outside itself: HTTP, the
// database connection string and session, and the operator message, each a
// virtual member, so tests can put fakes in place and a host could put in its
// own. The text helpers of the same library are plain functions: nothing
// stands in for them.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "lumirex/lumirex.hpp"
#include "shared_services/http_request.hpp"

namespace lumirex {

class TADOConnection;

class SharedServices {
 public:
  virtual ~SharedServices() = default;

  // One HTTP exchange (SendHttpRequest's, for the default services). Raises
  // HttpError when the request cannot be sent or the answer not received.
  virtual HttpAnswer SendHttp(const HttpRequest& request) = 0;

  // Opens the connection (running its connection events); false instead of
  // raising when it cannot.
  virtual bool TryConnect(TADOConnection& connection) = 0;

  // Readies an opened session for reading only and settles its dialect.
  virtual void SetADODBSession(TADOConnection& connection) = 0;

  // The point-of-sale database's connection string.
  virtual std::string GetStringConexVex() = 0;

  // Shows text to the operator. Returns promptly and never throws.
  virtual void ShowMessage(const std::string& text) noexcept = 0;
};

// whenTrue when the condition holds, else whenFalse.
inline Variant iif(bool condition, const Variant& whenTrue, const Variant& whenFalse) {
  return condition ? whenTrue : whenFalse;
}

// The services in force: the default implementation unless a test or a host
// installed its own. Held by the caller for as long as it uses them, so that
// another thread installing others cannot pull them away mid-call.
std::shared_ptr<SharedServices> Services();

// Installs services (nullptr restores the default) and returns the ones that
// were in force, so a test can put them back.
std::shared_ptr<SharedServices> InstallServices(std::shared_ptr<SharedServices> services);

// The default implementation.
std::shared_ptr<SharedServices> MakeDefaultServices();

}  // namespace lumirex
