// The data packet: the XML text in which a dataset's columns and rows cross
// the library boundary.
//
// <?xml version="1.0" encoding="windows-1252" standalone="yes"?>
// <DATAPACKET Version="2.0"><METADATA><FIELDS><FIELD attrname="CDPROMOCAO"
//   fieldtype="string" WIDTH="50"/>...</FIELDS><PARAMS/></METADATA>
//   <ROWDATA><ROW CDPROMOCAO="P10" .../></ROWDATA></DATAPACKET>
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "integration/components/dataset.hpp"

namespace lumirex {

struct DataPacket {
  std::vector<FieldDef> fields;
  std::vector<TClientDataSet::Row> rows;
};

// Raises ConversionError "not a data packet: <reason>".
DataPacket ReadDataPacket(std::string_view text);
std::string WriteDataPacket(const std::vector<FieldDef>& fields,
                            const std::vector<TClientDataSet::Row>& rows);

}  // namespace lumirex
