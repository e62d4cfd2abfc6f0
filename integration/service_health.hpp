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

// Whether an exchange with a service may go, decided once: a report's call
// asks before its report is kept, so that one not tried is kept once, as
// failed, rather than kept and then recorded (one write to the disk, not
// two). A probe it was given and did not use is given back when it goes.
class Admission {
 public:
  Admission(const std::string& baseUrl, Exchanger exchanger);
  ~Admission();
  Admission(const Admission&) = delete;
  Admission& operator=(const Admission&) = delete;

  // Why the exchange is not tried; "" when it may go.
  const std::string& Refusal() const { return refusal_; }

 private:
  friend HttpAnswer WatchedExchange(const HttpRequest&, Admission&, CallRecord&);
  bool watched_ = false;  // the offline path is in force
  bool probe_ = false;    // this exchange tests an offline service
  std::string service_;   // the base URL without its password
  std::string refusal_;
};

// The exchange of a call or a resend: refused at once with NotTried when its
// admission was; else made (Exchange), and its outcome watched.
HttpAnswer WatchedExchange(const HttpRequest& request, Admission& admission, CallRecord& record);
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

}  // namespace lumirex
