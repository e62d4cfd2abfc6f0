#include "dataset/data_packet.hpp"

#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "dataset/field_values.hpp"
#include "support/codepage.hpp"
#include "support/errors.hpp"
#include "support/host_text.hpp"

namespace lumirex {
namespace {

struct TypeName {
  FieldType type;
  const char* name;
};

constexpr std::array<TypeName, 8> kTypeNames{{{FieldType::String, "string"},
                                              {FieldType::Integer, "i4"},
                                              {FieldType::LargeInt, "i8"},
                                              {FieldType::Float, "r8"},
                                              {FieldType::Boolean, "boolean"},
                                              {FieldType::Date, "date"},
                                              {FieldType::DateTime, "dateTime"},
                                              {FieldType::Fixed, "fixed"}}};

// Types a host's own datasets may send that fit ours when read. The WIDTH of
// a string.uni counts bytes, at least one a character, so as a size it only
// errs on the generous side.
constexpr std::array<TypeName, 5> kReadAliases{{{FieldType::String, "string.uni"},
                                                {FieldType::Integer, "i1"},
                                                {FieldType::Integer, "i2"},
                                                {FieldType::Integer, "ui1"},
                                                {FieldType::Integer, "ui2"}}};

// Field names become attribute names of every ROW, so they must be XML names;
// reading and writing hold them to the same rule, so that any packet read can
// be written again.
bool IsFieldName(std::string_view name) {
  // ASCII's letters and digits, whatever the host's locale says of the bytes
  // above, which count as name characters anyway.
  const auto nameChar = [](unsigned char ch, bool first) {
    if ((ch | 0x20) >= 'a' && (ch | 0x20) <= 'z') return true;
    if (ch == '_' || ch >= 0x80) return true;
    return !first && ((ch >= '0' && ch <= '9') || ch == '-' || ch == '.');
  };
  bool valid = !name.empty();
  for (std::size_t i = 0; valid && i < name.size(); ++i) {
    valid = nameChar(static_cast<unsigned char>(name[i]), i == 0);
  }
  return valid;
}

// ---- reading ---------------------------------------------------------------

[[noreturn]] void NotAPacket(const std::string& reason) {
  throw ConversionError("not a data packet: " + reason);
}

using field_values::SameName;

// The encoding the XML declaration names, or "" without one.
std::string_view DeclaredEncoding(std::string_view text) {
  if (!text.starts_with("<?xml")) return {};
  const std::string_view declaration = text.substr(0, text.find("?>"));
  const auto key = declaration.find("encoding");
  if (key == std::string_view::npos) return {};
  const auto open = declaration.find_first_of("\"'", key);
  if (open == std::string_view::npos) return {};
  const auto close = declaration.find(declaration[open], open + 1);
  if (close == std::string_view::npos) return {};
  return declaration.substr(open + 1, close - open - 1);
}

// The packet as UTF-8 for the parser. A packet without a declared encoding
// is in the host's, as every text the host passes; widening through the code
// page keeps bytes 0x80-0x9F, which a Latin-1 reading would turn into control
// characters.
std::string ToUtf8(std::string_view text) {
  const std::string_view encoding = DeclaredEncoding(text);
  if (encoding.empty()) return Utf8FromHostText(text);
  if (SameName(encoding, "windows-1252") || SameName(encoding, "cp1252")) {
    return AnsiToUtf8(text);
  }
  if (SameName(encoding, "utf-8")) return std::string(text);
  NotAPacket("unsupported encoding '" + std::string(encoding) + "'");
}

// The attribute's text in the host's encoding.
std::string Narrow(const pugi::xml_attribute& attribute) {
  return HostTextFromUtf8(attribute.value());
}

int ReadCount(const pugi::xml_node& field, const char* name, const std::string& fieldName) {
  const pugi::xml_attribute attribute = field.attribute(name);
  if (!attribute) return 0;
  const auto value = field_values::ParseInteger(attribute.value());
  if (!value || *value < 0 || *value > 1'000'000'000) {
    NotAPacket(std::string(name) + " of field '" + fieldName + "' is not a count");
  }
  return static_cast<int>(*value);
}

FieldDef ReadField(const pugi::xml_node& field) {
  FieldDef def;
  const pugi::xml_attribute name = field.attribute("attrname");
  if (!name || *name.value() == '\0') NotAPacket("a FIELD has no attrname");
  def.name = Narrow(name);
  if (!IsFieldName(def.name)) NotAPacket("field name '" + def.name + "' is not an XML name");
  const std::string_view type = field.attribute("fieldtype").value();
  const auto known = std::find_if(kTypeNames.begin(), kTypeNames.end(),
                                  [&](const TypeName& entry) { return type == entry.name; });
  const auto alias = std::find_if(kReadAliases.begin(), kReadAliases.end(),
                                  [&](const TypeName& entry) { return type == entry.name; });
  if (known != kTypeNames.end()) {
    def.type = known->type;
  } else if (alias != kReadAliases.end()) {
    def.type = alias->type;
  } else {
    NotAPacket("field '" + def.name + "' has unknown fieldtype '" + std::string(type) + "'");
  }
  if (def.type == FieldType::String || def.type == FieldType::Fixed) {
    def.size = ReadCount(field, "WIDTH", def.name);
  }
  if (def.type == FieldType::Fixed) def.decimals = ReadCount(field, "DECIMALS", def.name);
  return def;
}

std::vector<FieldDef> ReadFields(const pugi::xml_node& fields) {
  std::vector<FieldDef> defs;
  for (const pugi::xml_node& field : fields.children()) {
    if (std::strcmp(field.name(), "FIELD") != 0) {
      NotAPacket("unexpected element '" + std::string(field.name()) + "' in FIELDS");
    }
    FieldDef def = ReadField(field);
    for (const FieldDef& earlier : defs) {
      if (SameName(earlier.name, def.name)) NotAPacket("duplicate field '" + def.name + "'");
    }
    defs.push_back(std::move(def));
  }
  return defs;
}

std::optional<FieldValue> ParseValue(const FieldDef& def, std::string text) {
  switch (def.type) {
    case FieldType::String:
      if (def.size > 0 && HostTextLength(text) > static_cast<std::size_t>(def.size)) {
        return std::nullopt;
      }
      return FieldValue(std::move(text));
    case FieldType::Integer: {
      const auto value = field_values::ParseInteger(text);
      if (!value || *value < INT32_MIN || *value > INT32_MAX) return std::nullopt;
      return FieldValue(*value);
    }
    case FieldType::LargeInt:
      if (const auto value = field_values::ParseInteger(text)) return FieldValue(*value);
      return std::nullopt;
    case FieldType::Boolean:
      if (SameName(text, "TRUE")) return FieldValue(true);
      if (SameName(text, "FALSE")) return FieldValue(false);
      return std::nullopt;
    case FieldType::Date:
      if (const auto value = field_values::ParsePacketDate(text)) return FieldValue(*value);
      return std::nullopt;
    case FieldType::DateTime:
      if (const auto value = field_values::ParsePacketDateTime(text)) return FieldValue(*value);
      return std::nullopt;
    default:
      if (const auto value = field_values::ParsePointDecimal(text)) return FieldValue(*value);
      return std::nullopt;
  }
}

// A row whose RowState marks it as part of a change log (an original,
// deleted or modified version) is not a plain row of the table; reading it as
// one would count deleted or edited rows twice, so such packets are refused.
void CheckRowState(const pugi::xml_attribute& state) {
  const auto value = field_values::ParseInteger(state.value());
  if (!value) NotAPacket("RowState '" + std::string(state.value()) + "' is not a number");
  if (*value != 0 && *value != 4) {
    NotAPacket("RowState " + std::to_string(*value) +
               " is a change log entry; merge the change log before sending the packet");
  }
}

TClientDataSet::Row ReadRow(const pugi::xml_node& row, const std::vector<FieldDef>& defs) {
  if (row.first_child()) NotAPacket("a ROW holds content; nested datasets are not supported");
  TClientDataSet::Row values(defs.size());
  std::vector<bool> seen(defs.size(), false);
  for (const pugi::xml_attribute& attribute : row.attributes()) {
    const std::string name = HostTextFromUtf8(attribute.name());
    const auto def = std::find_if(defs.begin(), defs.end(), [&](const FieldDef& candidate) {
      return candidate.name == name;
    });
    if (def == defs.end()) {
      if (name != "RowState") NotAPacket("ROW attribute '" + name + "' names no field");
      CheckRowState(attribute);
      continue;
    }
    const auto index = static_cast<std::size_t>(def - defs.begin());
    if (seen[index]) NotAPacket("a ROW gives field '" + name + "' twice");
    seen[index] = true;
    std::string text = Narrow(attribute);
    auto value = ParseValue(*def, text);
    if (!value) NotAPacket("'" + text + "' is not a valid value of field '" + name + "'");
    values[index] = std::move(*value);
  }
  return values;
}

std::vector<TClientDataSet::Row> ReadRows(const pugi::xml_node& rowData,
                                          const std::vector<FieldDef>& defs) {
  std::vector<TClientDataSet::Row> rows;
  for (const pugi::xml_node& row : rowData.children()) {
    if (std::strcmp(row.name(), "ROW") != 0) {
      NotAPacket("unexpected element '" + std::string(row.name()) + "' in ROWDATA");
    }
    rows.push_back(ReadRow(row, defs));
  }
  return rows;
}

pugi::xml_node Required(const pugi::xml_node& parent, const char* name) {
  const pugi::xml_node child = parent.child(name);
  if (!child) NotAPacket("no " + std::string(name) + " element");
  return child;
}

// ---- writing ---------------------------------------------------------------

constexpr std::string_view kStartOfRows = "</FIELDS><PARAMS/></METADATA><ROWDATA>";
constexpr std::string_view kEnd = "</ROWDATA></DATAPACKET>";

std::string PacketStart(bool utf8) {
  std::string out = "<?xml version=\"1.0\" encoding=\"";
  out += XmlEncodingName(utf8);
  out += "\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
  return out;
}

[[noreturn]] void CannotHold(const FieldDef& def, std::string_view what) {
  throw ConversionError("field '" + def.name + "' cannot hold " + std::string(what));
}

// The five bytes Windows-1252 leaves undefined. A packet declared in that
// code page cannot hold them as bytes: common XML readers refuse the whole
// packet. As character references they load anywhere, and our reader turns
// them back into the same bytes.
constexpr std::array<unsigned char, 5> kUndefinedInCp1252 = {0x81, 0x8D, 0x8F, 0x90, 0x9D};

// What an attribute value cannot hold as it stands: markup, quotes, control
// characters and, in a Windows-1252 packet, the bytes above. Line breaks and
// tabs become character references so that reading does not turn them into
// spaces; other bytes, 0x80-0xFF included, are written unchanged. A UTF-8
// packet keeps the five bytes, which there stand inside its characters.
using EscapeTable = std::array<bool, 256>;

constexpr EscapeTable kUtf8NeedsEscape = [] {
  EscapeTable table{};
  for (int ch = 0; ch < 0x20; ++ch) table[ch] = true;
  for (unsigned char ch : {'&', '<', '>', '"', '\''}) table[ch] = true;
  return table;
}();

constexpr EscapeTable kCp1252NeedsEscape = [] {
  EscapeTable table = kUtf8NeedsEscape;
  for (unsigned char ch : kUndefinedInCp1252) table[ch] = true;
  return table;
}();

constexpr char kHexDigits[] = "0123456789ABCDEF";

const char* FirstToEscape(std::string_view value, const EscapeTable& table) {
  return std::find_if(value.data(), value.data() + value.size(),
                      [&](char ch) { return table[static_cast<unsigned char>(ch)]; });
}

void AppendEscape(std::string& out, char ch) {
  switch (ch) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\'':
      out += "&apos;";
      break;
    default: {
      const auto byte = static_cast<unsigned char>(ch);
      if (byte < 0x20) {
        out += "&#" + std::to_string(byte) + ";";
      } else {
        out += "&#x";
        out += kHexDigits[byte >> 4];
        out += kHexDigits[byte & 0x0F];
        out += ';';
      }
    }
  }
}

// The table of the host's encoding, looked up once a packet rather than once
// a value.
const EscapeTable& EscapesOf(bool utf8) {
  return utf8 ? kUtf8NeedsEscape : kCp1252NeedsEscape;
}

// The text between two characters to escape goes over in one piece.
void AppendEscaped(std::string& out, std::string_view value, const EscapeTable& table) {
  for (const char* special = FirstToEscape(value, table); special != value.data() + value.size();
       special = FirstToEscape(value, table)) {
    const auto plain = static_cast<std::size_t>(special - value.data());
    out.append(value.data(), plain);
    AppendEscape(out, *special);
    value.remove_prefix(plain + 1);
  }
  out.append(value);
}

void AppendAttribute(std::string& out, std::string_view name, std::string_view value,
                     const EscapeTable& table) {
  out += ' ';
  out += name;
  out += "=\"";
  AppendEscaped(out, value, table);
  out += '"';
}

void CheckWritableName(const std::string& name) {
  if (!IsFieldName(name)) {
    throw ConversionError("field name '" + name + "' cannot be written to a data packet");
  }
}

// The WIDTH of a string field; a field of no declared size takes the longest
// of its values, since the packet's readers need a width.
int StringWidth(std::size_t index, const FieldDef& def,
                const std::vector<TClientDataSet::Row>& rows) {
  std::size_t width = def.size > 0 ? static_cast<std::size_t>(def.size) : 1;
  for (const TClientDataSet::Row& row : rows) {
    if (const auto* text = std::get_if<std::string>(&row[index]))
      width = std::max(width, HostTextLength(*text));
  }
  return static_cast<int>(width);
}

void AppendField(std::string& out, const FieldDef& def, int width, const EscapeTable& table) {
  CheckWritableName(def.name);
  const auto known = std::find_if(kTypeNames.begin(), kTypeNames.end(),
                                  [&](const TypeName& entry) { return entry.type == def.type; });
  out += "<FIELD";
  AppendAttribute(out, "attrname", def.name, table);
  AppendAttribute(out, "fieldtype", known->name, table);
  if (def.type == FieldType::String) {
    AppendAttribute(out, "WIDTH", std::to_string(width), table);
  } else if (def.type == FieldType::Fixed) {
    if (def.size > 0) AppendAttribute(out, "WIDTH", std::to_string(def.size), table);
    AppendAttribute(out, "DECIMALS", std::to_string(def.decimals), table);
  }
  out += "/>";
}

[[noreturn]] void Mismatch(const FieldDef& def) {
  throw ConversionError("field '" + def.name + "' holds a value that does not fit its type");
}

template <typename T>
const T& Expect(const FieldDef& def, const FieldValue& value) {
  const T* held = std::get_if<T>(&value);
  if (held == nullptr) Mismatch(def);
  return *held;
}

// The value as attribute text, written straight into the packet: a packet
// has a row for every promocode of an answer, and a text of its own for
// every value would cost more than writing it. Only texts can need escaping.
void AppendValue(std::string& out, const FieldDef& def, const FieldValue& value,
                 const EscapeTable& table) {
  switch (def.type) {
    case FieldType::String:
      return AppendEscaped(out, Expect<std::string>(def, value), table);
    case FieldType::Integer:
    case FieldType::LargeInt:
      out += std::to_string(Expect<std::int64_t>(def, value));
      return;
    case FieldType::Boolean:
      out += Expect<bool>(def, value) ? "TRUE" : "FALSE";
      return;
    default:
      break;
  }
  const double number = Expect<double>(def, value);
  if (!std::isfinite(number)) Mismatch(def);
  if (def.type != FieldType::Date && def.type != FieldType::DateTime) {
    out += field_values::FormatPointDecimal(number, def.type == FieldType::Fixed);
    return;
  }
  if (!field_values::InDateTimeRange(number)) Mismatch(def);
  if (def.type == FieldType::Date) return field_values::AppendPacketDate(out, number);
  field_values::AppendPacketDateTime(out, number);
}

void AppendRow(std::string& out, const std::vector<FieldDef>& fields,
               const TClientDataSet::Row& row, const EscapeTable& table) {
  out += "<ROW";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    // NULL is an absent attribute.
    if (i < row.size() && !std::holds_alternative<std::monostate>(row[i])) {
      out += ' ';
      out += fields[i].name;
      out += "=\"";
      AppendValue(out, fields[i], row[i], table);
      out += '"';
    }
  }
  out += "/>";
}

}  // namespace

