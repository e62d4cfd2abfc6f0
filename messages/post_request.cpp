#include "messages/order_document.hpp"
#include "messages/requests.hpp"

namespace lumirex {

void FinishPostRequest(RequestParts out, OrderWriter& order, OperationId operation) {
  std::string xml = order.Finish();
  out.requestStream += RequestBodyEnvelope(xml);
  if (out.orderXml != nullptr) *out.orderXml = std::move(xml);
  out.urlTail = UrlTail(OperationOf(operation));
}

}  // namespace lumirex
