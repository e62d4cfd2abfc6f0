// The lumirex command. Like any host that is about to end, it lets the
// library go (Finalize) once its subcommand is done: the library's idle
// connections close and no thread of the library's is left as the process
// ends.
#include "cli/app.hpp"
#include "lumirex/lumirex.h"

#ifdef _WIN32
#include "cli/console_windows.hpp"

int wmain(int argc, wchar_t** argv) {
  const int status = lumirex::cli::RunAppWithWideArguments(argc, argv);
  Finalize();
  return status;
}
#else
#include <iostream>

int main(int argc, char** argv) {
  const int status = lumirex::cli::RunApp(argc, argv, std::cout, std::cerr);
  Finalize();
  return status;
}
#endif
