// How the sandbox sends its answers: raw bytes, in pieces, cut short,
// chunked, and over HTTPS.
#include <chrono>

#include <gtest/gtest.h>

#include "testkit/certificates.hpp"
#include "testkit/testkit.hpp"
#include "tests/sandbox/sandbox_client.hpp"

namespace sandbox_test {
namespace {

using lumirex::sandbox::Faults;
using DeliveryTest = SandboxTest;

constexpr const char* kKnownCustomer = "/user?cpf=12345678909&pdv=true";

TEST_F(DeliveryTest, RawAnswerIsSentAsItStandsToEveryRoute) {
  Faults faults;
  faults.rawAnswer = std::string("<r>\xFF\0</r", 8);
  sandbox_.SetFaults(faults);
  for (const auto& result : {client_->Get(kKnownCustomer), client_->Get("/nowhere"),
                             client_->Post("/order?pdv=true", "junk", kFormType)}) {
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->body, faults.rawAnswer);
  }
}

TEST_F(DeliveryTest, TrickledAndChunkedAnswersArriveWhole) {
  const std::string plain = Get(kKnownCustomer)->body;
  Faults trickle;
  trickle.trickleMilliseconds = 300;
  Faults chunked;
  chunked.chunked = true;
  chunked.answerMiB = 1;
  Faults padded;
  padded.answerMiB = 1;
  for (const Faults& faults : {trickle, chunked}) {
    sandbox_.SetFaults(faults);
    const auto start = std::chrono::steady_clock::now();
    const auto result = client_->Get(kKnownCustomer);
    ASSERT_TRUE(result);
    if (faults.chunked) {
      EXPECT_EQ(result->get_header_value("Transfer-Encoding"), "chunked");
      sandbox_.SetFaults(padded);
      EXPECT_EQ(result->body, client_->Get(kKnownCustomer)->body);
    } else {
      EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(270));
      EXPECT_EQ(result->body, plain);
    }
  }
}

TEST_F(DeliveryTest, CutAnswerEndsTheConnectionAfterItsBytes) {
  Faults faults;
  faults.closeAfterBytes = 10;
  sandbox_.SetFaults(faults);
  const auto result = client_->Get(kKnownCustomer);
  EXPECT_FALSE(result);
  sandbox_.SetFaults({});
  EXPECT_EQ(Get(kKnownCustomer)->Success(), "true");
}

TEST(SandboxHttps, ServesWithTheCertificateItIsGiven) {
  testkit::TempDir folder;
  const auto certificates = testkit::MakeTestCertificates(folder.path());
  lumirex::sandbox::Sandbox sandbox;
  sandbox.StartTls(certificates.certFile, certificates.keyFile);
  EXPECT_EQ(sandbox.BaseUrl(), "https://127.0.0.1:" + std::to_string(sandbox.Port()) + "/");

  httplib::SSLClient client("127.0.0.1", sandbox.Port());
  client.set_ca_cert_path(certificates.caFile.c_str());
  client.enable_server_certificate_verification(true);
  const auto answer = ToAnswer(client.Get(kKnownCustomer));
  EXPECT_EQ(answer->Success(), "true");
  EXPECT_EQ(sandbox.Journal().size(), 1u);
  sandbox.Stop();

  EXPECT_THROW(sandbox.StartTls(certificates.caFile, certificates.certFile), std::runtime_error);
  sandbox.Start();
  EXPECT_EQ(sandbox.BaseUrl().substr(0, 7), "http://");
}

}  // namespace
}  // namespace sandbox_test
