#include "call_fixture.hpp"

#include <filesystem>

#include "integration/integration_call.hpp"

namespace calltest {

lumirex::Variant RecordingServices::RequisicaoHTTP(
    const std::string& url, const std::string& marker, const std::string& method,
    lumirex::TStringStream& side1, lumirex::TStringStream& body, lumirex::TStringStream& side2,
    const std::string& timeout) {
  HttpCall call{url, marker, method, body, timeout};
  {
    std::lock_guard lock(mutex_);
    calls.push_back(call);
  }
  if (answer) return answer(call);
  return real->RequisicaoHTTP(url, marker, method, side1, body, side2, timeout);
}

bool RecordingServices::TryConnect(lumirex::TADOConnection& connection) {
  ++connectAttempts;
  if (failConnect) throw std::runtime_error("the data module cannot be created");
  return real->TryConnect(connection);
}

void RecordingServices::Mensagem(const std::string& text, const std::string&, const std::string&,
                                 const std::string&, lumirex::TTipoMsg, const std::string&,
                                 const std::string&, int, lumirex::TClientDataSet*) noexcept {
  std::lock_guard lock(mutex_);
  messages.push_back(text);
}

void CallTest::SetUp() {
  Finalize();  // every test starts without a data module
  lumirex::SetBaseDir(base_.str());
  lumirex::SetConnectionString("sqlite3://db=" + base_.str() + "/Dados/pos.sqlite readonly=1");
  lumirex::SetDecimalSeparator(',');
  previous_ = lumirex::InstallServices(services_);
}

void CallTest::TearDown() {
  Finalize();
  lumirex::InstallServices(previous_);
  lumirex::SetBaseDir(std::nullopt);
  lumirex::SetConnectionString(std::nullopt);
}

std::vector<std::string> CallTest::LogTexts() const {
  std::vector<std::string> texts;
  std::filesystem::path path = lumirex::LogFilePath();
  if (!std::filesystem::exists(path)) return texts;
  for (const std::string& line : testkit::ReadCrlfLines(path)) {
    auto dash = line.find(" - ");
    texts.push_back(dash == std::string::npos ? line : line.substr(dash + 3));
  }
  return texts;
}

std::vector<lumirex::Variant> CallTest::Params(const std::string& operation, const std::string& url,
                                               const std::string& cpf, const std::string& branch,
                                               const std::string& till,
                                               const std::string& sequence) {
  return {operation, url, cpf, branch, till, sequence};
}

}  // namespace calltest
