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

std::string DefaultServices::GetStringConexVex(const std::string& /*key*/) {
  return settings::ConnectionString();
}

void DefaultServices::Mensagem(const std::string& text, const std::string& /*caption*/,
                               const std::string& /*flag1*/, const std::string& /*flag2*/,
                               TTipoMsg /*kind*/, const std::string& /*extra1*/,
                               const std::string& /*extra2*/, int /*code*/,
                               TClientDataSet* /*dataset*/) noexcept {
  settings::DeliverMessage(text);
}

}  // namespace lumirex
