// The services the library uses when no test or host has installed its own:
// HTTP over libcurl, the library's settings for the connection string and the
// operator message, and the connection's own opening and session preparation.
#pragma once

#include "shared_services/shared_services.hpp"

namespace lumirex {

class DefaultServices final : public SharedServices {
 public:
  HttpAnswer SendHttp(const HttpRequest& request) override;

  bool TryConnect(TADOConnection& connection) override;
  void SetADODBSession(TADOConnection& connection) override;

  // The key is not consulted: the library has one database.
  std::string GetStringConexVex() override;

  void ShowMessage(const std::string& text) noexcept override;
};

}  // namespace lumirex
