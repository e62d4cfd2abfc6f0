#include <pugixml.hpp>

#include "messages/order_document.hpp"
#include "messages/requests.hpp"

namespace lumirex {

pugi::xml_node StartOrder(pugi::xml_document& document) {
  document.reset();
  return AppendElement(document, "order");
}

void FinishPostRequest(RequestParts out, OperationId operation) {
  std::string xml = SerializeOrder(out.document);
  out.requestStream += RequestBodyEnvelope(xml);
  if (out.orderXml != nullptr) *out.orderXml = std::move(xml);
  out.urlTail = UrlTail(OperationOf(operation));
}

}  // namespace lumirex
