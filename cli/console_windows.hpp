// The command on Windows: its arguments as the system's UTF-16, and its
// output on a console as UTF-16 through the console's own API.
#pragma once

namespace lumirex::cli {

// RunApp with the arguments converted to the UTF-8 the command works in (the
// ANSI code page cannot hold every letter of a folder's name), and standard
// output and error written to a console as UTF-16, which it shows whatever
// its code page; output redirected to a file or pipe stays UTF-8.
int RunAppWithWideArguments(int argc, wchar_t** argv);

}  // namespace lumirex::cli
