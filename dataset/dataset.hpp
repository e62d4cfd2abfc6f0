// A stand-in for the in-memory datasets of the platform the system was first written for.
// TClientDataSet: an in-memory table of typed columns and rows, which crosses
// the library boundary as a data packet (see data_packet.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lumirex {

// The packet's field types: string, i4, i8, r8, boolean, date, dateTime, fixed.
enum class FieldType { String, Integer, LargeInt, Float, Boolean, Date, DateTime, Fixed };

struct FieldDef {
  std::string name;
  FieldType type = FieldType::String;
  int size = 0;      // characters of a String (0: no limit); WIDTH of a Fixed
  int decimals = 0;  // DECIMALS of a Fixed
};

// A stored value: null, text, integer, number (Float, Fixed, Date and
// DateTime as days) or Boolean.
using FieldValue = std::variant<std::monostate, std::string, std::int64_t, double, bool>;

class TClientDataSet;

// A field of a dataset, read and written at the dataset's current row. The
// persistent field objects of the data module are of this type.
class TField {
 public:
  TField() = default;
  TField(TClientDataSet* dataset, std::size_t index) : dataset_(dataset), index_(index) {}

  const FieldDef& Def() const;
  bool IsNull() const;

  // Reading; a null value, or no current row, reads as "", 0 and the zero date-time.
  // AsString: numbers as FloatToStr, date-times as DateTimeToStr, "True"/"False".
  // AsFloat: a text with '.' or the regional separator is parsed.
  // AsDateTime: a text "yyyy-mm-dd[ hh:mm:ss[.fff]]" or "dd/mm/yyyy[ hh:nn:ss]"
  // is parsed. A text that does not parse, or a Boolean, raises ConversionError.
  std::string AsString() const;
  double AsFloat() const;
  double AsDateTime() const;

  // Writing into the row being inserted (DatabaseError otherwise). A String
  // longer than its size is cut, and ends at a NUL; text into another type is
  // parsed (an empty text clears), a number into an integer is rounded, a
  // date-time into a Date keeps the day. What the field cannot hold raises
  // ConversionError and leaves the value as it was.
  void SetAsString(std::string value);
  void SetAsFloat(double value);
  void SetAsDateTime(double value);
  void Clear();

 private:
  // A numeric reading: numbers as they are, texts through `parseText`.
  double AsNumber(std::optional<double> (*parseText)(std::string_view), const char* textKind,
                  const char* valueKind) const;
  void Store(FieldValue value);

  TClientDataSet* dataset_ = nullptr;
  std::size_t index_ = 0;
};

class TClientDataSet {
 public:
  TClientDataSet() = default;
  TClientDataSet(const TClientDataSet&) = delete;
  TClientDataSet& operator=(const TClientDataSet&) = delete;

  // Structure. Field definitions stay when the dataset is closed.
  std::vector<FieldDef>& FieldDefs() { return defs_; }
  const std::vector<FieldDef>& FieldDefs() const { return defs_; }
  TField AddField(FieldDef def);  // a persistent field object
  TField Fields(std::size_t index);
  std::size_t FieldCount() const { return defs_.size(); }

  // Opens an empty table of the field definitions; Close drops the rows.
  void CreateDataSet();
  void Close();
  bool Active() const { return active_; }

  // Starts a row (after the existing ones) and makes it current; Post stores it.
  void Insert();
  void Append() { Insert(); }
  void Post();

  void First();
  void Next();
  bool Eof() const;
  std::size_t RecordCount() const { return rows_.size(); }

  // The field of that name, ignoring case; raises DatabaseError naming the
  // field when absent.
  TField FieldByName(std::string_view name);

  // Replaces structure and rows with those of a packet (the Data property);
  // raises ConversionError "not a data packet: <reason>".
  void SetData(std::string_view packet);
  // The whole dataset as a packet; an inactive dataset gives its structure and no rows.
  std::string GetData() const;

  // Direct row access for the packet reader and writer.
  using Row = std::vector<FieldValue>;
  const std::vector<Row>& Rows() const { return rows_; }
  // Replaces structure and rows and opens the dataset on the first row. Rows
  // of another width, values of another type (a Float holds a double, an
  // Integer an int64, ...) and duplicate names raise DatabaseError; texts are
  // cut to their field's size.
  void Load(std::vector<FieldDef> defs, std::vector<Row> rows);

 private:
  friend class TField;
  const FieldValue* CurrentValue(std::size_t index) const;
  FieldValue* EditableValue(std::size_t index);

  std::vector<FieldDef> defs_;
  std::vector<Row> rows_;
  std::optional<Row> inserting_;
  std::size_t cursor_ = 0;
  bool active_ = false;
};

}  // namespace lumirex