DataPacket ReadDataPacket(std::string_view text) {
  const std::string utf8 = ToUtf8(text);
  pugi::xml_document document;
  // Attribute values are taken as written: no line-break or white-space
  // normalisation, only entity and character references are decoded.
  const pugi::xml_parse_result parsed = document.load_buffer(
      utf8.data(), utf8.size(), pugi::parse_minimal | pugi::parse_escapes, pugi::encoding_utf8);
  if (!parsed) {
    NotAPacket(std::string(parsed.description()) + " at offset " + std::to_string(parsed.offset));
  }
  const pugi::xml_node root = document.document_element();
  if (std::strcmp(root.name(), "DATAPACKET") != 0) NotAPacket("no DATAPACKET element");
  DataPacket packet;
  packet.fields = ReadFields(Required(Required(root, "METADATA"), "FIELDS"));
  packet.rows = ReadRows(Required(root, "ROWDATA"), packet.fields);
  return packet;
}

std::string WriteDataPacket(const std::vector<FieldDef>& fields,
                            const std::vector<TClientDataSet::Row>& rows) {
  const bool utf8 = HostIsUtf8();
  std::string out = PacketStart(utf8);
  const EscapeTable& table = EscapesOf(utf8);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    AppendField(out, fields[i], StringWidth(i, fields[i], rows), table);
  }
  out += kStartOfRows;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::size_t before = out.size();
    AppendRow(out, fields, rows[i], table);
    // The rows of a packet are much alike: room for as many more as the
    // first spares the text most of its growing, and copying, on the way.
    if (i == 0) out.reserve(out.size() + (out.size() - before) * (rows.size() - 1) + kEnd.size());
  }
  out += kEnd;
  return out;
}

