// The library inside a host's process: a host that exits with calls in
// flight, forks, calls back in from the message handler, has lost the reader
// of its standard error, or starts other programs. Each case runs in a child
// process, so a crash, a signal or a hang fails the case instead of the run.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "end_to_end.hpp"
#include "integration/data_module.hpp"

// Tests that fork this threaded process skip where a sanitizer cannot
// follow: AddressSanitizer's allocator may be locked in the child by a thread
// the child lacks (the sandbox's, say), and ThreadSanitizer refuses to start
// a thread there.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_ADDRESS_SANITIZER() \
  GTEST_SKIP() << "the sanitizer's allocator is not fork-safe while other threads allocate"
#else
#define SKIP_UNDER_ADDRESS_SANITIZER() (void)0
#endif
#if defined(__SANITIZE_THREAD__)
#define SKIP_UNDER_THREAD_SANITIZER() \
  GTEST_SKIP() << "ThreadSanitizer cannot start threads in the child of a process with threads"
#else
#define SKIP_UNDER_THREAD_SANITIZER() (void)0
#endif

using lumirex::Variant;
using namespace std::chrono_literals;

namespace calltest {
namespace {

const std::string kOtherCpf = "98765432100";

// "exit 0", "exit 3", "signal 13", or "hung" for a child killed at its deadline.
std::string WaitFor(pid_t pid, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return "hung";
    }
    std::this_thread::sleep_for(10ms);
  }
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  return "signal " + std::to_string(WTERMSIG(status));
}

// Runs body in a forked child: "exit 0" when it returned "", else its
// complaint, or how the child ended.
std::string InChild(const std::function<std::string()>& body, std::chrono::seconds limit = 10s) {
  int report[2];
  if (pipe(report) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    std::string problem = body();
    if (write(report[1], problem.data(), problem.size()) < 0) problem = "unreported";
    _exit(problem.empty() ? 0 : 1);
  }
  close(report[1]);
  const std::string ended = WaitFor(pid, limit);
  std::string problem(4096, '\0');
  const ssize_t got = read(report[0], problem.data(), problem.size());
  close(report[0]);
  problem.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return problem.empty() ? ended : problem;
}

lumirex::sandbox::Faults Stall(int seconds) {
  lumirex::sandbox::Faults faults;
  faults.stallSeconds = seconds;
  return faults;
}

class ProcessLife : public EndToEnd {
 protected:
  // Runs the exit host in each of its modes; each must end with status 0.
  void RunExitHost(std::vector<std::string>& environment);

  void SetUp() override {
    EndToEnd::SetUp();
    sandbox_.ReplaceCustomer({kOtherCpf, "Maria Souza", 500, {}});
  }

  // "" when a CONSULTA for cpf answered that customer's name.
  std::string ConsultaProblem(const std::string& cpf, const std::string& url = "") {
    std::vector<std::string> params = Consulta(cpf);
    if (!url.empty()) params[1] = url;
    const Outcome outcome = Call(params);
    const Variant name(cpf == kCpf ? "Jo\xE3o da Silva" : "Maria Souza");
    if (outcome.returned && outcome.result.items()[2] == name) return "";
    return "CONSULTA " + cpf + " answered " + ::testing::PrintToString(outcome.result.items()[2]) +
           (outcome.returned ? "" : ": " + LastLogLine());
  }

  // The text of the log's last line.
  std::string LastLogLine() const {
    const auto lines = LogTexts();
    return lines.empty() ? "" : lines.back();
  }
};

// The host's environment, with no ThreadSanitizer suppressions: the
// database library's statics are what an exit with calls in flight is about.
std::vector<std::string> UnsuppressedEnvironment() {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with("TSAN_OPTIONS=")) environment.emplace_back(*entry);
  }
  environment.emplace_back("TSAN_OPTIONS=halt_on_error=1");
  return environment;
}

TEST_F(ProcessLife, HostExitsWithCallsInFlight) {
  for (const bool forwarding : {false, true}) {
    std::vector<std::string> environment = UnsuppressedEnvironment();
    if (forwarding) {
      // A share of the reports is kept and forwarded: the forwarder is in
      // its rounds when the host ends.
      environment.push_back("LUMIREX_FORWARDING=1");
      environment.push_back("LUMIREX_FORWARDING_BACKOFF_MS=20,100");
      environment.push_back("LUMIREX_OUTBOX=" + (base_.path() / "outbox.sqlite").string());
      lumirex::sandbox::Faults faults;
      faults.closeWithoutAnswer = true;
      faults.share = 0.3;
      sandbox_.SetFaults(faults);
    }
    RunExitHost(environment);
  }
}

