#include "machine.hpp"

#include <curl/curl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <pugixml.hpp>

#include "lumirex/lumirex.h"

namespace lumirex::bench {

namespace {

// The value of the first "key<blanks>: value" line of a /proc file.
std::string ProcValue(const char* file, const std::string& key) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    const auto start = line.find_first_not_of(" \t", colon + 1);
    return start == std::string::npos ? "" : line.substr(start);
  }
  return "unknown";
}

std::string Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &local);
  return text;
}

std::string Gibibytes(const std::string& memTotal) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f GiB", std::stod("0" + memTotal) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

Machine DescribeMachine() {
  Machine machine;
  machine.date = Now();
  machine.cpuModel = ProcValue("/proc/cpuinfo", "model name");
  machine.cores = ::sysconf(_SC_NPROCESSORS_ONLN);
  machine.memory = Gibibytes(ProcValue("/proc/meminfo", "MemTotal"));
  utsname name{};
  machine.kernel = ::uname(&name) == 0 ? std::string(name.sysname) + " " + name.release : "";
  const int pugi = PUGIXML_VERSION;
  machine.software = std::string("lumirex ") + LumirexVersion() + ", libcurl " +
                     curl_version_info(CURLVERSION_NOW)->version + ", pugixml " +
                     std::to_string(pugi / 1000) + "." + std::to_string(pugi % 1000 / 10);
  return machine;
}

}  // namespace lumirex::bench
