// The data packet: the XML text in which a dataset's columns and rows cross
// the library boundary.
//
// <?xml version="1.0" encoding="windows-1252" standalone="yes"?>  (or UTF-8)
// <DATAPACKET Version="2.0"><METADATA><FIELDS><FIELD attrname="CDPROMOCAO"
//   fieldtype="string" WIDTH="50"/>...</FIELDS><PARAMS/></METADATA>
//   <ROWDATA><ROW CDPROMOCAO="P10" .../></ROWDATA></DATAPACKET>
#pragma once

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

}  // namespace lumirex
