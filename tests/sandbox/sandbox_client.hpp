// Talking to a sandbox the way the library does: query strings, and POST
// bodies of "order=" + a Windows-1252 document + "&", percent-encoded whole.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "sandbox/sandbox.hpp"
#include "support/url.hpp"

namespace sandbox_test {

inline constexpr const char* kFormType = "application/x-www-form-urlencoded";

// A declared Windows-1252 order document with the given elements inside order.
inline std::string OrderDocument(const std::string& inner) {
  return "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<order>" + inner + "</order>\r\n";
}

inline std::string Envelope(const std::string& document) {
  return lumirex::PercentEncode("order=" + document + "&");
}

inline std::string ValidationDocument(const std::string& cpf, const std::string& code) {
  return OrderDocument("<userId>" + cpf + "</userId><friendlyCode>" + code +
                       "</friendlyCode><storeReference>Loja 1</storeReference>"
                       "<channel>pdv</channel><products>789</products>"
                       "<payment><subTotal>1234</subTotal></payment>");
}

inline std::string SaleDocument(const std::string& orderId) {
  return OrderDocument(
      "<customer><cpf>12345678909</cpf></customer><orderInfo>"
      "<orderOrigin>PDV</orderOrigin><orderId>" +
      orderId + "</orderId></orderInfo>");
}

inline std::string CancellationDocument(const std::string& orderId) {
  return OrderDocument("<orderId>" + orderId + "</orderId>");
}

// The parts of an answer a test looks at.
struct Answer {
  int status = 0;
  std::string body;
  pugi::xml_document xml;
  bool wellFormed = false;

  std::string Success() const { return xml.document_element().child_value("success"); }
  std::string Message() const { return xml.document_element().child_value("message"); }
  pugi::xml_node UserInfo() const { return xml.document_element().child("userInfo"); }
};

inline std::unique_ptr<Answer> ToAnswer(const httplib::Result& result) {
  auto answer = std::make_unique<Answer>();
  if (!result) return answer;
  answer->status = result->status;
  answer->body = result->body;
  answer->wellFormed = static_cast<bool>(answer->xml.load_string(answer->body.c_str()));
  return answer;
}

// A started sandbox on the default fixture and a keep-alive client to it.
class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_.Start();
    client_ = std::make_unique<httplib::Client>("127.0.0.1", sandbox_.Port());
    client_->set_keep_alive(true);
    client_->set_tcp_nodelay(true);  // as the library's client does
    client_->set_read_timeout(5, 0);
  }
  void TearDown() override { client_.reset(); }

  std::unique_ptr<Answer> Get(const std::string& target) { return ToAnswer(client_->Get(target)); }
  std::unique_ptr<Answer> PostRaw(const std::string& target, const std::string& body) {
    return ToAnswer(client_->Post(target, body, kFormType));
  }
  std::unique_ptr<Answer> Post(const std::string& target, const std::string& document) {
    return PostRaw(target, Envelope(document));
  }

  lumirex::sandbox::Sandbox sandbox_;
  std::unique_ptr<httplib::Client> client_;
};

}  // namespace sandbox_test
