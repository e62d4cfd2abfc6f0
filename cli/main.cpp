// The lumirex command.
#include <iostream>

#include "cli/app.hpp"

int main(int argc, char** argv) {
  return lumirex::cli::RunApp(argc, argv, std::cout, std::cerr);
}
