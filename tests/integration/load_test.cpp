// Many calls through the C ABI against the sandbox: four tills' threads at
// once, each told its own answers, every call a whole block of the log, every
// request in the service's journal; and a long run that keeps memory flat.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <thread>

#include "cli/cli_process.hpp"
#include "database/sqlite_database.hpp"
#include "end_to_end.hpp"
#include "memory_probe.hpp"
#include "support/codepage.hpp"

using lumirex::Variant;
using ::testing::HasSubstr;

namespace calltest {
namespace {

constexpr int kThreads = 4;
constexpr int kCallsEach = 250;
constexpr std::size_t kLinesPerCall = 13;
const std::vector<std::string> kCycle = {"CONSULTA", "VALIDA_PROMOCODE", "VENDA", "VENDA_CANC"};

// A till making calls: its customer, and its sale (the demo sale, or a copy
// on a till of its own), so that its answers tell whether they were meant for it.
struct Till {
  std::string cpf, name, till, orderId;

  // The till of the demo sale and the sandbox's first customer.
  static Till Demo() { return {kCpf, "Jo\xE3o da Silva", kTill, OrderId(kTill)}; }
  // Till 10<index>, whose customer the test adds to the sandbox.
  static Till Numbered(int index) {
    const std::string till = "10" + std::to_string(index);
    return {"1000000000" + std::to_string(index), "Cliente " + std::to_string(index), till,
            OrderId(till)};
  }
  static std::string OrderId(const std::string& till) {
    return kBranch + till + "05/03/2024" + kSequence;
  }

  // What the service answers this till's call of the operation, in UTF-8.
  std::string Message(const std::string& operation) const {
    if (operation == "CONSULTA") return "Cliente encontrado";
    if (operation == "VALIDA_PROMOCODE") return "Promocode " + kPromocode + " v\xC3\xA1lido";
    if (operation == "VENDA") return "Venda " + orderId + " registrada";
    return "Venda " + orderId + " cancelada";
  }
};

class ManyCalls : public EndToEnd {
 protected:
  // The parameters of the till's call of the operation, addressed to url.
  std::vector<std::string> ParamsOf(const Till& till, const std::string& operation,
                                    const std::string& url) const {
    std::vector<std::string> params = operation == "CONSULTA"           ? Consulta(till.cpf)
                                      : operation == "VALIDA_PROMOCODE" ? Validation(till.cpf)
                                                                        : Sale(operation);
    params[1] = url;
    params[2] = till.cpf;  // a sale report does not use it; the log shows whose call it was
    params[4] = till.till;
    return params;
  }

  // One call through the C ABI; "" when it returned the till's right answer,
  // or else what was wrong.
  std::string CallAndCheck(const Till& till, const std::string& operation, const std::string& url) {
    CArray params(ParamsOf(till, operation, url));
    CArray result(5);
    if (!CallThroughC(params, result)) return operation + " returned false";
    const Variant answer = result.Value();
    // Messages reach the caller in the till's code page; the customer's name as sent.
    const Variant message(lumirex::Utf8ToAnsi(till.Message(operation)));
    if (answer.items()[0] != Variant(false) || answer.items()[1] != message) {
      return operation + " answered " + ::testing::PrintToString(answer);
    }
    if (operation == "CONSULTA" && answer.items()[2] != Variant(till.name)) {
      return "CONSULTA answered the name " + ::testing::PrintToString(answer.items()[2]);
    }
    return "";
  }
};

class Load : public ManyCalls {
 protected:
  void SetUp() override {
    ManyCalls::SetUp();
    for (int t = 0; t < kThreads; ++t) {
      const Till& till = tills_.emplace_back(Till::Numbered(t));
      lumirex::sandbox::Customer customer{till.cpf, till.name, 100, {}};
      customer.promocodes.push_back({kPromocode, "Boas-vindas", {"discount", 1000}, ""});
      sandbox_.ReplaceCustomer(customer);
      CopyDemoSaleTo(till.till);
    }
  }

