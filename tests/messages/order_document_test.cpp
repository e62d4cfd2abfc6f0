#include "messages/order_document.hpp"

#include <string>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "messages/response_document.hpp"
#include "support/url.hpp"

namespace lumirex {
namespace {

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";

TEST(SerializeOrder, WritesDeclarationElementsWithoutIndentationAndEmptyElementsShort) {
  pugi::xml_document document;
  pugi::xml_node order = document.append_child("order");
  AppendLeaf(order, "userId", "12345678909");
  AppendLeaf(order, "friendlyCode", "");
  AppendLeaf(order.append_child("payment"), "subTotal", "1234");

  EXPECT_EQ(SerializeOrder(document),
            std::string(kDeclaration) +
                "<order><userId>12345678909</userId><friendlyCode/>"
                "<payment><subTotal>1234</subTotal></payment></order>\r\n");
}

TEST(SerializeOrder, AnEmptyDocumentIsAnEmptyText) {
  pugi::xml_document document;
  EXPECT_EQ(SerializeOrder(document), "");
}

TEST(SerializeOrder, EscapesOnlyWhatXmlRequiresAndKeepsBlanks) {
  pugi::xml_document document;
  AppendLeaf(document.append_child("order"), "name", "  A&B <C> \"D\" 'E'  ");
  EXPECT_EQ(SerializeOrder(document),
            std::string(kDeclaration) +
                "<order><name>  A&amp;B &lt;C&gt; \"D\" 'E'  </name></order>\r\n");
}

// A parser turns a bare carriage return into a line feed and refuses other
// control characters in any form: the first is written as a reference, the
// others are left out, and the service reads the rest of the text as it was.
TEST(SerializeOrder, KeepsLineBreaksReadableAndTheDocumentWellFormed) {
  pugi::xml_document document;
  AppendLeaf(document.append_child("order"), "name",
             std::string_view("a\tb\nc\r\nd\x01\x1F\0"
                              "e",
                              13));

  std::string text = SerializeOrder(document);
  EXPECT_EQ(text, std::string(kDeclaration) + "<order><name>a\tb\nc&#13;\nde</name></order>\r\n");
  ResponseDocument reread;
  reread.Load(text);
  EXPECT_EQ(NodeText(ChildNamed(reread.DocumentElement(), "name")), "a\tb\nc\r\nde");
}

TEST(SerializeOrder, KeepsEveryHighByteAndTheServiceReadsItsWindows1252Character) {
  std::string high;
  for (int byte = 0x80; byte <= 0xFF; ++byte) high += static_cast<char>(byte);
  pugi::xml_document document;
  AppendLeaf(document.append_child("order"), "name", high);

  std::string text = SerializeOrder(document);
  EXPECT_EQ(text, std::string(kDeclaration) + "<order><name>" + high + "</name></order>\r\n");

  // Read back the way a code-page-aware parser reads it: the same bytes.
  ResponseDocument reread;
  reread.Load(text);
  EXPECT_EQ(NodeText(ChildNamed(reread.DocumentElement(), "name")), high);
}

TEST(RequestBodyEnvelope, EncodesTheWholeFormBodyOnceWithUpperCaseDigits) {
  std::string xml = std::string(kDeclaration) + "<order><name>P\xE3o & ch\xE1</name></order>\r\n";
  std::string body = RequestBodyEnvelope(xml);

  EXPECT_EQ(body,
            "order%3D%3C%3Fxml%20version%3D%221.0%22%20encoding%3D%22windows-1252%22%3F%3E%0D%0A"
            "%3Corder%3E%3Cname%3EP%E3o%20%26%20ch%E1%3C%2Fname%3E%3C%2Forder%3E%0D%0A%26");
  EXPECT_EQ(PercentDecode(body), "order=" + xml + "&");
}

}  // namespace
}  // namespace lumirex
