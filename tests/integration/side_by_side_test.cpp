// Calls from many threads at once, as a back end serving several tills makes
// them: each call's lines stay one block, a slow service holds up only the
// calls that wait for it, a cancellation never overtakes its sale, and
// Finalize can come at any moment.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "cli/cli_process.hpp"
#include "end_to_end.hpp"
#include "integration/data_module.hpp"
#include "support/log_format.hpp"
#include "support/runtime.hpp"

using lumirex::Variant;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
namespace log_format = lumirex::log_format;

namespace calltest {
namespace {

// What the service said to a call (element 1), or "failed: <why>".
std::string Said(const std::vector<std::string>& texts) {
  const std::vector<Variant> params(texts.begin(), texts.end());
  Variant result = Variant::Array(5);
  if (lumirex::IntegracaoLumirex(params, 5, result)) return result.items()[1].asString();
  std::string message(512, '\0');
  LumirexLastCall(nullptr, message.data(), message.size());
  return "failed: " + std::string(message.c_str());
}

// The value after label on the block's line that starts with it, or "".
std::string ValueIn(const std::vector<std::string>& block, std::string_view label) {
  for (const std::string& line : block) {
    if (line.starts_with(label)) return line.substr(label.size());
  }
  return "";
}

class SideBySide : public EndToEnd {
 protected:
  std::vector<std::string> TillCall(const std::string& operation, int till) const {
    std::vector<std::string> params = Sale(operation, kBranch, TillName(till), kSequence);
    params[2] = "thread" + std::to_string(till);
    return params;
  }
  static std::string TillName(int till) { return "1" + std::to_string(10 + till); }

  // The log cut at each separator line.
  std::vector<std::vector<std::string>> LogBlocks() const {
    std::vector<std::vector<std::string>> blocks;
    for (const std::string& line : LogTexts()) {
      if (line == kSeparator) blocks.emplace_back();
      if (!blocks.empty()) blocks.back().push_back(line);
    }
    return blocks;
  }
};

TEST_F(SideBySide, ManyTillsAtOnceEachCallALogBlockOfItsOwn) {
  constexpr int kTills = 8, kRounds = 4;
  for (int till = 0; till < kTills; ++till) CopyDemoSaleTo(TillName(till));
  sandbox_.SetLatency(5ms);
  std::vector<std::vector<std::string>> said(kTills);
  std::vector<std::thread> tills;
  for (int till = 0; till < kTills; ++till) {
    tills.emplace_back([&, till] {
      for (int round = 0; round < kRounds; ++round) {
        for (const char* operation : {"VENDA", "CONSULTA", "VENDA_CANC"}) {
          said[till].push_back(Said(TillCall(operation, till)));
        }
      }
    });
  }
  for (auto& thread : tills) thread.join();
  for (int till = 0; till < kTills; ++till) {
    ASSERT_EQ(said[till].size(), 3u * kRounds);
    for (int round = 0; round < kRounds; ++round) {
      EXPECT_THAT(said[till][3 * round], HasSubstr("registrada")) << "till " << till;
      EXPECT_THAT(said[till][3 * round + 2], HasSubstr("cancelada")) << "till " << till;
    }
  }
  const auto blocks = LogBlocks();
  ASSERT_EQ(blocks.size(), static_cast<std::size_t>(kTills * kRounds * 3));
  for (const auto& block : blocks) {
    ASSERT_GE(block.size(), 3u);
    EXPECT_EQ(block[1], log_format::kStart);
    EXPECT_EQ(block.back(), log_format::kEnd);
    // Every line that names the till names the block's own.
    const std::string till = ValueIn(block, log_format::kCpf).substr(6);
    EXPECT_EQ(ValueIn(block, log_format::kTill), TillName(std::stoi(till)));
    const std::string answer = ValueIn(block, log_format::kAnswer);
    if (answer.find("Venda") != std::string::npos) {
      EXPECT_THAT(answer, HasSubstr(kBranch + TillName(std::stoi(till))));
    }
  }
}

// Descriptors of this process open on file.
int OpenOn(const std::filesystem::path& file) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) == file) ++count;
  }
  return count;
}

// The log's descriptors are the calls' in flight: a busy till's calls close
// the log when they end, none waits with it open for the waiting call.
std::size_t DescriptorsOnTheLog() {
  return static_cast<std::size_t>(OpenOn(fs::weakly_canonical(lumirex::LogFilePath())));
}

