#include "cli/host_encoding.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>
#endif

#include <clocale>
#include <cstring>

#include "cli/usage_error.hpp"
#include "lumirex/lumirex.h"
#include "support/settings.hpp"

namespace lumirex::cli {

std::string LocaleHostEncoding() {
  // Only the character classification is taken from the environment: numbers
  // and dates keep the C locale the command's formatting relies on.
#ifdef _WIN32
  // The process's ANSI code page: UTF-8 only where Windows was told so.
  const char* codeset = GetACP() == CP_UTF8 ? "UTF-8" : "windows-1252";
#else
  std::setlocale(LC_CTYPE, "");
  const char* codeset = nl_langinfo(CODESET);
#endif
  const bool utf8 = settings::HostEncodingNamed(codeset != nullptr ? codeset : "") ==
                    settings::HostEncoding::Utf8;
  return utf8 ? "UTF-8" : "windows-1252";
}

void UseHostEncoding(const std::string& name) {
  // The library's calls bind to the shared library; the packet writer and the
  // text helpers the command links itself keep a setting of their own.
  if (LumirexSetHostEncoding(name.c_str()) != 0 || !settings::SetHostEncoding(name)) {
    throw UsageError("--host-encoding takes UTF-8 or windows-1252, not \"" + name + "\"");
  }
}

PathsAsUtf8::PathsAsUtf8() {
  LumirexSetHostEncoding("UTF-8");
}

// The helpers the command links keep the command's own setting throughout.
PathsAsUtf8::~PathsAsUtf8() {
  LumirexSetHostEncoding(
      settings::CurrentHostEncoding() == settings::HostEncoding::Utf8 ? "UTF-8" : "windows-1252");
}

}  // namespace lumirex::cli
