#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "lumirex/lumirex.hpp"
#include "support/variant_nesting.hpp"

namespace lumirex {

namespace {

const char* TypeName(Variant::Type type) {
  switch (type) {
    case Variant::Type::Empty: return "EMPTY";
    case Variant::Type::Null: return "NULL";
    case Variant::Type::Bool: return "BOOL";
    case Variant::Type::Int: return "INT";
    case Variant::Type::Double: return "DOUBLE";
    case Variant::Type::String: return "STRING";
    case Variant::Type::DateTime: return "DATETIME";
    case Variant::Type::Array: return "ARRAY";
  }
  return "unknown";
}

[[noreturn]] void WrongType(Variant::Type held, const char* wanted) {
  throw VariantTypeError(std::string("the variant holds ") + TypeName(held) + ", not " + wanted);
}

}  // namespace

Variant::Variant(bool value) : type_(Type::Bool), bool_(value) {}
Variant::Variant(int value) : type_(Type::Int), int_(value) {}
Variant::Variant(std::int64_t value) : type_(Type::Int), int_(value) {}
Variant::Variant(double value) : type_(Type::Double), number_(value) {}
Variant::Variant(std::string value) : type_(Type::String), string_(std::move(value)) {}
Variant::Variant(std::string_view value) : type_(Type::String), string_(value) {}
Variant::Variant(const char* value) : type_(Type::String), string_(value ? value : "") {}
Variant::Variant(std::vector<Variant> items) : type_(Type::Array), items_(std::move(items)) {}

Variant Variant::Null() {
  Variant v;
  v.type_ = Type::Null;
  return v;
}

Variant Variant::DateTime(double days) {
  Variant v;
  v.type_ = Type::DateTime;
  v.number_ = days;
  return v;
}

Variant Variant::Array(std::size_t count) { return Variant(std::vector<Variant>(count)); }

bool Variant::asBool() const {
  if (type_ != Type::Bool) WrongType(type_, "BOOL");
  return bool_;
}

std::int64_t Variant::asInt() const {
  if (type_ != Type::Int) WrongType(type_, "INT");
  return int_;
}

double Variant::asDouble() const {
  if (type_ != Type::Double && type_ != Type::DateTime) WrongType(type_, "DOUBLE");
  return number_;
}

const std::string& Variant::asString() const {
  if (type_ != Type::String) WrongType(type_, "STRING");
  return string_;
}

const std::vector<Variant>& Variant::items() const {
  if (type_ != Type::Array) WrongType(type_, "ARRAY");
  return items_;
}

std::vector<Variant>& Variant::items() {
  if (type_ != Type::Array) WrongType(type_, "ARRAY");
  return items_;
}

bool Variant::operator==(const Variant& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case Type::Empty:
    case Type::Null: return true;
    case Type::Bool: return bool_ == other.bool_;
    case Type::Int: return int_ == other.int_;
    case Type::Double:
    case Type::DateTime: return number_ == other.number_;
    case Type::String: return string_ == other.string_;
    case Type::Array: return items_ == other.items_;
  }
  return false;
}

namespace {

Variant ScalarFromC(const LumirexVariant& value) {
  switch (value.type) {
    case LUMIREX_NULL: return Variant::Null();
    case LUMIREX_BOOL: return Variant(value.value.boolean != 0);
    case LUMIREX_INT: return Variant(static_cast<std::int64_t>(value.value.integer));
    case LUMIREX_DOUBLE: return Variant(value.value.number);
    case LUMIREX_DATETIME: return Variant::DateTime(value.value.number);
    case LUMIREX_STRING:
      if (value.value.string.data == nullptr) return Variant(std::string());
      return Variant(std::string(value.value.string.data, value.value.string.size));
    default: return Variant();  // EMPTY, and any type a host made up
  }
}

// Copies value into out; false as soon as an array lies deeper than levelsLeft.
bool CopyWithin(const LumirexVariant& value, int levelsLeft, Variant& out) {
  if (value.type != LUMIREX_ARRAY) {
    out = ScalarFromC(value);
    return true;
  }
  if (levelsLeft == 0) return false;
  std::vector<Variant> items;
  if (value.value.array.items != nullptr && value.value.array.count > 0) {
    items.resize(static_cast<std::size_t>(value.value.array.count));
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (!CopyWithin(value.value.array.items[i], levelsLeft - 1, items[i])) return false;
    }
  }
  out = Variant(std::move(items));
  return true;
}

bool DeeperThan(const Variant& value, int levelsLeft) {
  if (!value.isArray()) return false;
  if (levelsLeft == 0) return true;
  for (const Variant& item : value.items()) {
    if (DeeperThan(item, levelsLeft - 1)) return true;
  }
  return false;
}

}  // namespace

std::optional<Variant> CopyFromC(const LumirexVariant& value) {
  Variant copy;
  if (!CopyWithin(value, kMaxArrayNesting, copy)) return std::nullopt;
  return copy;
}

bool NestsTooDeep(const Variant& value) {
  return DeeperThan(value, kMaxArrayNesting);
}

