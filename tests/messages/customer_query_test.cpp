#include "messages/customer_query.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/data_packet.hpp"
#include "lumirex/lumirex.hpp"
#include "support/datetime.hpp"

namespace lumirex {
namespace {

constexpr double kMillisecond = 1.0 / 86400000.0;

// An answer whose userInfo holds the given promocodes block.
std::string Answer(const std::string& promocodes, const std::string& balance = "1250") {
  return "<response><success>true</success><message>OK</message><userInfo>"
         "<name>Ana</name><balance>" +
         balance + "</balance><promocodes>" + promocodes + "</promocodes></userInfo></response>";
}

std::string Promocode(const std::string& code, const std::string& value = "500",
                      const std::string& expiration = "2025-03-05T14:07:09") {
  return "<promocode><friendlyCode>" + code + "</friendlyCode><description>d " + code +
         "</description><gift><type>cashback</type><value>" + value +
         "</value></gift><expiration_date>" + expiration + "</expiration_date></promocode>";
}

double Date(int year, int month, int day, int hour, int minute, int second) {
  return *EncodeDateTime({year, month, day, hour, minute, second, 0});
}

class GetConsulta : public testing::Test {
 protected:
  // The caller's array, five elements it filled itself.
  Variant result = Variant(std::vector<Variant>{Variant("c0"), Variant("c1"), Variant("c2"),
                                                Variant("c3"), Variant("c4")});

  // Reads the answer into the result's elements as a call does; false when it raised.
  bool Read(std::string_view response) {
    CustomerAnswer answer;
    try {
      ResponseDocument document;
      document.Load(response);
      answer = getConsulta(document);
    } catch (const std::exception&) {
      return false;
    }
    result = Variant(std::vector<Variant>{Variant(answer.common.errorFlag),
                                          Variant(answer.common.message), Variant(answer.name),
                                          Variant(answer.balance), Variant(answer.promotions)});
    return true;
  }
  const Variant& Element(std::size_t index) const { return result.items()[index]; }
  DataPacket Packet() const { return ReadDataPacket(Element(4).asString()); }
  std::vector<TClientDataSet::Row> Rows() const { return Packet().rows; }
  static const std::string& Text(const TClientDataSet::Row& row, std::size_t column) {
    return std::get<std::string>(row[column]);
  }
  static double Number(const TClientDataSet::Row& row, std::size_t column) {
    return std::get<double>(row[column]);
  }
  enum Column { kCode, kDescription, kExpiration, kType, kValue };
};

TEST_F(GetConsulta, CustomerWithTwoPromocodes) {
  ASSERT_TRUE(
      Read("<?xml version=\"1.0\" encoding=\"UTF-8\"?><response><success>true</success>"
           "<message>Ol\xC3\xA1</message><userInfo><name>Jos\xC3\xA9</name><balance>1250</balance>"
           "<promocodes>\n  " +
           Promocode("P10", "500", "2025-03-05T14:07:09") + "\n  " +
           Promocode("P5", "5", "2024-12-31T23:59:59.000-03:00") +
           "\n</promocodes></userInfo></response>"));
  EXPECT_EQ(Element(0), Variant(false));
  EXPECT_EQ(Element(1), Variant("Ol\xE1"));   // decoded to Windows-1252, the
  EXPECT_EQ(Element(2), Variant("Jos\xE9"));  // message and the name alike
  EXPECT_EQ(Element(3), Variant(12.5));

  const DataPacket packet = Packet();
  ASSERT_EQ(packet.fields.size(), 5u);
  EXPECT_EQ(packet.fields[kCode].name, "CDPROMOCAO");
  EXPECT_EQ(packet.fields[kValue].type, FieldType::Float);
  ASSERT_EQ(packet.rows.size(), 2u);
  EXPECT_EQ(Text(packet.rows[0], kCode), "P10");
  EXPECT_EQ(Text(packet.rows[0], kDescription), "d P10");
  EXPECT_EQ(Text(packet.rows[0], kType), "cashback");
  EXPECT_DOUBLE_EQ(Number(packet.rows[0], kValue), 5.0);
  EXPECT_NEAR(Number(packet.rows[0], kExpiration), Date(2025, 3, 5, 14, 7, 9), kMillisecond);
  EXPECT_EQ(Text(packet.rows[1], kCode), "P5");
  EXPECT_DOUBLE_EQ(Number(packet.rows[1], kValue), 0.05);
  EXPECT_NEAR(Number(packet.rows[1], kExpiration), Date(2024, 12, 31, 23, 59, 59), kMillisecond);
}

TEST_F(GetConsulta, CustomerBlockIsReadOnlyOnSuccess) {
  const std::string userInfo = "<userInfo><name>Ana</name><balance>1250</balance><promocodes>" +
                               Promocode("P1") + "</promocodes></userInfo>";
  const std::string answers[] = {
      "<response><success>false</success><message>m</message>" + userInfo + "</response>",
      "<response><success>True</success><message>m</message>" + userInfo + "</response>",
  };
  for (const std::string& answer : answers) {
    ASSERT_TRUE(Read(answer)) << answer;
    EXPECT_EQ(Element(0), Variant(true));
    EXPECT_EQ(Element(2), Variant(""));
    EXPECT_EQ(Element(3), Variant(0.0));
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(Packet().fields.size(), 5u);
  }
}

TEST_F(GetConsulta, SuccessWithoutUserInfoGivesNoCustomer) {
  ASSERT_TRUE(Read("<response><success>true</success><message>ok</message></response>"));
  EXPECT_EQ(Element(0), Variant(false));
  EXPECT_EQ(Element(1), Variant("ok"));
  EXPECT_EQ(Element(2), Variant(""));
  EXPECT_EQ(Element(3), Variant(0.0));
  EXPECT_TRUE(Rows().empty());
}

TEST_F(GetConsulta, MissingOrEmptyExpirationIsOneYearFromNow) {
  const double before = Now() + 365;
  ASSERT_TRUE(Read(
      Answer("<promocode><friendlyCode>A</friendlyCode></promocode>" + Promocode("B", "500", ""))));
  const double after = Now() + 365;
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& row : rows) {
    EXPECT_GE(Number(row, kExpiration), before - kMillisecond);
    EXPECT_LE(Number(row, kExpiration), after + kMillisecond);
  }
}

TEST_F(GetConsulta, MissingGiftGivesEmptyTypeAndZeroValue) {
  ASSERT_TRUE(
      Read(Answer("<promocode><friendlyCode>A</friendlyCode>"
                  "<expiration_date>2025-01-01T00:00:00</expiration_date></promocode>")));
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0][kType] == FieldValue{std::string()} ||
              std::holds_alternative<std::monostate>(rows[0][kType]));
  EXPECT_EQ(Number(rows[0], kValue), 0.0);
}

