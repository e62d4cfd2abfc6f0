// A program run in a process of its own, for as long as its object lives.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace lumirex::bench {

// This process's environment with name=value in place of any earlier value
// (without it when value is empty).
std::vector<std::string> EnvironmentWith(const std::string& name, const std::string& value);

class ChildProcess {
 public:
  // args[0] is the program's path. Raises std::runtime_error when it cannot start.
  ChildProcess(std::vector<std::string> args, std::vector<std::string> environment);
  // Ends it by force if it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Whether it has ended (its work done, a crash, a sanitizer's report), without waiting.
  bool Ended();
  // "exit N" or "signal N"; "killed: ..." when it still ran at `deadline`.
  std::string WaitUntil(std::chrono::steady_clock::time_point deadline);

 private:
  pid_t pid_ = -1;
  std::optional<std::string> ended_;
};

}  // namespace lumirex::bench
