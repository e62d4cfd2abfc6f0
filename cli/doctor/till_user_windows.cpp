// Who the checks run as: on Windows the user running the doctor, always. A
// folder's access is checked against its own security for that user (see
// file_access_windows.cpp), so run the doctor as the till's user.
#include <windows.h>

#include <string>

#include "cli/doctor/checks.hpp"
#include "support/windows_text.hpp"

namespace lumirex::cli::doctor {

CheckResult RunAsTillUser(const DoctorSettings&) {
  std::wstring name(256, L'\0');
  DWORD size = static_cast<DWORD>(name.size());
  const bool known = GetUserNameW(name.data(), &size) != 0 && size > 0;
  name.resize(known ? size - 1 : 0);
  return {"till user", true,
          (known ? Utf8FromWide(name) : std::string("this user")) +
              " (the user running the doctor; run it as the till's user)",
          ""};
}

}  // namespace lumirex::cli::doctor