TEST_F(GetConsulta, OnlyChildrenNamedPromocodeAddRows) {
  ASSERT_TRUE(
      Read(Answer("text<promocod><friendlyCode>X</friendlyCode></promocod>" + Promocode("A") +
                  "<!-- c --><Promocode/>" + Promocode("A") + "<promocodes>" + Promocode("deeper") +
                  "</promocodes>" + Promocode("B"))));
  std::vector<std::string> codes;
  for (const auto& row : Rows()) codes.push_back(Text(row, kCode));
  EXPECT_EQ(codes, (std::vector<std::string>{"A", "A", "B"}));
}

TEST_F(GetConsulta, LongTextsAreCutToFiftyCharacters) {
  const std::string sixty(60, 'x');
  ASSERT_TRUE(Read(Answer(Promocode(sixty))));
  EXPECT_EQ(Text(Rows().at(0), kCode), std::string(50, 'x'));
}

TEST_F(GetConsulta, ReadingFailuresLeaveEveryElementAsTheCallerPassedIt) {
  const std::string failing[] = {
      Answer(Promocode("P1"), "12.50"),
      Answer(Promocode("P1"), "12,50"),
      Answer(Promocode("P1", "abc")),
      Answer(Promocode("P1", "500", "2024-02-30T10:00:00")),
      Answer(Promocode("P1"), "<cents>1</cents>"),
      Answer(Promocode("<b>P1</b>")),
      "<response><success>true</success><userInfo>",
  };
  const Variant untouched = result;
  for (const std::string& answer : failing) {
    EXPECT_FALSE(Read(answer)) << answer;
    EXPECT_EQ(result, untouched) << answer;
  }
}

TEST_F(GetConsulta, SecondQueryReplacesTheRowsOfTheFirst) {
  ASSERT_TRUE(Read(Answer(Promocode("OLD1") + Promocode("OLD2"))));
  ASSERT_EQ(Rows().size(), 2u);
  ASSERT_TRUE(Read(Answer(Promocode("NEW"))));
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Text(rows[0], kCode), "NEW");
}

TEST_F(GetConsulta, FailedQueryDoesNotLeakRowsIntoTheNext) {
  ASSERT_FALSE(Read(Answer(Promocode("GOOD") + Promocode("BAD", "x"))));
  ASSERT_TRUE(Read("<response><success>true</success></response>"));
  EXPECT_TRUE(Rows().empty());
}

}  // namespace
}  // namespace lumirex
