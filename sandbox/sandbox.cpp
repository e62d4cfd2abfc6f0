#include "sandbox/sandbox.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>

#include "sandbox/answer.hpp"
#include "sandbox/http_server.hpp"
#include "sandbox/order_body.hpp"
#include "sandbox/service.hpp"
#include "support/operations.hpp"

namespace lumirex::sandbox {

namespace {

// Faults that apply to a share of requests draw with this seed.
constexpr unsigned kShareSeed = 17;
// A padded answer goes out in pieces of this size; a trickled one in ten.
constexpr std::size_t kStreamPiece = 64 * 1024;
constexpr std::size_t kTricklePieces = 10;

enum class Operation { None, QueryCustomer, ValidatePromocode, RecordOrder, CancelOrder };

// Without a base path the operations are found by the end of the path, so the
// sandbox answers under whatever base path a client is configured with, as a
// real service behind a gateway would ("/user", "/api/v1/user", ...). With
// one, only that prefix leads to them, so a wrong base URL shows.
// The routes are the library's operations table, so the two never part.
Operation OperationOf(const httplib::Request& request, const std::string& basePath) {
  static constexpr Operation kServed[] = {Operation::QueryCustomer, Operation::ValidatePromocode,
                                          Operation::RecordOrder, Operation::CancelOrder};
  static_assert(std::size(kServed) == std::size(kOperations));
  for (const lumirex::Operation& row : kOperations) {
    if (request.method != row.method) continue;
    const std::string path(row.path);
    const bool found =
        basePath.empty() ? request.path.ends_with("/" + path) : request.path == basePath + path;
    if (found) return kServed[static_cast<std::size_t>(row.id)];
  }
  return Operation::None;
}

bool AnyFault(Faults faults) {
  faults.share = 1.0;
  return faults != Faults{};
}

std::string CannotListen(const std::string& host, int port, int error) {
  std::string where = host + ":" + (port == 0 ? std::string("any port") : std::to_string(port));
  std::string why = error == EADDRINUSE      ? "the port is taken"
                    : error == EADDRNOTAVAIL ? "the address is not one of this machine's"
                    : error != 0             ? std::generic_category().message(error)
                                             : "the address cannot be used";
  return "sandbox: cannot listen on " + where + ": " + why;
}

std::string RawQuery(const httplib::Request& request) {
  const auto mark = request.target.find('?');
  return mark == std::string::npos ? std::string() : request.target.substr(mark + 1);
}

}  // namespace

struct TlsFiles {
  std::string certFile, keyFile;
};

struct Sandbox::Impl {
  explicit Impl(const Fixture& fixture) : service(fixture) {}

  void Serve(const httplib::Request& request, httplib::Response& response);
  // False when the connection was dropped without an answer.
  bool Answer(const httplib::Request& request, const OrderBody* body, const Faults& active,
              httplib::Response& response, Served& served);
  Faults Record(const JournalEntry& entry);
  void Report(const Served& served);
  Reply Decide(const httplib::Request& request, const OrderBody* body);
  void Deliver(AnswerBody body, const char* contentType, const Faults& faults,
               httplib::Response& response);
  // Waits that long unless the sandbox stops first; false when it stopped.
  bool Wait(std::chrono::milliseconds pause);

  void Launch(int port, const std::string& host, const TlsFiles* tls);
  void Open(int port, const std::string& host, const TlsFiles* tls);
  void Retire();

  LoyaltyService service;

  // The journal, the faults, the routes served, the observer and the stopping flag.
  mutable std::mutex mutex;
  std::condition_variable stopped;  // cuts a stall short
  std::vector<JournalEntry> journal;
  Faults faults;
  std::chrono::milliseconds latency{0};
  std::mt19937 draws{kShareSeed};
  std::string basePath;
  std::function<void(const Served&)> observer;
  bool stopping = false;

