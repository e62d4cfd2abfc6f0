#include "cli_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "testkit/testkit.hpp"

extern char** environ;

namespace clitest {

namespace {

std::vector<std::string> Environment(const EnvChanges& changes) {
  EnvChanges all{{"LUMIREX_URL", std::nullopt},
                 {"LUMIREX_DB", std::nullopt},
                 {"LUMIREX_BASE_DIR", std::nullopt},
                 {"LUMIREX_HOST_ENCODING", std::nullopt},
                 // The command's texts as a Windows-1252 till's, whatever the machine's locale.
                 {"LC_ALL", "C"}};
  for (const auto& [name, value] : changes) all[name] = value;
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    if (!all.contains(text.substr(0, text.find('=')))) env.push_back(text);
  }
  for (const auto& [name, value] : all) {
    if (value) env.push_back(name + "=" + *value);
  }
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

pid_t Spawn(const std::vector<std::string>& args, const EnvChanges& env,
            posix_spawn_file_actions_t* actions) {
  std::vector<std::string> argv{LUMIREX_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> envp = Environment(env);
  auto argvPointers = Pointers(argv);
  auto envPointers = Pointers(envp);
  pid_t pid = -1;
  int error =
      posix_spawn(&pid, LUMIREX_CLI, actions, nullptr, argvPointers.data(), envPointers.data());
  if (error != 0) throw std::runtime_error(std::string("cannot run lumirex: ") + strerror(error));
  return pid;
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

Finished RunCli(const std::vector<std::string>& args, const EnvChanges& env) {
  testkit::TempDir capture;
  std::string outFile = (capture.path() / "out").string();
  std::string errFile = (capture.path() / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT, 0600);
  Finished finished;
  try {
    finished.status = WaitFor(Spawn(args, env, &actions));
  } catch (...) {
    posix_spawn_file_actions_destroy(&actions);
    throw;
  }
  posix_spawn_file_actions_destroy(&actions);
  finished.out = testkit::ReadFile(outFile);
  finished.err = testkit::ReadFile(errFile);
  return finished;
}

Background::Background(const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("cannot make a pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  try {
    pid_ = Spawn(args, {}, &actions);
  } catch (...) {
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    close(fds[1]);
    throw;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  out_ = fds[0];
}

Background::~Background() {
  if (pid_ > 0) Stop(SIGKILL);
  if (out_ >= 0) close(out_);
}

std::string Background::ReadLine() {
  for (;;) {
    auto newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return line;
    }
    char buffer[256];
    ssize_t got = read(out_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::exchange(pending_, {});
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

int Background::Stop(int signal) {
  kill(pid_, signal);
  int status = WaitFor(pid_);
  pid_ = -1;
  return status;
}

}  // namespace clitest
