#include "messages/operation_result.hpp"

#include <string>
#include <utility>

#include "shared_services/shared_services.hpp"
#include "support/codepage.hpp"
#include "support/host_text.hpp"

namespace lumirex {

CommonPart ReadCommonPart(const ResponseDocument& document) {
  CommonPart common;
  if (document.IsEmptyDoc()) return common;
  const pugi::xml_node root = document.DocumentElement();
  const bool succeeded = NodeText(ChildNamed(root, "success")) == "true";
  common.errorFlag = iif(succeeded, Variant(false), Variant(true)).asBool();
  // Decoded from the service's UTF-8: to the code page, or kept as UTF-8 for
  // a UTF-8 host with broken bytes as '?'.
  const std::string message = NodeText(ChildNamed(root, "message"));
  common.message = HostIsUtf8() ? ReplaceInvalidUtf8(message) : Utf8ToAnsi(message);
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
