// lumirex C++ API: the same integration call as the C ABI, on value types.
//
// Written entirely in this header on top of lumirex.h: the library exports
// C names only, so a host built with another C++ standard library, or another
// string ABI, links and runs, and upgrading the library needs no rebuild.
#ifndef LUMIREX_HPP
#define LUMIREX_HPP

// std::optional and std::string_view below; C++14 would fail far inside.
#if __cplusplus < 201703L && !(defined(_MSVC_LANG) && _MSVC_LANG >= 201703L)
#error "lumirex.hpp needs C++17 (-std=c++17); a C++14 or older host includes lumirex.h instead"
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lumirex/lumirex.h"

namespace lumirex {

// Raised by Variant accessors asked for a type the variant does not hold.
class VariantTypeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value of the host's variant kinds. Strings are bytes in Windows-1252;
// date-times count days since 1899-12-30 00:00 with the time of day as fraction.
class Variant {
 public:
  enum class Type { Empty, Null, Bool, Int, Double, String, DateTime, Array };

  // How deep arrays may nest in a variant taken from the C ABI.
  static constexpr int kMaxNesting = 32;

  Variant() = default;
  Variant(bool value) : type_(Type::Bool), bool_(value) {}
  Variant(int value) : type_(Type::Int), int_(value) {}
  Variant(std::int64_t value) : type_(Type::Int), int_(value) {}
  Variant(double value) : type_(Type::Double), number_(value) {}
  Variant(std::string value) : type_(Type::String), string_(std::move(value)) {}
  Variant(std::string_view value) : type_(Type::String), string_(value) {}
  Variant(const char* value) : type_(Type::String), string_(value ? value : "") {}
  Variant(std::vector<Variant> items) : type_(Type::Array), items_(std::move(items)) {}

  static Variant Null() {
    Variant v;
    v.type_ = Type::Null;
    return v;
  }
  static Variant DateTime(double days) {
    Variant v;
    v.type_ = Type::DateTime;
    v.number_ = days;
    return v;
  }
  // An ARRAY of count EMPTY elements.
  static Variant Array(std::size_t count) { return Variant(std::vector<Variant>(count)); }

  Type type() const { return type_; }
  bool isEmpty() const { return type_ == Type::Empty; }
  bool isArray() const { return type_ == Type::Array; }

  bool asBool() const { return Held(Type::Bool, "BOOL").bool_; }
  std::int64_t asInt() const { return Held(Type::Int, "INT").int_; }
  // DOUBLE or DATETIME.
  double asDouble() const {
    return type_ == Type::DateTime ? number_ : Held(Type::Double, "DOUBLE").number_;
  }
  const std::string& asString() const { return Held(Type::String, "STRING").string_; }
  const std::vector<Variant>& items() const { return Held(Type::Array, "ARRAY").items_; }
  std::vector<Variant>& items() {
    Held(Type::Array, "ARRAY");
    return items_;
  }

  bool operator==(const Variant& other) const {
    if (type_ != other.type_) return false;
    switch (type_) {
      case Type::Bool:
        return bool_ == other.bool_;
      case Type::Int:
        return int_ == other.int_;
      case Type::Double:
      case Type::DateTime:
        return number_ == other.number_;
      case Type::String:
        return string_ == other.string_;
      case Type::Array:
        return items_ == other.items_;
      default:
        return true;  // EMPTY and NULL
    }
  }

  // From the C ABI's variant, copied. Throws std::length_error for arrays
  // nested more than kMaxNesting deep, never recursing deeper than that.
  static Variant fromC(const LumirexVariant& value) { return FromC(value, kMaxNesting); }

  // Into a C variant that the caller owns and releases with
  // LumirexVariantClear; made with the library's own helpers. Throws
  // std::bad_alloc when they run out of memory. Arrays deeper than
  // kMaxNesting are cut one level below it, where the library refuses them
  // by name; the conversion never recurses further.
  void toC(LumirexVariant* target) const { ToC(target, kMaxNesting + 1); }

