// A clean process state for each integration test: a temporary base folder,
// services that record what the call asked of them, captured operator messages.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lumirex/lumirex.hpp"
#include "sandbox/sandbox.hpp"
#include "shared_services/shared_services.hpp"
#include "testkit/testkit.hpp"

namespace lumirex {
// Readable variants in test failures.
void PrintTo(const Variant& value, std::ostream* out);
}  // namespace lumirex

namespace calltest {

// The log's separator line, which opens every call.
inline const std::string kSeparator(50, '-');

// A service's answer: status 200 and the body.
inline lumirex::HttpAnswer Answer(const std::string& body) {
  return lumirex::HttpAnswer{200, "OK", body};
}

using HttpCall = lumirex::HttpRequest;

// The default services, with each HTTP exchange recorded and, where a test
// says so, answered without the network.
class RecordingServices : public lumirex::SharedServices {
 public:
  std::shared_ptr<lumirex::SharedServices> real = lumirex::MakeDefaultServices();
  std::vector<HttpCall> calls;
  std::function<lumirex::HttpAnswer(const HttpCall&)> answer;  // empty: the real exchange
  std::vector<std::string> messages;

  lumirex::HttpAnswer SendHttp(const HttpCall& request) override;
  bool TryConnect(lumirex::TADOConnection& connection) override;
  void SetADODBSession(lumirex::TADOConnection& connection) override {
    real->SetADODBSession(connection);
  }
  std::string GetStringConexVex() override { return real->GetStringConexVex(); }
  void ShowMessage(const std::string& text) noexcept override;

 private:
  std::mutex mutex_;
};

class CallTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The texts of today's log lines, without their time stamps.
  std::vector<std::string> LogTexts() const;

  // A parameter list as a till lays it out: operation, URL, CPF, branch, till, sequence.
  static std::vector<lumirex::Variant> Params(const std::string& operation, const std::string& url,
                                              const std::string& cpf = "",
                                              const std::string& branch = "",
                                              const std::string& till = "",
                                              const std::string& sequence = "");

  testkit::TempDir base_;
  std::shared_ptr<RecordingServices> services_ = std::make_shared<RecordingServices>();
  std::shared_ptr<lumirex::SharedServices> previous_;
};

// The same with the sandbox service serving on 127.0.0.1 for the test.
class ServedCallTest : public CallTest {
 protected:
  void SetUp() override {
    CallTest::SetUp();
    sandbox_.Start();
  }
  void TearDown() override {
    sandbox_.Stop();
    CallTest::TearDown();
  }

  lumirex::sandbox::Sandbox sandbox_;
};

}  // namespace calltest
