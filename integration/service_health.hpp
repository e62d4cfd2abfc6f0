// Whether the service answers, as this process's exchanges found it, and the
// fast offline path built on it. With forwarding on, a service that timed
// out once, or refused three connections in a row, is offline: calls to it
// are not tried (a report is kept and its call returns at once) until an
// exchange answers. While offline, one exchange per back-off period probes
// it: the forwarder's when it has reports to send, else the next call's.
// Each service (base URL without its password) is watched on its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "integration/call_outcome.hpp"
#include "shared_services/shared_services.hpp"
#include "support/runtime.hpp"

namespace lumirex {

// A call or a resend that was not tried: the service is offline and this is
// not its probe. Nothing was sent.
class NotTried : public CallFailure {
 public:
  explicit NotTried(const std::string& message) : CallFailure(LUMIREX_E_CONNECT, message) {}
};

// Who exchanges: a cashier's call, the forwarder, or a send the host or
// support asked for, which is always tried.
enum class Exchanger { Call, Forwarder, Asked };

// The exchange of a call or a resend with `baseUrl`: refused at once with
// NotTried while the offline path holds the service offline and this is not
// its probe; else made (Exchange), and its outcome watched.
HttpAnswer WatchedExchange(const HttpRequest& request, const std::string& baseUrl,
                           CallRecord& record, Exchanger exchanger);

// The offline path: on by default, in force only with forwarding on.
void SetOfflinePathOn(bool on) noexcept;
bool OfflinePathInForce() noexcept;

// Every service in brief: offline when any is; since the earliest.
struct ServiceWatch {
  bool offline = false;
  std::int64_t offlineSince = 0;  // seconds since 1970 of the first unanswered attempt
  std::int64_t lastAnswer = 0;    // seconds since 1970; 0: none yet
};
ServiceWatch WatchNow() noexcept;

// When the first offline service is due for its probe; nullopt when none is offline.
std::optional<SteadyTime> NextProbe() noexcept;

// Forgets what was seen; for tests.
void ForgetServices() noexcept;

}  // namespace lumirex
