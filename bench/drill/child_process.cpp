#include "drill/child_process.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <stdexcept>
#include <string_view>
#include <thread>

extern char** environ;

namespace lumirex::bench {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::vector<std::string> EnvironmentWith(const std::string& name, const std::string& value) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with(name + "=")) environment.emplace_back(*entry);
  }
  if (!value.empty()) environment.push_back(name + "=" + value);
  return environment;
}

ChildProcess::ChildProcess(std::vector<std::string> args, std::vector<std::string> environment) {
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(environment);
  if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) {
    throw std::runtime_error("cannot start " + args[0]);
  }
}

ChildProcess::~ChildProcess() {
  if (!ended_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool ChildProcess::Ended() {
  int status = 0;
  if (!ended_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
    ended_ = WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                               : "signal " + std::to_string(WTERMSIG(status));
  }
  return ended_.has_value();
}

std::string ChildProcess::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  while (!Ended()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      ended_ = "killed: still running after the drill's wait";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return *ended_;
}

}  // namespace lumirex::bench