void ProcessLife::RunExitHost(std::vector<std::string>& environment) {
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  for (const char* mode : {"exit", "finalize", "return"}) {
    std::vector<std::string> args = {LUMIREX_EXIT_HOST, mode, sandbox_.BaseUrl(), base_.str(),
                                     "sqlite3://db=" + database_.string() + " readonly=1"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()), 0);
    EXPECT_EQ(WaitFor(pid, 60s), "exit 0") << mode;
  }
}

TEST_F(ProcessLife, UnloadedWhileTheForwarderHasWork) {
  std::vector<std::string> args = {LUMIREX_UNLOAD_HOST, LUMIREX_LIBRARY, base_.str(),
                                   "sqlite3://db=" + database_.string() + " readonly=1",
                                   (base_.path() / "outbox.sqlite").string()};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  EXPECT_EQ(WaitFor(pid, 60s), "exit 0");
}

TEST_F(ProcessLife, ForkedChildNeverSharesTheParentsConnections) {
  // The child's first call starts the janitor of its own runtime's pools.
  SKIP_UNDER_THREAD_SANITIZER();
  SKIP_UNDER_ADDRESS_SANITIZER();
  // A kept-alive connection for the child to inherit.
  ASSERT_EQ(ConsultaProblem(kCpf), "");
  std::thread parent([&] {
    for (int i = 0; i < 50; ++i) EXPECT_EQ(ConsultaProblem(kCpf), "");
  });
  const std::string child = InChild([&] {
    for (int i = 0; i < 50; ++i) {
      if (auto problem = ConsultaProblem(kOtherCpf); !problem.empty()) return problem;
    }
    return std::string();
  });
  parent.join();
  EXPECT_EQ(child, "exit 0");

  // A child forked while another thread waits for its answer, holding every lock of a call.
  lumirex::sandbox::Sandbox stalled;
  stalled.Start();
  stalled.SetFaults(Stall(20));
  std::thread waiting([&] { ConsultaProblem(kCpf, stalled.BaseUrl()); });
  while (stalled.Journal().empty()) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(InChild([&] { return ConsultaProblem(kOtherCpf); }), "exit 0");
  stalled.Stop();
  waiting.join();
}

// What a sale report said, or why it failed; the fixture's own Call keeps
// state a child could find locked by one of the parent's threads.
std::string SaleProblem(const std::vector<std::string>& texts) {
  const std::vector<Variant> params(texts.begin(), texts.end());
  Variant result = Variant::Array(2);
  if (lumirex::IntegracaoLumirex(params, 5, result)) return "";
  std::string message(512, '\0');
  LumirexLastCall(nullptr, message.data(), message.size());
  return "VENDA failed: " + std::string(message.c_str());
}

TEST_F(ProcessLife, ChildrenForkedWhileSalesAreReportedNeverHang) {
  SKIP_UNDER_THREAD_SANITIZER();
  SKIP_UNDER_ADDRESS_SANITIZER();
  const std::string outbox = (base_.path() / "outbox.sqlite").string();
  setenv("LUMIREX_FORWARDING_BACKOFF_MS", "20,100", 1);
  enum class Setup { Plain, Outbox, Forwarding };
  for (const Setup setup : {Setup::Plain, Setup::Outbox, Setup::Forwarding}) {
    ASSERT_EQ(LumirexSetOutbox(setup != Setup::Plain ? outbox.c_str() : nullptr), 0);
    // With forwarding, a share of the reports is kept and the forwarder
    // sends them again, and forks land inside its rounds too.
    const bool forwarding = setup == Setup::Forwarding;
    LumirexSetForwarding(forwarding ? 1 : 0);
    lumirex::sandbox::Faults faults;
    faults.closeWithoutAnswer = forwarding;
    faults.share = 0.3;
    sandbox_.SetFaults(faults);
    // Sale reports read the database through SQLite, and with the outbox
    // on keep each report in it first: a fork lands inside both often.
    const std::vector<std::string> parentsSale = Sale();
    std::atomic<bool> stop{false};
    std::vector<std::thread> sellers;
    for (int i = 0; i < 4; ++i) {
      sellers.emplace_back([&] {
        while (!stop) SaleProblem(parentsSale);
      });
    }
    // Made before the forks: the fixture's sandbox and record of messages
    // have locks of the test's own. The sale is another till's: with the
    // outbox on, a report of a sale the parent is sending at the fork waits
    // for its turn, rightly.
    const std::vector<std::string> childsSale = Sale("VENDA", kBranch, "002");
    std::map<std::string, int> children;
    for (int round = 0; round < 200; ++round) {
      ++children[InChild([&] {
        lumirex::InstallServices(nullptr);
        const std::string problem = SaleProblem(childsSale);
        // Faults are the sandbox's doing: only a hang counts then.
        return forwarding ? std::string() : problem;
      })];
    }
    stop = true;
    for (std::thread& seller : sellers) seller.join();
    EXPECT_THAT(children, ::testing::ElementsAre(::testing::Pair("exit 0", 200)))
        << static_cast<int>(setup);
  }
  LumirexSetForwarding(0);
  Finalize();
  LumirexSetOutbox(nullptr);
}

