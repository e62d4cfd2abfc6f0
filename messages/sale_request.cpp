#include <string>

#include "messages/order_document.hpp"
#include "messages/requests.hpp"
#include "support/conversions.hpp"
#include "support/number_text.hpp"

namespace lumirex {

namespace {

void BindSaleKey(TADOQuery& query, const SaleKey& key) {
  query.Close();
  query.SetParameter("P_CDFILIAL", key.branch);
  query.SetParameter("P_CDCAIXA", key.till);
  query.SetParameter("P_NRSEQVENDA", key.sequence);
}

void OpenSaleQuery(TADOQuery& query, const SaleKey& key) {
  BindSaleKey(query, key);
  query.Open();
}

std::string TextOf(TADOQuery& query, const char* column) {
  return query.FieldByName(column).AsString();
}

std::string CentsOf(TADOQuery& query, const char* column) {
  return conversions::ToString(query.FieldByName(column).AsFloat());
}

// The order a report names, as its element holds it.
void KeepOrderId(std::string_view orderId, RequestParts out) {
  if (out.orderId != nullptr) *out.orderId = WithoutNul(orderId);
}

// The header of a sale: customer, branch, promotion and totals. A key
// that matches no sale leaves the header without a row, and every column then
// reads as "", 0 or the zero date-time: the document is still sent and the
// service decides.
void AppendSaleHeader(OrderWriter& order, TADOQuery& header, RequestParts out) {
  order.Open("customer");
  order.Leaf("cpf", TextOf(header, "NRCPFLUMIREX"));
  order.Close("customer");

  order.Open("unityDetails");
  order.Leaf("unityId", TextOf(header, "CDFILIAL"));
  order.Leaf("unityName", TextOf(header, "NMFILIAL"));
  order.Close("unityDetails");

  order.Open("promotion");
  order.Leaf("usedPromocodeId", TextOf(header, "CDPROMOLUMIREX"));
  order.Close("promotion");

  order.Open("orderInfo");
  order.Leaf("orderOrigin", "PDV");
  const std::string orderId = TextOf(header, "IDVENDA");
  order.Leaf("orderId", orderId);
  KeepOrderId(orderId, out);
  order.Leaf("entryDate", conversions::ToDateTimeORVO(header.FieldByName("DTVENDA").AsDateTime()));
  order.Leaf("productTotal", CentsOf(header, "VRTOTPROD"));
  order.Leaf("deliveryFee", CentsOf(header, "VRACREVENDA"));
  order.Leaf("discount", CentsOf(header, "VRDESCVENDA"));
  order.Leaf("cashbackUsed", CentsOf(header, "VRDESCCASHORVO"));
  order.Leaf("valueToCashback", CentsOf(header, "VRTOTVENDA"));
  order.Close("orderInfo");
}

// The items: one products element per product and unit price.
void AppendSaleItems(OrderWriter& order, TADOQuery& items) {
  for (items.First(); !items.Eof(); items.Next()) {
    order.Open("products");
    order.Leaf("idUnityItem", TextOf(items, "CDPRODUTO"));
    order.Leaf("name", TextOf(items, "NMPRODUTO"));
    // The quantity as a number's text, not cents; read as a number first so
    // that a sum the database hands back as "2.0" still reads "2".
    order.Leaf("amount", FloatToStr(items.FieldByName("QTPRODVEND").AsFloat()));
    order.Leaf("price", CentsOf(items, "VRUNITVEND"));
    order.Close("products");
  }
}

}  // namespace

void BuildSaleRequest(const SaleKey& key, TADOQuery& adqVenda, TADOQuery& adqItemVenda,
                      RequestParts out) {
  BindSaleKey(adqVenda, key);
  BindSaleKey(adqItemVenda, key);
  {
    // The header's totals and the items come from one state of the sale.
    const ReadTogether reading(adqVenda.Connection());
    adqVenda.Open();
    adqItemVenda.Open();
  }
  adqVenda.First();

  OrderWriter order;
  AppendSaleHeader(order, adqVenda, out);
  AppendSaleItems(order, adqItemVenda);

  FinishPostRequest(out, order, OperationId::SaleReport);
}

void BuildCancellationRequest(const SaleKey& key, TADOQuery& adqVenda, RequestParts out) {
  OpenSaleQuery(adqVenda, key);
  adqVenda.First();

  OrderWriter order;
  const std::string orderId = TextOf(adqVenda, "IDVENDA");
  order.Leaf("orderId", orderId);
  KeepOrderId(orderId, out);

  FinishPostRequest(out, order, OperationId::CancellationReport);
}

}  // namespace lumirex
