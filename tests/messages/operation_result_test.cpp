#include "messages/operation_result.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "shared_services/shared_services.hpp"

namespace lumirex {
namespace {

// The verdict of an answer, loaded as a call loads it.
CommonPart Verdict(std::string_view response) {
  ResponseDocument document;
  document.Load(response);
  return getRetVenda(document);
}

struct VerdictCase {
  const char* label;
  std::string response;
  bool errorFlag;
  std::string message;
};

class GetRetVenda : public testing::TestWithParam<VerdictCase> {};

TEST_P(GetRetVenda, ReadsFlagAndMessage) {
  const CommonPart verdict = Verdict(GetParam().response);
  EXPECT_EQ(verdict.errorFlag, GetParam().errorFlag);
  EXPECT_EQ(verdict.message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, GetRetVenda,
    testing::Values(
        VerdictCase{"success", "<r><success>true</success><message>OK</message></r>", false, "OK"},
        VerdictCase{"capitalised", "<r><success>True</success></r>", true, ""},
        VerdictCase{"upper_case", "<r><success>TRUE</success></r>", true, ""},
        VerdictCase{"one", "<r><success>1</success></r>", true, ""},
        VerdictCase{"false", "<r><success>false</success><message>no</message></r>", true, "no"},
        VerdictCase{"blank_before", "<r><success> true</success></r>", true, ""},
        VerdictCase{"blank_after", "<r><success>true </success></r>", true, ""},
        VerdictCase{"empty_success", "<r><success/><message>m</message></r>", true, "m"},
        VerdictCase{"no_message", "<r><success>true</success></r>", false, ""},
        VerdictCase{"first_success_counts",
                    "<r><success>true</success><success>false</success></r>", false, ""},
        VerdictCase{"second_success_ignored",
                    "<r><success>false</success><success>true</success></r>", true, ""},
        VerdictCase{"any_root_name", "<order><success>true</success></order>", false, ""},
        VerdictCase{"utf8_message_to_cp1252",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><success>false</success>"
                    "<message>Cliente n\xC3\xA3o encontrado</message></r>",
                    true, "Cliente n\xE3o encontrado"},
        VerdictCase{"reference_then_decoded", "<r><success/><message>&#195;&#169;</message></r>",
                    true, "\xE9"},
        VerdictCase{"utf8_beyond_cp1252", "<r><success/><message>\xE4\xB8\xAD</message></r>", true,
                    "?"},
        VerdictCase{"entities_not_expanded",
                    "<!DOCTYPE r [<!ENTITY a \"AAAA\">]><r><success>true</success>"
                    "<message>&a;</message></r>",
                    false, "&a;"}),
    [](const testing::TestParamInfo<VerdictCase>& info) { return std::string(info.param.label); });

TEST(GetRetVendaFailure, AnswersThatCannotBeReadRaise) {
  const char* const failing[] = {
      "<r><success>true</success>",                              // not closed
      "<html><body>Error<br></body></html>",                     // an HTML error page
      "<r><success>true</success></r><r/>",                      // two roots
      "<r><success><b>true</b></success></r>",                   // elements inside success
      "<r><success>true</success><message>a<b/></message></r>",  // ... inside message
      // No verdict: nothing between till and service may pass for a refusal.
      "",
      " \r\n ",
      "<r><message>only</message></r>",
      "<r><x><success>true</success><message>deep</message></x></r>",
  };
  for (const char* response : failing) {
    EXPECT_THROW(Verdict(response), ConversionError) << response;
  }
}

// The answer is read the same whatever services a host installs: they stand
// in for the exchange and the database, not for the reading of a message.
TEST(GetRetVendaServices, ReadsTheSameWhateverServicesAreInstalled) {
  class HostServices : public SharedServices {
   public:
    HttpAnswer SendHttp(const HttpRequest&) override { return {}; }
    bool TryConnect(TADOConnection&) override { return false; }
    void SetADODBSession(TADOConnection&) override {}
    std::string GetStringConexVex() override { return ""; }
    void ShowMessage(const std::string&) noexcept override {}
  };
  auto previous = InstallServices(std::make_shared<HostServices>());
  const CommonPart verdict =
      Verdict("<r><success>true</success><message>a\xC3\xA7\xC3\xA3o</message></r>");
  InstallServices(previous);
  EXPECT_FALSE(verdict.errorFlag);
  EXPECT_EQ(verdict.message, "a\xE7\xE3o");
}

}  // namespace
}  // namespace lumirex
