#include "dataset/data_packet.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "testkit/testkit.hpp"

namespace lumirex {
namespace {

constexpr const char* kHead =
    "<?xml version=\"1.0\" encoding=\"windows-1252\" standalone=\"yes\"?>\n"
    "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";

double Moment(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDateTime({y, mo, d, h, mi, s, ms}).value();
}

// Every byte from 0x01 to 0xFF, so each escape and each code page byte is crossed.
std::string EveryByte() {
  std::string bytes;
  for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

std::vector<FieldDef> EveryType() {
  return {{"NAME", FieldType::String, 300}, {"COUNT", FieldType::Integer},
          {"BIG", FieldType::LargeInt},     {"RATE", FieldType::Float},
          {"ACTIVE", FieldType::Boolean},   {"BORN", FieldType::Date},
          {"SEEN", FieldType::DateTime},    {"PRICE", FieldType::Fixed, 18, 4}};
}

std::string Packet(const std::string& fields, const std::string& rows) {
  return "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" + fields +
         "</FIELDS><PARAMS/></METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

std::string OneField(const std::string& type, const std::string& value) {
  return Packet("<FIELD attrname=\"F\" fieldtype=\"" + type + "\" WIDTH=\"5\"/>",
                "<ROW F=\"" + value + "\"/>");
}

TEST(DataPacketTest, WritesTheFormTheHostLoads) {
  const std::vector<FieldDef> fields{{"CDPROMOCAO", FieldType::String, 50},
                                     {"DTVALPROMO", FieldType::DateTime},
                                     {"VRPROMOCAO", FieldType::Float}};
  const std::vector<TClientDataSet::Row> rows{
      {std::string("P10"), Moment(2025, 3, 5, 14, 7, 9), 12.5}};
  EXPECT_EQ(WriteDataPacket(fields, rows),
            std::string(kHead) +
                "<FIELD attrname=\"CDPROMOCAO\" fieldtype=\"string\" WIDTH=\"50\"/>"
                "<FIELD attrname=\"DTVALPROMO\" fieldtype=\"dateTime\"/>"
                "<FIELD attrname=\"VRPROMOCAO\" fieldtype=\"r8\"/></FIELDS><PARAMS/></METADATA>"
                "<ROWDATA><ROW CDPROMOCAO=\"P10\" DTVALPROMO=\"20250305T14:07:09000\" "
                "VRPROMOCAO=\"12.5\"/></ROWDATA></DATAPACKET>");
}

TEST(DataPacketTest, EmptyPacketKeepsItsFields) {
  const std::string packet = WriteDataPacket({{"CDPRODUTO", FieldType::String, 20}}, {});
  EXPECT_EQ(packet, std::string(kHead) +
                        "<FIELD attrname=\"CDPRODUTO\" fieldtype=\"string\" WIDTH=\"20\"/>"
                        "</FIELDS><PARAMS/></METADATA><ROWDATA></ROWDATA></DATAPACKET>");
  const DataPacket read = ReadDataPacket(packet);
  ASSERT_EQ(read.fields.size(), 1u);
  EXPECT_EQ(read.fields[0].size, 20);
  EXPECT_TRUE(read.rows.empty());
}

TEST(DataPacketTest, EveryTypeRoundTripsWithNullsAndEveryByte) {
  const std::vector<FieldDef> fields = EveryType();
  const std::vector<TClientDataSet::Row> rows{
      {EveryByte(), std::int64_t{-2147483647 - 1}, std::int64_t{9007199254740993}, 0.1, true,
       Moment(2025, 2, 28), Moment(2025, 3, 5, 14, 7, 9, 45), 1234567.8901},
      {std::string("A&B <C> \"D\" 'E' P\xC3O \x80\x9F"), std::int64_t{2147483647}, std::int64_t{-1},
       -1e300, false, Moment(1850, 6, 1), Moment(1899, 12, 29, 6, 0, 0, 1), 1e20},
      TClientDataSet::Row(fields.size()),  // all NULL
      {std::string(), std::monostate{}, std::int64_t{0}, std::monostate{}, std::monostate{},
       std::monostate{}, Moment(9999, 12, 31, 23, 59, 59, 999), 0.0}};

  const std::string packet = WriteDataPacket(fields, rows);
  const DataPacket read = ReadDataPacket(packet);

  ASSERT_EQ(read.fields.size(), fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(read.fields[i].name, fields[i].name);
    EXPECT_EQ(read.fields[i].type, fields[i].type) << fields[i].name;
    EXPECT_EQ(read.fields[i].decimals, fields[i].decimals) << fields[i].name;
  }
  EXPECT_EQ(read.fields[7].size, 18);
  EXPECT_EQ(read.rows, rows);
  // Bytes 0x80-0xFF are written as themselves, since the declaration says windows-1252.
  EXPECT_NE(packet.find("P\xC3O \x80\x9F"), std::string::npos);
  EXPECT_NE(packet.find("A&amp;B &lt;C&gt; &quot;D&quot;"), std::string::npos);
  // Other readers turn raw line breaks and tabs in attributes into spaces.
  EXPECT_NE(packet.find("&#9;&#10;&#11;&#12;&#13;"), std::string::npos);
  EXPECT_NE(packet.find("<ROW/>"), std::string::npos);
  EXPECT_NE(packet.find("NAME=\"\""), std::string::npos);  // an empty text is no NULL
}

// A promocode's UTF-8 "Á" (C3 81) reaches the packet as bytes, and 0x81 is one
// of the five Windows-1252 leaves undefined: written raw, common readers refuse
// the whole packet. As character references they load anywhere, and come back
// as the same bytes.
TEST(DataPacketTest, BytesTheCodePageLeavesUndefinedLoadInAnotherReader) {
  const std::vector<FieldDef> fields = {{"DSPROMOCAO", FieldType::String, 50}};
  const std::vector<TClientDataSet::Row> rows = {{std::string("\xC3\x81 \x8D\x8F\x90\x9D")}};
  const std::string packet = WriteDataPacket(fields, rows);
  EXPECT_EQ(packet.find_first_of("\x81\x8D\x8F\x90\x9D"), std::string::npos);
  EXPECT_EQ(ReadDataPacket(packet).rows, rows);

  if (std::system("command -v python3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
  testkit::TempDir folder;
  const auto file = folder.path() / "packet.xml";
  testkit::WriteFile(file, packet);
  const std::string load =
      "python3 -c 'import sys, xml.etree.ElementTree as E; E.parse(sys.argv[1])' " + file.string();
  EXPECT_EQ(std::system(load.c_str()), 0);
}

TEST(DataPacketTest, FixedIsWrittenWithoutExponent) {
  const std::string packet = WriteDataPacket({{"V", FieldType::Fixed, 32, 2}}, {{1e20}, {0.0001}});
  EXPECT_NE(packet.find("fieldtype=\"fixed\" WIDTH=\"32\" DECIMALS=\"2\""), std::string::npos);
  EXPECT_NE(packet.find("V=\"100000000000000000000\""), std::string::npos);
  EXPECT_NE(packet.find("V=\"0.0001\""), std::string::npos);
}

TEST(DataPacketTest, StringOfNoDeclaredSizeTakesItsLongestValue) {
  // Query results carry texts of no declared size; the packet still needs a WIDTH.
  const std::string packet =
      WriteDataPacket({{"NMPRODUTO", FieldType::String, 0}},
                      {{std::string("PAO")}, {std::string("QUEIJO MINAS")}, {std::monostate{}}});
  EXPECT_NE(packet.find("WIDTH=\"12\""), std::string::npos);
  EXPECT_EQ(ReadDataPacket(packet).rows.size(), 3u);
}

TEST(DataPacketTest, WriterRefusesWhatCouldNotBeReadBack) {
  EXPECT_THROW(WriteDataPacket({{"VALOR TOTAL", FieldType::Float}}, {}), ConversionError);
  EXPECT_THROW(WriteDataPacket({{"1X", FieldType::Float}}, {}), ConversionError);
  EXPECT_THROW(WriteDataPacket({{"R", FieldType::Float}}, {{std::nan("")}}), ConversionError);
  EXPECT_THROW(WriteDataPacket({{"R", FieldType::Float}}, {{std::string("1")}}), ConversionError);
  EXPECT_THROW(WriteDataPacket({{"D", FieldType::DateTime}}, {{3e6}}), ConversionError);
}

// Written row by row, the packet is the one the dataset's rows would give,
// with texts cut at a NUL and to their size, and out-of-range values refused.
TEST(DataPacketTest, RowByRowWriterGivesTheDatasetsPacket) {
  const std::vector<FieldDef> fields = {{"CODE", FieldType::String, 5},
                                        {"SEEN", FieldType::DateTime},
                                        {"RATE", FieldType::Float},
                                        {"BORN", FieldType::Date}};
  const double seen = Moment(2024, 3, 5, 14, 7, 9, 250);
  DataPacketWriter writer(fields, 2);
  for (const std::string& code : {std::string("a<\"&b"), std::string("long text\0x", 11)}) {
    writer.Text(code);
    writer.DateTime(seen);
    writer.Number(12.5);
    writer.DateTime(seen);
  }
  EXPECT_EQ(writer.Finish(),
            WriteDataPacket(fields, {{std::string("a<\"&b"), seen, 12.5, std::floor(seen)},
                                     {std::string("long "), seen, 12.5, std::floor(seen)}}));
  EXPECT_EQ(DataPacketWriter(fields, 0).Finish(), WriteDataPacket(fields, {}));

  DataPacketWriter refusing(fields, 1);
  refusing.Text("");
  EXPECT_THROW(refusing.DateTime(Moment(9999, 12, 31) + 1), ConversionError);
  EXPECT_THROW(refusing.Number(INFINITY), ConversionError);
}

TEST(DataPacketTest, ReadsWhatOtherWritersProduce) {
  // Attribute order, white space between elements, extra attributes on FIELD
  // and PARAMS, RowState of an inserted row, a self-closed ROWDATA's sibling form.
  const std::string packet =
      "<?xml version=\"1.0\" standalone=\"yes\" encoding=\"windows-1252\"?>\r\n"
      "<DATAPACKET Version=\"2.0\">\r\n  <METADATA>\r\n    <FIELDS>\r\n"
      "      <FIELD fieldtype=\"string\" WIDTH=\"10\" attrname=\"CDPRODUTO\" "
      "required=\"true\"/>\r\n"
      "      <FIELD attrname=\"QTD\" SUBTYPE=\"Money\" fieldtype=\"r8\"/>\r\n"
      "    </FIELDS>\r\n    <PARAMS LCID=\"1046\"/>\r\n  </METADATA>\r\n  <ROWDATA>\r\n"
      "    <ROW RowState=\"4\" QTD=\"2\" CDPRODUTO=\"7891\"/>\r\n"
      "    <ROW CDPRODUTO=\"A&#9;B&#13;&#10;\xE7&#8364;\"/>\r\n"
      "  </ROWDATA>\r\n</DATAPACKET>\r\n";
  const DataPacket read = ReadDataPacket(packet);
  ASSERT_EQ(read.fields.size(), 2u);
  EXPECT_EQ(read.fields[0].name, "CDPRODUTO");
  EXPECT_EQ(read.fields[1].type, FieldType::Float);
  ASSERT_EQ(read.rows.size(), 2u);
  EXPECT_EQ(read.rows[0][0], FieldValue(std::string("7891")));
  EXPECT_EQ(read.rows[0][1], FieldValue(2.0));
  EXPECT_EQ(read.rows[1][0], FieldValue(std::string("A\tB\r\n\xE7\x80")));
  EXPECT_EQ(read.rows[1][1], FieldValue());
}

TEST(DataPacketTest, ReadsTheHostsWiderStringAndSmallerIntegerTypes) {
  const DataPacket read =
      ReadDataPacket(Packet("<FIELD attrname=\"CDPRODUTO\" fieldtype=\"string.uni\" WIDTH=\"8\"/>"
                            "<FIELD attrname=\"QT\" fieldtype=\"i2\"/>",
                            "<ROW CDPRODUTO=\"7891\" QT=\"-3\"/>"));
  ASSERT_EQ(read.fields.size(), 2u);
  EXPECT_EQ(read.fields[0].type, FieldType::String);
  EXPECT_EQ(read.fields[1].type, FieldType::Integer);
  EXPECT_EQ(read.rows[0][1], FieldValue(std::int64_t{-3}));
}

TEST(DataPacketTest, ReadsAPacketDeclaredUtf8IntoWindows1252) {
  const DataPacket read = ReadDataPacket(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><DATAPACKET><METADATA><FIELDS>"
      "<FIELD attrname=\"N\" fieldtype=\"string\" WIDTH=\"3\"/></FIELDS></METADATA>"
      "<ROWDATA><ROW N=\"P\xC3\x83O\"/></ROWDATA></DATAPACKET>");
  ASSERT_EQ(read.rows.size(), 1u);
  EXPECT_EQ(read.rows[0][0], FieldValue(std::string("P\xC3O")));
}

struct Malformed {
  const char* name;
  std::string text;
  const char* reason;  // part of the message
};

class MalformedPacketTest : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedPacketTest, Raises) {
  try {
    ReadDataPacket(GetParam().text);
    FAIL() << "accepted";
  } catch (const ConversionError& error) {
    const std::string message = error.what();
    EXPECT_EQ(message.rfind("not a data packet: ", 0), 0u) << message;
    EXPECT_NE(message.find(GetParam().reason), std::string::npos) << message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Packets, MalformedPacketTest,
    testing::Values(
        Malformed{"Empty", "", "document"}, Malformed{"NotXml", "12,50", "document"},
        Malformed{"Unclosed", "<DATAPACKET><METADATA>", "offset"},
        Malformed{"OtherRoot", "<order><userId/></order>", "no DATAPACKET"},
        Malformed{"NoMetadata", "<DATAPACKET><ROWDATA/></DATAPACKET>", "no METADATA"},
        Malformed{"NoFields", "<DATAPACKET><METADATA/><ROWDATA/></DATAPACKET>", "no FIELDS"},
        Malformed{"NoRowdata", "<DATAPACKET><METADATA><FIELDS/></METADATA></DATAPACKET>",
                  "no ROWDATA"},
        Malformed{"UnknownType", OneField("bin.hex", "00"), "unknown fieldtype 'bin.hex'"},
        Malformed{"NoAttrname", Packet("<FIELD fieldtype=\"r8\"/>", ""), "no attrname"},
        // No ROW could give it a value, and no packet could be written with it.
        Malformed{"AttrnameNotAName", Packet("<FIELD attrname=\"A=B\" fieldtype=\"r8\"/>", ""),
                  "'A=B' is not an XML name"},
        Malformed{"DuplicateField",
                  Packet("<FIELD attrname=\"A\" fieldtype=\"r8\"/><FIELD attrname=\"a\" "
                         "fieldtype=\"i4\"/>",
                         ""),
                  "duplicate field 'a'"},
        Malformed{"ForeignFieldsChild", Packet("<COLUMN/>", ""), "'COLUMN' in FIELDS"},
        Malformed{"ForeignRowdataChild", Packet("", "<RECORD/>"), "'RECORD' in ROWDATA"},
        Malformed{"UnknownRowAttribute",
                  Packet("<FIELD attrname=\"A\" fieldtype=\"r8\"/>", "<ROW B=\"1\"/>"),
                  "'B' names no field"},
        Malformed{"BadWidth",
                  Packet("<FIELD attrname=\"A\" fieldtype=\"string\" WIDTH=\"x\"/>", ""), "WIDTH"},
        Malformed{
            "ChangeLogRow",
            Packet("<FIELD attrname=\"A\" fieldtype=\"r8\"/>", "<ROW RowState=\"8\" A=\"1\"/>"),
            "change log"},
        Malformed{"NestedRow",
                  Packet("<FIELD attrname=\"A\" fieldtype=\"r8\"/>", "<ROW A=\"1\"><ROW/></ROW>"),
                  "nested"},
        Malformed{"I4Fraction", OneField("i4", "12.5"), "field 'F'"},
        Malformed{"I4Overflow", OneField("i4", "2147483648"), "'2147483648'"},
        Malformed{"I8Text", OneField("i8", "ten"), "'ten'"},
        Malformed{"R8Comma", OneField("r8", "1,5"), "'1,5'"},
        Malformed{"R8Nan", OneField("r8", "nan"), "'nan'"},
        Malformed{"R8Blank", OneField("r8", ""), "field 'F'"},
        Malformed{"R8TwoSigns", OneField("r8", "+-1"), "'+-1'"},
        Malformed{"FixedExponentJunk", OneField("fixed", "1e"), "'1e'"},
        Malformed{"BooleanYes", OneField("boolean", "yes"), "'yes'"},
        Malformed{"DateInvalid", OneField("date", "20250230"), "'20250230'"},
        Malformed{"DateDashed", OneField("date", "2025-03-05"), "'2025-03-05'"},
        Malformed{"DateTimeSpace", OneField("dateTime", "20250305 14:07:09000"), "field 'F'"},
        Malformed{"DateTimeHour24", OneField("dateTime", "20250305T24:00:00000"), "field 'F'"},
        Malformed{"StringOverWidth", OneField("string", "ABCDEF"), "'ABCDEF'"},
        Malformed{"Encoding", "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + OneField("r8", "1"),
                  "unsupported encoding 'UTF-16'"}),
    [](const testing::TestParamInfo<Malformed>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumirex
