// What the library asks of the operating system about the host process: the
// local time now and the folder of its executable. One source file per system.
#pragma once

#include <string>

#include "support/datetime.hpp"

namespace lumirex {

// The local date and time now, to the millisecond.
DateTimeParts LocalTimeNow();

// The folder of the host process's executable file, as a host text; "." when
// the system cannot say.
std::string ExecutableFolder();

}  // namespace lumirex
