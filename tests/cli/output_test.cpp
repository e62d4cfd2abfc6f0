// What the command shows of the library's values: texts in UTF-8, amounts,
// date-times and the promocodes packet as JSON.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/display_text.hpp"
#include "cli/parameter_list.hpp"
#include "cli/result_json.hpp"
#include "cli/usage_error.hpp"
#include "dataset/data_packet.hpp"

namespace {

using lumirex::Variant;
using nlohmann::json;
namespace cli = lumirex::cli;

TEST(CliText, ServiceBytesStayUtf8AndAnythingElseIsReadAsWindows1252) {
  struct Case {
    std::string bytes, shown;
  } cases[] = {
      {"Jo\xC3\xA3o", "Jo\xC3\xA3o"},                    // UTF-8 from the service
      {"Jo\xE3o", "Jo\xC3\xA3o"},                        // Windows-1252 ã
      {"\x80 5", "\xE2\x82\xAC 5"},                      // Windows-1252 euro sign
      {"\xC3", "\xC3\x83"},                              // a UTF-8 sequence cut short
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                  // an overlong form is not UTF-8
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},  // nor is a surrogate
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},          // four bytes, valid
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(cli::FromServiceBytes(c.bytes), c.shown) << c.bytes;
  EXPECT_EQ(cli::FromAnsi("n\xE3o"), "n\xC3\xA3o");
}

TEST(CliText, PaddingCountsCharactersNotBytes) {
  EXPECT_EQ(cli::DisplayWidth("Promoção"), 8u);
  EXPECT_EQ(cli::PadRight("ção", 5), "ção  ");
  EXPECT_EQ(cli::PadRight("longer", 3), "longer");
}

TEST(CliText, DateTimesAndAmounts) {
  EXPECT_EQ(cli::FormatDateTime(0), "1899-12-30T00:00:00");
  // 2024-03-05 14:07:09.750 keeps its second; a hair below 14:07:10 rounds up to it.
  double day = 45356;
  EXPECT_EQ(cli::FormatDateTime(day + (14 * 3600 + 7 * 60 + 9.75) / 86400.0),
            "2024-03-05T14:07:09");
  EXPECT_EQ(cli::FormatDateTime(day + (14 * 3600 + 7 * 60 + 10) / 86400.0 - 1e-12),
            "2024-03-05T14:07:10");
  EXPECT_EQ(cli::FormatAmount(12.5, ','), "12,50");
  EXPECT_EQ(cli::FormatAmount(0.05, '.'), "0.05");
  EXPECT_EQ(cli::FormatAmount(-3, ','), "-3,00");
}

TEST(CliAmount, EitherSeparatorAndNothingElse) {
  EXPECT_DOUBLE_EQ(cli::ParseAmount("12,34"), 12.34);
  EXPECT_DOUBLE_EQ(cli::ParseAmount("12.34"), 12.34);
  EXPECT_DOUBLE_EQ(cli::ParseAmount("7"), 7);
  EXPECT_DOUBLE_EQ(cli::ParseAmount("-5,5"), -5.5);
  EXPECT_DOUBLE_EQ(cli::ParseAmount("0"), 0);
  for (const char* bad : {"", "-", ",", "1.234,56", "12a", "1e5", "--1", "1-", " 1", "inf"}) {
    EXPECT_THROW(cli::ParseAmount(bad), cli::UsageError) << bad;
  }
}

TEST(CliParameters, ProductsBecomeAPacketOfOneTextColumn) {
  auto packet = lumirex::ReadDataPacket(cli::ProductsPacket({"1001", "P\xC3\xA3o-2"}));
  ASSERT_EQ(packet.fields.size(), 1u);
  EXPECT_EQ(packet.fields[0].name, "CDPRODUTO");
  ASSERT_EQ(packet.rows.size(), 2u);
  EXPECT_EQ(std::get<std::string>(packet.rows[0][0]), "1001");
  EXPECT_EQ(std::get<std::string>(packet.rows[1][0]), "P\xE3o-2");  // Windows-1252 inside

  auto longCode = std::string(30, '7');
  auto wide = lumirex::ReadDataPacket(cli::ProductsPacket({longCode}));
  EXPECT_EQ(std::get<std::string>(wide.rows[0][0]), longCode);  // never cut
}

