// The lumirex command.
#include "cli/app.hpp"

#ifdef _WIN32
#include "cli/console_windows.hpp"

int wmain(int argc, wchar_t** argv) {
  return lumirex::cli::RunAppWithWideArguments(argc, argv);
}
#else
#include <iostream>

int main(int argc, char** argv) {
  return lumirex::cli::RunApp(argc, argv, std::cout, std::cerr);
}
#endif
