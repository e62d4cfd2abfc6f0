// The outbox through lumirex.hpp: the state arrives field by field, a kept
// report's end reaches a C++ handler as strings, and a handler that throws
// takes nothing down with it.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "end_to_end.hpp"

namespace calltest {
namespace {

class CppOutbox : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    ASSERT_TRUE(lumirex::SetOutbox((base_.path() / "outbox.sqlite").string()));
  }
  void TearDown() override {
    lumirex::SetOutboxHandler(nullptr);
    lumirex::SetForwarding(false);
    lumirex::SetOutbox(std::nullopt);
    EndToEnd::TearDown();
  }
};

TEST_F(CppOutbox, AKeptReportIsCountedThenItsEndReachesAHandlerThatThrows) {
  lumirex::sandbox::Faults unavailable;
  unavailable.status = 503;
  sandbox_.SetFaults(unavailable);
  ASSERT_EQ(Call(Sale(), 2).last.queued, 1);
  const std::optional<lumirex::OutboxState> kept = lumirex::OutboxStatus();
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->waiting, 1);
  EXPECT_EQ(kept->held, 0);
  EXPECT_FALSE(kept->forwarding);

  std::vector<lumirex::KeptOutcome> heard;
  lumirex::SetOutboxHandler([&heard](const lumirex::KeptOutcome& outcome) {
    heard.push_back(outcome);
    throw std::runtime_error("the host's own fault");
  });
  sandbox_.SetFaults({});
  EXPECT_EQ(lumirex::OutboxSend(), 1);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].end, lumirex::KeptOutcome::End::Accepted);
  EXPECT_EQ(heard[0].operation, "VENDA");
  EXPECT_EQ(heard[0].branch + "/" + heard[0].till + "/" + heard[0].sequence,
            kBranch + "/" + kTill + "/" + kSequence);
  EXPECT_NE(heard[0].orderId, "");
  EXPECT_TRUE(heard[0].repeat);  // the 503 came from the service: it may have had the first
  EXPECT_EQ(lumirex::OutboxStatus()->waiting, 0);
}

TEST_F(CppOutbox, SendSoonAsksForForwardingAndStatusForAnOutbox) {
  EXPECT_FALSE(lumirex::OutboxSendSoon());
  ASSERT_TRUE(lumirex::SetForwarding(true));
  EXPECT_TRUE(lumirex::OutboxSendSoon());
  EXPECT_TRUE(lumirex::OutboxStatus()->forwarding);
  ASSERT_TRUE(lumirex::SetOutbox(std::nullopt));
  EXPECT_FALSE(lumirex::OutboxStatus());
}

}  // namespace
}  // namespace calltest
