#include "dataset/dataset.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include "dataset/data_packet.hpp"
#include "dataset/field_values.hpp"
#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "support/host_text.hpp"
#include "support/number_text.hpp"

namespace lumirex {
namespace {

using field_values::SameName;

std::string Quoted(std::string_view name) {
  return "'" + std::string(name) + "'";
}

[[noreturn]] void CannotHold(const FieldDef& def, std::string_view what) {
  throw ConversionError("field " + Quoted(def.name) + " cannot hold " + std::string(what));
}

// A text holds no NUL (the packet cannot carry one, and the host's string
// fields end there) and at most the field's size in characters.
std::string FitString(const FieldDef& def, std::string value) {
  if (const auto nul = value.find('\0'); nul != std::string::npos) value.resize(nul);
  if (def.size > 0) {
    value.resize(HostTextPrefix(value, static_cast<std::size_t>(def.size)).size());
  }
  return value;
}

std::int64_t FitInteger(const FieldDef& def, std::int64_t value) {
  if (def.type == FieldType::Integer && (value < std::numeric_limits<std::int32_t>::min() ||
                                         value > std::numeric_limits<std::int32_t>::max())) {
    CannotHold(def, std::to_string(value) + " (a 32-bit integer field)");
  }
  return value;
}

double FitDateTime(const FieldDef& def, double value) {
  if (!field_values::InDateTimeRange(value))
    CannotHold(def, "a date-time outside the years 1 to 9999");
  return def.type == FieldType::Date ? field_values::DatePart(value) : value;
}

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t") == std::string_view::npos;
}

bool FitsType(FieldType type, const FieldValue& value) {
  if (std::holds_alternative<std::monostate>(value)) return true;
  switch (type) {
    case FieldType::String:
      return std::holds_alternative<std::string>(value);
    case FieldType::Integer:
    case FieldType::LargeInt:
      return std::holds_alternative<std::int64_t>(value);
    case FieldType::Boolean:
      return std::holds_alternative<bool>(value);
    case FieldType::Date:
    case FieldType::DateTime:
      return std::holds_alternative<double>(value) &&
             field_values::InDateTimeRange(std::get<double>(value));
    default:
      return std::holds_alternative<double>(value) && std::isfinite(std::get<double>(value));
  }
}

void CheckDefs(const std::vector<FieldDef>& defs) {
  for (std::size_t i = 0; i < defs.size(); ++i) {
    if (defs[i].name.empty()) throw DatabaseError("a field has no name");
    for (std::size_t j = 0; j < i; ++j) {
      if (SameName(defs[i].name, defs[j].name)) {
        throw DatabaseError("duplicate field name " + Quoted(defs[i].name));
      }
    }
  }
}

}  // namespace

// ---- TField ----------------------------------------------------------------

const FieldDef& TField::Def() const {
  if (dataset_ == nullptr || index_ >= dataset_->defs_.size()) {
    throw DatabaseError("the field belongs to no dataset");
  }
  return dataset_->defs_[index_];
}

bool TField::IsNull() const {
  const FieldValue* value = dataset_ ? dataset_->CurrentValue(index_) : nullptr;
  return value == nullptr || std::holds_alternative<std::monostate>(*value);
}

std::string TField::AsString() const {
  const FieldValue* value = dataset_ ? dataset_->CurrentValue(index_) : nullptr;
  if (value == nullptr) return "";
  if (const auto* text = std::get_if<std::string>(value)) return *text;
  if (const auto* integer = std::get_if<std::int64_t>(value)) return std::to_string(*integer);
  if (const auto* flag = std::get_if<bool>(value)) return *flag ? "True" : "False";
  if (const auto* number = std::get_if<double>(value)) {
    const FieldType type = Def().type;
    return type == FieldType::Date || type == FieldType::DateTime ? DateTimeToStr(*number)
                                                                  : FloatToStr(*number);
  }
  return "";
}

double TField::AsFloat() const {
  return AsNumber(field_values::ParseNumberText, "floating point value", "a number");
}

double TField::AsDateTime() const {
  return AsNumber(field_values::ParseDateTimeText, "date and time", "a date-time");
}

double TField::AsNumber(std::optional<double> (*parseText)(std::string_view), const char* textKind,
                        const char* valueKind) const {
  const FieldValue* value = dataset_ ? dataset_->CurrentValue(index_) : nullptr;
  if (value == nullptr) return 0;
  if (const auto* text = std::get_if<std::string>(value)) {
    if (auto number = parseText(*text)) return *number;
    throw ConversionError("'" + *text + "' is not a valid " + textKind);
  }
  if (const auto* integer = std::get_if<std::int64_t>(value)) return static_cast<double>(*integer);
  if (const auto* number = std::get_if<double>(value)) return *number;
  if (std::holds_alternative<bool>(*value)) {
    throw ConversionError("field " + Quoted(Def().name) + " is Boolean, not " + valueKind);
  }
  return 0;
}

void TField::SetAsString(std::string value) {
  const FieldDef& def = Def();
  if (def.type == FieldType::String) return Store(FitString(def, std::move(value)));
  // An empty text in any other field means "no value", as a cleared edit box does.
  if (IsBlank(value)) return Clear();
  switch (def.type) {
    case FieldType::Integer:
    case FieldType::LargeInt: {
      auto number = field_values::ParseIntegerText(value);
      if (!number) throw ConversionError("'" + value + "' is not a valid integer value");
      return Store(FitInteger(def, *number));
    }
    case FieldType::Boolean:
      if (SameName(value, "True")) return Store(true);
      if (SameName(value, "False")) return Store(false);
      throw ConversionError("'" + value + "' is not a valid Boolean value");
    case FieldType::Date:
    case FieldType::DateTime: {
      auto moment = field_values::ParseDateTimeText(value);
      if (!moment) throw ConversionError("'" + value + "' is not a valid date and time");
      return Store(FitDateTime(def, *moment));
    }
    default: {
      auto number = field_values::ParseNumberText(value);
      if (!number) throw ConversionError("'" + value + "' is not a valid floating point value");
      return Store(*number);
    }
  }
}