TEST(CliParameters, ValidationListHasTenElementsWithADoubleSubtotal) {
  cli::PromocodeValidation request{"123", "P\xC3\xA3O", "0001", "12,34", {"1001"}, ""};
  auto params = cli::ValidationParameters("http://svc/", request);
  ASSERT_EQ(params.size(), 10u);
  EXPECT_EQ(params[0].asString(), "VALIDA_PROMOCODE");
  EXPECT_EQ(params[2].asString(), "123");
  EXPECT_EQ(params[5].asString(), "");
  EXPECT_EQ(params[6].asString(), "P\xE3O");
  EXPECT_EQ(params[8].type(), Variant::Type::Double);
  EXPECT_DOUBLE_EQ(params[8].asDouble(), 12.34);
}

lumirex::DataPacket EveryFieldType() {
  using lumirex::FieldType;
  lumirex::DataPacket packet;
  packet.fields = {{"S", FieldType::String, 10, 0},  {"I", FieldType::Integer, 0, 0},
                   {"L", FieldType::LargeInt, 0, 0}, {"R", FieldType::Float, 0, 0},
                   {"B", FieldType::Boolean, 0, 0},  {"D", FieldType::Date, 0, 0},
                   {"T", FieldType::DateTime, 0, 0}, {"F", FieldType::Fixed, 8, 2}};
  packet.rows = {{std::string("a\xE7\xFA"), std::int64_t{4}, std::int64_t{1} << 40, 2.5, true,
                  45356.0, 45356.5, 1.25},
                 {std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{},
                  std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}}};
  return packet;
}

TEST(CliJson, PacketFieldsAndRowsWithEveryType) {
  json decoded = cli::PacketToJson(EveryFieldType());
  EXPECT_EQ(decoded["fields"][0], (json{{"name", "S"}, {"type", "string"}, {"size", 10}}));
  std::vector<std::string> types;
  for (const json& field : decoded["fields"]) types.push_back(field["type"]);
  EXPECT_EQ(types, (std::vector<std::string>{"string", "i4", "i8", "r8", "boolean", "date",
                                             "dateTime", "fixed"}));
  EXPECT_EQ(decoded["rows"][0], (json{{"S", "a\xC3\xA7\xC3\xBA"},
                                      {"I", 4},
                                      {"L", 1099511627776LL},
                                      {"R", 2.5},
                                      {"B", true},
                                      {"D", "2024-03-05T00:00:00"},
                                      {"T", "2024-03-05T12:00:00"},
                                      {"F", 1.25}}));
  for (const auto& [column, value] : decoded["rows"][1].items()) {
    EXPECT_TRUE(value.is_null()) << column;
  }
}

TEST(CliJson, OnlyACustomerQueryHasItsElement4Decoded) {
  std::string packet = lumirex::WriteDataPacket(EveryFieldType().fields, {});
  cli::CallRun outcome;
  outcome.operation = "CONSULTA";
  outcome.returned = true;
  outcome.result = Variant(std::vector<Variant>{false, "n\xE3o", "Jo\xC3\xA3o", 12.5, packet});
  json consulta = cli::OutcomeToJson(outcome);
  EXPECT_EQ(consulta["returned"], true);
  EXPECT_EQ(consulta["result"][1], "n\xC3\xA3o");
  EXPECT_EQ(consulta["result"][2], "Jo\xC3\xA3o");
  EXPECT_EQ(consulta["result"][4]["rows"], json::array());
  EXPECT_TRUE(consulta["error"].is_null());

  outcome.operation = "VENDA";
  json venda = cli::OutcomeToJson(outcome);
  EXPECT_TRUE(venda["result"][4].is_string());

  // A text that is not a packet stays a text rather than failing the output.
  outcome.operation = "CONSULTA";
  outcome.result.items()[4] = Variant("not a packet");
  EXPECT_EQ(cli::OutcomeToJson(outcome)["result"][4], "not a packet");
  outcome.result.items()[4] = Variant::DateTime(45356.25);
  EXPECT_EQ(cli::OutcomeToJson(outcome)["result"][4], "2024-03-05T06:00:00");
}

}  // namespace
