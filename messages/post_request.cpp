#include "messages/order_document.hpp"
#include "messages/requests.hpp"

namespace lumirex {

void FinishPostRequest(RequestParts out, OrderWriter& order, const char* urlTail) {
  std::string xml = order.Finish();
  out.requestStream += RequestBodyEnvelope(xml);
  if (out.orderXml != nullptr) *out.orderXml = std::move(xml);
  out.urlTail = urlTail;
}

}  // namespace lumirex