  // The server's life: Start/Run, Stop.
  mutable std::mutex lifecycle;
  std::condition_variable retired;  // Run has given its server up
  std::unique_ptr<HttpServer> server;
  std::thread thread;
  std::atomic<bool> listenEnded{false};
  std::size_t connectionsOfEarlierServers = 0;
  std::atomic<int> port{0};
  std::string host = "127.0.0.1";  // written under the lifecycle lock before serving
  std::atomic<bool> tls{false};
};

void Sandbox::Impl::Serve(const httplib::Request& request, httplib::Response& response) {
  std::optional<OrderBody> body;
  if (request.method == "POST") body = ReadOrderBody(request.body);
  Served served;
  served.request = JournalEntry{request.method,
                                request.path,
                                RawQuery(request),
                                request.get_header_value("Content-Type"),
                                request.body,
                                body ? body->document : std::string(),
                                std::chrono::steady_clock::now()};
  const Faults active = Record(served.request);
  served.faulted = AnyFault(active);
  std::chrono::milliseconds pause;
  {
    std::lock_guard lock(mutex);
    pause = latency;
  }
  if (pause.count() > 0 && !Wait(pause)) return;
  if (Answer(request, body ? &*body : nullptr, active, response, served)) {
    served.status = response.status;
  }
  Report(served);
}

bool Sandbox::Impl::Answer(const httplib::Request& request, const OrderBody* body,
                           const Faults& active, httplib::Response& response, Served& served) {
  if (active.stallSeconds > 0) Wait(std::chrono::seconds(active.stallSeconds));
  if (active.closeWithoutAnswer) {
    HttpServer::DropCurrentConnection();
    return false;
  }
  if (active.serverErrorHtml) {
    response.status = active.status != 0 ? active.status : 500;
    Deliver(AnswerBody{ServerErrorPage(), 0, ""}, kHtmlContentType, active, response);
    return true;
  }
  if (active.headerKiB > 0) {
    response.set_header("X-Padding", std::string(active.headerKiB * 1024, 'x'));
  }
  if (!active.rawAnswer.empty() || active.status != 0) {
    response.status = active.status != 0 ? active.status : 200;
    if (response.status >= 300 && response.status < 400) response.set_header("Location", "/moved");
    Deliver(AnswerBody{active.rawAnswer, 0, ""}, kXmlContentType, active, response);
    return true;
  }
  const Reply reply = Decide(request, body);
  served.success = reply.success;
  served.message = reply.message;
  response.status = reply.httpStatus;
  Deliver(RenderReply(reply, active), kXmlContentType, active, response);
  return true;
}

// An answer that is neither padded, trickled, cut nor chunked goes out at
// once. The others are written piece by piece; a piece that cannot be written
// (the client gave up) or the cut point ends the exchange, and httplib then
// closes the connection short of the answer's end.
void Sandbox::Impl::Deliver(AnswerBody body, const char* contentType, const Faults& faults,
                            httplib::Response& response) {
  if (body.blanks == 0 && faults.trickleMilliseconds == 0 && faults.closeAfterBytes == 0 &&
      !faults.chunked) {
    response.set_content(body.head + body.tail, contentType);
    return;
  }
  const std::size_t size = body.Size();
  const std::size_t cut =
      faults.closeAfterBytes > 0 ? std::min(faults.closeAfterBytes, size) : size;
  const bool trickle = faults.trickleMilliseconds > 0;
  const std::size_t piece =
      trickle ? std::max<std::size_t>(1, (size + kTricklePieces - 1) / kTricklePieces)
              : kStreamPiece;
  const auto pause = std::chrono::milliseconds(faults.trickleMilliseconds / kTricklePieces);
  auto shared = std::make_shared<AnswerBody>(std::move(body));
  // One buffer for every piece, so a large answer costs one piece of memory.
  auto buffer = std::make_shared<std::string>(std::min(piece, cut), '\0');
  auto send = [this, shared, buffer, size, cut, trickle, pause](std::size_t offset,
                                                                httplib::DataSink& sink) {
    if (offset >= size) {
      sink.done();  // the end of a chunked answer
      return true;
    }
    if (offset >= cut) return false;
    const std::size_t count =
        shared->Read(offset, buffer->data(), std::min(buffer->size(), cut - offset));
    if (trickle && !Wait(pause)) return false;
    return sink.write(buffer->data(), count);
  };
  if (faults.chunked) {
    response.set_chunked_content_provider(contentType, send);
  } else {
    response.set_content_provider(size, contentType,
                                  [send](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                    return send(offset, sink);
                                  });
  }
}

// Journals the request and returns the faults that apply to it.
Faults Sandbox::Impl::Record(const JournalEntry& entry) {
  std::lock_guard lock(mutex);
  journal.push_back(entry);
  if (faults.share >= 1.0) return faults;
  const bool drawn = std::uniform_real_distribution<double>(0.0, 1.0)(draws) < faults.share;
  return drawn ? faults : Faults{};
}

void Sandbox::Impl::Report(const Served& served) {
  std::function<void(const Served&)> call;
  {
    std::lock_guard lock(mutex);
    call = observer;
  }
  if (call) call(served);
}

Reply Sandbox::Impl::Decide(const httplib::Request& request, const OrderBody* body) {
  std::string prefix;
  {
    std::lock_guard lock(mutex);
    prefix = basePath;
  }
  const Operation operation = OperationOf(request, prefix);
  if (operation == Operation::None) {
    return Refusal(404, "Recurso não encontrado: " + request.method + " " + request.path);
  }
  if (request.get_param_value("pdv") != "true") return Refusal(400, "Parâmetro pdv=true ausente");
  if (operation == Operation::QueryCustomer) {
    return service.QueryCustomer(request.get_param_value("cpf"));
  }
  if (!body->error.empty()) return Refusal(400, "Requisição inválida: " + body->error);
  const pugi::xml_node order = body->xml.document_element();
  switch (operation) {
    case Operation::ValidatePromocode:
      return service.ValidatePromocode(order);
    case Operation::RecordOrder:
      return service.RecordOrder(order);
    default:
      return service.CancelOrder(order);
  }
}

bool Sandbox::Impl::Wait(std::chrono::milliseconds pause) {
  std::unique_lock lock(mutex);
  return !stopped.wait_for(lock, pause, [this] { return stopping; });
}

// Binds a new server; the caller holds the lifecycle lock.
void Sandbox::Impl::Open(int requestedPort, const std::string& address, const TlsFiles* tlsFiles) {
  if (server) throw std::runtime_error("sandbox: already serving on port " + std::to_string(port));
  auto fresh = tlsFiles != nullptr
                   ? std::make_unique<HttpServer>(tlsFiles->certFile, tlsFiles->keyFile)
                   : std::make_unique<HttpServer>();
  const auto serve = [this](const httplib::Request& request, httplib::Response& response) {
    Serve(request, response);
  };
  // Bodies are read through a content reader: httplib refuses a plain form body
  // over 8 KiB with 413 before any handler runs, and a large sale is bigger.
  const auto serveWithBody = [this](const httplib::Request& request, httplib::Response& response,
                                    const httplib::ContentReader& reader) {
    httplib::Request withBody = request;
    const bool whole = reader([&withBody](const char* data, std::size_t length) {
      withBody.body.append(data, length);
      return true;
    });
    // A body cut short (the client went, or Stop closed the connection) is
    // no request: served, it would be journaled and answered as one with a
    // malformed body that no client sent.
    if (!whole) {
      response.status = 400;
      return;
    }
    Serve(withBody, response);
  };
  fresh->Get(".*", serve).Post(".*", serveWithBody).Put(".*", serveWithBody);
  fresh->Patch(".*", serve).Delete(".*", serve).Options(".*", serve);

  errno = 0;
  const int bound = requestedPort == 0
                        ? fresh->bind_to_any_port(address)
                        : (fresh->bind_to_port(address, requestedPort) ? requestedPort : -1);
  if (bound <= 0) throw std::runtime_error(CannotListen(address, requestedPort, errno));
  {
    std::lock_guard lock(mutex);
    stopping = false;
  }
  port = bound;
  host = address;
  tls = tlsFiles != nullptr;
  server = std::move(fresh);
}

// Gives up a server that has stopped listening; the caller holds the lifecycle lock.
void Sandbox::Impl::Retire() {
  connectionsOfEarlierServers += server->AcceptedConnections();
  server.reset();
}

Sandbox::Sandbox(Fixture fixture) : impl_(std::make_unique<Impl>(fixture)) {}

Sandbox::~Sandbox() {
  Stop();
}

// Serves on a thread of its own; returns once the server accepts connections.
void Sandbox::Impl::Launch(int requestedPort, const std::string& address,
                           const TlsFiles* tlsFiles) {
  std::lock_guard lock(lifecycle);
  Open(requestedPort, address, tlsFiles);
  listenEnded = false;
  HttpServer* serving = server.get();
  thread = std::thread([this, serving] {
    serving->listen_after_bind();
    listenEnded = true;
  });
  while (!serving->is_running() && !listenEnded) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!serving->is_running()) {
    thread.join();
    Retire();
    throw std::runtime_error("sandbox: the server on port " + std::to_string(port) +
                             " did not start");
  }
}

