#include "support/settings.hpp"

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "support/no_destructor.hpp"
#include "support/option_string.hpp"
#include "support/process_state.hpp"
#include "support/sigpipe_guard.hpp"
#include "support/system_clock_and_path.hpp"

namespace lumirex::settings {

namespace {

struct State {
  std::mutex mutex;
  std::optional<std::string> baseDir;
  std::optional<std::string> connection;
  std::optional<std::string> caFile;
  char decimalSeparator = ',';
  MessageSink sink;
};

// Read for every text that crosses the boundary, so kept outside the lock;
// -1 while the host has set none.
std::atomic<int> hostEncoding{-1};

State& state() {
  return ProcessState<State>();
}

// The innermost call scope of this thread, if any.
thread_local CallSettings* currentScope = nullptr;

std::string ReadBaseDir() {
  {
    std::lock_guard lock(state().mutex);
    if (state().baseDir) return *state().baseDir;
  }
  if (auto env = EnvironmentValue("LUMIREX_BASE_DIR")) return *env;
  return ExecutableFolder();
}

HostEncoding ReadHostEncoding() {
  if (const int set = hostEncoding.load(std::memory_order_relaxed); set >= 0) {
    return static_cast<HostEncoding>(set);
  }
  const auto env = EnvironmentValue("LUMIREX_HOST_ENCODING");
  return env ? HostEncodingNamed(*env).value_or(HostEncoding::Windows1252)
             : HostEncoding::Windows1252;
}

}  // namespace

CallSettings::CallSettings() noexcept : outer_(currentScope) {
  currentScope = this;
}

CallSettings::~CallSettings() {
  currentScope = outer_;
}

std::string BaseDir() {
  CallSettings* scope = currentScope;
  if (scope == nullptr) return ReadBaseDir();
  if (!scope->baseDir_) scope->baseDir_ = ReadBaseDir();
  return *scope->baseDir_;
}

bool IsBaseDir(std::string_view dir) {
  const CallSettings* scope = currentScope;
  if (scope != nullptr && scope->baseDir_) return *scope->baseDir_ == dir;
  return BaseDir() == dir;
}

void SetBaseDir(std::optional<std::string> dir) {
  std::lock_guard lock(state().mutex);
  state().baseDir = std::move(dir);
}

std::string ConnectionString() {
  {
    std::lock_guard lock(state().mutex);
    if (state().connection) return *state().connection;
  }
  if (auto env = EnvironmentValue("LUMIREX_DB")) return *env;
  // Quoted and escaped: the options are split on blanks, and a till's folder
  // may hold one, or a quote.
  return "sqlite3://db=" + QuoteOptionValue(BaseDir() + "/Dados/pos.sqlite") + " readonly=1";
}

void SetConnectionString(std::optional<std::string> connection) {
  std::lock_guard lock(state().mutex);
  state().connection = std::move(connection);
}

std::optional<std::string> CaFile() {
  {
    std::lock_guard lock(state().mutex);
    if (state().caFile) return state().caFile;
  }
  return EnvironmentValue("LUMIREX_CA_FILE");
}

void SetCaFile(std::optional<std::string> file) {
  std::lock_guard lock(state().mutex);
  state().caFile = std::move(file);
}

char DecimalSeparator() {
  std::lock_guard lock(state().mutex);
  return state().decimalSeparator;
}

bool SetDecimalSeparator(char separator) {
  if (separator != ',' && separator != '.') return false;
  std::lock_guard lock(state().mutex);
  state().decimalSeparator = separator;
  return true;
}

std::optional<HostEncoding> HostEncodingNamed(std::string_view name) {
  std::string folded;
  for (char ch : name) {
    if (ch != '-' && ch != '_')
      folded += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  if (folded == "utf8") return HostEncoding::Utf8;
  if (folded == "windows1252" || folded == "cp1252") return HostEncoding::Windows1252;
  return std::nullopt;
}

HostEncoding CurrentHostEncoding() {
  CallSettings* scope = currentScope;
  if (scope == nullptr) return ReadHostEncoding();
  if (!scope->encoding_) scope->encoding_ = ReadHostEncoding();
  return *scope->encoding_;
}

bool SetHostEncoding(std::optional<std::string_view> name) {
  if (!name) {
    hostEncoding.store(-1);
    return true;
  }
  const auto encoding = HostEncodingNamed(*name);
  if (!encoding) return false;
  hostEncoding.store(static_cast<int>(*encoding));
  return true;
}

void SetMessageSink(MessageSink sink) {
  std::lock_guard lock(state().mutex);
  state().sink = std::move(sink);
}

void DeliverMessage(const std::string& text) noexcept {
  try {
    // Copying a handler may allocate; out of memory falls back to stderr too.
    MessageSink sink;
    {
      std::lock_guard lock(state().mutex);
      sink = state().sink;
    }
    if (sink) {
      sink(text);
      return;
    }
  } catch (...) {
    // A handler that throws must not take the call down with it; fall back to stderr.
  }
  // Standard error may be a pipe whose reader has gone.
  SigpipeGuard guard;
  std::fprintf(stderr, "lumirex: %s\n", text.c_str());
}

}  // namespace lumirex::settings
