// Faults of the integration log, each through the C ABI: a call that cannot
// write its log returns false and tells the operator once, nothing escapes
// to the host, and the first call after the fault clears writes its lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "end_to_end.hpp"

using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace calltest {
namespace {

class LogFaults : public EndToEnd {
 protected:
  std::vector<std::vector<std::string>> EveryOperation() const {
    return {Consulta(), Validation(), Sale("VENDA"), Sale("VENDA_CANC")};
  }

  // Every operation fails at its first line: nothing is sent, the caller's
  // array is as it was, the operator hears the reason once.
  void ExpectEveryOperationFails(const std::string& reason) {
    sandbox_.ClearJournal();
    for (const auto& params : EveryOperation()) {
      SCOPED_TRACE(params[0]);
      const Outcome outcome = Call(params);
      EXPECT_FALSE(outcome.returned);
      ASSERT_EQ(services_->messages.size(), 1u);
      EXPECT_THAT(services_->messages[0], HasSubstr("Exception IntegracaoLumirex: cannot "));
      EXPECT_THAT(services_->messages[0], HasSubstr(reason));
      EXPECT_EQ(outcome.result, CallersResult(5));
    }
    EXPECT_TRUE(sandbox_.Journal().empty());
  }

  // The fault has cleared: every operation runs and its lines are in the log.
  void ExpectEveryOperationLogged() {
    for (const auto& params : EveryOperation()) {
      ExpectAccepted(params);
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(lumirex::LogFilePath())));
  }
};

// A full device shows only when a call appends its block, at its end: the
// call has been made (`sent`), and it fails, leaving the caller's array as it
// was, rather than succeed without a record.
TEST_F(LogFaults, LogOnAFullDevice) {
  ExpectEveryOperationLogged();
  {
    testkit::FullFileSystem full;
    for (const auto& params : EveryOperation()) {
      SCOPED_TRACE(params[0]);
      const Outcome outcome = Call(params);
      EXPECT_FALSE(outcome.returned);
      EXPECT_EQ(outcome.last.error, LUMIREX_E_LOG);
      EXPECT_EQ(outcome.last.sent, 1);
      ASSERT_EQ(services_->messages.size(), 1u);
      EXPECT_THAT(services_->messages[0], HasSubstr("File too large"));
      EXPECT_EQ(outcome.result, CallersResult(5));
    }
  }
  ExpectEveryOperationLogged();
}

TEST_F(LogFaults, FileWhereTheLogsFolderGoes) {
  const fs::path data = base_.path() / "Dados";
  fs::rename(data, base_.path() / "Dados.aside");
  testkit::WriteFile(data, "a file where the log's folder goes");
  ExpectEveryOperationFails("Not a directory");
  fs::remove(data);
  fs::rename(base_.path() / "Dados.aside", data);
  ExpectEveryOperationLogged();
}

TEST_F(LogFaults, ReadOnlyBaseFolder) {
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser writes into a read-only folder";
  const fs::path data = base_.path() / "Dados";
  fs::permissions(data, fs::perms::owner_write, fs::perm_options::remove);
  ExpectEveryOperationFails("Permission denied");
  fs::permissions(data, fs::perms::owner_write, fs::perm_options::add);
  ExpectEveryOperationLogged();
}

// The device fills while the service is answering: the service has the
// sale, but the call cannot log the answer, so it reports failure and leaves
// the caller's array alone rather than succeed without a record. A till that
// reports the sale again is told it is registered already.
TEST_F(LogFaults, DeviceFillingDuringTheExchange) {
  lumirex::sandbox::Faults slow;
  slow.trickleMilliseconds = 1000;
  sandbox_.SetFaults(slow);
  auto call = std::async(std::launch::async, [this] { return Call(Sale("VENDA")); });
  // The call has its log open once its request has gone out.
  while (sandbox_.Journal().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Outcome outcome;
  {
    testkit::FullFileSystem full;
    outcome = call.get();
  }
  EXPECT_FALSE(outcome.returned);
  EXPECT_EQ(outcome.result, CallersResult(5));
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_THAT(services_->messages[0], HasSubstr("File too large"));
  EXPECT_EQ(sandbox_.Journal().size(), 1u);

  sandbox_.SetFaults({});
  const Outcome again = Call(Sale("VENDA"));
  EXPECT_TRUE(again.returned);
  EXPECT_EQ(again.result.items()[0], lumirex::Variant(true));
  EXPECT_THAT(again.result.items()[1].asString(), HasSubstr("registrada"));
  ExpectAccepted(Sale("VENDA_CANC"));
  ExpectEveryOperationLogged();
}

}  // namespace
}  // namespace calltest