 private:
  void ToC(LumirexVariant* target, int levelsLeft) const {
    LumirexVariantInit(target);
    switch (type_) {
      case Type::Empty:
        return;
      case Type::Null:
        target->type = LUMIREX_NULL;
        return;
      case Type::Bool:
        target->type = LUMIREX_BOOL;
        target->value.boolean = bool_ ? 1 : 0;
        return;
      case Type::Int:
        target->type = LUMIREX_INT;
        target->value.integer = int_;
        return;
      case Type::Double:
      case Type::DateTime:
        target->type = type_ == Type::Double ? LUMIREX_DOUBLE : LUMIREX_DATETIME;
        target->value.number = number_;
        return;
      case Type::String:
        if (LumirexVariantSetString(target, string_.data(), string_.size()) != 0) {
          throw std::bad_alloc();
        }
        return;
      case Type::Array:
        ArrayToC(target, levelsLeft);
        return;
    }
  }

  const Variant& Held(Type wanted, const char* name) const {
    if (type_ != wanted) {
      static constexpr const char* kNames[] = {"EMPTY",  "NULL",   "BOOL",     "INT",
                                               "DOUBLE", "STRING", "DATETIME", "ARRAY"};
      throw VariantTypeError(std::string("the variant holds ") + kNames[static_cast<int>(type_)] +
                             ", not " + name);
    }
    return *this;
  }

  static Variant FromC(const LumirexVariant& value, int levelsLeft) {
    switch (value.type) {
      case LUMIREX_NULL:
        return Null();
      case LUMIREX_BOOL:
        return Variant(value.value.boolean != 0);
      case LUMIREX_INT:
        return Variant(static_cast<std::int64_t>(value.value.integer));
      case LUMIREX_DOUBLE:
        return Variant(value.value.number);
      case LUMIREX_DATETIME:
        return DateTime(value.value.number);
      case LUMIREX_STRING:
        if (value.value.string.data == nullptr) return Variant(std::string());
        return Variant(std::string(value.value.string.data, value.value.string.size));
      case LUMIREX_ARRAY:
        return ArrayFromC(value, levelsLeft);
      default:
        return Variant();  // EMPTY, and any type a host made up
    }
  }

  static Variant ArrayFromC(const LumirexVariant& value, int levelsLeft) {
    if (levelsLeft == 0) {
      throw std::length_error("the variant holds arrays nested more than " +
                              std::to_string(kMaxNesting) + " deep");
    }
    std::vector<Variant> items;
    if (value.value.array.items != nullptr && value.value.array.count > 0) {
      items.reserve(static_cast<std::size_t>(value.value.array.count));
      for (std::int32_t i = 0; i < value.value.array.count; ++i) {
        items.push_back(FromC(value.value.array.items[i], levelsLeft - 1));
      }
    }
    return Variant(std::move(items));
  }

  void ArrayToC(LumirexVariant* target, int levelsLeft) const {
    const std::size_t count = levelsLeft == 0 ? 0 : items_.size();
    if (count > static_cast<std::size_t>(INT32_MAX) ||
        LumirexArrayCreate(target, static_cast<std::int32_t>(count)) != 0) {
      throw std::bad_alloc();
    }
    for (std::size_t i = 0; i < count; ++i) {
      try {
        items_[i].ToC(&target->value.array.items[i], levelsLeft - 1);
      } catch (...) {
        LumirexVariantClear(target);
        throw;
      }
    }
  }

  Type type_ = Type::Empty;
  bool bool_ = false;
  std::int64_t int_ = 0;
  double number_ = 0;
  std::string string_;
  std::vector<Variant> items_;
};

namespace detail {

// C variants this header made, released on every path.
class CVariants {
 public:
  explicit CVariants(std::size_t count) : items_(count) {
    for (LumirexVariant& item : items_) LumirexVariantInit(&item);
  }
  ~CVariants() {
    for (LumirexVariant& item : items_) LumirexVariantClear(&item);
  }
  CVariants(const CVariants&) = delete;
  CVariants& operator=(const CVariants&) = delete;
  LumirexVariant* data() { return items_.data(); }
  LumirexVariant& operator[](std::size_t i) { return items_[i]; }

