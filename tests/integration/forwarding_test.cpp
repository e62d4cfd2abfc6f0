// Forwarding and the offline path through the C ABI: kept reports leave by
// themselves once the service answers, a service that went silent costs the
// cashier one time-out and no more, the till can ask what waits, and the
// host hears how each kept report ended.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "end_to_end.hpp"

namespace calltest {
namespace {

using namespace std::chrono_literals;

struct Heard {
  std::mutex mutex;
  std::vector<std::pair<int32_t, std::string>> ends;  // end, till
};

void LUMIREX_CALL HearEnd(const LumirexKeptOutcome* outcome, void* context) {
  auto& heard = *static_cast<Heard*>(context);
  std::lock_guard lock(heard.mutex);
  heard.ends.emplace_back(outcome->end, outcome->till);
}

class Forwarding : public EndToEnd {
 protected:
  void SetUp() override {
    // Read once per process: each test runs in a process of its own.
    setenv("LUMIREX_FORWARDING_BACKOFF_MS", "200,1000", 1);
    EndToEnd::SetUp();
    ASSERT_EQ(LumirexSetOutbox((base_.path() / "outbox.sqlite").c_str()), 0);
    LumirexSetOutboxHandler(&HearEnd, &heard_);
    CopyDemoSaleTo("003");
  }
  void TearDown() override {
    LumirexSetForwarding(0);
    Finalize();
    LumirexSetOutboxHandler(nullptr, nullptr);
    LumirexSetOutbox(nullptr);
    EndToEnd::TearDown();
  }

  LumirexOutboxState Status() {
    LumirexOutboxState state{};
    state.size = sizeof state;
    EXPECT_EQ(LumirexOutboxStatus(&state), 0);
    return state;
  }

  // Waits (at most 20 s) until nothing waits in the outbox.
  bool Drained() {
    for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(20ms)) {
      if (Status().waiting == 0) return true;
    }
    return false;
  }

  Heard heard_;
};

TEST_F(Forwarding, KeptReportsLeaveByThemselvesOnceTheServiceIsBack) {
  ASSERT_EQ(LumirexSetForwarding(1), 0);
  const int port = sandbox_.Port();
  sandbox_.Stop();
  for (const char* till : {"001", "003"}) {
    const Outcome outcome = Call(Sale("VENDA", kBranch, till, kSequence), 2);
    EXPECT_EQ(outcome.last.queued, 1) << outcome.lastMessage;
  }
  EXPECT_EQ(Status().waiting, 2);
  EXPECT_EQ(Status().forwarding, 1);

  // Nobody calls and nobody asks: the back-off finds the service again.
  sandbox_.Start(port);
  ASSERT_TRUE(Drained());
  std::lock_guard lock(heard_.mutex);
  EXPECT_EQ(heard_.ends, (std::vector<std::pair<int32_t, std::string>>{
                             {LUMIREX_KEPT_ACCEPTED, "001"}, {LUMIREX_KEPT_ACCEPTED, "003"}}));
  EXPECT_GT(Status().last_answer, 0);
}

TEST_F(Forwarding, ASilentServiceCostsOneTimeOutThenReportsAreKeptWithoutTrying) {
  ASSERT_EQ(LumirexSetForwarding(1), 0);
  lumirex::sandbox::Faults stall;
  stall.stallSeconds = 60;
  sandbox_.SetFaults(stall);
  const Outcome first = Call(Sale("VENDA", kBranch, "001", kSequence), 2);
  EXPECT_EQ(first.last.error, LUMIREX_E_TIMEOUT);
  EXPECT_EQ(Status().offline, 1);

  // Not tried: nothing sent, kept, and the reason in the message and the log.
  const std::size_t requests = sandbox_.Journal().size();
  for (int i = 0; i < 20; ++i) {
    const std::string till = std::to_string(100 + i);
    CopyDemoSaleTo(till);
    const Outcome fast = Call(Sale("VENDA", kBranch, till, kSequence), 2);
    EXPECT_EQ(fast.last.error, LUMIREX_E_CONNECT);
    EXPECT_EQ(fast.last.sent, 0);
    EXPECT_EQ(fast.last.queued, 1);
    EXPECT_NE(fast.lastMessage.find("has not answered since"), std::string::npos)
        << fast.lastMessage;
  }
  const Outcome query = Call(Consulta());
  EXPECT_EQ(query.last.error, LUMIREX_E_CONNECT);
  EXPECT_EQ(query.last.queued, 0);
  // The forwarder's probes are the only exchanges meanwhile.
  EXPECT_LE(sandbox_.Journal().size(), requests + 2);
  const LumirexOutboxState offline = Status();
  EXPECT_GT(offline.offline_since, 0);
  EXPECT_EQ(offline.waiting, 21);

  // The first answer ends the offline state for every call. (Restarted, so
  // that a probe stalled meanwhile is cut short.)
  const int port = sandbox_.Port();
  sandbox_.Stop();
  sandbox_.SetFaults({});
  sandbox_.Start(port);
  ASSERT_TRUE(Drained());
  EXPECT_EQ(Status().offline, 0);
  EXPECT_TRUE(Call(Consulta()).returned);
}

TEST_F(Forwarding, OffTheOfflinePathTriesEveryCall) {
  ASSERT_EQ(LumirexSetForwarding(1), 0);
  ASSERT_EQ(LumirexSetOfflinePath(0), 0);
  const int port = sandbox_.Port();
  sandbox_.Stop();
  for (int i = 0; i < 4; ++i) Call(Sale("VENDA", kBranch, "001", kSequence), 2);
  EXPECT_EQ(Status().offline, 0);
  EXPECT_NE(Call(Consulta()).lastMessage.find("connect"), std::string::npos);
  sandbox_.Start(port);
  LumirexSetOfflinePath(1);
}

TEST_F(Forwarding, StatusRefusesAStructWithoutItsSize) {
  LumirexOutboxState state{};
  EXPECT_NE(LumirexOutboxStatus(&state), 0);
  EXPECT_NE(LumirexOutboxStatus(nullptr), 0);
  // A host compiled against a shorter struct gets only the fields it knows.
  state.size = offsetof(LumirexOutboxState, offline);
  state.offline = 77;
  EXPECT_EQ(LumirexOutboxStatus(&state), 0);
  EXPECT_EQ(state.offline, 77);
}

}  // namespace
}  // namespace calltest
