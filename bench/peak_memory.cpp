#include "peak_memory.hpp"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "c_call.hpp"
#include "lumirex/lumirex.h"

extern char** environ;

namespace lumirex::bench {

namespace {

// A "Name:   1234 kB" line of /proc/self/status, in KiB; -1 when absent.
long StatusKiB(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
  }
  return -1;
}

// Linux resets VmHWM to the current resident set when "5" is written here.
bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[256];
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, got);
  return text;
}

std::string SelfPath() {
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) throw std::runtime_error("cannot find this program's path");
  return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace

PeakMemory MeasureInChild(const PeakMemoryJob& job) {
  const std::string self = SelfPath();
  std::vector<std::string> args = {self,    kPeakMemoryChildFlag, job.baseDir,    job.connection,
                                   job.url, job.warmUpCpf,        job.measuredCpf};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (::pipe(pipeFds) != 0) throw std::runtime_error("cannot create a pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, self.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  const std::string output = spawned == 0 ? ReadAll(pipeFds[0]) : "";
  ::close(pipeFds[0]);
  if (spawned != 0) throw std::runtime_error("cannot start the peak memory child");
  int status = 0;
  ::waitpid(child, &status, 0);

  PeakMemory peak;
  int reset = 0, succeeded = 0;
  std::istringstream in(output);
  if (!(in >> peak.rssBeforeKiB >> peak.peakAfterKiB >> reset >> succeeded)) {
    throw std::runtime_error("the peak memory child said nothing useful: '" + output + "'");
  }
  peak.peakWasReset = reset != 0;
  peak.callSucceeded = succeeded != 0;
  return peak;
}

int PeakMemoryChildMain(const std::vector<std::string>& args) {
  if (args.size() != 5) return 64;
  LumirexSetBaseDir(args[0].c_str());
  LumirexSetConnectionString(args[1].c_str());
  // The first call builds the data module, the HTTP handle and its connection;
  // the measured call pays only for its answer.
  CCall warmUp(ConsultaParameters(args[2], args[3]));
  warmUp.Run();
  CCall measured(ConsultaParameters(args[2], args[4]));

  const bool wrote = ResetPeak();
  const long rssBefore = StatusKiB("VmRSS");
  // A little slack: reading the status file itself may touch a page or two.
  const bool reset = wrote && StatusKiB("VmHWM") <= rssBefore + 256;
  const bool succeeded = measured.Run() && measured.Accepted();
  const long peakAfter = StatusKiB("VmHWM");
  std::printf("%ld %ld %d %d\n", rssBefore, peakAfter, reset ? 1 : 0, succeeded ? 1 : 0);
  return succeeded ? 0 : 1;
}

}  // namespace lumirex::bench
