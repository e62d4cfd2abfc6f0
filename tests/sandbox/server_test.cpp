// The server around the service: the journal, connections, start and stop.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "tests/sandbox/sandbox_client.hpp"

namespace sandbox_test {
namespace {

using lumirex::sandbox::Faults;
using lumirex::sandbox::Sandbox;
using ServerTest = SandboxTest;

TEST_F(ServerTest, JournalHoldsEveryRequestAsReceived) {
  const std::string document = ValidationDocument("12345678909", "A\xE7\xE3o");
  const std::string body = Envelope(document);
  Get("/user?cpf=1%262&pdv=true");
  PostRaw("/validate?pdv=true", body);
  PostRaw("/order?pdv=true", "junk");
  Get("/nowhere");

  const auto journal = sandbox_.Journal();
  ASSERT_EQ(journal.size(), 4u);
  EXPECT_EQ(journal[0].method, "GET");
  EXPECT_EQ(journal[0].path, "/user");
  EXPECT_EQ(journal[0].query, "cpf=1%262&pdv=true");  // as sent, not decoded
  EXPECT_EQ(journal[0].body, "");
  EXPECT_EQ(journal[0].document, "");

  EXPECT_EQ(journal[1].method, "POST");
  EXPECT_EQ(journal[1].path, "/validate");
  EXPECT_EQ(journal[1].query, "pdv=true");
  EXPECT_EQ(journal[1].contentType, kFormType);
  EXPECT_EQ(journal[1].body, body);
  EXPECT_EQ(journal[1].document,
            ValidationDocument("12345678909", "A\xC3\xA7\xC3\xA3o"));  // now UTF-8

  EXPECT_EQ(journal[2].body, "junk");
  EXPECT_EQ(journal[2].document, "");
  EXPECT_EQ(journal[3].path, "/nowhere");

  sandbox_.ClearJournal();
  EXPECT_TRUE(sandbox_.Journal().empty());
}

// A client that goes (or a Stop) in the middle of a body: nothing arrived
// that the service could act on, and nothing is journaled.
TEST_F(ServerTest, ABodyCutShortIsNoRequest) {
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(sandbox_.Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string cut =
      "POST /order?pdv=true HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\norder=%3C";
  ASSERT_EQ(::send(sock, cut.data(), cut.size(), 0), static_cast<ssize_t>(cut.size()));
  ::shutdown(sock, SHUT_WR);
  char answer[512];
  while (::recv(sock, answer, sizeof answer, 0) > 0) {
  }  // the server is done with it
  ::close(sock);
  EXPECT_TRUE(sandbox_.Journal().empty());
}

TEST_F(ServerTest, AKeepAliveClientUsesOneConnectionForManyRequests) {
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(Get("/user?cpf=12345678909&pdv=true")->status, 200);
    ASSERT_EQ(Post("/order?pdv=true", SaleDocument("k" + std::to_string(i)))->status, 200);
  }
  EXPECT_EQ(sandbox_.AcceptedConnections(), 1u);

  httplib::Client oneShot("127.0.0.1", sandbox_.Port());
  oneShot.set_keep_alive(false);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(oneShot.Get("/user?cpf=1&pdv=true"));
  EXPECT_EQ(sandbox_.AcceptedConnections(), 4u);
  EXPECT_EQ(sandbox_.Journal().size(), 19u);
}

TEST_F(ServerTest, StopsWhileAKeepAliveClientHoldsItsConnectionAndStartsAgain) {
  ASSERT_EQ(Get("/user?cpf=12345678909&pdv=true")->status, 200);
  ASSERT_EQ(Post("/order?pdv=true", SaleDocument("S1"))->Success(), "true");
  sandbox_.Stop();  // the client's idle connection is still open
  sandbox_.Stop();  // and stopping twice is harmless

  sandbox_.Start();
  client_ = std::make_unique<httplib::Client>("127.0.0.1", sandbox_.Port());
  // What the service recorded and journaled survives a restart.
  EXPECT_EQ(Post("/order?pdv=true", SaleDocument("S1"))->Success(), "false");
  EXPECT_EQ(sandbox_.Journal().size(), 3u);
  EXPECT_EQ(sandbox_.AcceptedConnections(), 2u);
}

TEST_F(ServerTest, StopCutsAStallShort) {
  Faults faults;
  faults.stallSeconds = 3600;
  sandbox_.SetFaults(faults);
  std::thread caller([this] { client_->Get("/user?cpf=12345678909&pdv=true"); });
  while (sandbox_.Journal().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  sandbox_.Stop();  // would hang for an hour if the stall went on
  caller.join();
}

TEST(SandboxLifecycle, RefusesAPortInUseAndASecondStart) {
  Sandbox first;
  first.Start();
  EXPECT_THROW(first.Start(), std::runtime_error);
  Sandbox second;
  EXPECT_THROW(second.Start(first.Port()), std::runtime_error);
  EXPECT_EQ(first.BaseUrl(), "http://127.0.0.1:" + std::to_string(first.Port()) + "/");
}

TEST(SandboxLifecycle, RunServesOnTheCallingThreadUntilStopped) {
  Sandbox sandbox;
  std::thread server([&] { sandbox.Run(0); });
  while (sandbox.Port() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  {
    httplib::Client client("127.0.0.1", sandbox.Port());
    const auto result = client.Get("/user?cpf=98765432100&pdv=true");
    ASSERT_TRUE(result);
    EXPECT_NE(result->body.find("Maria Concei\xC3\xA7\xC3\xA3o Ara\xC3\xBAjo"), std::string::npos);
  }
  sandbox.Stop();
  server.join();
  EXPECT_EQ(sandbox.AcceptedConnections(), 1u);
}

}  // namespace
}  // namespace sandbox_test