  std::vector<Till> tills_;
};

// The part of a request that tells whose it was: the query string of a
// customer query, the CPF or the order's id in a document.
std::string Whose(const std::string& urlTail, const std::string& document) {
  for (const char* tag : {"userId", "orderId"}) {
    const std::string open = std::string("<") + tag + ">";
    const auto start = document.find(open);
    if (start == std::string::npos) continue;
    const auto end = document.find('<', start + open.size());
    return urlTail + " " + document.substr(start + open.size(), end - start - open.size());
  }
  return urlTail;
}

TEST_F(Load, FourTillsAtOnceEachGetTheirOwnAnswersAndAWholeLogBlockPerCall) {
  sandbox_.ClearJournal();
  std::vector<std::vector<std::string>> faults(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsEach; ++i) {
        const std::string fault =
            CallAndCheck(tills_[t], kCycle[i % kCycle.size()], sandbox_.BaseUrl());
        if (!fault.empty()) faults[t].push_back(std::to_string(i) + ": " + fault);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_THAT(faults[t], ::testing::IsEmpty()) << "till " << t;
  EXPECT_TRUE(services_->messages.empty());

  // Every line whole and stamped; the calls' blocks one after the other, each
  // naming one till from start to end, each till's calls in the order made.
  const auto raw = testkit::ReadCrlfLines(lumirex::LogFilePath());
  ASSERT_EQ(raw.size(), kLinesPerCall * kThreads * kCallsEach);
  const std::regex stamped(R"(\d\d/\d\d/\d{4}( \d\d:\d\d:\d\d)? - [^]*)");
  std::vector<std::string> lines;
  for (const std::string& line : raw) {
    ASSERT_TRUE(std::regex_match(line, stamped)) << line.substr(0, 100);
    lines.push_back(line.substr(line.find(" - ") + 3));
  }
  std::map<std::string, int> madeByTill;  // CPF → calls seen so far
  std::multiset<std::string> logged;
  for (std::size_t block = 0; block < lines.size(); block += kLinesPerCall) {
    SCOPED_TRACE("the block at line " + std::to_string(block + 1));
    ASSERT_EQ(lines[block], kSeparator);
    ASSERT_EQ(lines[block + 1], "INICIO");
    const std::string operation = lines[block + 2].substr(15);
    const std::string cpf = lines[block + 3].substr(15);
    const auto till = std::find_if(tills_.begin(), tills_.end(),
                                   [&](const Till& each) { return each.cpf == cpf; });
    ASSERT_NE(till, tills_.end()) << lines[block + 3];
    EXPECT_EQ(operation, kCycle[madeByTill[cpf]++ % kCycle.size()]);
    const std::string url = lines[block + 8].substr(15);
    EXPECT_THAT(url, ::testing::StartsWith(sandbox_.BaseUrl()));
    EXPECT_EQ(lines[block + 5], "P_CDCAIXA    = " + till->till);
    EXPECT_THAT(lines[block + 11], HasSubstr(till->Message(operation)));
    EXPECT_EQ(lines[block + 12], "FIM");
    logged.insert(Whose(url.substr(sandbox_.BaseUrl().size()), lines[block + 9]));
  }
  for (const Till& till : tills_) EXPECT_EQ(madeByTill[till.cpf], kCallsEach);

  // The service received exactly the requests the log shows were sent.
  std::multiset<std::string> received;
  for (const auto& entry : sandbox_.Journal()) {
    received.insert(Whose(entry.path.substr(1) + "?" + entry.query, entry.document));
  }
  EXPECT_EQ(received.size(), logged.size());
  EXPECT_TRUE(received == logged);
}

// Ten thousand calls one after the other against the sandbox in a process of
// its own, as the service is: the process's resident memory after the first
// thousand calls is what it stays. The figures go to the test's output.
TEST_F(ManyCalls, TenThousandInARowKeepMemoryFlat) {
  if (!kPeakShowsWhatTheCallHeld) GTEST_SKIP() << "a sanitizer's allocator keeps its own memory";
  // Served in this process, the sandbox's own allocations would count as ours.
  clitest::Background service({"sandbox"});
  const std::string url = service.ReadLine();
  ASSERT_THAT(url, ::testing::StartsWith("http://"));

  constexpr int kCalls = 10000, kSample = 1000;
  const Till till = Till::Demo();
  std::vector<long> residentKiB;
  for (int i = 0; i < kCalls; ++i) {
    ASSERT_EQ(CallAndCheck(till, kCycle[i % kCycle.size()], url), "") << "call " << i;
    if (i % 100 == 99) services_->calls.clear();  // the test's own record of the exchanges
    if ((i + 1) % kSample == 0) residentKiB.push_back(StatusKiB("VmRSS"));
  }
  std::string figures;
  for (std::size_t s = 0; s < residentKiB.size(); ++s) {
    figures += std::to_string((s + 1) * kSample) + ": " + std::to_string(residentKiB[s]) + " KiB ";
  }
  RecordProperty("resident_after_each_thousand_calls", figures);
  std::cout << "resident memory after each thousand calls: " << figures << "\n";
  // A leak of 30 bytes a call would add more over the last nine thousand.
  EXPECT_LT(residentKiB.back() - residentKiB.front(), 256) << figures;
}

}  // namespace
}  // namespace calltest
