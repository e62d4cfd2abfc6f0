#include "integration/operation_steps.hpp"

#include <iterator>
#include <string>

#include "integration/call_outcome.hpp"
#include "messages/operation_result.hpp"
#include "shared_services/shared_services.hpp"
#include "support/url.hpp"

namespace lumirex {

namespace {

// "VENDA 0001/001/000123: ", or the operation alone when the key is empty.
std::string BranchContext(const HostTexts& texts) {
  std::string context = texts.operation;
  if (!texts.branch.empty() || !texts.till.empty() || !texts.sequence.empty()) {
    context += " " + texts.branch + "/" + texts.till + "/" + texts.sequence;
  }
  return context + ": ";
}

// Runs a request branch; what fails in it names the operation and the sale
// key, so support knows which sale to look at.
template <typename Branch>
void RunBranch(const HostTexts& texts, Branch&& branch) {
  try {
    branch();
  } catch (...) {
    RethrowNamingData(BranchContext(texts));
  }
}

SaleKey KeyOf(const HostTexts& texts) {
  return SaleKey{texts.branch, texts.till, texts.sequence};
}

void BuildCustomerQuery(RequestInput& input) {
  // Encoded, so a CPF holding "&", "=" or blanks cannot add or change query parameters.
  input.out.urlTail =
      UrlTail(OperationOf(OperationId::CustomerQuery), "cpf=" + PercentEncode(input.texts.cpf));
}

void BuildValidation(RequestInput& input) {
  RunBranch(input.texts, [&] {
    BuildValidationRequest(input.params, input.module.cdsVenda, input.texts.promocode, input.out);
  });
}

void BuildSale(RequestInput& input) {
  RunBranch(input.texts, [&] {
    input.module.UseConnectionString(Services()->GetStringConexVex());
    BuildSaleRequest(KeyOf(input.texts), input.module.adqVenda, input.module.adqItemVenda,
                     input.out);
  });
}

void BuildCancellation(RequestInput& input) {
  RunBranch(input.texts, [&] {
    input.module.UseConnectionString(Services()->GetStringConexVex());
    BuildCancellationRequest(KeyOf(input.texts), input.module.adqVenda, input.out);
  });
}

// A customer query's document is gone before its packet is made, so that the
// tree of a large answer and its packet are never held at once.
std::vector<Variant> ReadCustomer(std::optional<ResponseDocument> loaded, std::string_view body,
                                  TrdmIntegraLumirex& module) {
  CustomerAnswer customer;
  {
    const ResponseDocument document = AnswerDocument(std::move(loaded), body);
    customer = module.getConsulta(document);
  }
  std::vector<Variant> elements;
  elements.reserve(5);
  elements.emplace_back(customer.common.errorFlag);
  elements.emplace_back(std::move(customer.common.message));
  elements.emplace_back(std::move(customer.name));
  elements.emplace_back(customer.balance);
  elements.emplace_back(std::move(customer.promotions));
  return elements;
}

std::vector<Variant> ReadVerdict(std::optional<ResponseDocument> loaded, std::string_view body,
                                 TrdmIntegraLumirex& module) {
  CommonPart verdict = module.getRetVenda(AnswerDocument(std::move(loaded), body));
  return {Variant(verdict.errorFlag), Variant(std::move(verdict.message))};
}

// In the order of the table's rows.
constexpr OperationSteps kSteps[] = {
    {OperationId::CustomerQuery, BuildCustomerQuery, ReadCustomer},
    {OperationId::PromocodeValidation, BuildValidation, ReadVerdict},
    {OperationId::SaleReport, BuildSale, ReadVerdict},
    {OperationId::CancellationReport, BuildCancellation, ReadVerdict},
};

constexpr bool EveryRowHasItsSteps() {
  if (std::size(kSteps) != std::size(kOperations)) return false;
  for (std::size_t i = 0; i < std::size(kSteps); ++i) {
    if (kSteps[i].id != kOperations[i].id) return false;
  }
  return true;
}
static_assert(EveryRowHasItsSteps(), "each row of kOperations needs its entry in kSteps");

}  // namespace

const OperationSteps& StepsOf(const Operation& operation) {
  return kSteps[static_cast<std::size_t>(operation.id)];
}

}  // namespace lumirex
