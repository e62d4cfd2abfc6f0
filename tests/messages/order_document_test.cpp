#include "messages/order_document.hpp"

#include <string>

#include <gtest/gtest.h>

#include "messages/response_document.hpp"
#include "support/url.hpp"

namespace lumirex {
namespace {

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";

// One leaf in a fresh order, written out.
std::string WithLeaf(std::string_view value) {
  OrderWriter order;
  order.Leaf("name", value);
  return order.Finish();
}

TEST(OrderWriter, WritesDeclarationElementsWithoutIndentationAndEmptyElementsShort) {
  OrderWriter order;
  order.Leaf("userId", "12345678909");
  order.Leaf("friendlyCode", "");
  order.Open("payment");
  order.Leaf("subTotal", "1234");
  order.Close("payment");

  EXPECT_EQ(order.Finish(), std::string(kDeclaration) +
                                "<order><userId>12345678909</userId><friendlyCode/>"
                                "<payment><subTotal>1234</subTotal></payment></order>\r\n");
}

TEST(OrderWriter, EscapesOnlyWhatXmlRequiresAndKeepsBlanks) {
  EXPECT_EQ(WithLeaf("  A&B <C> \"D\" 'E'  "),
            std::string(kDeclaration) +
                "<order><name>  A&amp;B &lt;C&gt; \"D\" 'E'  </name></order>\r\n");
}

// A parser turns a bare carriage return into a line feed and refuses other
// control characters in any form: the first is written as a reference, the
// others are left out, and the service reads the rest of the text as it was.
TEST(OrderWriter, KeepsLineBreaksReadableAndTheDocumentWellFormed) {
  std::string text =
      WithLeaf(std::string_view("a\tb\nc\r\nd\x01\x1F\0"
                                "e",
                                13));
  EXPECT_EQ(text, std::string(kDeclaration) + "<order><name>a\tb\nc&#13;\nde</name></order>\r\n");
  // A text of NUL bytes alone is no text; one of other control bytes is an empty one.
  EXPECT_EQ(WithLeaf(std::string_view("\0", 1)),
            std::string(kDeclaration) + "<order><name/></order>\r\n");
  EXPECT_EQ(WithLeaf("\x01"), std::string(kDeclaration) + "<order><name></name></order>\r\n");
  ResponseDocument reread;
  reread.Load(text);
  EXPECT_EQ(NodeText(ChildNamed(reread.DocumentElement(), "name")), "a\tb\nc\r\nde");
}

TEST(OrderWriter, KeepsEveryHighByteAndTheServiceReadsItsWindows1252Character) {
  std::string high;
  for (int byte = 0x80; byte <= 0xFF; ++byte) high += static_cast<char>(byte);

  std::string text = WithLeaf(high);
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
