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

bool IsPromocode(pugi::xml_node node) {
  return node.type() == pugi::node_element && std::string_view(node.name()) == "promocode";
}

void AddPromotion(pugi::xml_node promocode, PromotionFields& promotions) {
  const pugi::xml_node gift = ChildNamed(promocode, "gift");
  promotions.dataset.Insert();
  promotions.CDPROMOCAO.SetAsString(ServiceText(ChildNamed(promocode, "friendlyCode")));
  promotions.DSPROMOCAO.SetAsString(ServiceText(ChildNamed(promocode, "description")));
  promotions.DSTIPPROMO.SetAsString(ServiceText(ChildNamed(gift, "type")));
  promotions.VRPROMOCAO.SetAsFloat(conversions::ToFloat(NodeText(ChildNamed(gift, "value"))));
  promotions.DTVALPROMO.SetAsDateTime(
      conversions::ToDateTime(NodeText(ChildNamed(promocode, "expiration_date"))));
  promotions.dataset.Post();
}

// The name, the balance and one row for each promocode element, in the order
// the service sent them; other children of promocodes are passed over.
void ReadUserInfo(pugi::xml_node userInfo, CustomerAnswer& answer, PromotionFields& promotions) {
  answer.name = ServiceText(ChildNamed(userInfo, "name"));
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

}  // namespace

CustomerAnswer getConsulta(const ResponseDocument& document, PromotionFields promotions) {
  // Rows of an earlier customer never travel with a new answer.
  promotions.dataset.Close();
  promotions.dataset.CreateDataSet();
  RequireVerdict(document);
  CustomerAnswer answer;
  answer.common = ReadCommonPart(document);
  if (!answer.common.errorFlag) {
    ReadUserInfo(ChildNamed(document.DocumentElement(), "userInfo"), answer, promotions);
  }
  return answer;
}

}  // namespace lumirex
