#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "shared_services/default_services.hpp"
#include "shared_services/http_request.hpp"
#include "support/errors.hpp"
#include "testkit/http_server.hpp"
#include "testkit/testkit.hpp"

namespace lumirex {
namespace {

using ::testing::HasSubstr;

// libcurl honours the proxy variables; on a machine that sets them, requests to
// the local test servers must still go straight there.
const testkit::ScopedEnv kNoProxy("no_proxy", "127.0.0.1");

// What the server saw of one request.
struct Seen {
  std::string method;
  std::string path;
  std::string cpf;
  std::string pdv;
  std::string body;
  std::string contentType;
  bool expect = false;
  int remotePort = 0;
};

// Counts every request that reaches the server, whatever its method or path,
// and keeps what the routes saw.
class Recorder {
 public:
  void CountArrivals(httplib::Server& server) {
    server.set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
      ++arrivals_;
      return httplib::Server::HandlerResponse::Unhandled;
    });
  }

  void Record(const httplib::Request& req, std::string body) {
    Seen seen{req.method,
              req.path,
              req.get_param_value("cpf"),
              req.get_param_value("pdv"),
              std::move(body),
              req.get_header_value("Content-Type"),
              req.has_header("Expect"),
              req.remote_port};
    std::lock_guard lock(mutex_);
    seen_.push_back(std::move(seen));
  }

  int arrivals() const { return arrivals_; }

  std::vector<Seen> seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  std::atomic<int> arrivals_ = 0;
  mutable std::mutex mutex_;
  std::vector<Seen> seen_;
};

// One exchange, sent through the default services.
struct Exchange {
  explicit Exchange(std::string url, HttpMethod method = HttpMethod::Get, std::string body = "",
                    bool form = true)
      : request{method, std::move(url), std::move(body), form, std::chrono::seconds(5)} {}

  HttpRequest request;

  HttpAnswer Send() const {
    DefaultServices services;
    return services.SendHttp(request);
  }
};

std::string BinaryBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>(i * 7 % 256);
  return body;
}

class HttpRequestTest : public ::testing::Test {
 protected:
  HttpRequestTest()
      : server_([this](httplib::Server& server) {
          recorder_.CountArrivals(server);
          server.Get("/user", [this](const httplib::Request& req, httplib::Response& res) {
            recorder_.Record(req, req.body);
            res.set_content(std::string("<r>\0\xe9</r>", 9), "text/xml");
          });
          server.Post("/order", [this](const httplib::Request& req, httplib::Response& res,
                                       const httplib::ContentReader& reader) {
            recorder_.Record(req, testkit::ReadBody(reader));
            res.set_content("<r>ok</r>", "text/xml");
          });
          server.Get("/fail", [](const httplib::Request&, httplib::Response& res) {
            res.status = 500;
            res.set_content("<erro>falhou</erro>", "text/xml");
          });
        }) {}

  Recorder recorder_;
  testkit::HttpServer server_;
};

TEST_F(HttpRequestTest, GetArrivesAsSentAndReturnsStatusAndBodyBytes) {
  Exchange exchange{server_.url("/user?cpf=123.456.789-00&pdv=true")};
  const HttpAnswer answer = exchange.Send();

  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.reason, "OK");
  EXPECT_EQ(answer.body, std::string("<r>\0\xe9</r>", 9));

  auto seen = recorder_.seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "GET");
  EXPECT_EQ(seen[0].path, "/user");
  EXPECT_EQ(seen[0].cpf, "123.456.789-00");
  EXPECT_EQ(seen[0].pdv, "true");
  EXPECT_EQ(seen[0].body, "");
}

TEST_F(HttpRequestTest, PostCarriesExactlyTheRequestStreamsBytes) {
  struct Case {
    std::string name;
    bool form;
    std::string body;
    std::string contentType;
  };
  const std::vector<Case> cases = {
      // Large enough that libcurl would ask for "100 Continue" unless told not to.
      {"binary form body", true, BinaryBody(1536 * 1024), "application/x-www-form-urlencoded"},
      {"empty form body", true, "", "application/x-www-form-urlencoded"},
      {"not a form", false, "order=%3Cx%2F%3E&", "application/octet-stream"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = recorder_.seen().size();
    const HttpAnswer answer =
        Exchange{server_.url("/order?pdv=true"), HttpMethod::Post, c.body, c.form}.Send();

    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "<r>ok</r>");
    auto seen = recorder_.seen();
    ASSERT_EQ(seen.size(), before + 1);
    EXPECT_EQ(seen.back().method, "POST");
    EXPECT_EQ(seen.back().path, "/order");
    EXPECT_EQ(seen.back().pdv, "true");
    EXPECT_TRUE(seen.back().body == c.body) << "body of " << seen.back().body.size() << " bytes";
    EXPECT_EQ(seen.back().contentType, c.contentType);
    EXPECT_FALSE(seen.back().expect);
  }
}

