#include <string>

#include "messages/order_document.hpp"
#include "messages/requests.hpp"
#include "support/conversions.hpp"
#include "support/number_text.hpp"

namespace lumirex {

namespace {

void OpenSaleQuery(TADOQuery& query, const SaleKey& key) {
  query.Close();
  query.SetParameter("P_CDFILIAL", key.branch);
  query.SetParameter("P_CDCAIXA", key.till);
  query.SetParameter("P_NRSEQVENDA", key.sequence);
  query.Open();
}

std::string TextOf(TADOQuery& query, const char* column) {
  return query.FieldByName(column).AsString();
}

std::string CentsOf(TADOQuery& query, const char* column) {
  return conversions::ToString(query.FieldByName(column).AsFloat());
}

// The order a report names, as its element holds it (without NUL bytes).
void KeepOrderId(pugi::xml_node element, RequestParts out) {
  if (out.orderId != nullptr) *out.orderId = element.child_value();
}

// The header of a sale: customer, branch, promotion and totals. A key
// that matches no sale leaves the header without a row, and every column then
// reads as "", 0 or the zero date-time: the document is still sent and the
// service decides. Returns the orderId element.
pugi::xml_node AppendSaleHeader(pugi::xml_node order, TADOQuery& header) {
  AppendLeaf(AppendElement(order, "customer"), "cpf", TextOf(header, "NRCPFLUMIREX"));

  pugi::xml_node unity = AppendElement(order, "unityDetails");
  AppendLeaf(unity, "unityId", TextOf(header, "CDFILIAL"));
  AppendLeaf(unity, "unityName", TextOf(header, "NMFILIAL"));

  AppendLeaf(AppendElement(order, "promotion"), "usedPromocodeId",
             TextOf(header, "CDPROMOLUMIREX"));

  pugi::xml_node info = AppendElement(order, "orderInfo");
  AppendLeaf(info, "orderOrigin", "PDV");
  const pugi::xml_node orderId = AppendLeaf(info, "orderId", TextOf(header, "IDVENDA"));
  AppendLeaf(info, "entryDate",
             conversions::ToDateTimeORVO(header.FieldByName("DTVENDA").AsDateTime()));
  AppendLeaf(info, "productTotal", CentsOf(header, "VRTOTPROD"));
  AppendLeaf(info, "deliveryFee", CentsOf(header, "VRACREVENDA"));
  AppendLeaf(info, "discount", CentsOf(header, "VRDESCVENDA"));
  AppendLeaf(info, "cashbackUsed", CentsOf(header, "VRDESCCASHORVO"));
  AppendLeaf(info, "valueToCashback", CentsOf(header, "VRTOTVENDA"));
  return orderId;
}

// The items: one products element per product and unit price.
void AppendSaleItems(pugi::xml_node order, TADOQuery& items) {
  for (items.First(); !items.Eof(); items.Next()) {
    pugi::xml_node product = AppendElement(order, "products");
    AppendLeaf(product, "idUnityItem", TextOf(items, "CDPRODUTO"));
    AppendLeaf(product, "name", TextOf(items, "NMPRODUTO"));
    // The quantity as a number's text, not cents; read as a number first so
    // that a sum the database hands back as "2.0" still reads "2".
    AppendLeaf(product, "amount", FloatToStr(items.FieldByName("QTPRODVEND").AsFloat()));
    AppendLeaf(product, "price", CentsOf(items, "VRUNITVEND"));
  }
}

}  // namespace

void BuildSaleRequest(const SaleKey& key, TADOQuery& adqVenda, TADOQuery& adqItemVenda,
                      RequestParts out) {
  OpenSaleQuery(adqVenda, key);
  OpenSaleQuery(adqItemVenda, key);
  adqVenda.First();

  pugi::xml_node order = StartOrder(out.document);
  KeepOrderId(AppendSaleHeader(order, adqVenda), out);
  AppendSaleItems(order, adqItemVenda);

  FinishPostRequest(out, OperationId::SaleReport);
}

void BuildCancellationRequest(const SaleKey& key, TADOQuery& adqVenda, RequestParts out) {
  OpenSaleQuery(adqVenda, key);
  adqVenda.First();

  pugi::xml_node order = StartOrder(out.document);
  KeepOrderId(AppendLeaf(order, "orderId", TextOf(adqVenda, "IDVENDA")), out);

  FinishPostRequest(out, OperationId::CancellationReport);
}

}  // namespace lumirex
