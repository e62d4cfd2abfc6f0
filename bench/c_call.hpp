// One integration call as a C host makes it: a parameter list of six strings,
// built once, and a result array of five, made afresh for every call.
#pragma once

#include <string>
#include <vector>

#include "lumirex/lumirex.h"

namespace lumirex::bench {

class CCall {
 public:
  // Operation, service URL, CPF, branch, till, sale sequence number.
  explicit CCall(const std::vector<std::string>& parameters);
  ~CCall();
  CCall(const CCall&) = delete;
  CCall& operator=(const CCall&) = delete;

  // What IntegracaoLumirex returned: the exchange and the reading ran to their end.
  bool Run();
  // The service accepted the last call (result element 0 false).
  bool Accepted() const;
  // Result element `index` as text ("" when not a string).
  std::string Text(int index) const;

 private:
  LumirexVariant params_;
  LumirexVariant result_;
};

// The parameter lists of the two operations the benchmark calls.
std::vector<std::string> ConsultaParameters(const std::string& url, const std::string& cpf);
std::vector<std::string> VendaParameters(const std::string& url);

}  // namespace lumirex::bench