void TField::SetAsFloat(double value) {
  const FieldDef& def = Def();
  if (!std::isfinite(value)) CannotHold(def, "a number that is not finite");
  switch (def.type) {
    case FieldType::String:
      return Store(FitString(def, FloatToStr(value)));
    case FieldType::Integer:
    case FieldType::LargeInt: {
      // Rounded half to even, as the host's integer fields round.
      const double rounded = std::nearbyint(value);
      if (rounded < -0x1p63 || rounded >= 0x1p63) CannotHold(def, FloatToStr(value));
      return Store(FitInteger(def, static_cast<std::int64_t>(rounded)));
    }
    case FieldType::Boolean:
      return Store(value != 0);
    case FieldType::Date:
    case FieldType::DateTime:
      return Store(FitDateTime(def, value));
    default:
      return Store(value);
  }
}

void TField::SetAsDateTime(double value) {
  const FieldDef& def = Def();
  if (!std::isfinite(value)) CannotHold(def, "a date-time that is not finite");
  switch (def.type) {
    case FieldType::String:
      return Store(FitString(def, DateTimeToStr(value)));
    case FieldType::Float:
    case FieldType::Fixed:
      return Store(value);
    case FieldType::Date:
    case FieldType::DateTime:
      return Store(FitDateTime(def, value));
    default:
      CannotHold(def, "a date-time");
  }
}

void TField::Clear() {
  Store(std::monostate{});
}

void TField::Store(FieldValue value) {
  const FieldDef& def = Def();
  FieldValue* slot = dataset_->EditableValue(index_);
  if (slot == nullptr) {
    throw DatabaseError("field " + Quoted(def.name) + " can be set only in a row being inserted");
  }
  *slot = std::move(value);
}

// ---- TClientDataSet --------------------------------------------------------

TField TClientDataSet::AddField(FieldDef def) {
  if (active_) throw DatabaseError("cannot add field " + Quoted(def.name) + " to an open dataset");
  std::vector<FieldDef> defs = defs_;
  defs.push_back(std::move(def));
  CheckDefs(defs);
  defs_ = std::move(defs);
  return TField(this, defs_.size() - 1);
}

TField TClientDataSet::Fields(std::size_t index) {
  if (index >= defs_.size()) {
    throw DatabaseError("field index " + std::to_string(index) + " out of range");
  }
  return TField(this, index);
}

void TClientDataSet::CreateDataSet() {
  CheckDefs(defs_);
  Close();
  active_ = true;
}

void TClientDataSet::Close() {
  rows_.clear();
  inserting_.reset();
  cursor_ = 0;
  active_ = false;
}

void TClientDataSet::Insert() {
  if (!active_) throw DatabaseError("cannot insert into a closed dataset");
  Post();
  inserting_.emplace(defs_.size());
  cursor_ = rows_.size();
}

void TClientDataSet::Post() {
  if (!inserting_) return;
  rows_.push_back(std::move(*inserting_));
  inserting_.reset();
  cursor_ = rows_.size() - 1;
}

void TClientDataSet::First() {
  Post();
  cursor_ = 0;
}

void TClientDataSet::Next() {
  Post();
  if (cursor_ < rows_.size()) ++cursor_;
}

bool TClientDataSet::Eof() const {
  return !inserting_ && cursor_ >= rows_.size();
}

TField TClientDataSet::FieldByName(std::string_view name) {
  for (std::size_t i = 0; i < defs_.size(); ++i) {
    if (SameName(defs_[i].name, name)) return TField(this, i);
  }
  throw DatabaseError("field " + Quoted(name) + " not found");
}

void TClientDataSet::SetData(std::string_view packet) {
  DataPacket data = ReadDataPacket(packet);
  Load(std::move(data.fields), std::move(data.rows));
}

std::string TClientDataSet::GetData() const {
  static const std::vector<Row> kNoRows;
  return WriteDataPacket(defs_, active_ ? rows_ : kNoRows);
}

void TClientDataSet::Load(std::vector<FieldDef> defs, std::vector<Row> rows) {
  CheckDefs(defs);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    Row& row = rows[r];
    if (row.size() != defs.size()) {
      throw DatabaseError("row " + std::to_string(r + 1) + " has " + std::to_string(row.size()) +
                          " values for " + std::to_string(defs.size()) + " fields");
    }
    for (std::size_t i = 0; i < defs.size(); ++i) {
      if (!FitsType(defs[i].type, row[i])) {
        throw DatabaseError("row " + std::to_string(r + 1) +
                            " holds a value of another type in field " + Quoted(defs[i].name));
      }
      if (auto* text = std::get_if<std::string>(&row[i]))
        *text = FitString(defs[i], std::move(*text));
    }
  }
  Close();
  defs_ = std::move(defs);
  rows_ = std::move(rows);
  active_ = true;
}

const FieldValue* TClientDataSet::CurrentValue(std::size_t index) const {
  const Row* row = nullptr;
  if (inserting_) {
    row = &*inserting_;
  } else if (active_ && cursor_ < rows_.size()) {
    row = &rows_[cursor_];
  }
  return row != nullptr && index < row->size() ? &(*row)[index] : nullptr;
}

FieldValue* TClientDataSet::EditableValue(std::size_t index) {
  return inserting_ && index < inserting_->size() ? &(*inserting_)[index] : nullptr;
}

}  // namespace lumirex