 private:
  std::vector<LumirexVariant> items_;
};

// A text a C getter copies out: asked again with room for all of it.
template <typename Getter>
std::string TextOf(Getter get) {
  std::string text(256, '\0');
  std::size_t length = get(text.data(), text.size());
  if (length >= text.size()) {
    text.assign(length + 1, '\0');
    length = get(text.data(), text.size());
  }
  text.resize(std::min(length, text.size() - 1));
  return text;
}

// The C++ handler behind the C one: set and read under a lock, so a message
// delivered on another thread never meets a handler half replaced. Kept in
// static storage that is never destroyed, as a call may deliver a message
// while the host exits.
struct HandlerSlot {
  std::mutex mutex;
  std::function<void(const std::string&)> handler;
};

inline HandlerSlot& Slot() {
  alignas(HandlerSlot) static unsigned char storage[sizeof(HandlerSlot)];
  static HandlerSlot* const slot = ::new (storage) HandlerSlot();
  return *slot;
}

inline void LUMIREX_CALL Deliver(const char* text, void*) noexcept {
  // Copying the handler may run out of memory: inside the try too, as
  // nothing may cross back into the library's C frames.
  try {
    std::function<void(const std::string&)> handler;
    {
      std::lock_guard<std::mutex> lock(Slot().mutex);
      handler = Slot().handler;
    }
    if (handler) handler(text);
  } catch (...) {
    // A handler that throws must not take the call down with it.
    std::fprintf(stderr, "lumirex: %s\n", text);
  }
}

inline const char* OrNull(const std::optional<std::string>& text) {
  return text ? text->c_str() : nullptr;
}

}  // namespace detail

// One integration call; see IntegracaoLumirex in lumirex.h. Elements past
// lastIndex are not passed; result is written back as the call left it.
inline bool IntegracaoLumirex(std::vector<Variant> params, std::int32_t lastIndex,
                              Variant& result) {
  const std::size_t count =
      lastIndex < 0 ? 0 : std::min(params.size(), static_cast<std::size_t>(lastIndex) + 1);
  detail::CVariants list(count);
  for (std::size_t i = 0; i < count; ++i) params[i].toC(&list[i]);
  detail::CVariants answer(1);
  result.toC(&answer[0]);
  const bool returned =
      ::IntegracaoLumirex(list.data(), static_cast<std::int32_t>(count) - 1, answer.data());
  result = Variant::fromC(answer[0]);
  return returned;
}

// What became of the last integration call made on the calling thread; see
// LumirexLastCall in lumirex.h.
struct CallOutcome {
  std::int32_t error = LUMIREX_OK;  // LUMIREX_OK or one of LUMIREX_E_*
  std::int32_t httpStatus = 0;      // of the service's answer; 0 when none arrived
  bool sent = false;                // the request left the library: the service may have acted
  bool queued = false;              // kept in the outbox, to be sent again later
  std::string message;              // the operator message; empty after a true return
};

// The name of a code of CallOutcome::error, as lumirex.h spells it.
inline const char* ErrorName(std::int32_t error) {
  return LumirexErrorName(error);
}

inline CallOutcome LastCall() {
  LumirexCallOutcome outcome{};
  std::string message(256, '\0');
  // The message is cut to fit; a longer buffer is asked for until it is not.
  for (;;) {
    LumirexLastCall(&outcome, message.data(), message.size());
    const std::size_t length = std::char_traits<char>::length(message.c_str());
    if (length + 1 < message.size() || message.size() >= (std::size_t{1} << 26)) {
      message.resize(length);
      break;
    }
    message.assign(message.size() * 4, '\0');
  }
  return CallOutcome{outcome.error, outcome.http_status, outcome.sent != 0, outcome.queued != 0,
                     std::move(message)};
}

// Appends one time-stamped line to today's integration log. Throws
// std::runtime_error naming the file when it cannot be written.
inline void LogLumirex(std::string_view message) {
  char error[1024];
  if (LumirexLog(message.data(), message.size(), error, sizeof error) != 0) {
    throw std::runtime_error(error);
  }
}

// The file that a line logged now would go to.
inline std::string LogFilePath() {
  return detail::TextOf(LumirexLogFilePath);
}

// Configuration; std::nullopt restores the default (see lumirex.h).
using MessageHandler = std::function<void(const std::string& text)>;

inline void SetMessageHandler(MessageHandler handler) {
  const bool set = static_cast<bool>(handler);
  {
    std::lock_guard<std::mutex> lock(detail::Slot().mutex);
    detail::Slot().handler = std::move(handler);
  }
  LumirexSetMessageHandler(set ? &detail::Deliver : nullptr, nullptr);
}
inline void SetBaseDir(std::optional<std::string> dir) {
  LumirexSetBaseDir(detail::OrNull(dir));
}
inline void SetConnectionString(std::optional<std::string> connection) {
  LumirexSetConnectionString(detail::OrNull(connection));
}
inline void SetCaFile(std::optional<std::string> file) {
  LumirexSetCaFile(detail::OrNull(file));
}
// False, with the setting unchanged, for anything but ',' and '.'.
inline bool SetDecimalSeparator(char separator) {
  return LumirexSetDecimalSeparator(separator) == 0;
}
// "windows-1252" or "UTF-8"; std::nullopt restores the default. False, with
// the setting unchanged, for any other name.
inline bool SetHostEncoding(std::optional<std::string> name) {
  return LumirexSetHostEncoding(detail::OrNull(name)) == 0;
}
inline std::string BaseDir() {
  return detail::TextOf(LumirexGetBaseDir);
}
inline std::string ConnectionString() {
  return detail::TextOf(LumirexGetConnectionString);
}
// The file in force, if any.
inline std::optional<std::string> CaFile() {
  std::string file = detail::TextOf(LumirexGetCaFile);
  if (file.empty()) return std::nullopt;
  return file;
}
inline char DecimalSeparator() {
  return LumirexGetDecimalSeparator();
}
inline std::string Version() {
  return LumirexVersion();
}

// The outbox (see LumirexSetOutbox in lumirex.h). SetOutbox and
// SetOutboxLimit return false, with the setting unchanged, where the C
// functions return non-zero; std::nullopt restores the default.
inline bool SetOutbox(std::optional<std::string> file) {
  return LumirexSetOutbox(detail::OrNull(file)) == 0;
}
inline bool SetOutboxLimit(std::int32_t maxReports) {
  return LumirexSetOutboxLimit(maxReports) == 0;
}
// How many calls may run at once (see LumirexSetMaxCalls); false, with the
// bound unchanged, below 1.
inline bool SetMaxCalls(int maxCalls) {
  return LumirexSetMaxCalls(maxCalls) == 0;
}
// How many reports got a verdict, or std::nullopt when the outbox is off or
// unusable (LastCall says why). maxReports < 1 sends all.
inline std::optional<std::int32_t> OutboxSend(std::int32_t maxReports = 0) {
  const std::int32_t sent = LumirexOutboxSend(maxReports);
  if (sent < 0) return std::nullopt;
  return sent;
}
// As OutboxSend, every report to baseUrl, as when the service moved
// (std::nullopt: each to the URL it was made with).
inline std::optional<std::int32_t> OutboxSendTo(std::optional<std::string> baseUrl,
                                                std::int32_t maxReports = 0) {
  const std::int32_t sent = LumirexOutboxSendTo(detail::OrNull(baseUrl), maxReports);
  if (sent < 0) return std::nullopt;
  return sent;
}
// How many reports wait, or std::nullopt when the outbox is off or unreadable.
inline std::optional<std::int32_t> OutboxCount() {
  const std::int32_t count = LumirexOutboxCount();
  if (count < 0) return std::nullopt;
  return count;
}

// Automatic forwarding and the fast offline path (see LumirexSetForwarding
// and LumirexSetOfflinePath in lumirex.h); false where the C functions
// return non-zero.
inline bool SetForwarding(bool on) {
  return LumirexSetForwarding(on ? 1 : 0) == 0;
}
inline bool SetOfflinePath(bool on) {
  return LumirexSetOfflinePath(on ? 1 : 0) == 0;
}
// Asks the forwarder to send the waiting reports now and returns at once;
// false when forwarding is off or no outbox is named (OutboxSend then sends
// them on the calling thread).
inline bool OutboxSendSoon() {
  return LumirexOutboxSendSoon() == 0;
}

// What waits in the outbox, and whether the service answers; times are
// seconds since 1970 (UTC), 0 for never.
struct OutboxState {
  std::int32_t waiting = 0;       // reports waiting to be sent, held ones included
  std::int32_t held = 0;          // set aside until support sends or drops them
  std::int64_t oldestAge = 0;     // seconds the oldest waiting report has waited
  bool offline = false;           // calls are answered at once without trying the service
  std::int64_t offlineSince = 0;  // the first unanswered attempt; 0 when online
  std::int64_t lastAnswer = 0;    // the service last answered this process
  bool forwarding = false;
};

// std::nullopt when the outbox is off or cannot be read. Cheap enough to
// ask after every call, to show "3 sales waiting to be sent".
inline std::optional<OutboxState> OutboxStatus() {
  LumirexOutboxState state{};
  state.size = static_cast<std::uint32_t>(sizeof state);
  if (LumirexOutboxStatus(&state) != 0) return std::nullopt;
  return OutboxState{state.waiting,        state.held,          state.oldest_age,
                     state.offline != 0,   state.offline_since, state.last_answer,
                     state.forwarding != 0};
}

// How a kept report ended, long after its call returned with queued set.
struct KeptOutcome {
  enum class End : std::int32_t {
    Accepted = LUMIREX_KEPT_ACCEPTED,
    Declined = LUMIREX_KEPT_DECLINED,  // with repeat, maybe as one the service had
    Held = LUMIREX_KEPT_HELD,          // set aside after failing while its service answered
    Dropped = LUMIREX_KEPT_DROPPED     // support dropped it while it was being sent
  };
  End end = End::Accepted;
  std::int64_t report = 0;  // the outbox's number, as `lumirex outbox list` shows it
  std::string operation;    // "VENDA" or "VENDA_CANC"
  std::string branch;       // the sale key: branch, till, sale sequence
  std::string till;
  std::string sequence;
  std::string orderId;  // empty when the database had no order for it
  std::string message;  // the service's message, or why it was held
  bool repeat = false;  // an earlier attempt may have reached the service
};

namespace detail {

inline std::string TextOrEmpty(const char* text) {
  return text ? std::string(text) : std::string();
}

// Copied before the call returns: the library's texts live only that long.
inline KeptOutcome KeptOutcomeOf(const LumirexKeptOutcome& c) {
  KeptOutcome outcome;
  outcome.end = static_cast<KeptOutcome::End>(c.end);
  outcome.report = c.report;
  outcome.operation = TextOrEmpty(c.operation);
  outcome.branch = TextOrEmpty(c.branch);
  outcome.till = TextOrEmpty(c.till);
  outcome.sequence = TextOrEmpty(c.sequence);
  outcome.orderId = TextOrEmpty(c.order_id);
  outcome.message = TextOrEmpty(c.message);
  outcome.repeat = c.repeat != 0;
  return outcome;
}

// As the message handler's slot: replaced under a lock, never destroyed, as
// the forwarder may deliver an outcome while the host exits.
struct OutboxHandlerSlot {
  std::mutex mutex;
  std::function<void(const KeptOutcome&)> handler;
};

inline OutboxHandlerSlot& OutboxSlot() {
  alignas(OutboxHandlerSlot) static unsigned char storage[sizeof(OutboxHandlerSlot)];
  static OutboxHandlerSlot* const slot = ::new (storage) OutboxHandlerSlot();
  return *slot;
}

inline void LUMIREX_CALL DeliverKept(const LumirexKeptOutcome* outcome, void*) noexcept {
  if (outcome == nullptr) return;
  try {
    std::function<void(const KeptOutcome&)> handler;
    {
      std::lock_guard<std::mutex> lock(OutboxSlot().mutex);
      handler = OutboxSlot().handler;
    }
    if (handler) handler(KeptOutcomeOf(*outcome));
  } catch (...) {
    // Nothing may cross back into the library, which may be sending on its
    // own thread. The outcome is lost to this host only: the outbox has
    // recorded it, and `lumirex outbox list --all` shows it.
  }
}

}  // namespace detail

// Called once for each kept report that gets a verdict from a resend, is
// held or is dropped, on the thread that sent it (the forwarder's, or the
// one calling OutboxSend). It may call the library; whatever it throws is
// swallowed. An empty handler removes it; a delivery already under way may
// still finish with the old one.
using OutboxHandler = std::function<void(const KeptOutcome& outcome)>;

inline void SetOutboxHandler(OutboxHandler handler) {
  const bool set = static_cast<bool>(handler);
  {
    std::lock_guard<std::mutex> lock(detail::OutboxSlot().mutex);
    detail::OutboxSlot().handler = std::move(handler);
  }
  LumirexSetOutboxHandler(set ? &detail::DeliverKept : nullptr, nullptr);
}

}  // namespace lumirex

#endif  // LUMIREX_HPP
