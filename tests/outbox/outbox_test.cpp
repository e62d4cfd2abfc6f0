// The outbox file: what it keeps, in which order it hands reports out, its
// bound, and that an attempt interrupted half-way leaves the report waiting.
#include "outbox/outbox.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

#include "outbox/outbox_error.hpp"
#include "testkit/testkit.hpp"

namespace lumirex::outbox {
namespace {

Report Made(const std::string& operation, const std::string& orderId) {
  Report report;
  report.operation = operation;
  report.orderId = orderId;
  report.url = "http://127.0.0.1:9/order?pdv=true";
  report.method = "POST";
  report.body = std::string("order=%3C\0x&", 12);  // kept byte for byte, NUL included
  report.lastError = 4;
  report.lastMessage = "could not connect";
  return report;
}

class OutboxTest : public ::testing::Test {
 protected:
  testkit::TempDir folder_;
  std::string file_ = (folder_.path() / "outbox.sqlite").string();
};

TEST_F(OutboxTest, HandsReportsOutOldestFirstUntilEachHasAVerdict) {
  Outbox outbox(file_);
  outbox.Keep(Made("VENDA", "A"), 10);
  outbox.Keep(Made("VENDA", "B"), 10);
  outbox.Keep(Made("VENDA_CANC", "A"), 10);
  EXPECT_TRUE(outbox.HasWaiting("A"));
  EXPECT_EQ(Outbox(file_).WaitingCount(), 3);  // on disk, for another opening

  std::vector<std::string> sent;
  const auto answer = [&](bool verdict) {
    return [&sent, verdict](const Report& report) {
      sent.push_back(report.operation + " " + report.orderId);
      EXPECT_EQ(report.body, std::string("order=%3C\0x&", 12));
      return Attempt{verdict, true, verdict ? 0 : 6, verdict ? "ok" : "timed out"};
    };
  };
  EXPECT_FALSE(outbox.SendOldest(answer(false))->verdict);  // fails again: stays first
  while (outbox.SendOldest(answer(true))) {
  }
  EXPECT_EQ(sent, (std::vector<std::string>{"VENDA A", "VENDA A", "VENDA B", "VENDA_CANC A"}));
  EXPECT_EQ(outbox.WaitingCount(), 0);
  const std::vector<Report> all = outbox.List(false);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].attempts, 3);  // kept after one, then two more
  EXPECT_EQ(all[0].state, State::Accepted);
  EXPECT_EQ(all[0].verdict, "ok");
}

TEST_F(OutboxTest, AnAttemptThatThrowsLeavesTheReportWaiting) {
  Outbox outbox(file_);
  outbox.Keep(Made("VENDA", "A"), 10);
  EXPECT_THROW(outbox.SendOldest([](const Report&) -> Attempt { throw std::runtime_error("x"); }),
               std::runtime_error);
  const std::vector<Report> waiting = outbox.List(true);
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0].attempts, 1);
}

TEST_F(OutboxTest, IsBoundedAndDropsOnlyWhatIsAskedFor) {
  Outbox outbox(file_);
  outbox.Keep(Made("VENDA", "A"), 2);
  outbox.Keep(Made("VENDA", "B"), 2);
  EXPECT_THROW(outbox.Keep(Made("VENDA", "C"), 2), OutboxError);
  EXPECT_EQ(outbox.WaitingCount(), 2);
  EXPECT_EQ(outbox.Drop("A"), 1);
  EXPECT_EQ(outbox.Drop("A"), 0);
  EXPECT_FALSE(outbox.HasWaiting("A"));
  EXPECT_TRUE(outbox.HasWaiting("B"));
}

}  // namespace
}  // namespace lumirex::outbox
