#include "cli/sandbox_command.hpp"

#include <csignal>
#include <stdexcept>

#include "cli/usage_error.hpp"
#include "sandbox/sandbox.hpp"

namespace lumirex::cli {

namespace {

sandbox::Fixture FixtureFrom(const std::string& path) {
  if (path.empty()) return sandbox::DefaultFixture();
  try {
    return sandbox::LoadFixtureFile(path);
  } catch (const std::runtime_error& error) {
    throw UsageError(error.what());
  }
}

// SIGINT and SIGTERM blocked on this thread before the server starts its own,
// so they all inherit the mask and the signal is taken here by sigwait.
sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

int ServeSandbox(int port, const std::string& fixtureFile, std::ostream& out) {
  sandbox::Sandbox service(FixtureFrom(fixtureFile));
  sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  service.Start(port);
  out << service.BaseUrl() << std::endl;
  int received = 0;
  sigwait(&signals, &received);
  service.Stop();
  return 0;
}

}  // namespace lumirex::cli
