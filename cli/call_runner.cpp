#include "cli/call_runner.hpp"

#include <filesystem>

#include "cli/host_encoding.hpp"
#include "cli/usage_error.hpp"
#include "support/operations.hpp"
#include "support/path_text.hpp"

namespace lumirex::cli {

void UseBaseDir(const std::string& baseDir) {
  const std::filesystem::path base =
      baseDir.empty() ? std::filesystem::current_path() : FileSystemPath(baseDir);
  PathsAsUtf8 paths;
  SetBaseDir(PathText(std::filesystem::absolute(base).lexically_normal()));
}

void ApplySettings(const CallSettings& settings) {
  if (settings.url.empty()) {
    throw UsageError("the service's base URL is missing: give --url URL or set LUMIREX_URL");
  }
  if (settings.separator && *settings.separator != "," && *settings.separator != ".") {
    throw UsageError("--decimal-separator takes \",\" or \".\", not \"" + *settings.separator +
                     "\"");
  }
  UseBaseDir(settings.baseDir);
  SetConnectionString(settings.connection);
  if (settings.separator) SetDecimalSeparator(settings.separator->front());
}

bool SetOutboxFile(const std::string& file) {
  PathsAsUtf8 paths;
  return LumirexSetOutbox(file.c_str()) == 0;
}

std::size_t ResultSize(const std::string& operation) {
  const Operation* row = OperationNamed(operation);
  return row != nullptr ? row->resultElements : 2;
}

CallRun Call(std::vector<Variant> params) {
  CallRun outcome;
  outcome.operation = params.empty() ? std::string() : params.front().asString();
  outcome.result = Variant::Array(ResultSize(outcome.operation));
  SetMessageHandler([&outcome](const std::string& text) { outcome.messages.push_back(text); });
  auto lastIndex = static_cast<std::int32_t>(params.size()) - 1;
  outcome.returned = IntegracaoLumirex(std::move(params), lastIndex, outcome.result);
  outcome.last = LastCall();
  SetMessageHandler(nullptr);
  PathsAsUtf8 paths;
  outcome.logFile = LogFilePath();
  return outcome;
}

bool Accepted(const CallRun& outcome) {
  if (!outcome.returned) return false;
  const Variant& flag = outcome.result.items().front();
  return flag.type() == Variant::Type::Bool && !flag.asBool();
}

int ExitStatus(const CallRun& outcome) {
  if (!outcome.returned) return kExitCallFailed;
  return Accepted(outcome) ? kExitAccepted : kExitDeclined;
}

}  // namespace lumirex::cli
