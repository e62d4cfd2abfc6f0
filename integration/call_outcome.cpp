#include "integration/call_outcome.hpp"

#include <new>

#include "integration/exchange.hpp"
#include "messages/operation_result.hpp"
#include "shared_services/shared_services.hpp"
#include "support/errors.hpp"
#include "support/no_destructor.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

constexpr const char* kOutOfMemory = "out of memory";

// Built when the library is loaded, so that telling of an allocation failure
// needs no allocation.
NoDestructor<const std::string> outOfMemoryLine(std::string(log_format::kFailureLabel) +
                                                kOutOfMemory);

void Tell(const std::string& text) noexcept {
  try {
    Services()->ShowMessage(text);
  } catch (...) {
    // The services could not be had: nothing more can be done, and nothing may escape.
  }
}

std::int32_t CodeOfHttp(HttpFailure failure) {
  switch (failure) {
    case HttpFailure::Request:
      return LUMIREX_E_INPUT;
    case HttpFailure::Internal:
      return LUMIREX_E_INTERNAL;
    case HttpFailure::Connect:
      return LUMIREX_E_CONNECT;
    case HttpFailure::Tls:
      return LUMIREX_E_TLS;
    case HttpFailure::Timeout:
      return LUMIREX_E_TIMEOUT;
    case HttpFailure::Transfer:
      break;
  }
  return LUMIREX_E_TRANSFER;
}

// The one table from the exception being handled to a code. `reading`: the
// answer was being read; `sent`: the request may have reached the service.
std::int32_t CurrentCode(bool reading, bool sent) noexcept {
  try {
    throw;
  } catch (const HttpError& error) {
    return CodeOfHttp(error.failure());
  } catch (const CallFailure& failure) {
    return failure.code();
  } catch (const DatabaseError&) {
    return LUMIREX_E_DATABASE;
  } catch (const IOError&) {
    return LUMIREX_E_LOG;
  } catch (const std::bad_alloc&) {
    return LUMIREX_E_MEMORY;
  } catch (const ConversionError&) {
    if (reading) return LUMIREX_E_ANSWER;
    return sent ? LUMIREX_E_TRANSFER : LUMIREX_E_INPUT;
  } catch (...) {
    // Not one of ours (InternalError, a system error, SQLite's busy outbox):
    // nothing the host did.
    return LUMIREX_E_INTERNAL;
  }
}

// The message of the exception being handled, passwords masked.
std::string CurrentMessage() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::exception& error) {
    // Failures of the exchange name the URL, password and all.
    return MaskUrlPasswords(error.what());
  } catch (...) {
    return "unknown error";
  }
}

// The reason the answer's reader raised, after "the answer could not be read".
std::string UnreadAnswerText() {
  std::string text = "the answer could not be read";
  try {
    throw;
  } catch (const NoVerdictError& error) {
    return error.what();
  } catch (const CallFailure& failure) {
    return failure.what();  // the reading itself went well
  } catch (const std::bad_alloc&) {
    text += ": out of memory";
  } catch (const std::exception& error) {
    text += std::string(": ") + error.what();
  } catch (...) {
  }
  return text;
}

void Record(CallRecord& record, bool reading) noexcept {
  try {
    throw;
  } catch (const HttpError& error) {
    record.sent = record.sent || error.sent();
    if (error.status() != 0) record.httpStatus = error.status();
  } catch (...) {
  }
  record.error = CurrentCode(reading, record.sent);
  try {
    record.message = reading ? UnreadAnswerText() : CurrentMessage();
  } catch (...) {
    // Out of memory copying the message: the code still tells the till what happened.
    record.error = LUMIREX_E_MEMORY;
  }
}

}  // namespace

const char* FixedMessage(std::int32_t error) noexcept {
  if (error == LUMIREX_OK) return "";
  if (error == LUMIREX_E_MEMORY) return kOutOfMemory;
  return "the call failed; its message could not be kept (out of memory)";
}

void TellOperator(const CallRecord& record) noexcept {
  if (record.error == LUMIREX_OK) return;
  std::string text;
  try {
    text = std::string(log_format::kFailureLabel) +
           (record.message.empty() ? FixedMessage(record.error) : record.message);
  } catch (...) {
    Tell(*outOfMemoryLine);
    return;
  }
  Tell(text);
}

CallRecord& LastCallRecord() noexcept {
  thread_local CallRecord record;
  return record;
}

void RecordCurrentFailure(CallRecord& record) noexcept {
  Record(record, false);
}

void RecordUnreadAnswer(CallRecord& record) noexcept {
  Record(record, true);
}

void RethrowNamingData(const std::string& context) {
  try {
    throw;
  } catch (const DatabaseError& error) {
    throw CallFailure(CurrentCode(false, false), context + error.what());
  } catch (const ConversionError& error) {
    throw CallFailure(CurrentCode(false, false), context + error.what());
  }
}

bool RecordLastFailure(std::int32_t error, const char* message) noexcept {
  CallRecord& record = LastCallRecord();
  record = CallRecord{};
  record.error = error;
  try {
    record.message = message;
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace lumirex
