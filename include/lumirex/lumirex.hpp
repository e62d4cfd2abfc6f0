// lumirex C++ API: the same integration call as the C ABI, on value types.
#ifndef LUMIREX_HPP
#define LUMIREX_HPP

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "lumirex/lumirex.h"

namespace lumirex {

// Raised by Variant accessors asked for a type the variant does not hold.
class LUMIREX_API VariantTypeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value of the host's variant kinds. Strings are bytes in Windows-1252;
// date-times count days since 1899-12-30 00:00 with the time of day as fraction.
class LUMIREX_API Variant {
 public:
  enum class Type { Empty, Null, Bool, Int, Double, String, DateTime, Array };

  Variant() = default;
  Variant(bool value);
  Variant(int value);
  Variant(std::int64_t value);
  Variant(double value);
  Variant(std::string value);
  Variant(std::string_view value);
  Variant(const char* value);
  Variant(std::vector<Variant> items);

  static Variant Null();
  static Variant DateTime(double days);
  // An ARRAY of count EMPTY elements.
  static Variant Array(std::size_t count);

  Type type() const { return type_; }
  bool isEmpty() const { return type_ == Type::Empty; }
  bool isArray() const { return type_ == Type::Array; }

  bool asBool() const;
  std::int64_t asInt() const;
  double asDouble() const;  // DOUBLE or DATETIME
  const std::string& asString() const;
  const std::vector<Variant>& items() const;
  std::vector<Variant>& items();

  bool operator==(const Variant& other) const;

  // Conversions to and from the C ABI's variant; the C variant made by toC is
  // owned by the caller and released with LumirexVariantClear. fromC throws
  // std::length_error for arrays nested more than 32 deep.
  static Variant fromC(const LumirexVariant& value);
  void toC(LumirexVariant* target) const;

 private:
  Type type_ = Type::Empty;
  bool bool_ = false;
  std::int64_t int_ = 0;
  double number_ = 0;
  std::string string_;
  std::vector<Variant> items_;
};

// One integration call; see IntegracaoLumirex in lumirex.h.
LUMIREX_API bool IntegracaoLumirex(std::vector<Variant> params, std::int32_t lastIndex,
                                   Variant& result);

// What became of the last integration call made on the calling thread; see
// LumirexLastCall in lumirex.h.
struct CallOutcome {
  std::int32_t error = LUMIREX_OK;  // LUMIREX_OK or one of LUMIREX_E_*
  std::int32_t httpStatus = 0;      // of the service's answer; 0 when none arrived
  bool sent = false;                // the request left the library: the service may have acted
  bool queued = false;              // kept to be sent again later; always false for now
  std::string message;              // the operator message; empty after a true return
};
LUMIREX_API CallOutcome LastCall();

// Appends one time-stamped line to today's integration log. Throws
// std::runtime_error naming the file when it cannot be written.
LUMIREX_API void LogLumirex(std::string_view message);

// The file that a line logged now would go to.
LUMIREX_API std::string LogFilePath();

// Configuration; std::nullopt restores the default (see lumirex.h).
using MessageHandler = std::function<void(const std::string& text)>;
LUMIREX_API void SetMessageHandler(MessageHandler handler);
LUMIREX_API void SetBaseDir(std::optional<std::string> dir);
LUMIREX_API void SetConnectionString(std::optional<std::string> connection);
LUMIREX_API void SetCaFile(std::optional<std::string> file);
// ',' or '.'; false, with the setting unchanged, for any other character.
LUMIREX_API bool SetDecimalSeparator(char separator);
LUMIREX_API std::string BaseDir();
LUMIREX_API std::string ConnectionString();
LUMIREX_API std::optional<std::string> CaFile();  // the file in force, if any
LUMIREX_API char DecimalSeparator();
LUMIREX_API std::string Version();

}  // namespace lumirex

#endif  // LUMIREX_HPP