void ReleaseLevelByLevel(Variant& value) noexcept {
  if (!value.isArray()) {
    value = Variant();
    return;
  }
  // Each array is taken apart after its inner arrays were moved out, so no
  // destructor below runs more than one level deep. Moving leaves nothing to
  // allocate but the list's growth; should that fail, the rest goes the usual way.
  std::vector<Variant> pending;
  try {
    pending.push_back(std::move(value));
    while (!pending.empty()) {
      Variant array = std::move(pending.back());
      pending.pop_back();
      for (Variant& item : array.items()) {
        if (item.isArray()) pending.push_back(std::move(item));
      }
    }
  } catch (...) {
  }
  value = Variant();
}

std::string NestedTooDeep(const std::string& what) {
  return what + " holds arrays nested more than " + std::to_string(kMaxArrayNesting) +
         " deep; the library takes at most " + std::to_string(kMaxArrayNesting) + " levels";
}

Variant Variant::fromC(const LumirexVariant& value) {
  std::optional<Variant> copy = CopyFromC(value);
  if (!copy) throw std::length_error(NestedTooDeep("the variant"));
  return std::move(*copy);
}

void Variant::toC(LumirexVariant* target) const {
  LumirexVariantInit(target);
  switch (type_) {
    case Type::Empty: return;
    case Type::Null: target->type = LUMIREX_NULL; return;
    case Type::Bool:
      target->type = LUMIREX_BOOL;
      target->value.boolean = bool_ ? 1 : 0;
      return;
    case Type::Int:
      target->type = LUMIREX_INT;
      target->value.integer = int_;
      return;
    case Type::Double:
      target->type = LUMIREX_DOUBLE;
      target->value.number = number_;
      return;
    case Type::DateTime:
      target->type = LUMIREX_DATETIME;
      target->value.number = number_;
      return;
    case Type::String:
      if (LumirexVariantSetString(target, string_.data(), string_.size()) != 0) {
        throw std::bad_alloc();
      }
      return;
    case Type::Array: {
      if (items_.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()) ||
          LumirexArrayCreate(target, static_cast<int32_t>(items_.size())) != 0) {
        throw std::bad_alloc();
      }
      try {
        for (std::size_t i = 0; i < items_.size(); ++i) items_[i].toC(&target->value.array.items[i]);
      } catch (...) {
        LumirexVariantClear(target);
        throw;
      }
      return;
    }
  }
}

}  // namespace lumirex

// The C variant helpers live beside the C++ type they mirror.
extern "C" {

void LumirexVariantInit(LumirexVariant* v) {
  if (v == nullptr) return;
  std::memset(v, 0, sizeof *v);
  v->type = LUMIREX_EMPTY;
}

// Arrays are freed without recursion and without memory of its own, however
// deep a host nested them: elements go from the last to the first, and an
// inner array is entered through the element that holds it, which is about to
// be freed anyway and so keeps the way back: the element through which its own
// array was entered, and its index there.
void LumirexVariantClear(LumirexVariant* v) {
  if (v == nullptr) return;
  if (v->type == LUMIREX_STRING) std::free(v->value.string.data);
  if (v->type != LUMIREX_ARRAY || v->value.array.items == nullptr) {
    LumirexVariantInit(v);
    return;
  }
  LumirexVariant* items = v->value.array.items;
  int32_t left = v->value.array.count;
  LumirexVariant* enteredBy = nullptr;  // nullptr: the outermost array
  for (;;) {
    if (left > 0) {
      LumirexVariant& last = items[left - 1];
      if (last.type == LUMIREX_ARRAY && last.value.array.items != nullptr) {
        LumirexVariant* inner = last.value.array.items;
        const int32_t innerCount = last.value.array.count;
        last.value.array.items = enteredBy;
        last.value.array.count = left - 1;
        enteredBy = &last;
        items = inner;
        left = innerCount;
        continue;
      }
      if (last.type == LUMIREX_STRING) std::free(last.value.string.data);
      --left;
      continue;
    }
    std::free(items);
    if (enteredBy == nullptr) break;
    left = enteredBy->value.array.count;
    items = enteredBy - left;
    enteredBy = enteredBy->value.array.items;
  }
  LumirexVariantInit(v);
}

int LumirexVariantSetString(LumirexVariant* v, const char* data, size_t size) {
  if (v == nullptr || (data == nullptr && size != 0) || size == SIZE_MAX) return 1;
  auto* copy = static_cast<char*>(std::malloc(size + 1));
  if (copy == nullptr) return 1;
  if (size != 0) std::memcpy(copy, data, size);
  copy[size] = '\0';
  LumirexVariantInit(v);
  v->type = LUMIREX_STRING;
  v->value.string.data = copy;
  v->value.string.size = size;
  return 0;
}

int LumirexArrayCreate(LumirexVariant* v, int32_t count) {
  if (v == nullptr || count < 0) return 1;
  // calloc leaves every element all-zero, which is EMPTY.
  auto* items = static_cast<LumirexVariant*>(std::calloc(count == 0 ? 1 : count, sizeof(LumirexVariant)));
  if (items == nullptr) return 1;
  LumirexVariantInit(v);
  v->type = LUMIREX_ARRAY;
  v->value.array.items = items;
  v->value.array.count = count;
  return 0;
}

}  // extern "C"
