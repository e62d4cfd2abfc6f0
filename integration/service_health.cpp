#include "integration/service_health.hpp"

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "integration/backoff.hpp"
#include "integration/exchange.hpp"
#include "integration/forwarder.hpp"
#include "outbox/outbox.hpp"
#include "outbox/outbox_settings.hpp"
#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "support/process_state.hpp"
#include "support/system_clock_and_path.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

// Connection refusals are quick: three in a row, not one, so a blip (a
// restarting service) costs no sale its attempt. A time-out cost the cashier
// the whole wait already: one is enough.
constexpr int kRefusalsOffline = 3;
// A probe never heard back from (its thread ended mid-exchange, or the
// process forked while it ran) is given up after this.
constexpr auto kProbeLease = 2 * kCallTimeout + std::chrono::seconds(5);
// Services watched at once; more are forgotten, the online ones first.
constexpr std::size_t kMostServices = 64;

struct Health {
  int failures = 0;  // unanswered attempts in a row
  bool offline = false;
  int probesFailed = 0;
  std::int64_t since = 0;  // seconds since 1970 of the first unanswered attempt
  std::string sinceText;   // the same, as the log's local time
  SteadyTime nextProbe{};
  std::optional<SteadyTime> probing;  // when the probe in flight began
};

struct Watch {
  std::mutex mutex;
  std::map<std::string, Health> services;
};

std::atomic<bool> offlinePath{true};
std::atomic<std::int64_t> lastAnswer{0};
std::atomic<int> offlineCount{0};

std::int64_t WallNow() noexcept {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string RefusalText(const std::string& service, const Health& health) {
  const auto wait = std::chrono::duration_cast<std::chrono::seconds>(
      health.nextProbe - std::chrono::steady_clock::now());
  return "not sent: the service at " + MaskUrlPasswords(service) + " has not answered since " +
         health.sinceText + " (" + std::to_string(health.failures) +
         (health.failures == 1 ? " attempt" : " attempts in a row") +
         "); the library tries it again in " +
         std::to_string(std::max<std::int64_t>(wait.count(), 0)) + " s";
}

// What support's tools read of the service (the doctor, the fleet's
// figures, the next process on this till), written when it went offline,
// when a probe failed and when it came back: rarely, and never while a lock
// is held. A busy or read-only outbox misses one note; the next writes it.
void NoteServiceInOutbox() noexcept {
  try {
    const std::optional<std::string> file = outbox::File();
    if (!file) return;
    const ServiceWatch watch = WatchNow();
    outbox::ServiceNote note;
    note.lastAnswer = watch.lastAnswer;
    note.offlineSince = watch.offline ? watch.offlineSince : 0;
    note.notedAt = WallNow();
    outbox::Outbox(*file).NoteService(note);
  } catch (...) {
  }
}

// A process that starts while the outbox says its service has been offline
// for a short while (a host restarted in an outage, each `lumirex venda` of
// a script) starts with it offline too, due for its probe when the last
// process would have probed: one slow call per back-off period, not one per
// process. Read once, at the first exchange.
std::atomic<bool> seeded{false};

void SeedFromOutbox(const std::string& service) {
  if (seeded.exchange(true)) return;
  std::optional<outbox::ServiceNote> note;
  try {
    const std::optional<std::string> file = outbox::File();
    if (!file) return;
    note = outbox::Outbox(*file, outbox::SqliteFile::Mode::Read).ServiceState();
  } catch (...) {
    return;  // no outbox yet, or one that cannot be read: nothing known
  }
  const std::int64_t now = WallNow();
  const std::int64_t age = note ? now - note->notedAt : -1;
  if (!note || note->offlineSince == 0 || age < 0 ||
      age >= std::chrono::duration_cast<std::chrono::seconds>(Backoff().longest).count()) {
    return;
  }
  Watch& watch = ProcessState<Watch>();
  std::lock_guard lock(watch.mutex);
  if (watch.services.contains(service)) return;
  Health& health = watch.services[service];
  health.offline = true;
  health.failures = 1;
  health.since = note->offlineSince;
  // Local time then: now's, less the seconds since.
  health.sinceText = DateTimeToStr(Now() - static_cast<double>(now - note->offlineSince) / 86400.0);
  const auto due = BackoffDelay(0) - std::chrono::seconds(age);
  health.nextProbe =
      std::chrono::steady_clock::now() + std::max(due, std::chrono::milliseconds::zero());
  offlineCount.fetch_add(1);
}

enum class Door { Open, Probe, Shut };

Door Admit(const std::string& service, Exchanger exchanger, std::string& refusal) {
  if (!seeded.load(std::memory_order_relaxed)) SeedFromOutbox(service);
  if (offlineCount.load() == 0) return Door::Open;
  // The forwarder probes when it has reports to send; a call then never
  // waits out a silent service's time-out. Asked before the watch's lock:
  // the forwarder asks the watch under its own.
  const bool mayProbe = exchanger == Exchanger::Forwarder || !ForwarderProbes();
  Watch& watch = ProcessState<Watch>();
  std::lock_guard lock(watch.mutex);
  const auto found = watch.services.find(service);
  if (found == watch.services.end() || !found->second.offline) return Door::Open;
  Health& health = found->second;
  const SteadyTime now = std::chrono::steady_clock::now();
  const bool probing = health.probing && now - *health.probing < kProbeLease;
  if (!probing && now >= health.nextProbe && mayProbe) {
    health.probing = now;
    return Door::Probe;
  }
  refusal = RefusalText(service, health);
  return Door::Shut;
}

void Answered(const std::string& service) {
  lastAnswer.store(WallNow(), std::memory_order_relaxed);
  bool wasOffline = false;
  {
    // The forwarder is told after the lock: it asks the watch under its own.
    Watch& watch = ProcessState<Watch>();
    std::lock_guard lock(watch.mutex);
    const auto found = watch.services.find(service);
    if (found != watch.services.end()) {
      wasOffline = found->second.offline;
      if (wasOffline) offlineCount.fetch_sub(1);
      watch.services.erase(found);
    }
  }
  if (wasOffline) NoteServiceInOutbox();
  ServiceAnswered(wasOffline);
}

Health& HealthOf(Watch& watch, const std::string& service) {
  if (watch.services.size() >= kMostServices && !watch.services.contains(service)) {
    std::erase_if(watch.services, [](const auto& entry) { return !entry.second.offline; });
    if (watch.services.size() >= kMostServices) {
      offlineCount.fetch_sub(static_cast<int>(watch.services.size()));
      watch.services.clear();
    }
  }
  return watch.services[service];
}

enum class Silence { Timeout, Refused, Other };

// No answer: silence or a refusal counts towards the offline state; other
// failures (a certificate, a broken transfer) only end a probe.
void Unanswered(const std::string& service, Silence silence, bool probe) {
  bool wentOffline = false;
  bool probeFailed = false;
  {
    Watch& watch = ProcessState<Watch>();
    std::lock_guard lock(watch.mutex);
    Health& health = HealthOf(watch, service);
    const SteadyTime now = std::chrono::steady_clock::now();
    if (probe) {
      health.probing.reset();
      probeFailed = silence != Silence::Other;
      if (probeFailed) ++health.probesFailed;
      health.nextProbe = now + BackoffDelay(health.probesFailed);
    }
    if (silence == Silence::Other) return;
    if (health.failures++ == 0) {
      health.since = WallNow();
      health.sinceText = DateTimeToStr(LocalTimeNow());
    }
    if (!health.offline && (silence == Silence::Timeout || health.failures >= kRefusalsOffline)) {
      health.offline = true;
      health.nextProbe = now + BackoffDelay(0);
      offlineCount.fetch_add(1);
      wentOffline = true;
    }
  }
  if (wentOffline || probeFailed) NoteServiceInOutbox();
  if (wentOffline) ServiceWentOffline();
}

// A probe given and never made (the call failed before its exchange): the
// next exchange may probe at once.
void ReleaseProbe(const std::string& service) noexcept {
  Watch& watch = ProcessState<Watch>();
  std::lock_guard lock(watch.mutex);
  const auto found = watch.services.find(service);
  if (found != watch.services.end()) found->second.probing.reset();
}

Silence SilenceOf(const HttpError& error) {
  if (error.failure() == HttpFailure::Connect) return Silence::Refused;
  // A time-out with an answer begun is a slow service, not a silent one.
  if (error.failure() == HttpFailure::Timeout && error.status() == 0) return Silence::Timeout;
  return Silence::Other;
}

}  // namespace