TEST_F(SideBySide, SpareDatabaseSessionsCloseOnceIdleWithNoFurtherCalls) {
  if (!std::filesystem::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc here";
  lumirex::SetSpareIdleAge(50ms);
  sandbox_.SetLatency(20ms);
  for (int till = 0; till < 6; ++till) CopyDemoSaleTo(TillName(till));
  std::vector<std::thread> tills;
  for (int till = 0; till < 6; ++till) {
    tills.emplace_back([&, till] { Said(TillCall("VENDA", till)); });
  }
  for (auto& thread : tills) thread.join();
  // Only the first instance keeps its session; no call comes to close the
  // spares', the janitor does. Bounded: a spare never closed fails the test.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (OpenOn(database_) > 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_LE(OpenOn(database_), 1);
  lumirex::SetSpareIdleAge(30s);
}

TEST_F(SideBySide, ASilentServiceHoldsUpOnlyTheCallWaitingForIt) {
  lumirex::sandbox::Sandbox silent;
  silent.Start();
  lumirex::sandbox::Faults stall;
  stall.stallSeconds = 5;
  silent.SetFaults(stall);
  std::atomic<bool> waitingCallReturned{false};
  std::thread waiting([&] {
    std::vector<std::string> params = Consulta();
    params[1] = silent.BaseUrl();
    Said(params);
    waitingCallReturned = true;
  });
  while (silent.Journal().empty()) std::this_thread::sleep_for(5ms);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(Said(Consulta()), "Cliente encontrado") << i;
    EXPECT_EQ(DescriptorsOnTheLog(), 1u) << i;
  }
  EXPECT_FALSE(waitingCallReturned.load()) << "the other calls waited for the silent service";
  silent.Stop();
  waiting.join();
}

// The operator's message of a failed call makes a call of its own, which is
// refused, as from a till's message handler.
class NestingServices : public RecordingServices {
 public:
  std::vector<std::string> nested;
  void ShowMessage(const std::string& text) noexcept override {
    RecordingServices::ShowMessage(text);
    Said(nested);
  }
};

// While a sale the service accepts takes its time, a call beside it fails and
// its message handler's call is refused, and the host writes a note: none of
// it lands in the sale's block, so the log lists as failed only what failed.
TEST_F(SideBySide, LinesFromOutsideACallNeverMakeTheCallBesideThemFailed) {
  auto nesting = std::make_shared<NestingServices>();
  nesting->nested = Consulta();
  lumirex::InstallServices(nesting);
  lumirex::sandbox::Faults slow;
  slow.trickleMilliseconds = 1000;
  sandbox_.SetFaults(slow);
  std::string saleSaid;
  std::thread sale([&] { saleSaid = Said(Sale("VENDA")); });
  while (sandbox_.Journal().empty()) std::this_thread::sleep_for(5ms);
  EXPECT_THAT(Said({"CONSULTA"}), HasSubstr("failed: "));
  lumirex::LogLumirex("drawer opened by operator 7");
  sale.join();
  EXPECT_THAT(saleSaid, HasSubstr("registrada"));
  const clitest::Finished failed = clitest::RunCli({"log", "--failed", "--base-dir", base_.str()});
  ASSERT_EQ(failed.status, 0) << failed.err;
  EXPECT_THAT(failed.out, Not(HasSubstr("VENDA")));
  EXPECT_EQ(std::count(failed.out.begin(), failed.out.end(), '\n'), 2) << failed.out;
}

// The cancellation is asked for while its sale is on its way to a service
// that takes a moment: sent then, it would find no sale to cancel.
TEST_F(SideBySide, ACancellationNeverOvertakesItsSale) {
  constexpr int kRounds = 1000;
  sandbox_.SetLatency(1ms);
  for (int round = 0; round < kRounds; ++round) {
    // Emptied each round: the journal is copied on every look.
    sandbox_.ClearJournal();
    std::string saleSaid;
    std::thread sale([&] { saleSaid = Said(Sale("VENDA")); });
    while (sandbox_.Journal().empty()) std::this_thread::yield();
    const std::string cancellationSaid = Said(Sale("VENDA_CANC"));
    sale.join();
    ASSERT_THAT(saleSaid, HasSubstr("registrada")) << "round " << round;
    ASSERT_THAT(cancellationSaid, HasSubstr("cancelada")) << "round " << round;
  }
}

TEST_F(SideBySide, FinalizeWhileCallsAreInFlight) {
  constexpr int kTills = 4, kRounds = 10;
  for (int till = 0; till < kTills; ++till) CopyDemoSaleTo(TillName(till));
  std::atomic<int> wrong{0};
  std::vector<std::thread> tills;
  for (int till = 0; till < kTills; ++till) {
    tills.emplace_back([&, till] {
      for (int round = 0; round < kRounds; ++round) {
        if (Said(TillCall("VENDA", till)).find("registrada") == std::string::npos) ++wrong;
        if (Said(TillCall("VENDA_CANC", till)).find("cancelada") == std::string::npos) ++wrong;
      }
    });
  }
  for (int i = 0; i < 20; ++i) {
    Finalize();
    std::this_thread::sleep_for(2ms);
  }
  for (auto& thread : tills) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  Finalize();
  EXPECT_EQ(lumirex::rdmIntegraLumirex, nullptr);
}

}  // namespace
}  // namespace calltest