std::array<std::string, 2> DataPacketWriter::Starts(std::span<const FieldDef> fields) {
  std::array<std::string, 2> starts;
  for (const bool utf8 : {false, true}) {
    std::string& out = starts[utf8 ? 1 : 0];
    out = PacketStart(utf8);
    for (const FieldDef& def : fields) {
      if (def.type == FieldType::String && def.size <= 0) {
        throw std::logic_error("a packet written row by row needs the size of every String");
      }
      AppendField(out, def, def.size, EscapesOf(utf8));
    }
    out += kStartOfRows;
  }
  return starts;
}

DataPacketWriter::DataPacketWriter(std::span<const FieldDef> fields, std::size_t rows)
    : DataPacketWriter(fields, rows, Starts(fields)) {}

DataPacketWriter::DataPacketWriter(std::span<const FieldDef> fields, std::size_t rows,
                                   const std::array<std::string, 2>& starts)
    : fields_(fields), rows_(rows), utf8_(HostIsUtf8()), out_(starts[utf8_ ? 1 : 0]) {}

const FieldDef& DataPacketWriter::Next() {
  if (field_ == 0) {
    rowStart_ = out_.size();
    out_ += "<ROW";
  }
  const FieldDef& def = fields_[field_];
  out_ += ' ';
  out_ += def.name;
  out_ += "=\"";
  return def;
}

