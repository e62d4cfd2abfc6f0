#include "shared_services/default_services.hpp"

#include "database/connection.hpp"
#include "support/codepage.hpp"
#include "support/settings.hpp"
#include "support/text.hpp"

namespace lumirex {

HttpAnswer DefaultServices::SendHttp(const HttpRequest& request) {
  return SendHttpRequest(request);
}

bool DefaultServices::TryConnect(TADOConnection& connection) {
  return TryOpen(connection);
}

void DefaultServices::SetADODBSession(TADOConnection& connection) {
  PrepareReadOnlySession(connection);
}

std::string DefaultServices::GetStringConexVex() {
  return settings::ConnectionString();
}

void DefaultServices::ShowMessage(const std::string& text) noexcept {
  settings::DeliverMessage(text);
}

}  // namespace lumirex
