// Automatic forwarding: one thread of the library's own that sends the
// outbox's waiting reports by itself. It sends at once when an exchange
// hears the service again, else on the back-off while it is out of reach,
// and at once when the host asks. Its exchanges run beside the calls'
// bound, so a cashier's call never waits for one. It ends at Finalize, at
// the end of the process and when the library is unloaded, waiting at most
// for the resend in flight; the next call that needs it starts it again,
// a fork's child included (the parent's thread is not there).
#pragma once

#include <chrono>

namespace lumirex {

// Off by default; $LUMIREX_FORWARDING=1 turns it on for a process that never
// sets it. Turning it on with an outbox named sends what waits soon.
void SetForwardingOn(bool on) noexcept;
bool ForwardingOn() noexcept;

// Asks for a round now; false when forwarding is off or no outbox is named.
bool ForwardSoon() noexcept;

// An exchange heard the service: a round now if reports may wait, or if it
// was offline until now.
void ServiceAnswered(bool wasOffline) noexcept;
// A service went offline: its reports wait for the probe.
void ServiceWentOffline() noexcept;
// A call left its report waiting in the outbox: a round on the back-off.
void ReportLeftWaiting() noexcept;

// Whether the forwarder is the one to probe an offline service: it runs and
// has reports to send.
bool ForwarderProbes() noexcept;

// Ends the thread, waiting at most for its resend in flight (a call's
// time-out); from the forwarder's own thread (its outcome handler calling
// Finalize), only asks it to end.
void StopForwarding() noexcept;

}  // namespace lumirex
