// The data packet: the XML text in which a dataset's columns and rows cross
// the library boundary.
//
// <?xml version="1.0" encoding="windows-1252" standalone="yes"?>  (or UTF-8)
// <DATAPACKET Version="2.0"><METADATA><FIELDS><FIELD attrname="CDPROMOCAO"
//   fieldtype="string" WIDTH="50"/>...</FIELDS><PARAMS/></METADATA>
//   <ROWDATA><ROW CDPROMOCAO="P10" .../></ROWDATA></DATAPACKET>
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/dataset.hpp"

namespace lumirex {

struct DataPacket {
  std::vector<FieldDef> fields;
  std::vector<TClientDataSet::Row> rows;
};

// Takes the packet in the encoding its declaration names, else in the host's
// (see host_text.hpp), and gives texts in the host's encoding. Accepts any attribute order, white
// space between elements, extra attributes on FIELD and PARAMS, and RowState on ROW for plain and
// inserted rows. Also reads the host's wider string and smaller integer types (string.uni, i1, i2,
// ui1, ui2) as String and Integer. Anything else raises ConversionError "not a data packet:
// <reason>", including a change log (rows of another RowState), which would otherwise bring deleted
// and superseded rows back.
DataPacket ReadDataPacket(std::string_view text);

// The packet declared in the host's encoding, no white space between
// elements; NULL is an absent attribute. A String of no declared size gets
// the width of its longest value. Raises ConversionError for a field name
// that is not an XML name or a value that does not fit its field's type.
std::string WriteDataPacket(const std::vector<FieldDef>& fields,
                            const std::vector<TClientDataSet::Row>& rows);

// The same packet written as its values arrive, with no dataset in between,
// for fields whose Strings all have a declared size (their WIDTH is that
// size). The values come row by row in field order, each as the dataset
// would hold it: a text ends at a NUL and is cut to its field's size; a
// number must be finite; a date-time must fall in the years 1 to 9999
// (ConversionError "field '<name>' cannot hold ..." otherwise, as the field
// would raise). Finish gives what WriteDataPacket gives for those rows.
class DataPacketWriter {
 public:
  // rows: how many rows are coming, for the room made once the first is written.
  DataPacketWriter(std::span<const FieldDef> fields, std::size_t rows);
  // The same from the packet's start up to its rows, for these fields, in
  // Windows-1252 and in UTF-8 (Starts): the same for every packet of them,
  // so it can be made once.
  DataPacketWriter(std::span<const FieldDef> fields, std::size_t rows,
                   const std::array<std::string, 2>& starts);
  static std::array<std::string, 2> Starts(std::span<const FieldDef> fields);

  void Text(std::string_view value);
  void Number(double value);
  void DateTime(double value);

  std::string Finish();

 private:
  const FieldDef& Next();  // writes the next value's attribute name
  void EndValue();

  std::span<const FieldDef> fields_;
  std::size_t rows_;
  std::size_t field_ = 0;
  std::size_t rowStart_ = 0;
  bool first_ = true;
  bool utf8_;  // the host's encoding, read once a packet
  std::string out_;
};

}  // namespace lumirex
