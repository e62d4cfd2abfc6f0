#include "messages/customer_query.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "messages/answer_size.hpp"
#include "messages/operation_result.hpp"
#include "messages/response_document.hpp"
#include "support/conversions.hpp"

namespace lumirex {

namespace {

// What the answer says about the customer, gathered before any of it is
// written, so a failure half-way leaves the caller's elements untouched.
struct CustomerAnswer {
  CommonPart common;
  std::string name;
  double balance = 0;
};

bool IsPromocode(pugi::xml_node node) {
  return node.type() == pugi::node_element && std::string_view(node.name()) == "promocode";
}

void AddPromotion(pugi::xml_node promocode, PromotionFields& promotions) {
  const pugi::xml_node gift = ChildNamed(promocode, "gift");
  promotions.dataset.Insert();
  promotions.CDPROMOCAO.SetAsString(NodeText(ChildNamed(promocode, "friendlyCode")));
  promotions.DSPROMOCAO.SetAsString(NodeText(ChildNamed(promocode, "description")));
  promotions.DSTIPPROMO.SetAsString(NodeText(ChildNamed(gift, "type")));
  promotions.VRPROMOCAO.SetAsFloat(conversions::ToFloat(NodeText(ChildNamed(gift, "value"))));
  promotions.DTVALPROMO.SetAsDateTime(
      conversions::ToDateTime(NodeText(ChildNamed(promocode, "expiration_date"))));
  promotions.dataset.Post();
}

// The name, the balance and one row for each promocode element, in the order
// the service sent them; other children of promocodes are passed over.
void ReadUserInfo(pugi::xml_node userInfo, CustomerAnswer& answer, PromotionFields& promotions) {
  answer.name = NodeText(ChildNamed(userInfo, "name"));
  answer.balance = conversions::ToFloat(NodeText(ChildNamed(userInfo, "balance")));
  const pugi::xml_node promocodes = ChildNamed(userInfo, "promocodes");
  // Counted before the first row: a row and its share of the packet cost
  // some forty times the bytes of an empty promocode element.
  RequireFewPromocodes(
      static_cast<std::size_t>(std::count_if(promocodes.begin(), promocodes.end(), IsPromocode)));
  for (pugi::xml_node child : promocodes.children()) {
    if (IsPromocode(child)) AddPromotion(child, promotions);
  }
}

// Reads the answer into `answer` and the promotions dataset. The document
// lives only for this reading, so that the tree of a large answer is gone
// before its packet is written, rather than both being held at once.
void ReadAnswer(std::string_view response, CustomerAnswer& answer, PromotionFields& promotions) {
  ResponseDocument document;
  document.Load(response);
  RequireVerdict(document);
  answer.common = ReadCommonPart(document);
  if (!answer.common.errorFlag) {
    ReadUserInfo(ChildNamed(document.DocumentElement(), "userInfo"), answer, promotions);
  }
}

}  // namespace

Variant getConsulta(std::string_view response, Variant& result, PromotionFields promotions,
                    std::exception_ptr* failure) {
  // As with every answer, a failure only makes the reading return false; the
  // result is written last, so until then the caller's elements stay as they were.
  try {
    // Rows of an earlier customer never travel with a new answer.
    promotions.dataset.Close();
    promotions.dataset.CreateDataSet();

    CustomerAnswer answer;
    ReadAnswer(response, answer, promotions);

    SetResultElement(result, 0, Variant(answer.common.errorFlag));
    SetResultElement(result, 1, Variant(std::move(answer.common.message)));
    SetResultElement(result, 2, Variant(std::move(answer.name)));
    SetResultElement(result, 3, Variant(answer.balance));
    SetResultElement(result, 4, Variant(promotions.dataset.GetData()));
    return Variant(true);
  } catch (...) {
    if (failure != nullptr) *failure = std::current_exception();
    return Variant(false);
  }
}

}  // namespace lumirex
