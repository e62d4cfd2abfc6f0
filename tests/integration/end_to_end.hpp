// The library end to end through the C ABI, as a till calls it: the sandbox
// service, the demo point-of-sale database, and the checks that every fault
// and bad-input test makes of a call.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "c_variants.hpp"
#include "call_fixture.hpp"
#include "sandbox/sandbox.hpp"

namespace calltest {

// The demo sale (sql/sqlite/pos-demo.sql) and the sandbox's customer who bought it.
inline const std::string kBranch = "0001";
inline const std::string kTill = "001";
inline const std::string kSequence = "000123";
inline const std::string kCpf = "12345678909";
inline const std::string kPromocode = "BEMVINDO10";

// The last line a call logs before its exchange with the service.
inline const std::string kTimeoutLine = "P_TIMEOUT    = 10";

// Creates the point-of-sale schema and the demo contents in file.
void CreateDemoDatabase(const std::filesystem::path& file);

// What a call through the C ABI left.
struct Outcome {
  bool returned = false;
  lumirex::Variant result;    // the caller's result array after the call
  LumirexCallOutcome last{};  // what LumirexLastCall said right after it
  std::string lastMessage;
};

class EndToEnd : public CallTest {
 protected:
  void SetUp() override;  // the demo database where the library looks; the sandbox serving
  void TearDown() override;

  // Parameter lists of the four operations, addressed to the sandbox.
  std::vector<std::string> Consulta(const std::string& cpf = kCpf) const;
  std::vector<std::string> Sale(const std::string& operation = "VENDA",
                                const std::string& branch = kBranch,
                                const std::string& till = kTill,
                                const std::string& sequence = kSequence) const;
  std::vector<std::string> Validation(const std::string& cpf = kCpf,
                                      const std::string& promocode = kPromocode) const;

  // Copies the demo sale of till 001 to another till of the same branch.
  void CopyDemoSaleTo(const std::string& till);

  // The caller's result array before a call: count texts "caller's <i>".
  static lumirex::Variant CallersResult(int32_t count);

  // One call through the C ABI, with a result array of count elements as
  // CallersResult makes it. The operator messages of earlier calls are forgotten.
  Outcome Call(const std::vector<std::string>& params, int32_t count = 5);
  Outcome Call(const CArray& list, int32_t count = 5);  // a list the test built itself

  // The checks of a call that failed at one step: it returned false with an
  // error code, the log ends with the failure line holding reason right after
  // the line `after`, the operator and LumirexLastCall were told the same
  // once, and the caller's result array is as it was.
  void ExpectFailure(const Outcome& outcome, const std::string& after, const std::string& reason);

  // The call ran to its end and the service accepted: the fault has cleared.
  void ExpectAccepted(const std::vector<std::string>& params);

  // The call ran to its end and the service said no: its verdict reached the caller.
  void ExpectDeclined(const Outcome& outcome, const std::string& message);

  std::filesystem::path database_;
  lumirex::sandbox::Sandbox sandbox_;
};

}  // namespace calltest
