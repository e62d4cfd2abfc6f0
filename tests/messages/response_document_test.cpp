#include "messages/response_document.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/errors.hpp"

namespace lumirex {
namespace {

// The text of the root's child named name, after loading bytes.
std::string ChildText(std::string_view bytes, const char* name) {
  ResponseDocument document;
  document.Load(bytes);
  return NodeText(ChildNamed(document.DocumentElement(), name));
}

struct TextCase {
  const char* label;
  std::string response;
  std::string expected;  // the bytes of <m>
};

class ElementText : public testing::TestWithParam<TextCase> {};

TEST_P(ElementText, ReachesTheCallerAsTheBytesSent) {
  EXPECT_EQ(ChildText(GetParam().response, "m"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, ElementText,
    testing::Values(TextCase{"utf8_kept_as_bytes", "<r><m>Jo\xC3\xA3o</m></r>", "Jo\xC3\xA3o"},
                    TextCase{"latin1_byte_kept", "<r><m>Jo\xE3o</m></r>", "Jo\xE3o"},
                    TextCase{"declaration_ignored",
                             "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><m>\xC3\xA9</m></r>",
                             "\xC3\xA9"},
                    TextCase{"char_reference_is_cp1252_byte", "<r><m>caf&#233;</m></r>", "caf\xE9"},
                    TextCase{"hex_reference_euro", "<r><m>&#x20AC;</m></r>", "\x80"},
                    TextCase{"character_outside_cp1252", "<r><m>a&#x4E2D;b</m></r>", "a?b"},
                    TextCase{"five_entities", "<r><m>&lt;&gt;&amp;&quot;&apos;</m></r>", "<>&\"'"},
                    TextCase{"blanks_kept", "<r><m>  two  words </m></r>", "  two  words "},
                    TextCase{"comment_between_texts", "<r><m>a<!--x-->b</m></r>", "ab"},
                    TextCase{"cdata_joined", "<r><m>x<![CDATA[<y>&amp;]]>z</m></r>", "x<y>&amp;z"},
                    TextCase{"crlf_normalised", "<r><m>a\r\nb</m></r>", "a\nb"},
                    TextCase{"byte_order_mark_skipped", "\xEF\xBB\xBF<r><m>ok</m></r>", "ok"},
                    TextCase{"absent_is_empty", "<r><other>x</other></r>", ""},
                    TextCase{"empty_element", "<r><m/></r>", ""},
                    TextCase{"first_of_two_wins", "<r><m>first</m><m>second</m></r>", "first"},
                    TextCase{"name_is_case_sensitive", "<r><M>upper</M></r>", ""},
                    TextCase{"deeper_not_found", "<r><x><m>deep</m></x></r>", ""},
                    TextCase{"attribute_not_an_element", "<r m=\"attr\"/>", ""}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.label); });

TEST(ElementTextBytes, EveryByteFrom0x80To0xFFComesBackUnchanged) {
  std::string high;
  for (int byte = 0x80; byte <= 0xFF; ++byte) high += static_cast<char>(byte);
  EXPECT_EQ(ChildText("<r><m>" + high + "</m></r>", "m"), high);
}

TEST(ElementTextBytes, ElementHoldingChildElementsRaises) {
  ResponseDocument document;
  document.Load("<r><m>text<b>bold</b></m></r>");
  EXPECT_THROW(NodeText(ChildNamed(document.DocumentElement(), "m")), ConversionError);
}

TEST(ResponseDocumentLoad, EmptyOrBlankTextIsTheEmptyDocument) {
  for (const char* text : {"", "   ", " \r\n\t "}) {
    ResponseDocument document;
    document.Load(text);
    EXPECT_TRUE(document.IsEmptyDoc()) << '"' << text << '"';
    EXPECT_EQ(NodeText(ChildNamed(document.DocumentElement(), "success")), "");
  }
}

TEST(ResponseDocumentLoad, AnyRootNameIsTheDocumentElement) {
  ResponseDocument document;
  document.Load(
      "<?xml version=\"1.0\"?>\n<!-- c -->\n<anything><success>true</success></anything>");
  EXPECT_FALSE(document.IsEmptyDoc());
  EXPECT_STREQ(document.DocumentElement().name(), "anything");
}

TEST(ResponseDocumentLoad, NotWellFormedRaisesAndLeavesTheEmptyDocument) {
  const char* const broken[] = {
      "Internal Server Error",
      "<r><success>true</success>",
      "<r></x>",
      "<r><br></r>",
      "<a/><b/>",
      "<r/>trailing",
      "leading<r/>",
      "<!-- only a comment -->",
      "<1r/>",
  };
  for (const char* text : broken) {
    ResponseDocument document;
    document.Load("<r><m>earlier</m></r>");
    EXPECT_THROW(document.Load(text), ConversionError) << text;
    EXPECT_TRUE(document.IsEmptyDoc()) << text;
  }
  ResponseDocument document;
  EXPECT_THROW(document.Load(std::string("<r>a\0b</r>", 10)), ConversionError);
  // Nothing after a NUL is passed over either.
  EXPECT_THROW(document.Load(std::string("<r>a</r>\0<junk", 14)), ConversionError);
}

TEST(ResponseDocumentLoad, DocumentTypeEntitiesAreNeverExpanded) {
  // Ten levels of ten references each would expand to 10^9 copies.
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY l0 \"lol\">";
  for (int level = 1; level <= 9; ++level) {
    laughs += "<!ENTITY l" + std::to_string(level) + " \"";
    for (int copy = 0; copy < 10; ++copy) laughs += "&l" + std::to_string(level - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><r><m>&l9;</m><s>&l0;</s></r>";
  EXPECT_EQ(ChildText(laughs, "m"), "&l9;");
  EXPECT_EQ(ChildText(laughs, "s"), "&l0;");
}

TEST(ResponseDocumentLoad, HundredThousandNestedLevelsLoadAndRelease) {
  constexpr int kDepth = 100000;
  std::string nested = "<r><m>found</m>";
  for (int i = 0; i < kDepth; ++i) nested += "<n>";
  for (int i = 0; i < kDepth; ++i) nested += "</n>";
  nested += "</r>";
  EXPECT_EQ(ChildText(nested, "m"), "found");
  ResponseDocument document;
  document.Load(nested);
  EXPECT_THROW(NodeText(ChildNamed(document.DocumentElement(), "n")), ConversionError);
}

}  // namespace
}  // namespace lumirex
