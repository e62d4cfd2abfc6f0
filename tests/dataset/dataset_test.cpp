#include "dataset/dataset.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dataset/data_packet.hpp"
#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "support/settings.hpp"

namespace lumirex {
namespace {

double Moment(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDateTime({y, mo, d, h, mi, s, ms}).value();
}

class ScopedDecimalSeparator {
 public:
  explicit ScopedDecimalSeparator(char separator) : old_(settings::DecimalSeparator()) {
    settings::SetDecimalSeparator(separator);
  }
  ~ScopedDecimalSeparator() { settings::SetDecimalSeparator(old_); }

 private:
  char old_;
};

// The promotions dataset as the data module declares it.
class PromotionsTest : public testing::Test {
 protected:
  PromotionsTest()
      : code(cds.AddField({"CDPROMOCAO", FieldType::String, 50})),
        description(cds.AddField({"DSPROMOCAO", FieldType::String, 50})),
        expires(cds.AddField({"DTVALPROMO", FieldType::DateTime})),
        kind(cds.AddField({"DSTIPPROMO", FieldType::String, 50})),
        value(cds.AddField({"VRPROMOCAO", FieldType::Float})) {}

  void AddPromotion(const std::string& promoCode, double amount) {
    cds.Insert();
    code.SetAsString(promoCode);
    description.SetAsString("Desconto de " + promoCode);
    kind.SetAsString("cashback");
    value.SetAsFloat(amount);
    expires.SetAsDateTime(Moment(2025, 3, 5, 14, 7, 9));
    cds.Post();
  }

  std::vector<std::string> Codes() {
    std::vector<std::string> codes;
    for (cds.First(); !cds.Eof(); cds.Next())
      codes.push_back(cds.FieldByName("cdpromocao").AsString());
    return codes;
  }