void DataPacketWriter::EndValue() {
  out_ += '"';
  if (++field_ < fields_.size()) return;
  field_ = 0;
  out_ += "/>";
  // The rows of a packet are much alike: room for as many more as the
  // first spares the text most of its growing, and copying, on the way.
  if (first_ && rows_ > 1) {
    out_.reserve(out_.size() + (out_.size() - rowStart_) * (rows_ - 1) + kEnd.size());
  }
  first_ = false;
}

void DataPacketWriter::Text(std::string_view value) {
  const FieldDef& def = Next();
  value = value.substr(0, value.find('\0'));
  const auto size = static_cast<std::size_t>(def.size);
  AppendEscaped(out_, utf8_ ? HostTextPrefix(value, size) : value.substr(0, size),
                EscapesOf(utf8_));
  EndValue();
}

void DataPacketWriter::Number(double value) {
  const FieldDef& def = Next();
  if (!std::isfinite(value)) CannotHold(def, "a number that is not finite");
  out_ += field_values::FormatPointDecimal(value, def.type == FieldType::Fixed);
  EndValue();
}

void DataPacketWriter::DateTime(double value) {
  const FieldDef& def = Next();
  if (!std::isfinite(value)) CannotHold(def, "a date-time that is not finite");
  if (!field_values::InDateTimeRange(value)) {
    CannotHold(def, "a date-time outside the years 1 to 9999");
  }
  if (def.type == FieldType::Date) {
    field_values::AppendPacketDate(out_, value);
  } else {
    field_values::AppendPacketDateTime(out_, value);
  }
  EndValue();
}

std::string DataPacketWriter::Finish() {
  out_ += kEnd;
  return std::move(out_);
}

}  // namespace lumirex