TEST_F(HttpRequestTest, ServerErrorWithBodyIsAnOrdinaryResult) {
  const HttpAnswer answer = Exchange{server_.url("/fail")}.Send();
  EXPECT_EQ(answer.status, 500);
  EXPECT_EQ(answer.reason, "Internal Server Error");
  EXPECT_EQ(answer.body, "<erro>falhou</erro>");
}

TEST_F(HttpRequestTest, RefusesBadUrlsAndTimeOutsWithoutSending) {
  struct Case {
    std::int64_t timeout;
    std::string message;
    std::string url = "";  // empty: a good one
  };
  const std::string good = server_.url("/order");
  const std::vector<Case> cases = {
      // Cut at the NUL, the request would go to the server's root.
      {5, "the URL holds a NUL byte at position " + std::to_string(good.size()),
       good + std::string(1, '\0') + "x"},
      {5, "the URL is 8000001 bytes long; the HTTP client takes at most 8000000",
       good + "?cpf=" + std::string(8000001 - good.size() - 5, '1')},
      {0, "invalid HTTP time-out of 0 seconds: whole seconds from 1 to 86400 expected"},
      {-3, "invalid HTTP time-out of -3 seconds"},
      {86401, "invalid HTTP time-out of 86401 seconds"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("time-out " + std::to_string(c.timeout));
    Exchange exchange{c.url.empty() ? good : c.url, HttpMethod::Post, "order=x&"};
    exchange.request.timeout = std::chrono::seconds(c.timeout);
    try {
      exchange.Send();
      ADD_FAILURE() << "no error raised";
    } catch (const HttpError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.message));
    }
  }
  EXPECT_EQ(recorder_.arrivals(), 0);
}

// A kept report names its method; nothing but GET and POST is sent.
TEST(HttpMethodNames, OnlyGetAndPostAreKnown) {
  EXPECT_EQ(HttpMethodNamed(HttpMethodName(HttpMethod::Get)), HttpMethod::Get);
  EXPECT_EQ(HttpMethodNamed(HttpMethodName(HttpMethod::Post)), HttpMethod::Post);
  for (const std::string name : {"", "PUT", "get"}) {
    try {
      HttpMethodNamed(name);
      ADD_FAILURE() << "'" << name << "' accepted";
    } catch (const HttpError& error) {
      EXPECT_EQ(std::string(error.what()), "unsupported HTTP method '" + name + "'");
    }
  }
}

TEST_F(HttpRequestTest, ConsecutiveRequestsShareOneConnection) {
  Exchange{server_.url("/user?cpf=1")}.Send();
  Exchange{server_.url("/order"), HttpMethod::Post, "order=x&"}.Send();
  Exchange{server_.url("/user?cpf=2")}.Send();

  auto seen = recorder_.seen();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1].remotePort, seen[0].remotePort);
  EXPECT_EQ(seen[2].remotePort, seen[0].remotePort);
}

// A store behind a plain HTTP proxy: the proxy is asked for the whole URL,
// query included, never for a tunnel it may refuse.
TEST(HttpRequestProxy, PlainHttpGoesToTheProxyWithTheWholeUrl) {
  // Written on the server's thread, read here: the socket between them is no
  // ordering ThreadSanitizer can see.
  std::mutex mutex;
  std::string target;
  testkit::HttpServer proxy([&](httplib::Server& s) {
    s.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
      const std::lock_guard lock(mutex);
      target = req.method + " " + req.target;
      res.set_content("<r>via proxy</r>", "text/xml");
      return httplib::Server::HandlerResponse::Handled;
    });
  });
  const testkit::ScopedEnv viaProxy("http_proxy", proxy.url("/"));
  const testkit::ScopedEnv noBypass("no_proxy", "");
  EXPECT_EQ(Exchange{"http://loyalty.invalid/apl/user?cpf=1&pdv=true"}.Send().body,
            "<r>via proxy</r>");
  const std::lock_guard lock(mutex);
  EXPECT_EQ(target, "GET http://loyalty.invalid/apl/user?cpf=1&pdv=true");
}

