#include "integration/call_outcome.hpp"

#include <new>

#include "support/errors.hpp"
#include "support/text.hpp"

namespace lumirex {

namespace {

std::int32_t CodeOf(HttpFailure failure) {
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

// The code of an exception no step classified: what it is about, and whether
// the request had left by then.
std::int32_t CodeOfUnclassified(const CallRecord& record) {
  try {
    throw;
  } catch (const CallFailure& failure) {
    return failure.code();
  } catch (const DatabaseError&) {
    return LUMIREX_E_DATABASE;
  } catch (const IOError&) {
    return LUMIREX_E_LOG;
  } catch (const std::bad_alloc&) {
    return LUMIREX_E_MEMORY;
  } catch (...) {
    // A value that cannot be converted, before the exchange, is the host's input;
    // anything after it went wrong with the exchange.
    return record.sent ? LUMIREX_E_TRANSFER : LUMIREX_E_INPUT;
  }
}

}  // namespace

CallRecord& LastCallRecord() noexcept {
  thread_local CallRecord record;
  return record;
}

void RecordCurrentFailure(CallRecord& record) noexcept {
  try {
    try {
      throw;
    } catch (const HttpError& error) {
      record.sent = record.sent || error.sent();
      if (error.status() != 0) record.httpStatus = error.status();
      record.error = CodeOf(error.failure());
      // Failures of the exchange name the URL, password and all.
      record.message = MaskUrlPasswords(error.what());
      return;
    } catch (const std::bad_alloc&) {
      record.error = LUMIREX_E_MEMORY;
      record.message = "out of memory";
      return;
    } catch (const std::exception& error) {
      record.error = CodeOfUnclassified(record);
      record.message = MaskUrlPasswords(error.what());
      return;
    } catch (...) {
      record.error = CodeOfUnclassified(record);
      record.message = "unknown error";
    }
  } catch (...) {
    // Out of memory copying the message: the code still tells the till what happened.
    record.error = LUMIREX_E_MEMORY;
  }
}

}  // namespace lumirex
