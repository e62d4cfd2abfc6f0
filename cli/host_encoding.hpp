// The host encoding the command runs as: the library's texts in and out, and
// the command's own packets and parameters built for it.
#pragma once

#include <string>

namespace lumirex::cli {

// "UTF-8" when the character set of the locale the environment names is
// UTF-8, else "windows-1252".
std::string LocaleHostEncoding();

// Sets the encoding for the shared library's calls and for the helpers the
// command links beside it. Raises UsageError for a name neither knows.
void UseHostEncoding(const std::string& name);

}  // namespace lumirex::cli
