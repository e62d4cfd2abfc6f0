// A service behind HTTPS with a certificate of its own authority: refused
// until the host names that authority, and refused again once it stops.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "end_to_end.hpp"
#include "testkit/certificates.hpp"

namespace calltest {
namespace {

constexpr const char* kUntrusted = "SSL certificate problem";

class HttpsService : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    certificates_ = testkit::MakeTestCertificates(folder_.path());
    sandbox_.Stop();
    sandbox_.StartTls(certificates_.certFile, certificates_.keyFile);
  }
  void TearDown() override {
    LumirexSetCaFile(nullptr);
    EndToEnd::TearDown();
  }

  testkit::ScopedEnv noCaFromEnvironment_{"LUMIREX_CA_FILE", std::nullopt};
  testkit::TempDir folder_;
  testkit::TestCertificates certificates_;
};

TEST_F(HttpsService, RefusedUntilTheHostNamesTheAuthority) {
  ASSERT_THAT(sandbox_.BaseUrl(), ::testing::StartsWith("https://"));
  const Outcome refused = Call(Consulta());
  ExpectFailure(refused, kTimeoutLine, kUntrusted);
  EXPECT_EQ(refused.last.error, LUMIREX_E_TLS);
  EXPECT_TRUE(sandbox_.Journal().empty());  // nothing was sent to it

  LumirexSetCaFile(certificates_.caFile.c_str());
  EXPECT_EQ(lumirex::CaFile(), certificates_.caFile);
  ExpectAccepted(Consulta());
  ExpectAccepted(Validation());
  EXPECT_EQ(sandbox_.Journal().size(), 2u);

  // Back to the system's store: the connection trusted a moment ago is not reused.
  LumirexSetCaFile(nullptr);
  ExpectFailure(Call(Consulta()), kTimeoutLine, kUntrusted);
  EXPECT_EQ(sandbox_.Journal().size(), 2u);
}

TEST_F(HttpsService, AuthorityFromTheEnvironmentUnlessTheHostNamesAnother) {
  testkit::TempDir otherFolder;
  const auto other = testkit::MakeTestCertificates(otherFolder.path(), "another CA");
  testkit::ScopedEnv fromEnvironment("LUMIREX_CA_FILE", certificates_.caFile);
  ExpectAccepted(Consulta());

  lumirex::SetCaFile(other.caFile);
  ExpectFailure(Call(Consulta()), kTimeoutLine, kUntrusted);
  lumirex::SetCaFile((folder_.path() / "missing.pem").string());
  ExpectFailure(Call(Consulta()), kTimeoutLine, "missing.pem");

  lumirex::SetCaFile(std::nullopt);
  ExpectAccepted(Consulta());
}

// A certificate refused (expired, not valid yet, of an unknown authority) lets
// nothing out: the report is kept for a later attempt.
TEST_F(HttpsService, ARefusedCertificateKeepsTheReport) {
  const std::string outbox = (folder_.path() / "outbox.sqlite").string();
  ASSERT_EQ(LumirexSetOutbox(outbox.c_str()), 0);
  const Outcome refused = Call(Sale(), 2);
  LumirexSetOutbox(nullptr);
  EXPECT_EQ(refused.last.error, LUMIREX_E_TLS);
  EXPECT_EQ(refused.last.queued, 1);
}

}  // namespace
}  // namespace calltest