void SetOfflinePathOn(bool on) noexcept {
  offlinePath.store(on);
}

bool OfflinePathInForce() noexcept {
  return offlinePath.load(std::memory_order_relaxed) && ForwardingOn();
}

Admission::Admission(const std::string& baseUrl, Exchanger exchanger)
    : watched_(OfflinePathInForce()) {
  if (!watched_) return;
  service_ = outbox::WithoutPassword(baseUrl);
  if (exchanger == Exchanger::Asked) return;
  const Door door = Admit(service_, exchanger, refusal_);
  probe_ = door == Door::Probe;
}

Admission::~Admission() {
  if (probe_) ReleaseProbe(service_);
}

HttpAnswer WatchedExchange(const HttpRequest& request, Admission& admission, CallRecord& record) {
  if (!admission.refusal_.empty()) throw NotTried(admission.refusal_);
  if (!admission.watched_) {
    HttpAnswer answer = Exchange(request, record);
    lastAnswer.store(WallNow(), std::memory_order_relaxed);
    // Forwarding without the offline path still hears the service come back.
    if (ForwardingOn()) ServiceAnswered(false);
    return answer;
  }
  const bool probe = std::exchange(admission.probe_, false);
  try {
    HttpAnswer answer = Exchange(request, record);
    Answered(admission.service_);
    return answer;
  } catch (const HttpError& error) {
    Unanswered(admission.service_, SilenceOf(error), probe);
    throw;
  } catch (...) {
    Unanswered(admission.service_, Silence::Other, probe);
    throw;
  }
}

HttpAnswer WatchedExchange(const HttpRequest& request, const std::string& baseUrl,
                           CallRecord& record, Exchanger exchanger) {
  Admission admission(baseUrl, exchanger);
  return WatchedExchange(request, admission, record);
}

ServiceWatch WatchNow() noexcept {
  ServiceWatch now;
  now.lastAnswer = lastAnswer.load(std::memory_order_relaxed);
  if (!OfflinePathInForce() || offlineCount.load() == 0) return now;
  Watch& watch = ProcessState<Watch>();
  std::lock_guard lock(watch.mutex);
  for (const auto& [service, health] : watch.services) {
    if (!health.offline) continue;
    if (!now.offline || health.since < now.offlineSince) now.offlineSince = health.since;
    now.offline = true;
  }
  return now;
}

std::optional<SteadyTime> NextProbe() noexcept {
  if (offlineCount.load() == 0) return std::nullopt;
  Watch& watch = ProcessState<Watch>();
  std::lock_guard lock(watch.mutex);
  std::optional<SteadyTime> next;
  for (const auto& [service, health] : watch.services) {
    if (health.offline && (!next || health.nextProbe < *next)) next = health.nextProbe;
  }
  return next;
}

}  // namespace lumirex
