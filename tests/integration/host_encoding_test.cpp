// The host's encoding end to end through the C ABI: accented texts from the
// till, the point-of-sale database and the service arrive intact in the
// request documents, the result array and the log, each in the host's
// encoding, and a promocode read from the result goes back as it stands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "dataset/data_packet.hpp"
#include "end_to_end.hpp"
#include "support/codepage.hpp"
#include "support/url.hpp"

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace calltest {
namespace {

// Cut by the promotions dataset's 50-character column.
const std::string kDescription = "Pão de queijo grátis às terças e às quintas/Ótimo preço, não?";

struct EncodingCase {
  const char* name;
  const char* encoding;
  const char* declaration;
  std::string (*host)(std::string_view utf8);  // a UTF-8 text as the host holds it
  const char* cutDescription;                  // kDescription in the packet, as UTF-8
  const char* badCpfFailure;                   // a CPF with a Windows-1252 é: "" for none
};

std::string Same(std::string_view utf8) {
  return std::string(utf8);
}

std::string Cp1252(std::string_view utf8) {
  return lumirex::Utf8ToAnsi(utf8);
}

class HostEncoding : public EndToEnd, public ::testing::WithParamInterface<EncodingCase> {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    ASSERT_EQ(LumirexSetHostEncoding(GetParam().encoding), 0);
    sandbox_.ReplaceCustomer(
        {kCpf, "Zé Açaí", 150, {{"PÃO10", kDescription, {"discount", 500}, ""}}});
  }
  void TearDown() override {
    LumirexSetHostEncoding(nullptr);
    EndToEnd::TearDown();
  }

  std::string Host(std::string_view utf8) const { return GetParam().host(utf8); }

  // The order document of the last request, as the service read it (UTF-8),
  // after checking the declaration the library gave it.
  std::string LastDocument() const {
    const auto journal = sandbox_.Journal();
    EXPECT_FALSE(journal.empty());
    if (journal.empty()) return "";
    EXPECT_THAT(lumirex::PercentDecode(journal.back().body),
                StartsWith(std::string("order=<?xml version=\"1.0\" encoding=\"") +
                           GetParam().declaration + "\"?>"));
    return journal.back().document;
  }
};

TEST_P(HostEncoding, AccentedTextsArriveIntactOnBothSidesAndInTheLog) {
  Outcome consulta = Call(Consulta());
  ASSERT_TRUE(consulta.returned) << consulta.lastMessage;
  EXPECT_EQ(consulta.result.items()[2], lumirex::Variant(Host("Zé Açaí")));
  const std::string packet = consulta.result.items()[4].asString();
  EXPECT_THAT(packet, StartsWith(std::string("<?xml version=\"1.0\" encoding=\"") +
                                 GetParam().declaration + "\""));
  const lumirex::DataPacket promotions = lumirex::ReadDataPacket(packet);
  ASSERT_EQ(promotions.rows.size(), 1u);
  const std::string code = std::get<std::string>(promotions.rows[0][0]);
  EXPECT_EQ(code, Host("PÃO10"));
  EXPECT_EQ(std::get<std::string>(promotions.rows[0][1]), Host(GetParam().cutDescription));

  // The code read from the packet goes out and comes back in the service's message.
  Outcome validation = Call(Validation(kCpf, code), 2);
  ASSERT_TRUE(validation.returned) << validation.lastMessage;
  EXPECT_EQ(validation.result.items()[1], lumirex::Variant(Host("Promocode PÃO10 válido")));
  EXPECT_THAT(LastDocument(), HasSubstr("<friendlyCode>PÃO10</friendlyCode>"));
  EXPECT_THAT(LogTexts(), Contains("P_PROMOCODE  = " + Host("PÃO10")));

  // The database's names go out in the sale document.
  ExpectAccepted(Sale());
  const std::string sale = LastDocument();
  EXPECT_THAT(sale, HasSubstr("<unityName>Loja Praça da Sé</unityName>"));
  EXPECT_THAT(sale, HasSubstr("<name>Pão de queijo</name>"));
  const auto lines = LogTexts();
  EXPECT_THAT(lines[lines.size() - 4], StartsWith("P_XML        = "));
  EXPECT_THAT(lines[lines.size() - 4], HasSubstr(Host("<name>Pão de queijo</name>")));

  // Bytes that are not UTF-8 are refused from a UTF-8 host, where they stand.
  Outcome badCpf = Call(Consulta("12\xE9"));
  if (*GetParam().badCpfFailure == '\0') {
    EXPECT_TRUE(badCpf.returned) << badCpf.lastMessage;
  } else {
    EXPECT_EQ(badCpf.last.error, LUMIREX_E_INPUT);
    ExpectFailure(badCpf, "INICIO", GetParam().badCpfFailure);
  }
}

// The host names the folder in its encoding; the file system holds it in
// UTF-8, and the log, the default database and the outbox are found in it.
TEST_P(HostEncoding, AnAccentedBaseFolderHoldsTheLogTheDatabaseAndTheOutbox) {
  const std::filesystem::path till = base_.path() / std::filesystem::path(u8"Caixa São João 01");
  std::filesystem::create_directories(till / "Dados");
  std::filesystem::copy_file(database_, till / "Dados" / "pos.sqlite");
  const std::string folder = Host(base_.str() + "/Caixa São João 01");
  LumirexSetBaseDir(folder.c_str());
  LumirexSetConnectionString(nullptr);
  ASSERT_EQ(LumirexSetOutbox((folder + "/outbox.sqlite").c_str()), 0);

  // The log is read back by its UTF-8 name: a Windows-1252 host's
  // LumirexLogFilePath names it in its own encoding.
  const Outcome sale = Call(Sale());
  ASSERT_TRUE(sale.returned) << sale.lastMessage;
  EXPECT_EQ(sale.result.items()[0], lumirex::Variant(false));
  EXPECT_TRUE(std::filesystem::is_directory(till / "Dados" / "LogIntegracaoOrvo"));
  EXPECT_TRUE(std::filesystem::is_regular_file(till / "outbox.sqlite"));
  char named[512];
  LumirexGetBaseDir(named, sizeof named);
  EXPECT_EQ(named, folder);
  LumirexSetOutbox(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, HostEncoding,
    ::testing::Values(EncodingCase{"utf8", "utf-8", "UTF-8", Same,
                                   "Pão de queijo grátis às terças e às quintas/Ótimo ",
                                   "parameter 2 is not UTF-8: byte 0xE9 at offset 2"},
                      EncodingCase{"windows1252", "Windows-1252", "windows-1252", Cp1252,
                                   "Pão de queijo grátis às terças e às quintas/Ótimo ", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace calltest
