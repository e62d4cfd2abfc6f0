#include <exception>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "dataset/dataset.hpp"
#include "messages/order_document.hpp"
#include "messages/requests.hpp"
#include "support/errors.hpp"
#include "support/number_text.hpp"
#include "support/scoped_settings.hpp"

namespace lumirex {
namespace {

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";

// A sale items packet as the till's own dataset writes it.
std::string ItemsPacket(const std::vector<std::string>& productCodes) {
  TClientDataSet items;
  TField code = items.AddField({"CDPRODUTO", FieldType::String, 20});
  TField quantity = items.AddField({"QTPRODVEND", FieldType::Float});
  items.CreateDataSet();
  for (const std::string& each : productCodes) {
    items.Append();
    code.SetAsString(each);
    quantity.SetAsFloat(1);
    items.Post();
  }
  return items.GetData();
}

std::vector<Variant> ValidationParams(Variant subTotal, Variant packet) {
  return {"VALIDA_PROMOCODE", "http://svc/", "12345678909", "",    "", "",
          "BEMVINDO10",       "LOJA-01",     subTotal,      packet};
}

struct Built {
  std::string xml, requestStream, urlTail, promocode;

  void Run(const std::vector<Variant>& params, TClientDataSet& cdsVenda) {
    BuildValidationRequest(params, cdsVenda, promocode, RequestParts{requestStream, urlTail, &xml});
  }
  const std::string& Xml() const { return xml; }
};

TEST(ValidationRequest, BuildsTheDocumentWithDuplicatesInRowOrderAndPostsTheEnvelope) {
  TClientDataSet cdsVenda;
  Built built;
  built.Run(ValidationParams("12,34", ItemsPacket({"1002", "1001", "1002"})), cdsVenda);

  std::string expected =
      std::string(kDeclaration) +
      "<order><userId>12345678909</userId><friendlyCode>BEMVINDO10</friendlyCode>"
      "<storeReference>LOJA-01</storeReference><channel>pdv</channel>"
      "<products>1002</products><products>1001</products><products>1002</products>"
      "<payment><subTotal>1234</subTotal></payment></order>\r\n";
  EXPECT_EQ(built.Xml(), expected);
  EXPECT_EQ(built.requestStream, RequestBodyEnvelope(expected));
  EXPECT_EQ(built.urlTail, "validate?pdv=true");
  EXPECT_EQ(built.promocode, "BEMVINDO10");
}

TEST(ValidationRequest, APacketWithoutRowsNeedsNoProductColumn) {
  TClientDataSet empty;
  empty.AddField({"QTPRODVEND", FieldType::Float});
  empty.CreateDataSet();
  TClientDataSet cdsVenda;
  Built built;
  built.Run(ValidationParams("10", empty.GetData()), cdsVenda);

  EXPECT_NE(built.Xml().find("<channel>pdv</channel><payment><subTotal>1000</subTotal>"),
            std::string::npos)
      << built.Xml();
}

TEST(ValidationRequest, SubTotalIsCentsTextUnderEitherDecimalSeparator) {
  struct Case {
    char separator;
    Variant subTotal;
    const char* cents;
  };
  const Case cases[] = {
      {',', "12,34", "1234"}, {',', "10", "1000"},  {',', "0", "0"},      {',', "-5,50", "0"},
      {'.', "12.34", "1234"}, {',', 12.34, "1234"}, {'.', 12.34, "1234"}, {',', 0.1, "010"},
  };
  for (const Case& each : cases) {
    testing::ScopedDecimalSeparator separator(each.separator);
    TClientDataSet cdsVenda;
    Built built;
    built.Run(ValidationParams(each.subTotal, ItemsPacket({"1001"})), cdsVenda);
    pugi::xml_document document;
    document.load_string(built.Xml().c_str());
    EXPECT_EQ(document.first_element_by_path("order/payment/subTotal").child_value(),
              std::string(each.cents))
        << "separator " << each.separator << ", subtotal " << VariantToText(each.subTotal);
  }
}

// Each of these fails the call before anything is written to the request.
TEST(ValidationRequest, RaisesAndSendsNothingForABadSubTotalOrPacket) {
  TClientDataSet withoutCode;
  withoutCode.AddField({"QTPRODVEND", FieldType::Float});
  withoutCode.CreateDataSet();
  withoutCode.Append();
  withoutCode.Post();

  struct Case {
    const char* what;
    char separator;
    Variant subTotal;
    Variant packet;
    const char* message;  // a part of the error's message
  };
  const Case cases[] = {
      {"a point where the separator is a comma", ',', "12.34", ItemsPacket({"1001"}),
       "not a valid floating point"},
      {"a comma where the separator is a point", '.', "12,34", ItemsPacket({"1001"}),
       "not a valid floating point"},
      {"an empty subtotal", ',', "", ItemsPacket({"1001"}), "not a valid floating point"},
      {"a text that is no packet", ',', "10", "<order/>", "not a data packet"},
      {"an empty packet parameter", ',', "10", Variant(), "not a data packet"},
      {"rows without CDPRODUTO", ',', "10", withoutCode.GetData(), "CDPRODUTO"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.what);
    testing::ScopedDecimalSeparator separator(each.separator);
    TClientDataSet cdsVenda;
    Built built;
    try {
      built.Run(ValidationParams(each.subTotal, each.packet), cdsVenda);
      ADD_FAILURE() << "no error raised";
    } catch (const std::exception& error) {
      EXPECT_NE(std::string(error.what()).find(each.message), std::string::npos) << error.what();
    }
    EXPECT_EQ(built.requestStream, "");
    EXPECT_EQ(built.urlTail, "");
  }
}

}  // namespace
}  // namespace lumirex
