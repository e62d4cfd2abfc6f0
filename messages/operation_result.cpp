#include "messages/operation_result.hpp"

#include <string>
#include <utility>

#include "shared_services/shared_services.hpp"

namespace lumirex {

CommonPart ReadCommonPart(const ResponseDocument& document) {
  CommonPart common;
  if (document.IsEmptyDoc()) return common;
  const pugi::xml_node root = document.DocumentElement();
  const bool succeeded = NodeText(ChildNamed(root, "success")) == "true";
  common.errorFlag = iif(succeeded, Variant(false), Variant(true)).asBool();
  common.message = ServiceText(ChildNamed(root, "message"));
  return common;
}

void RequireVerdict(const ResponseDocument& document) {
  if (document.IsEmptyDoc() || !ChildNamed(document.DocumentElement(), "success")) {
    throw NoVerdictError();
  }
}

CommonPart getRetVenda(const ResponseDocument& document) {
  RequireVerdict(document);
  return ReadCommonPart(document);
}

}  // namespace lumirex
