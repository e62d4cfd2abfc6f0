#include "messages/customer_query.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "dataset/data_packet.hpp"
#include "messages/answer_size.hpp"
#include "messages/operation_result.hpp"
#include "messages/response_document.hpp"
#include "support/conversions.hpp"

namespace lumirex {

namespace {

bool IsPromocode(pugi::xml_node node) {
  return node.type() == pugi::node_element && std::string_view(node.name()) == "promocode";
}

const std::array<FieldDef, 5> kColumns = PromotionColumns();
// Built as the library loads, like the columns: every answer's packet starts so.
const std::array<std::string, 2> kPacketStarts = DataPacketWriter::Starts(kColumns);

// The row's values are read in the order the service's fields have always
// been taken, so that of two faults in one promocode the same one is told,
// and written in the columns' order.
void AddPromotion(pugi::xml_node promocode, DataPacketWriter& packet) {
  const pugi::xml_node gift = ChildNamed(promocode, "gift");
  const std::string code = ServiceText(ChildNamed(promocode, "friendlyCode"));
  const std::string description = ServiceText(ChildNamed(promocode, "description"));
  const std::string type = ServiceText(ChildNamed(gift, "type"));
  const double value = conversions::ToFloat(NodeText(ChildNamed(gift, "value")));
  const double expiration =
      conversions::ToDateTime(NodeText(ChildNamed(promocode, "expiration_date")));
  packet.Text(code);
  packet.Text(description);
  packet.DateTime(expiration);
  packet.Text(type);
  packet.Number(value);
}

// The name, the balance and one row for each promocode element, in the order
// the service sent them; other children of promocodes are passed over.
void ReadUserInfo(pugi::xml_node userInfo, CustomerAnswer& answer) {
  answer.name = ServiceText(ChildNamed(userInfo, "name"));
  answer.balance = conversions::ToFloat(NodeText(ChildNamed(userInfo, "balance")));
  const pugi::xml_node promocodes = ChildNamed(userInfo, "promocodes");
  // Counted before the first row: a row costs some forty times the bytes of
  // an empty promocode element.
  const auto count =
      static_cast<std::size_t>(std::count_if(promocodes.begin(), promocodes.end(), IsPromocode));
  RequireFewPromocodes(count);
  DataPacketWriter packet(kColumns, count, kPacketStarts);
  for (pugi::xml_node child : promocodes.children()) {
    if (IsPromocode(child)) AddPromotion(child, packet);
  }
  answer.promotions = packet.Finish();
}

}  // namespace

CustomerAnswer getConsulta(const ResponseDocument& document) {
  RequireVerdict(document);
  CustomerAnswer answer;
  answer.common = ReadCommonPart(document);
  if (!answer.common.errorFlag) {
    ReadUserInfo(ChildNamed(document.DocumentElement(), "userInfo"), answer);
  } else {
    answer.promotions = DataPacketWriter(kColumns, 0, kPacketStarts).Finish();
  }
  return answer;
}

}  // namespace lumirex
