#include "integration/call_outcome.hpp"

#include <new>

#include "integration/exchange.hpp"
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

std::int32_t CodeOf(std::int32_t unclassified) noexcept {
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
  } catch (...) {
    return unclassified;
  }
}

void RecordCurrentFailure(CallRecord& record, std::int32_t unclassified) noexcept {
  record.error = CodeOf(unclassified);
  try {
    try {
      throw;
    } catch (const HttpError& error) {
      record.sent = record.sent || error.sent();
      if (error.status() != 0) record.httpStatus = error.status();
      // Failures of the exchange name the URL, password and all.
      record.message = MaskUrlPasswords(error.what());
    } catch (const std::bad_alloc&) {
      record.message = kOutOfMemory;  // short enough to need no allocation
    } catch (const std::exception& error) {
      record.message = MaskUrlPasswords(error.what());
    } catch (...) {
      record.message = "unknown error";
    }
  } catch (...) {
    // Out of memory copying the message: the code still tells the till what happened.
    record.error = LUMIREX_E_MEMORY;
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
