// A loyalty service that behaves like the real one, on 127.0.0.1, for tests,
// the demo and integrators.
//
// What it serves (under any base path, "/user" and "/svc/user" alike, unless
// SetBasePath names the one prefix served):
//   GET  user?cpf=CPF&pdv=true      the customer: success, message, userInfo with
//                                   name, balance (cents) and promocodes
//   POST validate?pdv=true          accepts a promocode of that customer that has
//                                   not expired
//   POST order?pdv=true             records a sale by orderInfo/orderId; a repeated
//                                   orderId is refused
//   POST order/cancel?pdv=true      cancels a recorded sale (orderId), which may then
//                                   be reported again
// POST bodies are "order=" + document + "&", percent-encoded as a whole; the
// document is read in the encoding its declaration names (Windows-1252 or
// UTF-8). Every answer is a UTF-8 document <response><success>true|false
// </success><message>…</message>…</response>. A refusal of the service is
// HTTP 200 with success false; a missing pdv=true or CPF or an unreadable body
// is HTTP 400, an unknown route 404, both with success false and the reason.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumirex::sandbox {

struct Gift {
  std::string type;  // e.g. "cashback", "discount"
  long long cents = 0;
};

struct Promocode {
  std::string friendlyCode;
  std::string description;  // UTF-8
  Gift gift;
  std::string expirationDate;  // service date text, "" for none
};

struct Customer {
  std::string cpf;
  std::string name;  // UTF-8
  long long balanceCents = 0;
  std::vector<Promocode> promocodes;
};

struct Fixture {
  std::vector<Customer> customers;
};

// A few demo customers.
Fixture DefaultFixture();
// Raises std::runtime_error with a readable message for a malformed fixture.
// The format is described at the top of sandbox/fixture.cpp.
Fixture LoadFixture(const std::string& jsonText);
// The same, from a file; the message names the file.
Fixture LoadFixtureFile(const std::string& path);

// One request as the service received it.
struct JournalEntry {
  std::string method;
  std::string path;
  std::string query;  // the raw query string, without '?'
  std::string contentType;
  std::string body;      // raw bytes
  std::string document;  // the order document as UTF-8 text, "" for a GET or a body
                         // that could not be decoded
  std::chrono::steady_clock::time_point arrived;  // when its head and body were read
};

// Fault modes a test switches on; each applies to every later request until
// reset (or to a share of them, drawn at random). A stall comes first; then
// closeWithoutAnswer wins over serverErrorHtml, which wins over rawAnswer and
// status, which win over an XML answer shaped by malformedXml, answerMiB and
// crlf (they combine). The last three shape the sending of whichever answer
// that leaves, and combine too, as does headerKiB. Every request is journaled
// whatever the faults.
struct Faults {
  int stallSeconds = 0;             // wait this long before answering
  bool closeWithoutAnswer = false;  // the client sees its connection closed, no answer
  bool serverErrorHtml = false;     // an HTML page with HTTP 500, or with status when set
  std::string rawAnswer;            // not empty: HTTP 200 with exactly these bytes as XML
  int status = 0;                   // not 0: this status with rawAnswer (empty or not) as the
                                    // body; a 3xx points elsewhere with a Location header
  std::size_t headerKiB = 0;        // an extra header line this many KiB long
  bool malformedXml = false;        // the answer's document element left unclosed
  std::size_t answerMiB = 0;        // pad the answer to exactly this many MiB, never held whole
  bool crlf = false;                // CR LF line breaks in the answer
  int trickleMilliseconds = 0;      // send the answer in ten pieces spread over this long
  std::size_t closeAfterBytes = 0;  // close the connection after this many bytes of the answer
  bool chunked = false;             // chunked transfer: the answer's length is not announced
  // The share of requests, 0 to 1, that the faults above apply to; the others
  // are answered as without faults. The draw is seeded the same for every
  // sandbox, so a run's sequence of faulted requests can be repeated.
  double share = 1.0;

  bool operator==(const Faults&) const = default;
};

// One request and what the sandbox made of it, for watching it live.
struct Served {
  JournalEntry request;
  bool faulted = false;         // faults were applied to this request
  int status = 0;               // the answer's HTTP status; 0 when no answer was given
  std::optional<bool> success;  // the service's verdict, when the service decided
  std::string message;          // the verdict's message, UTF-8
};

class Sandbox {
 public:
  explicit Sandbox(Fixture fixture = DefaultFixture());
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Starts serving on host (port 0: a free one) on a thread of its own;
  // returns once it accepts connections. Raises std::runtime_error when the
  // port cannot be had or the sandbox is already serving.
  void Start(int port = 0, const std::string& host = "127.0.0.1");
  // The same over HTTPS, with the certificate chain and the private key of
  // these PEM files; also raises when they cannot be used.
  void StartTls(const std::string& certFile, const std::string& keyFile, int port = 0);
  // Ends every connection and stops serving; a stall in progress is cut short.
  // Harmless when not serving. Start may be called again afterwards.
  void Stop();
  // Serves on the calling thread until Stop is called from another thread.
  void Run(int port);

  int Port() const;
  // "http://127.0.0.1:<port>/" and the base path, "https://..." once StartTls.
  std::string BaseUrl() const;

  void SetFaults(const Faults& faults);
  // Every answer, faulted or not, waits this long first: a service some way
  // off, for measuring calls side by side. 0 (the default) answers at once.
  void SetLatency(std::chrono::milliseconds latency);
  // Serves only under this path prefix ("/api/": "/api/user", ...); any other
  // path is an unknown route. "" (the default) serves under any prefix.
  void SetBasePath(const std::string& prefix);
  // Called once per request, on the thread serving it (several at once when
  // clients overlap), when its answer has been decided; null for none.
  void SetObserver(std::function<void(const Served&)> observer);
  // Adds the customer, or replaces the one with that CPF; served as given,
  // without the checks a fixture file goes through.
  void ReplaceCustomer(const Customer& customer);
  // The orderIds of the sales recorded and not cancelled, over restarts.
  std::vector<std::string> RecordedOrders() const;

  // Every request since construction or the last ClearJournal, in order of
  // arrival, whatever its route or the faults in force.
  std::vector<JournalEntry> Journal() const;
  void ClearJournal();
  // TCP connections accepted since construction, over restarts; a keep-alive
  // client making many requests counts once.
  std::size_t AcceptedConnections() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lumirex::sandbox