void Sandbox::Start(int port, const std::string& host) {
  impl_->Launch(port, host, nullptr);
}

void Sandbox::StartTls(const std::string& certFile, const std::string& keyFile, int port) {
  const TlsFiles files{certFile, keyFile};
  impl_->Launch(port, "127.0.0.1", &files);
}

void Sandbox::Run(int port) {
  HttpServer* server = nullptr;
  {
    std::lock_guard lock(impl_->lifecycle);
    impl_->Open(port, "127.0.0.1", nullptr);
    server = impl_->server.get();
  }
  server->listen_after_bind();
  {
    std::lock_guard lock(impl_->lifecycle);
    impl_->Retire();
  }
  impl_->retired.notify_all();
}

void Sandbox::Stop() {
  std::unique_lock lock(impl_->lifecycle);
  if (!impl_->server) return;
  {
    std::lock_guard faultsLock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->stopped.notify_all();
  impl_->server->CloseConnections();
  impl_->server->stop();
  if (impl_->thread.joinable()) {
    impl_->thread.join();
    impl_->Retire();
  } else {
    impl_->retired.wait(lock, [this] { return !impl_->server; });
  }
}

int Sandbox::Port() const {
  return impl_->port;
}

std::string Sandbox::BaseUrl() const {
  std::string host;
  {
    std::lock_guard lock(impl_->lifecycle);
    host = impl_->host;
  }
  // An IPv6 address goes in brackets, so its colons are not taken for the port's.
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  std::string path;
  {
    std::lock_guard lock(impl_->mutex);
    path = impl_->basePath.empty() ? "/" : impl_->basePath;
  }
  return std::string(impl_->tls ? "https://" : "http://") + host + ":" + std::to_string(Port()) +
         path;
}

void Sandbox::SetFaults(const Faults& faults) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults = faults;
}

