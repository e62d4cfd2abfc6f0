#include <cmath>
#include <string>

#include "database/result_rows.hpp"
#include "dataset/field_values.hpp"

namespace lumirex::result_rows {
namespace {

bool IsNumber(const FieldValue& value) {
  if (std::holds_alternative<std::int64_t>(value)) return true;
  const auto* number = std::get_if<double>(&value);
  return number != nullptr && std::isfinite(*number);
}

bool IsDateTimeText(const FieldValue& value) {
  const auto* text = std::get_if<std::string>(&value);
  return text != nullptr && field_values::ParseDateTimeText(*text).has_value();
}

FieldType SettleType(ColumnKind kind, const std::vector<TClientDataSet::Row>& rows,
                     std::size_t column) {
  bool any = false, allIntegers = true, allNumbers = true, allDateTimes = true;
  for (const TClientDataSet::Row& row : rows) {
    const FieldValue& value = row[column];
    if (std::holds_alternative<std::monostate>(value)) continue;
    any = true;
    allIntegers = allIntegers && std::holds_alternative<std::int64_t>(value);
    allNumbers = allNumbers && IsNumber(value);
    allDateTimes = allDateTimes && IsDateTimeText(value);
  }
  if (!any) return FieldTypeOf(kind);
  if (kind == ColumnKind::DateTime && allDateTimes) return FieldType::DateTime;
  // A REAL or NUMERIC column keeps whole amounts as integers; it still holds amounts.
  if (allIntegers && kind != ColumnKind::Real) return FieldType::LargeInt;
  if (allNumbers) return FieldType::Float;
  return FieldType::String;
}

std::string NumberText(const FieldValue& value) {
  if (const auto* integer = std::get_if<std::int64_t>(&value)) return std::to_string(*integer);
  const double number = std::get<double>(value);
  if (std::isnan(number)) return "NaN";
  if (std::isinf(number)) return number > 0 ? "Inf" : "-Inf";
  return field_values::FormatPointDecimal(number, false);
}

void Convert(FieldValue& value, FieldType type) {
  if (std::holds_alternative<std::monostate>(value)) return;
  switch (type) {
    case FieldType::DateTime:
      value = *field_values::ParseDateTimeText(std::get<std::string>(value));
      break;
    case FieldType::Float:
      if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        value = static_cast<double>(*integer);
      }
      break;
    case FieldType::String:
      if (!std::holds_alternative<std::string>(value)) value = NumberText(value);
      break;
    default:
      break;
  }
}

}  // namespace

FieldType FieldTypeOf(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Integer:
      return FieldType::LargeInt;
    case ColumnKind::Real:
      return FieldType::Float;
    case ColumnKind::DateTime:
      return FieldType::DateTime;
    default:
      return FieldType::String;
  }
}

std::vector<FieldDef> SettleSqliteColumns(const std::vector<Column>& columns,
                                          std::vector<TClientDataSet::Row>& rows) {
  std::vector<FieldDef> defs;
  defs.reserve(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const FieldType type = SettleType(columns[c].kind, rows, c);
    for (TClientDataSet::Row& row : rows) Convert(row[c], type);
    defs.push_back(FieldDef{.name = columns[c].name, .type = type});
  }
  return defs;
}

}  // namespace lumirex::result_rows
