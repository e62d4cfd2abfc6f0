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

void SetResultElement(Variant& result, std::size_t index, Variant value) {
  if (!result.isArray()) {
    throw ResultArrayError("the result is not an array; element " + std::to_string(index) +
                           " cannot be written");
  }
  std::vector<Variant>& items = result.items();
  if (index >= items.size()) {
    throw ResultArrayError("the result array has " + std::to_string(items.size()) +
                           " elements; element " + std::to_string(index) + " cannot be written");
  }
  items[index] = std::move(value);
}

Variant getRetVenda(std::string_view response, Variant& result, std::exception_ptr* failure) {
  ResponseDocument document;
  // The service's verdict lands in the result; whether the reading itself
  // worked is all the return value says, so nothing raised here escapes.
  try {
    document.Load(response);
    RequireVerdict(document);
    CommonPart common = ReadCommonPart(document);
    SetResultElement(result, 0, Variant(common.errorFlag));
    SetResultElement(result, 1, Variant(std::move(common.message)));
    return Variant(true);
  } catch (...) {
    if (failure != nullptr) *failure = std::current_exception();
    return Variant(false);
  }
}

}  // namespace lumirex
