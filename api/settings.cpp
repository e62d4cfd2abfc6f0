// The configuration part of the C ABI. Nothing here throws across the boundary.
#include <optional>
#include <string>

#include "api/text_out.hpp"
#include "integration/call_gate.hpp"
#include "lumirex/lumirex.h"
#include "support/host_text.hpp"
#include "support/settings.hpp"

namespace {

// Folders, files and connection strings are kept as UTF-8 inside the library
// (support/path_text.hpp), converted from and to the host encoding here, so
// set the host encoding before them.
std::optional<std::string> OptionalPath(const char* text) {
  if (text == nullptr) return std::nullopt;
  return lumirex::Utf8FromHostText(text);
}

size_t CopyOutPath(const std::string& path, char* buffer, size_t size) {
  return lumirex::api::CopyOut(lumirex::HostTextFromUtf8(path), buffer, size);
}

}  // namespace

extern "C" {

void LumirexSetMessageHandler(LumirexMessageHandler handler, void* context) {
  try {
    if (handler == nullptr) {
      lumirex::settings::SetMessageSink(nullptr);
    } else {
      lumirex::settings::SetMessageSink(
          [handler, context](const std::string& text) { handler(text.c_str(), context); });
    }
  } catch (...) {
    // Out of memory while storing the handler: the previous one stays.
  }
}

void LumirexSetBaseDir(const char* dir) {
  try {
    lumirex::settings::SetBaseDir(OptionalPath(dir));
  } catch (...) {
  }
}

void LumirexSetConnectionString(const char* connection) {
  try {
    lumirex::settings::SetConnectionString(OptionalPath(connection));
  } catch (...) {
  }
}

void LumirexSetCaFile(const char* file) {
  try {
    lumirex::settings::SetCaFile(OptionalPath(file));
  } catch (...) {
  }
}

int LumirexSetMaxCalls(int max_calls) {
  return lumirex::SetCallBound(max_calls) ? 0 : 1;
}

int LumirexSetDecimalSeparator(char separator) {
  return lumirex::settings::SetDecimalSeparator(separator) ? 0 : 1;
}

int LumirexSetHostEncoding(const char* name) {
  try {
    return lumirex::settings::SetHostEncoding(
               name == nullptr ? std::nullopt : std::optional<std::string_view>(name))
               ? 0
               : 1;
  } catch (...) {
    return 1;
  }
}

const char* LumirexVersion(void) {
  return LUMIREX_VERSION;
}

size_t LumirexGetBaseDir(char* buffer, size_t size) {
  try {
    return CopyOutPath(lumirex::settings::BaseDir(), buffer, size);
  } catch (...) {
    return lumirex::api::CopyOut("", buffer, size);
  }
}

size_t LumirexGetConnectionString(char* buffer, size_t size) {
  try {
    return CopyOutPath(lumirex::settings::ConnectionString(), buffer, size);
  } catch (...) {
    return lumirex::api::CopyOut("", buffer, size);
  }
}

size_t LumirexGetCaFile(char* buffer, size_t size) {
  try {
    return CopyOutPath(lumirex::settings::CaFile().value_or(""), buffer, size);
  } catch (...) {
    return lumirex::api::CopyOut("", buffer, size);
  }
}

char LumirexGetDecimalSeparator(void) {
  return lumirex::settings::DecimalSeparator();
}

}  // extern "C"
