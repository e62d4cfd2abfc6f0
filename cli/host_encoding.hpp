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

// The command's folders and files are UTF-8, and the library converts the
// ones its setters take (and its getters give) from the host encoding, which
// as Windows-1252 cannot hold every letter of a folder's name (Łódź). While
// one of these lives, the library's host encoding is UTF-8, so paths go over
// whole; then it is the command's own again.
class PathsAsUtf8 {
 public:
  PathsAsUtf8();
  ~PathsAsUtf8();
  PathsAsUtf8(const PathsAsUtf8&) = delete;
  PathsAsUtf8& operator=(const PathsAsUtf8&) = delete;
};

}  // namespace lumirex::cli
