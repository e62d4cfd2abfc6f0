#include "cli/result_json.hpp"

#include <iterator>

#include "cli/display_text.hpp"
#include "support/errors.hpp"

namespace lumirex::cli {

namespace {

constexpr std::size_t kMessageElement = 1;
constexpr std::size_t kPacketElement = 4;

nlohmann::json FieldValueToJson(const FieldDef& field, const FieldValue& value) {
  if (std::holds_alternative<std::monostate>(value)) return nullptr;
  if (const auto* text = std::get_if<std::string>(&value)) return FromServiceBytes(*text);
  if (const auto* integer = std::get_if<std::int64_t>(&value)) return *integer;
  if (const auto* flag = std::get_if<bool>(&value)) return *flag;
  double number = std::get<double>(value);
  if (field.type == FieldType::Date || field.type == FieldType::DateTime) {
    return FormatDateTime(number);
  }
  return number;
}

nlohmann::json ElementToJson(const Variant& element, bool ansiText) {
  switch (element.type()) {
    case Variant::Type::Empty:
    case Variant::Type::Null:
      return nullptr;
    case Variant::Type::Bool:
      return element.asBool();
    case Variant::Type::Int:
      return element.asInt();
    case Variant::Type::Double:
      return element.asDouble();
    case Variant::Type::DateTime:
      return FormatDateTime(element.asDouble());
    case Variant::Type::String:
      return ansiText ? FromAnsi(element.asString()) : FromServiceBytes(element.asString());
    case Variant::Type::Array: {
      nlohmann::json items = nlohmann::json::array();
      for (const Variant& item : element.items()) items.push_back(ElementToJson(item, false));
      return items;
    }
  }
  return nullptr;
}

// Element 4 of a customer query decoded; a text that is not a packet stays text.
nlohmann::json PromocodesToJson(const Variant& element) {
  if (element.type() != Variant::Type::String) return ElementToJson(element, false);
  try {
    return PacketToJson(ReadDataPacket(element.asString()));
  } catch (const ConversionError&) {
    return ElementToJson(element, false);
  }
}

// null after a true return; else what the till would decide its next step by.
nlohmann::json ErrorToJson(const CallOutcome& last) {
  if (last.error == LUMIREX_OK) return nullptr;
  return {{"code", ErrorName(last.error)},  {"number", last.error},
          {"http_status", last.httpStatus}, {"sent", last.sent},
          {"queued", last.queued},          {"message", FromAnsi(last.message)}};
}

}  // namespace

const char* ErrorName(std::int32_t code) {
  return LumirexErrorName(code);
}

const char* FieldTypeName(FieldType type) {
  switch (type) {
    case FieldType::String:
      return "string";
    case FieldType::Integer:
      return "i4";
    case FieldType::LargeInt:
      return "i8";
    case FieldType::Float:
      return "r8";
    case FieldType::Boolean:
      return "boolean";
    case FieldType::Date:
      return "date";
    case FieldType::DateTime:
      return "dateTime";
    case FieldType::Fixed:
      return "fixed";
  }
  return "unknown";
}

nlohmann::json PacketToJson(const DataPacket& packet) {
  nlohmann::json fields = nlohmann::json::array();
  for (const FieldDef& field : packet.fields) {
    fields.push_back({{"name", FromServiceBytes(field.name)},
                      {"type", FieldTypeName(field.type)},
                      {"size", field.size}});
  }
  nlohmann::json rows = nlohmann::json::array();
  for (const TClientDataSet::Row& row : packet.rows) {
    nlohmann::json object = nlohmann::json::object();
    for (std::size_t i = 0; i < packet.fields.size() && i < row.size(); ++i) {
      object[FromServiceBytes(packet.fields[i].name)] = FieldValueToJson(packet.fields[i], row[i]);
    }
    rows.push_back(std::move(object));
  }
  return {{"fields", std::move(fields)}, {"rows", std::move(rows)}};
}

nlohmann::json OutcomeToJson(const CallRun& outcome) {
  nlohmann::json result = nlohmann::json::array();
  const auto& items = outcome.result.items();
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i == kPacketElement && outcome.operation == "CONSULTA") {
      result.push_back(PromocodesToJson(items[i]));
    } else {
      result.push_back(ElementToJson(items[i], i == kMessageElement));
    }
  }
  return {{"returned", outcome.returned},
          {"result", std::move(result)},
          {"error", ErrorToJson(outcome.last)}};
}

}  // namespace lumirex::cli
