// Runs the built lumirex command as a child process, as a person's shell would.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace clitest {

struct Finished {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Environment changes for the child: a value sets the variable, nullopt
// removes it. LUMIREX_URL, LUMIREX_DB and LUMIREX_BASE_DIR are always removed
// first, so a developer's own settings never leak into a test.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// Runs `lumirex args...` to its end.
Finished RunCli(const std::vector<std::string>& args, const EnvChanges& env = {});

// `lumirex args...` left running, its standard output readable line by line.
class Background {
 public:
  explicit Background(const std::vector<std::string>& args);
  ~Background();  // SIGKILL when still running
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // The next line of standard output, "" at its end.
  std::string ReadLine();
  // Sends the signal and waits for the exit status (-1: not a normal exit).
  int Stop(int signal);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

}  // namespace clitest
