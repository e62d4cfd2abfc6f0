#include "call_fixture.hpp"

#include <filesystem>

#include "integration/integration_call.hpp"

namespace lumirex {

void PrintTo(const Variant& value, std::ostream* out) {
  switch (value.type()) {
    case Variant::Type::Empty:
      *out << "EMPTY";
      return;
    case Variant::Type::Null:
      *out << "NULL";
      return;
    case Variant::Type::Bool:
      *out << (value.asBool() ? "true" : "false");
      return;
    case Variant::Type::Int:
      *out << value.asInt();
      return;
    case Variant::Type::Double:
      *out << value.asDouble();
      return;
    case Variant::Type::DateTime:
      *out << "DATETIME " << value.asDouble();
      return;
    case Variant::Type::String:
      *out << '"' << value.asString() << '"';
      return;
    case Variant::Type::Array:
      *out << '[';
      for (std::size_t i = 0; i < value.items().size(); ++i) {
        if (i != 0) *out << ", ";
        PrintTo(value.items()[i], out);
      }
      *out << ']';
      return;
  }
}

}  // namespace lumirex

namespace calltest {

lumirex::HttpAnswer RecordingServices::SendHttp(const HttpCall& request) {
  {
    std::lock_guard lock(mutex_);
    calls.push_back(request);
  }
  if (answer) return answer(request);
  return real->SendHttp(request);
}

bool RecordingServices::TryConnect(lumirex::TADOConnection& connection) {
  return real->TryConnect(connection);
}

void RecordingServices::ShowMessage(const std::string& text) noexcept {
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
