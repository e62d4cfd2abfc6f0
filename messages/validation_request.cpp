#include <string>
#include <vector>

#include "messages/order_document.hpp"
#include "messages/requests.hpp"
#include "support/conversions.hpp"
#include "support/errors.hpp"
#include "support/number_text.hpp"

namespace lumirex {

namespace {

constexpr std::size_t kValidationParameters = 10;

void AppendProducts(OrderWriter& order, TClientDataSet& cdsVenda) {
  // The column is looked up row by row, so a packet without rows needs no
  // CDPRODUTO column at all.
  for (cdsVenda.First(); !cdsVenda.Eof(); cdsVenda.Next()) {
    order.Leaf("products", cdsVenda.FieldByName("CDPRODUTO").AsString());
  }
}

}  // namespace

void BuildValidationRequest(const std::vector<Variant>& params, TClientDataSet& cdsVenda,
                            std::string& promocode, RequestParts out) {
  if (params.size() < kValidationParameters) {
    throw ConversionError("VALIDA_PROMOCODE needs 10 parameters, the list has " +
                          std::to_string(params.size()));
  }
  promocode = VariantToText(params[6]);
  std::string storeReference = VariantToText(params[7]);
  std::string subTotal = VariantToText(params[8]);
  cdsVenda.SetData(VariantToText(params[9]));

  OrderWriter order;
  order.Leaf("userId", VariantToText(params[2]));
  order.Leaf("friendlyCode", promocode);
  order.Leaf("storeReference", storeReference);
  order.Leaf("channel", "pdv");
  AppendProducts(order, cdsVenda);
  order.Open("payment");
  // Converted after the products: a subtotal that is not a number fails the
  // call with the items already read, and nothing is sent.
  order.Leaf("subTotal", conversions::ToString(StrToFloat(subTotal)));
  order.Close("payment");

  FinishPostRequest(out, order, OperationId::PromocodeValidation);
}

}  // namespace lumirex