// Lets a stalled handler go once the client has given up, so the server can stop.
class Gate {
 public:
  void Wait() {
    std::unique_lock lock(mutex_);
    opened_.wait_for(lock, std::chrono::seconds(10), [this] { return open_; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

TEST(HttpRequestFailure, TimeOutAgainstAStalledServerRaisesNamingTheUrl) {
  Gate gate;
  testkit::HttpServer server([&gate](httplib::Server& s) {
    s.Get("/stall", [&gate](const httplib::Request&, httplib::Response& res) {
      gate.Wait();
      res.set_content("late", "text/plain");
    });
  });
  Exchange exchange{server.url("/stall")};
  exchange.request.timeout = std::chrono::seconds(1);
  std::optional<std::string> message;
  try {
    exchange.Send();
  } catch (const HttpError& error) {
    message = error.what();
  }
  gate.Open();
  ASSERT_TRUE(message.has_value()) << "the stalled request returned";
  EXPECT_THAT(*message, HasSubstr("HTTP request to " + server.url("/stall") + " failed: "));
}

TEST(HttpRequestFailure, RefusedConnectionRaisesNamingTheUrl) {
  std::string url;
  {
    testkit::HttpServer closed([](httplib::Server&) {});
    url = closed.url("/user?cpf=1");
  }
  try {
    Exchange{url}.Send();
    FAIL() << "no error raised";
  } catch (const HttpError& error) {
    const std::string message = error.what();
    EXPECT_THAT(message, HasSubstr("HTTP request to " + url + " failed: "));
    EXPECT_GT(message.size(), ("HTTP request to " + url + " failed: ").size());
  }
}

TEST(HttpRequestFailure, BodyOverSixteenMebibytesRaises) {
  const std::string limit(kMaxResponseBody, 'x');
  const std::string over = limit + "y";
  testkit::HttpServer server([&](httplib::Server& s) {
    s.Get("/sized", [&](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.has_param("over") ? over : limit, "text/plain");
    });
    // Without a length up front, only the received bytes can tell.
    s.Get("/chunked", [&](const httplib::Request& req, httplib::Response& res) {
      const std::string* body = req.has_param("over") ? &over : &limit;
      res.set_chunked_content_provider(
          "text/plain", [body](size_t offset, httplib::DataSink& sink) {
            if (offset >= body->size()) {
              sink.done();
              return true;
            }
            const size_t chunk = std::min<size_t>(256 * 1024, body->size() - offset);
            return sink.write(body->data() + offset, chunk);
          });
    });
  });
  for (const std::string path : {"/sized", "/chunked"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Exchange{server.url(path)}.Send().body.size(), kMaxResponseBody);
    try {
      Exchange{server.url(path + "?over=1")}.Send();
      ADD_FAILURE() << "no error raised";
    } catch (const HttpError& error) {
      EXPECT_THAT(error.what(), HasSubstr("larger than 16 MiB"));
      EXPECT_THAT(error.what(), HasSubstr(server.url(path + "?over=1")));
    }
  }
}

// A server that records a POST on a kept-alive connection and closes it
// without answering, as one that dies between acting on a request and
// answering it; later connections are answered as a service that refuses
// the repeat.
class ClosesAfterRecording {
 public:
  ClosesAfterRecording() : listener_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
    listen(listener_, 4);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ClosesAfterRecording() {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    thread_.join();
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int posts() const { return posts_; }

 private:
  // One request, whole: its headers and its Content-Length's body.
  static bool ReadRequest(int fd, std::string& method) {
    std::string data;
    char buffer[4096];
    for (;;) {
      const std::size_t end = data.find("\r\n\r\n");
      if (end != std::string::npos) {
        const std::size_t length = data.find("Content-Length: ");
        const std::size_t body =
            length == std::string::npos ? 0 : std::stoul(data.substr(length + 16));
        if (data.size() >= end + 4 + body) break;
      }
      const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) return false;
      data.append(buffer, static_cast<std::size_t>(got));
    }
    method = data.substr(0, data.find(' '));
    return true;
  }
  static void Answer(int fd, const std::string& body) {
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                               "\r\nConnection: keep-alive\r\n\r\n" + body;
    send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
  }
  void Serve() {
    for (int connection = 0;; ++connection) {
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      std::string method;
      while (ReadRequest(fd, method)) {
        if (method == "POST") ++posts_;
        if (connection == 0 && method == "POST") break;  // recorded, never answered
        Answer(fd, method == "POST" ? "<r>already registered</r>" : "<r>ok</r>");
      }
      close(fd);
    }
  }

  int listener_;
  int port_ = 0;
  std::atomic<int> posts_ = 0;
  std::thread thread_;
};

// The POST is not sent again behind the caller's back: the exchange fails as
// one that may have arrived, and the service saw it once.
TEST(HttpRequestFailure, APostIsNeverSentTwiceWhenAKeptAliveConnectionDies) {
  ClosesAfterRecording server;
  EXPECT_EQ(Exchange{server.url("/user")}.Send().body, "<r>ok</r>");
  try {
    Exchange{server.url("/order"), HttpMethod::Post, "order=1"}.Send();
    FAIL() << "answered";
  } catch (const HttpError& error) {
    EXPECT_TRUE(error.sent());
    EXPECT_EQ(error.failure(), HttpFailure::Transfer);
    EXPECT_THAT(error.what(), HasSubstr("the service may have it"));
  }
  EXPECT_EQ(server.posts(), 1);
}

}  // namespace
}  // namespace lumirex
