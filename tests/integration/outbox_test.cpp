// Store and forward through the C ABI: sale reports made while the service is
// down are kept, then delivered once and in order, even when the sending
// process is killed half-way.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "end_to_end.hpp"

using ::testing::HasSubstr;

namespace calltest {
namespace {

class Outbox : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    ASSERT_EQ(LumirexSetOutbox(file_.c_str()), 0);
    CopyDemoSaleTo("003");  // till 002 has a sale of its own
  }
  void TearDown() override {
    LumirexSetOutbox(nullptr);
    LumirexSetOutboxLimit(10000);
    EndToEnd::TearDown();
  }

  // Reports the sale of a till; true when the outbox kept it.
  bool Kept(const std::string& operation, const std::string& till) {
    const Outcome outcome = Call(Sale(operation, kBranch, till, kSequence), 2);
    EXPECT_FALSE(outcome.returned);
    return outcome.last.queued == 1 &&
           outcome.lastMessage.find("kept in the outbox; it will be sent again") !=
               std::string::npos;
  }

  // The paths the service received, in order.
  std::vector<std::string> Received() const {
    std::vector<std::string> paths;
    for (const auto& entry : sandbox_.Journal()) {
      paths.push_back(entry.path + " " + entry.document.substr(entry.document.find("<orderId>")));
    }
    return paths;
  }

  std::string file_ = (base_.path() / "outbox.sqlite").string();
};

TEST_F(Outbox, ReportsMadeWhileTheServiceIsDownAreDeliveredOnceAndInOrder) {
  const int port = sandbox_.Port();
  sandbox_.Stop();
  EXPECT_TRUE(Kept("VENDA", "001"));
  EXPECT_TRUE(Kept("VENDA", "002"));
  EXPECT_TRUE(Kept("VENDA_CANC", "001"));  // behind its sale, never ahead of it
  EXPECT_TRUE(Kept("VENDA", "003"));
  EXPECT_EQ(LumirexOutboxCount(), 4);

  sandbox_.Start(port);
  EXPECT_EQ(LumirexOutboxSend(0), 4);
  EXPECT_EQ(LumirexLastCall(nullptr, nullptr, 0), LUMIREX_OK);
  EXPECT_EQ(LumirexOutboxCount(), 0);
  const std::vector<std::string> received = Received();
  ASSERT_EQ(received.size(), 4u);
  EXPECT_THAT(received[0], ::testing::StartsWith("/order <orderId>0001001"));
  EXPECT_THAT(received[1], ::testing::StartsWith("/order <orderId>0001002"));
  EXPECT_THAT(received[2], ::testing::StartsWith("/order/cancel <orderId>0001001"));
  EXPECT_THAT(received[3], ::testing::StartsWith("/order <orderId>0001003"));
  EXPECT_EQ(sandbox_.RecordedOrders().size(), 2u);  // 002 and 003; 001 was cancelled
  // Each resend is a block of the log of its own.
  const std::vector<std::string> log = LogTexts();
  EXPECT_EQ(std::count(log.begin(), log.end(), "FIM"), 4);
}

// Which reports are kept: those a later attempt can mend, never one the
// service answered with a verdict or one no request was built for.
TEST_F(Outbox, KeepsOnlyWhatALaterAttemptCanMend) {
  lumirex::sandbox::Faults unavailable;
  unavailable.status = 503;
  lumirex::sandbox::Faults unreadable;
  unreadable.rawAnswer = "{\"success\": true}";
  struct Row {
    const char* name;
    lumirex::sandbox::Faults faults;
    std::string till;
    bool kept;
  };
  for (const Row& row :
       {Row{"503", unavailable, "001", true}, Row{"unreadable 200", unreadable, "002", false},
        Row{"no such sale key part", {}, "00000000000000000", false}}) {
    SCOPED_TRACE(row.name);
    sandbox_.SetFaults(row.faults);
    const Outcome outcome = Call(Sale("VENDA", kBranch, row.till, kSequence), 2);
    EXPECT_FALSE(outcome.returned);
    EXPECT_EQ(outcome.last.queued, row.kept ? 1 : 0);
  }
  sandbox_.SetFaults({});
  EXPECT_EQ(LumirexOutboxCount(), 1);
  // A verdict is final: a declined report is not kept.
  ExpectAccepted(Sale("VENDA", kBranch, "003"));
  ExpectDeclined(Call(Sale("VENDA", kBranch, "003"), 2),
                 "Venda 000100305/03/2024000123 j\xE1 registrada");
  // Full: nothing kept is dropped, the new report fails as without an outbox.
  ASSERT_EQ(LumirexSetOutboxLimit(1), 0);
  sandbox_.SetFaults(unavailable);
  const Outcome full = Call(Sale("VENDA", kBranch, "002"), 2);
  EXPECT_EQ(full.last.queued, 0);
  EXPECT_THAT(full.lastMessage, HasSubstr("is full: 1 reports wait already"));
  EXPECT_EQ(LumirexOutboxCount(), 1);
}

// A sending process killed at any moment loses no report and gets none
// recorded twice: the interrupted report stays waiting, and the service
// refuses a repeat of one that did arrive.
TEST_F(Outbox, SendingKilledHalfWayLosesNothing) {
  const int port = sandbox_.Port();
  sandbox_.Stop();
  for (const char* till : {"001", "002", "003"}) ASSERT_TRUE(Kept("VENDA", till));
  sandbox_.Start(port);
  lumirex::sandbox::Faults slow;
  slow.trickleMilliseconds = 150;
  sandbox_.SetFaults(slow);
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 3; ++round) {
    const pid_t child = fork();
    if (child == 0) _exit(LumirexOutboxSend(0) < 0 ? 1 : 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
  }
  sandbox_.SetFaults({});
  EXPECT_GE(LumirexOutboxSend(0), 0);
  EXPECT_EQ(LumirexOutboxCount(), 0);
  std::vector<std::string> recorded = sandbox_.RecordedOrders();
  std::sort(recorded.begin(), recorded.end());
  ASSERT_EQ(recorded.size(), 3u);
  for (std::size_t i = 0; i < recorded.size(); ++i) {
    EXPECT_THAT(recorded[i], ::testing::StartsWith("000100" + std::to_string(i + 1)));
  }
}

}  // namespace
}  // namespace calltest
