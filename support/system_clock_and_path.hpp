// What the library asks of the operating system about the host process: the
// local time now and the folder of its executable. One source file per system.
#pragma once

#include <optional>
#include <string>

#include "support/datetime.hpp"

namespace lumirex {

// The local date and time now, to the millisecond.
DateTimeParts LocalTimeNow();

// The folder of the host process's executable file, as UTF-8 (see
// path_text.hpp); "." when the system cannot say.
std::string ExecutableFolder();

// An environment variable's value, or nullopt when it is unset or empty. On
// Windows it is read as UTF-16 and given as UTF-8, whatever the process's
// ANSI code page: the variables name folders and files.
std::optional<std::string> EnvironmentValue(const char* name);

// This machine's name, as UTF-8; "" when the system cannot say.
std::string MachineName();

}  // namespace lumirex
