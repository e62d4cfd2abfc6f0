// The operations, one row each: what the call, the outbox, the log reader,
// the command and the sandbox know of an operation. How its request is built
// and its answer read are bound to the row in integration/operation_steps.cpp,
// the one layer that knows documents and the data module.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>

namespace lumirex {

enum class OperationId { CustomerQuery, PromocodeValidation, SaleReport, CancellationReport };

struct Operation {
  OperationId id;
  std::string_view name;       // the host's code, parameter 0
  std::string_view method;     // "GET" or "POST"
  std::string_view path;       // under the service's base URL, before the query
  std::size_t parameters;      // elements the parameter list must hold
  std::size_t resultElements;  // elements the answer fills in the result array
  bool report;                 // a sale report: kept in the outbox, its verdict settles it
  std::string_view command;    // the lumirex subcommand that makes it
  std::string_view summary;    // what it does, as the command's help says
};

// In the order the call tests for them; indexed by OperationId.
inline constexpr Operation kOperations[] = {
    {OperationId::CustomerQuery, "CONSULTA", "GET", "user", 6, 5, false, "consulta",
     "Customer query: name, cashback balance and promocodes of a CPF"},
    {OperationId::PromocodeValidation, "VALIDA_PROMOCODE", "POST", "validate", 10, 2, false,
     "valida-promocode", "Ask whether a promocode applies to a sale being rung up"},
    {OperationId::SaleReport, "VENDA", "POST", "order", 6, 2, true, "venda",
     "Report a sale, read from the point-of-sale database"},
    {OperationId::CancellationReport, "VENDA_CANC", "POST", "order/cancel", 6, 2, true,
     "venda-canc", "Report the cancellation of a sale"},
};

constexpr bool RowsInOrderOfTheirIds() {
  for (std::size_t i = 0; i < std::size(kOperations); ++i) {
    if (static_cast<std::size_t>(kOperations[i].id) != i) return false;
  }
  return true;
}
static_assert(RowsInOrderOfTheirIds(), "kOperations is indexed by OperationId");

constexpr const Operation& OperationOf(OperationId id) {
  return kOperations[static_cast<std::size_t>(id)];
}

// The row of an operation code, compared exactly; null for any other text.
constexpr const Operation* OperationNamed(std::string_view name) {
  for (const Operation& operation : kOperations) {
    if (operation.name == name) return &operation;
  }
  return nullptr;
}

// The URL's tail: the path and its query, `first` (already encoded) ahead of
// the "pdv=true" every request carries.
inline std::string UrlTail(const Operation& operation, std::string_view first = {}) {
  std::string tail(operation.path);
  tail += '?';
  if (!first.empty()) {
    tail += first;
    tail += '&';
  }
  return tail += "pdv=true";
}

// "CONSULTA, VALIDA_PROMOCODE, VENDA or VENDA_CANC".
inline std::string OperationNames() {
  std::string names;
  for (std::size_t i = 0; i < std::size(kOperations); ++i) {
    if (i > 0) names += i + 1 == std::size(kOperations) ? " or " : ", ";
    names += kOperations[i].name;
  }
  return names;
}

}  // namespace lumirex
