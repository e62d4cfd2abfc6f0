// A loyalty service that behaves like the real one, on 127.0.0.1, for tests,
// the demo and integrators.
#pragma once

#include <cstddef>
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
};

// Fault modes a test switches on; each applies to every later request until reset.
struct Faults {
  int stallSeconds = 0;  // wait this long before answering
  bool closeWithoutAnswer = false;
  bool serverErrorHtml = false;  // HTTP 500 with an HTML page
  bool malformedXml = false;
  std::size_t answerMiB = 0;  // pad the answer to this many MiB
  bool crlf = false;          // CR LF line breaks in the answer
};

class Sandbox {
 public:
  explicit Sandbox(Fixture fixture = DefaultFixture());
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Starts serving on 127.0.0.1 (port 0: a free one) on a thread of its own;
  // returns once it accepts connections. Raises std::runtime_error when the
  // port cannot be had or the sandbox is already serving.
  void Start(int port = 0);
  // Ends every connection and stops serving; a stall in progress is cut short.
  // Harmless when not serving. Start may be called again afterwards.
  void Stop();
  // Serves on the calling thread until Stop is called from another thread.
  void Run(int port);

  int Port() const;
  std::string BaseUrl() const;  // "http://127.0.0.1:<port>/"

  void SetFaults(const Faults& faults);
  void ReplaceCustomer(const Customer& customer);

  std::vector<JournalEntry> Journal() const;
  void ClearJournal();
  std::size_t AcceptedConnections() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lumirex::sandbox