// The operator's handler calls back into the library, after a call that failed.
struct Reentry {
  std::function<void()> action;
  std::vector<std::string> messages;
};

TEST_F(ProcessLife, MessageHandlerMayCallTheLibrary) {
  SKIP_UNDER_ADDRESS_SANITIZER();
  bool nestedReturned = true;
  const std::vector<std::pair<std::string, std::function<void()>>> actions = {
      {"Finalize", [] { Finalize(); }},
      {"IntegracaoLumirex",
       [&] {
         CArray params(Consulta());
         CArray result(5);
         nestedReturned = CallThroughC(params, result) ||
                          LumirexLastCall(nullptr, nullptr, 0) != LUMIREX_E_STATE;
       }},
  };
  for (const auto& [name, action] : actions) {
    const std::string child = InChild([&]() -> std::string {
      lumirex::InstallServices(nullptr);  // the operator message goes to the handler
      Reentry reentry{action, {}};
      LumirexSetMessageHandler(
          [](const char* text, void* context) {
            auto& self = *static_cast<Reentry*>(context);
            self.messages.push_back(text);
            self.action();
          },
          &reentry);
      CArray params(std::vector<std::string>{"CONSULTA"});  // too short: the call fails
      CArray result(5);
      if (CallThroughC(params, result)) return "the failing call returned true";
      if (reentry.messages.size() != 1)
        return "the handler ran " + std::to_string(reentry.messages.size()) + " times";
      if (name == "Finalize" && lumirex::rdmIntegraLumirex) return "Finalize released nothing";
      // What the handler called does not hide the call's own outcome.
      if (LumirexLastCall(nullptr, nullptr, 0) != LUMIREX_E_INPUT) {
        return "LumirexLastCall says " + std::to_string(LumirexLastCall(nullptr, nullptr, 0));
      }
      if (name == "IntegracaoLumirex" &&
          (nestedReturned || LastLogLine().find("refused") == std::string::npos)) {
        return "the nested call was not refused: " + LastLogLine();
      }
      return "";
    });
    EXPECT_EQ(child, "exit 0") << name;
  }
}

// A host cancels (pthread_cancel) a worker waiting for its answer: the call
// runs to its end first, gives its turn back and writes its whole block, and
// the thread is cancelled at its next cancellation point.
TEST_F(ProcessLife, ACancelledThreadEndsItsCallFirst) {
  SKIP_UNDER_THREAD_SANITIZER();
  SKIP_UNDER_ADDRESS_SANITIZER();
  lumirex::sandbox::Sandbox slow;
  slow.Start();
  slow.SetFaults(Stall(1));
  const std::string child = InChild([&]() -> std::string {
    std::string problem = "never called";
    std::function<void()> body = [&] { problem = ConsultaProblem(kCpf, slow.BaseUrl()); };
    pthread_t thread;
    pthread_create(
        &thread, nullptr,
        [](void* call) -> void* {
          (*static_cast<std::function<void()>*>(call))();
          pthread_testcancel();
          return nullptr;
        },
        &body);
    std::this_thread::sleep_for(300ms);  // waiting for its answer by now
    pthread_cancel(thread);
    void* ended = nullptr;
    pthread_join(thread, &ended);
    if (ended != PTHREAD_CANCELED) return "the thread was not cancelled";
    if (!problem.empty()) return problem;
    if (LastLogLine() != "FIM") return "the block ends with " + LastLogLine();
    return ConsultaProblem(kCpf);
  });
  EXPECT_EQ(child, "exit 0");
}