  ScopedDecimalSeparator comma{','};
  TClientDataSet cds;
  TField code, description, expires, kind, value;
};

TEST_F(PromotionsTest, RowsKeepTheOrderOfInsertion) {
  cds.Close();
  cds.CreateDataSet();
  AddPromotion("P10", 12.5);
  AddPromotion("P20", 5);
  AddPromotion("P10", 12.5);  // duplicates are rows of their own
  EXPECT_EQ(Codes(), (std::vector<std::string>{"P10", "P20", "P10"}));

  const DataPacket packet = ReadDataPacket(cds.GetData());
  ASSERT_EQ(packet.rows.size(), 3u);
  EXPECT_EQ(packet.rows[1][0], FieldValue(std::string("P20")));
  EXPECT_EQ(packet.rows[1][4], FieldValue(5.0));
  EXPECT_EQ(packet.rows[1][2], FieldValue(Moment(2025, 3, 5, 14, 7, 9)));
}

TEST_F(PromotionsTest, ReopeningDropsTheRowsOfTheLastAnswer) {
  cds.CreateDataSet();
  AddPromotion("OLD", 1);
  cds.Close();
  EXPECT_EQ(cds.GetData().find("OLD"), std::string::npos);
  cds.CreateDataSet();
  AddPromotion("NEW", 2);
  EXPECT_EQ(Codes(), std::vector<std::string>{"NEW"});
}

TEST_F(PromotionsTest, LongTextIsCutToFiftyCharacters) {
  cds.CreateDataSet();
  const std::string sixty = std::string(50, '\xC7') + "0123456789";
  AddPromotion(sixty, 1);
  cds.First();
  EXPECT_EQ(code.AsString(), std::string(50, '\xC7'));
  const std::string packet = cds.GetData();
  EXPECT_NE(packet.find("CDPROMOCAO=\"" + std::string(50, '\xC7') + "\""), std::string::npos);
  EXPECT_EQ(packet.find("0123"), std::string::npos);
}

TEST_F(PromotionsTest, EmptyOrClosedDatasetGivesItsFieldsAndNoRows) {
  for (bool open : {false, true}) {
    cds.Close();
    if (open) cds.CreateDataSet();
    const DataPacket packet = ReadDataPacket(cds.GetData());
    ASSERT_EQ(packet.fields.size(), 5u);
    EXPECT_EQ(packet.fields[0].size, 50);
    EXPECT_EQ(packet.fields[2].type, FieldType::DateTime);
    EXPECT_EQ(packet.fields[4].type, FieldType::Float);
    EXPECT_TRUE(packet.rows.empty());
  }
}

TEST_F(PromotionsTest, AnUnpostedRowStaysOutOfThePacket) {
  cds.CreateDataSet();
  AddPromotion("P1", 1);
  cds.Insert();
  code.SetAsString("PENDING");
  EXPECT_EQ(code.AsString(), "PENDING");  // the row being inserted is the current one
  EXPECT_EQ(cds.GetData().find("PENDING"), std::string::npos);
  cds.Insert();  // starting another row posts the pending one
  cds.Post();
  EXPECT_EQ(cds.RecordCount(), 3u);
}

TEST_F(PromotionsTest, FieldsAreSetOnlyWhileInserting) {
  EXPECT_THROW(cds.Insert(), DatabaseError);  // closed
  cds.CreateDataSet();
  AddPromotion("P1", 1);
  cds.First();
  EXPECT_THROW(code.SetAsString("X"), DatabaseError);
  EXPECT_EQ(code.AsString(), "P1");
}

TEST_F(PromotionsTest, AbsentFieldIsNamed) {
  try {
    cds.FieldByName("CDPRODUTO");
    FAIL();
  } catch (const DatabaseError& error) {
    EXPECT_STREQ(error.what(), "field 'CDPRODUTO' not found");
  }
}

// The sale items dataset, loaded from a packet and walked row by row.
TEST(SaleItemsTest, WalksTheRowsOfAPacket) {
  TClientDataSet cdsVenda;
  EXPECT_THROW(cdsVenda.FieldByName("CDPRODUTO"), DatabaseError);  // no fields until a packet
  cdsVenda.SetData(WriteDataPacket(
      {{"CDPRODUTO", FieldType::String, 20}, {"QTPRODVEND", FieldType::Float}},
      {{std::string("7891"), 2.0}, {std::monostate{}, 1.0}, {std::string("7891"), 3.0}}));
  std::vector<std::string> codes;
  for (cdsVenda.First(); !cdsVenda.Eof(); cdsVenda.Next()) {
    codes.push_back(cdsVenda.FieldByName("CDPRODUTO").AsString());
  }
  EXPECT_EQ(codes, (std::vector<std::string>{"7891", "", "7891"}));
  cdsVenda.Next();  // stays past the end
  EXPECT_TRUE(cdsVenda.Eof());

  EXPECT_THROW(cdsVenda.SetData("<nothing/>"), ConversionError);
}

struct NoRowCase {
  const char* name;
  void (*prepare)(TClientDataSet&);
};

class NoRowTest : public testing::TestWithParam<NoRowCase> {};

TEST_P(NoRowTest, ReadsAsEmptyZeroAndZeroDate) {
  TClientDataSet cds;
  cds.Load({{"T", FieldType::String}, {"N", FieldType::Float}, {"D", FieldType::DateTime}},
           {{std::monostate{}, std::monostate{}, std::monostate{}}});
  GetParam().prepare(cds);
  for (const char* name : {"T", "N", "D"}) {
    const TField field = cds.FieldByName(name);
    EXPECT_TRUE(field.IsNull()) << name;
    EXPECT_EQ(field.AsString(), "") << name;
    EXPECT_EQ(field.AsFloat(), 0.0) << name;
    EXPECT_EQ(field.AsDateTime(), 0.0) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dataset, NoRowTest,
    testing::Values(NoRowCase{"NullRow", [](TClientDataSet&) {}},
                    NoRowCase{"PastTheLast", [](TClientDataSet& cds) { cds.Next(); }},
                    NoRowCase{"NoRows", [](TClientDataSet& cds) { cds.CreateDataSet(); }},
                    NoRowCase{"Closed", [](TClientDataSet& cds) { cds.Close(); }}),
    [](const testing::TestParamInfo<NoRowCase>& info) { return std::string(info.param.name); });

// One stored value per type and what each reading gives.
TEST(FieldReadingTest, EachTypeReadsAsTextNumberAndDateTime) {
  ScopedDecimalSeparator comma(',');
  TClientDataSet cds;
  cds.Load({{"S", FieldType::String},
            {"I", FieldType::Integer},
            {"L", FieldType::LargeInt},
            {"F", FieldType::Float},
            {"X", FieldType::Fixed, 10, 2},
            {"B", FieldType::Boolean},
            {"D", FieldType::Date},
            {"T", FieldType::DateTime}},
           {{std::string("2.0"), std::int64_t{-42}, std::int64_t{9007199254740993}, 12.5, 0.25,
             true, Moment(2025, 3, 5), Moment(2025, 3, 5, 14, 7, 9)}});
  EXPECT_EQ(cds.FieldByName("S").AsString(), "2.0");
  EXPECT_EQ(cds.FieldByName("I").AsString(), "-42");
  EXPECT_EQ(cds.FieldByName("L").AsString(), "9007199254740993");
  EXPECT_EQ(cds.FieldByName("F").AsString(), "12,5");
  EXPECT_EQ(cds.FieldByName("X").AsString(), "0,25");
  EXPECT_EQ(cds.FieldByName("B").AsString(), "True");
  EXPECT_EQ(cds.FieldByName("D").AsString(), "05/03/2025");
  EXPECT_EQ(cds.FieldByName("T").AsString(), "05/03/2025 14:07:09");

  EXPECT_EQ(cds.FieldByName("S").AsFloat(), 2.0);
  EXPECT_EQ(cds.FieldByName("I").AsFloat(), -42.0);
  EXPECT_EQ(cds.FieldByName("F").AsFloat(), 12.5);
  EXPECT_EQ(cds.FieldByName("T").AsDateTime(), Moment(2025, 3, 5, 14, 7, 9));
  EXPECT_THROW(cds.FieldByName("B").AsFloat(), ConversionError);
}

TEST(FieldReadingTest, TextsFromTheDatabaseAreParsed) {
  ScopedDecimalSeparator comma(',');
  struct Case {
    const char* text;
    double number;  // NaN: not a number
    double moment;  // NaN: not a date-time
  };
  const double none = std::nan("");
  const Case cases[] = {
      {"2.0", 2.0, none},
      {" -12,75 ", -12.75, none},
      {"1e3", 1000.0, none},
      {"abc", none, none},
      {"1.234,5", none, none},
      {"", none, none},
      {"2025-03-05 14:07:09.25", none, Moment(2025, 3, 5, 14, 7, 9, 250)},
      {"2025-03-05 14:07:09", none, Moment(2025, 3, 5, 14, 7, 9)},
      {"2025-03-05", none, Moment(2025, 3, 5)},
      {"05/03/2025 14:07:09", none, Moment(2025, 3, 5, 14, 7, 9)},
      {"2025-02-30", none, none},
  };
  for (const Case& c : cases) {
    TClientDataSet cds;
    cds.Load({{"V", FieldType::String}}, {{std::string(c.text)}});
    const TField field = cds.FieldByName("V");
    if (std::isnan(c.number)) {
      EXPECT_THROW(field.AsFloat(), ConversionError) << c.text;
    } else {
      EXPECT_EQ(field.AsFloat(), c.number) << c.text;
    }
    if (std::isnan(c.moment)) {
      EXPECT_THROW(field.AsDateTime(), ConversionError) << c.text;
    } else {
      EXPECT_DOUBLE_EQ(field.AsDateTime(), c.moment) << c.text;
    }
  }
}

TEST(FieldWritingTest, TextIntoTypedFieldsIsParsed) {
  ScopedDecimalSeparator comma(',');
  TClientDataSet cds;
  cds.FieldDefs() = {{"I", FieldType::Integer},
                     {"F", FieldType::Float},
                     {"B", FieldType::Boolean},
                     {"D", FieldType::Date},
                     {"S", FieldType::String, 4}};
  cds.CreateDataSet();
  cds.Insert();
  TField i = cds.FieldByName("I"), f = cds.FieldByName("F"), b = cds.FieldByName("B"),
         d = cds.FieldByName("D"), s = cds.FieldByName("S");

  i.SetAsString(" 42 ");
  f.SetAsString("12,5");
  b.SetAsString("false");
  d.SetAsString("2025-03-05 14:07:09");       // a date field keeps the day only
  s.SetAsString(std::string("AB\0CDEF", 7));  // a text ends at NUL
  EXPECT_EQ(i.AsFloat(), 42.0);
  EXPECT_EQ(f.AsFloat(), 12.5);
  EXPECT_EQ(b.AsString(), "False");
  EXPECT_EQ(d.AsDateTime(), Moment(2025, 3, 5));
  EXPECT_EQ(s.AsString(), "AB");

  f.SetAsString("12.5");
  EXPECT_EQ(f.AsFloat(), 12.5);
  f.SetAsString("");
  EXPECT_TRUE(f.IsNull());
  i.SetAsFloat(2.6);
  EXPECT_EQ(i.AsString(), "3");
  s.SetAsFloat(1234.5);
  EXPECT_EQ(s.AsString(), "1234");

  EXPECT_THROW(i.SetAsString("4.2"), ConversionError);
  EXPECT_THROW(i.SetAsString("2147483648"), ConversionError);
  EXPECT_THROW(f.SetAsString("doze"), ConversionError);
  EXPECT_THROW(b.SetAsString("yes"), ConversionError);
  EXPECT_THROW(d.SetAsString("30/02/2025"), ConversionError);
  EXPECT_THROW(f.SetAsFloat(std::nan("")), ConversionError);
  EXPECT_THROW(d.SetAsDateTime(1e7), ConversionError);
  EXPECT_THROW(i.SetAsDateTime(1.0), ConversionError);
  EXPECT_EQ(i.AsString(), "3");  // a refused value leaves the field as it was
}

TEST(LoadTest, RefusesRowsThatDoNotFitTheFields) {
  TClientDataSet cds;
  EXPECT_THROW(cds.Load({{"A", FieldType::Float}}, {{std::string("1")}}), DatabaseError);
  EXPECT_THROW(cds.Load({{"A", FieldType::Float}}, {{1.0, 2.0}}), DatabaseError);
  EXPECT_THROW(cds.Load({{"D", FieldType::DateTime}}, {{3e6}}), DatabaseError);  // year 10113
  EXPECT_THROW(cds.Load({{"A", FieldType::Float}, {"a", FieldType::Float}}, {}), DatabaseError);
  EXPECT_FALSE(cds.Active());
  cds.Load({{"A", FieldType::String, 2}}, {{std::string("ABC")}});
  EXPECT_EQ(cds.FieldByName("a").AsString(), "AB");
}

}  // namespace
}  // namespace lumirex
