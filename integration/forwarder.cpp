#include "integration/forwarder.hpp"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "integration/backoff.hpp"
#include "integration/exchange.hpp"
#include "integration/outbox_sending.hpp"
#include "integration/process_exit.hpp"
#include "integration/service_health.hpp"
#include "outbox/outbox.hpp"
#include "outbox/outbox_settings.hpp"
#include "support/library_thread.hpp"
#include "support/runtime.hpp"
#include "support/system_clock_and_path.hpp"

namespace lumirex {

namespace {

// How long the end of the forwarder may take: the resend in flight ends
// within its time-out.
constexpr auto kStopWait = kCallTimeout + std::chrono::seconds(5);

// -1: not set by the host; the environment decides (-1 there: not read yet).
std::atomic<int> forwarding{-1};
std::atomic<int> fromEnvironment{-1};

thread_local bool onForwarderThread = false;

bool ForwardingFromEnvironment() noexcept {
  try {
    const auto value = EnvironmentValue("LUMIREX_FORWARDING");
    return value && *value == "1";
  } catch (...) {
    return false;
  }
}

class Forwarder final : public RuntimePart {
 public:
  static constexpr RuntimeSlot kSlot = RuntimeSlot::Forwarder;

  // A round at `when` at the latest; starts the thread when none runs.
  void WakeAt(SteadyTime when, bool reportsWait, bool asked = false) noexcept {
    std::lock_guard lock(mutex_);
    if (reportsWait) {
      mayWait_ = true;
      ++news_;
    }
    asked_ = asked_ || asked;
    if (!wakeAt_ || when < *wakeAt_) wakeAt_ = when;
    changed_.notify_all();
    Start();
  }

  void Answered(bool wasOffline) noexcept {
    {
      std::lock_guard lock(mutex_);
      if (!mayWait_ && !wasOffline) return;
    }
    WakeAt(std::chrono::steady_clock::now(), false);
  }

  void WentOffline() noexcept {
    std::lock_guard lock(mutex_);
    if (!mayWait_ || wakeAt_) return;
    if (const auto probe = NextProbe()) wakeAt_ = *probe;
    Start();
  }

  void LeftWaiting() noexcept {
    std::lock_guard lock(mutex_);
    mayWait_ = true;
    ++news_;
    if (!wakeAt_) wakeAt_ = Later();
    Start();
  }

  bool Probes() noexcept {
    std::lock_guard lock(mutex_);
    return running_ && mayWait_;
  }

  void Stop() noexcept {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    wakeAt_.reset();
    changed_.notify_all();
    // The handler of a kept report, on this thread, may end the library:
    // the loop leaves once it returns.
    if (onForwarderThread) return;
    if (!ended_.wait_for(lock, kStopWait, [this] { return !running_; })) {
      // A resend outlived its time-out: it ends by itself, and sees `stopping_`.
      if (thread_.joinable()) thread_.detach();
      return;
    }
    if (thread_.joinable()) thread_.join();
    stopping_ = false;
  }

 private:
  // With the lock held.
  void Start() noexcept {
    if (running_ || !ForwardingOn() || process_exit::Ending()) return;
    try {
      if (thread_.joinable()) thread_.join();  // it left its loop already
      stopping_ = false;
      thread_ = LibraryThread([this] { Run(); });
      running_ = true;
    } catch (...) {
      // No thread now: the next call that leaves a report waiting tries again.
    }
  }

  // With the lock held: the next round after one that could not send.
  SteadyTime Later() noexcept {
    if (OfflinePathInForce()) {
      if (const auto probe = NextProbe()) return *probe;
    }
    return std::chrono::steady_clock::now() + BackoffDelay(failedRounds_);
  }

  void Run() noexcept {
    onForwarderThread = true;
    std::unique_lock lock(mutex_);
    while (!stopping_ && wakeAt_ && ForwardingOn()) {
      const SteadyTime at = *wakeAt_;
      if (std::chrono::steady_clock::now() < at) {
        changed_.wait_until(lock, at);
        continue;
      }
      wakeAt_.reset();
      const bool asked = std::exchange(asked_, false);
      const std::uint64_t news = news_;
      lock.unlock();
      const SendingRound round = Round(asked);
      lock.lock();
      Schedule(round, news);
    }
    running_ = false;
    ended_.notify_all();
  }

  SendingRound Round(bool asked) noexcept {
    return SendRoundNow(asked ? Exchanger::Asked : Exchanger::Forwarder,
                        [this] { return StopAsked(); });
  }

  bool StopAsked() noexcept {
    std::lock_guard lock(mutex_);
    return stopping_ || !ForwardingOn();
  }

  // With the lock held.
  void Schedule(const SendingRound& round, std::uint64_t news) noexcept {
    if (stopping_) return;
    if (round.unreachable || round.failed) {
      const SteadyTime later = Later();
      ++failedRounds_;
      if (!wakeAt_ || later < *wakeAt_) wakeAt_ = later;
      return;
    }
    failedRounds_ = 0;
    // A report left waiting during the round may have been passed over.
    if (news == news_) mayWait_ = false;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::condition_variable ended_;
  LibraryThread thread_;
  bool running_ = false;
  bool stopping_ = false;
  bool asked_ = false;      // the next round tries offline services too
  bool mayWait_ = true;     // reports may wait in the outbox (at first: from before)
  std::uint64_t news_ = 0;  // reports left waiting so far
  int failedRounds_ = 0;
  std::optional<SteadyTime> wakeAt_;
};

Forwarder& TheForwarder() {
  return CurrentRuntime().Get<Forwarder>();
}

}  // namespace

void SetForwardingOn(bool on) noexcept {
  forwarding.store(on ? 1 : 0);
  // What an earlier run left waiting goes now.
  if (on) ForwardSoon();
}

bool ForwardingOn() noexcept {
  const int set = forwarding.load(std::memory_order_relaxed);
  if (set >= 0) return set == 1;
  if (fromEnvironment.load(std::memory_order_relaxed) < 0) {
    fromEnvironment.store(ForwardingFromEnvironment() ? 1 : 0);
  }
  return fromEnvironment.load(std::memory_order_relaxed) == 1;
}

bool ForwardSoon() noexcept {
  try {
    if (!ForwardingOn() || !outbox::File()) return false;
    TheForwarder().WakeAt(std::chrono::steady_clock::now(), true, true);
    return true;
  } catch (...) {
    return false;
  }
}

// Out of memory building the forwarder: the reports wait for the next
// event, or for a send the host asks for.
void ServiceAnswered(bool wasOffline) noexcept {
  try {
    if (ForwardingOn()) TheForwarder().Answered(wasOffline);
  } catch (...) {
  }
}

void ServiceWentOffline() noexcept {
  try {
    if (ForwardingOn()) TheForwarder().WentOffline();
  } catch (...) {
  }
}

void ReportLeftWaiting() noexcept {
  try {
    if (ForwardingOn()) TheForwarder().LeftWaiting();
  } catch (...) {
  }
}

bool ForwarderProbes() noexcept {
  try {
    return ForwardingOn() && TheForwarder().Probes();
  } catch (...) {
    return false;
  }
}

void StopForwarding() noexcept {
  if (Forwarder* forwarder = CurrentRuntime().Find<Forwarder>()) forwarder->Stop();
}

}  // namespace lumirex