void Sandbox::SetLatency(std::chrono::milliseconds pause) {
  std::lock_guard lock(impl_->mutex);
  impl_->latency = pause;
}

void Sandbox::SetBasePath(const std::string& prefix) {
  std::string path = prefix;
  if (!path.empty()) {
    if (!path.starts_with('/')) path.insert(path.begin(), '/');
    if (!path.ends_with('/')) path += '/';
  }
  std::lock_guard lock(impl_->mutex);
  impl_->basePath = std::move(path);
}

void Sandbox::SetObserver(std::function<void(const Served&)> observer) {
  std::lock_guard lock(impl_->mutex);
  impl_->observer = std::move(observer);
}

void Sandbox::ReplaceCustomer(const Customer& customer) {
  impl_->service.ReplaceCustomer(customer);
}

std::vector<std::string> Sandbox::RecordedOrders() const {
  return impl_->service.RecordedOrders();
}

std::vector<JournalEntry> Sandbox::Journal() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->journal;
}

void Sandbox::ClearJournal() {
  std::lock_guard lock(impl_->mutex);
  impl_->journal.clear();
}

std::size_t Sandbox::AcceptedConnections() const {
  std::lock_guard lock(impl_->lifecycle);
  return impl_->connectionsOfEarlierServers +
         (impl_->server ? impl_->server->AcceptedConnections() : 0);
}

}  // namespace lumirex::sandbox
