// The machine and the software a run was measured on.
#pragma once

#include <string>

namespace lumirex::bench {

struct Machine {
  std::string date;      // local date and time of the run
  std::string cpuModel;  // /proc/cpuinfo's model name
  long cores = 0;        // online processors
  std::string memory;    // MemTotal, in GiB
  std::string kernel;    // uname's release
  std::string software;  // the library's, libcurl's and pugixml's versions
};

Machine DescribeMachine();

}  // namespace lumirex::bench
