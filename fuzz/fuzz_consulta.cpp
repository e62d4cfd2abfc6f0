// getConsulta on any bytes, loaded as a call loads them, with the promotions
// dataset of the data module, kept from one input to the next as the module
// keeps it between calls. Whatever the answer, the reading never crashes (it
// may raise); a refused customer brings no promocodes, and the packet is one
// the host (and we) can read back.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

#include "dataset/data_packet.hpp"
#include "fuzz/fuzz_check.hpp"
#include "messages/customer_query.hpp"

namespace {

using lumirex::FieldType;
using lumirex::TClientDataSet;
using lumirex::TField;

// The dataset and persistent fields as the data module declares them.
struct Promotions {
  TClientDataSet dataset;
  TField CDPROMOCAO = dataset.AddField(lumirex::PromotionColumns()[0]);
  TField DSPROMOCAO = dataset.AddField(lumirex::PromotionColumns()[1]);
  TField DTVALPROMO = dataset.AddField(lumirex::PromotionColumns()[2]);
  TField DSTIPPROMO = dataset.AddField(lumirex::PromotionColumns()[3]);
  TField VRPROMOCAO = dataset.AddField(lumirex::PromotionColumns()[4]);

  lumirex::PromotionFields Fields() {
    return {dataset, CDPROMOCAO, DSPROMOCAO, DTVALPROMO, DSTIPPROMO, VRPROMOCAO};
  }
};

void CheckRead(const lumirex::CustomerAnswer& answer, const Promotions& promotions) {
  if (answer.common.errorFlag) FUZZ_CHECK(promotions.dataset.RecordCount() == 0);
  const lumirex::DataPacket packet = lumirex::ReadDataPacket(promotions.dataset.GetData());
  FUZZ_CHECK(packet.fields.size() == promotions.dataset.FieldCount());
  FUZZ_CHECK(packet.rows.size() == promotions.dataset.RecordCount());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Promotions promotions;
  const std::string_view response(reinterpret_cast<const char*>(data), size);
  lumirex::CustomerAnswer answer;
  try {
    lumirex::ResponseDocument document;
    document.Load(response);
    answer = lumirex::getConsulta(document, promotions.Fields());
  } catch (const std::exception&) {
    return 0;  // an answer that cannot be read: the call says so
  }
  CheckRead(answer, promotions);
  return 0;
}