TEST_F(ProcessLife, MessageToAClosedStandardErrorRaisesNoSignal) {
  SKIP_UNDER_ADDRESS_SANITIZER();
  const std::string child = InChild([&]() -> std::string {
    signal(SIGPIPE, SIG_DFL);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return "no pipe";
    close(pipeEnds[0]);
    dup2(pipeEnds[1], STDERR_FILENO);
    lumirex::InstallServices(nullptr);
    LumirexSetMessageHandler(nullptr, nullptr);
    sigset_t maskBefore;
    pthread_sigmask(SIG_SETMASK, nullptr, &maskBefore);
    CArray params(std::vector<std::string>{"CONSULTA"});
    CArray result(5);
    CallThroughC(params, result);
    sigset_t maskAfter;
    sigset_t pending;
    pthread_sigmask(SIG_SETMASK, nullptr, &maskAfter);
    sigpending(&pending);
    if (sigismember(&maskAfter, SIGPIPE) != sigismember(&maskBefore, SIGPIPE)) {
      return "the signal mask changed";
    }
    return sigismember(&pending, SIGPIPE) ? "SIGPIPE left pending" : "";
  });
  EXPECT_EQ(child, "exit 0");
}

// What a program started now inherits beyond its standard streams, as that
// program sees it (less the folder it lists).
std::multiset<std::string> DescriptorsAProgramInherits() {
  std::multiset<std::string> inherited;
  FILE* out = popen(
      "for f in /proc/$$/fd/*; do case $f in */0|*/1|*/2) ;; *) readlink \"$f\";; esac; done", "r");
  if (out == nullptr) return {"no program started"};
  char line[512];
  while (std::fgets(line, sizeof line, out) != nullptr) {
    if (!std::string_view(line).starts_with("/proc/")) inherited.insert(line);
  }
  pclose(out);
  return inherited;
}

// Programs the host starts while a call waits for its answer, and after
// calls, inherit no descriptor of the library: not the service's socket, not
// libcurl's own wake-up socket pair, not the database's files.
TEST_F(ProcessLife, EveryDescriptorOfTheLibraryIsCloseOnExec) {
  SKIP_UNDER_THREAD_SANITIZER();
  SKIP_UNDER_ADDRESS_SANITIZER();
  lumirex::sandbox::Sandbox slow;
  slow.Start();
  slow.SetFaults(Stall(1));
  // In a child, where no server of the test opens descriptors of its own.
  const std::string child = InChild([&]() -> std::string {
    const auto before = DescriptorsAProgramInherits();
    std::thread waiting([&] { ConsultaProblem(kCpf, slow.BaseUrl()); });
    std::this_thread::sleep_for(300ms);
    const auto during = DescriptorsAProgramInherits();
    waiting.join();
    if (auto problem = ConsultaProblem(kCpf); !problem.empty()) return problem;
    Call(Sale());  // the database too
    const auto after = DescriptorsAProgramInherits();
    if (during != before) return "inherited during a call: " + ::testing::PrintToString(during);
    if (after != before) return "inherited after the calls: " + ::testing::PrintToString(after);
    return "";
  });
  EXPECT_EQ(child, "exit 0");
  slow.Stop();
}

// While a call resolves a name and connects (the service's backlog is full,
// so the connection hangs), a socket pair the host makes meanwhile stays as
// the host made it: the library marks only descriptors of its own.
TEST_F(ProcessLife, TheHostsOwnDescriptorsAreNeverTouched) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
  std::vector<int> queued;
  for (int i = 0; i < 3; ++i) {
    queued.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    connect(queued.back(), reinterpret_cast<sockaddr*>(&address), size);
  }
  const std::string url = "http://localhost:" + std::to_string(ntohs(address.sin_port)) + "/";
  std::thread caller([&] { ConsultaProblem(kCpf, url); });
  std::this_thread::sleep_for(300ms);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  std::this_thread::sleep_for(1500ms);  // the call has looked at its descriptors again by now
  const int flags[2] = {fcntl(pair[0], F_GETFD), fcntl(pair[1], F_GETFD)};
  close(listener);
  for (const int fd : queued) close(fd);
  caller.join();
  close(pair[0]);
  close(pair[1]);
  EXPECT_EQ(flags[0] & FD_CLOEXEC, 0);
  EXPECT_EQ(flags[1] & FD_CLOEXEC, 0);
}

}  // namespace
}  // namespace calltest
