// The request branches of the three POST operations. Each builds its order
// document, writes the envelope into the request stream, and sets the URL tail
// as its last step.
#pragma once

#include <string>
#include <vector>

#include "database/query.hpp"
#include "dataset/dataset.hpp"
#include "lumirex/lumirex.hpp"
#include "messages/order_document.hpp"
#include "support/operations.hpp"

namespace lumirex {

struct RequestParts {
  std::string& requestStream;
  std::string& urlTail;
  // Where given, the document as written once for the body, which the log
  // and the outbox reuse, and the order it names (reports only), so nobody
  // writes it again or searches it back out of the text.
  std::string* orderXml = nullptr;
  std::string* orderId = nullptr;
};

// Writes the document's envelope into the request stream, then sets the URL
// tail of the operation's row.
void FinishPostRequest(RequestParts out, OrderWriter& order, OperationId operation);

// "VALIDA_PROMOCODE": parameters 6 to 9 (the list holds at least ten), CPF
// from parameter 2. Leaves the promocode (parameter 6) in promocode.
void BuildValidationRequest(const std::vector<Variant>& params, TClientDataSet& cdsVenda,
                            std::string& promocode, RequestParts out);

struct SaleKey {
  std::string branch;    // P_CDFILIAL
  std::string till;      // P_CDCAIXA
  std::string sequence;  // P_NRSEQVENDA
};

// "VENDA": opens both sale queries with the key and builds the sale document.
void BuildSaleRequest(const SaleKey& key, TADOQuery& adqVenda, TADOQuery& adqItemVenda,
                      RequestParts out);

// "VENDA_CANC": opens the header query and builds the cancellation document.
void BuildCancellationRequest(const SaleKey& key, TADOQuery& adqVenda, RequestParts out);

}  // namespace lumirex
