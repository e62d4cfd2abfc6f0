// getConsulta on any bytes, with a five-element result array and the
// promotions dataset of the data module, kept from one input to the next as
// the module keeps it between calls. Whatever the answer, the reading never
// crashes or throws; it fills all five elements or none, and the packet in
// element 4 is one the host (and we) can read back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dataset/data_packet.hpp"
#include "fuzz/fuzz_check.hpp"
#include "messages/customer_query.hpp"

namespace {

using lumirex::FieldType;
using lumirex::TClientDataSet;
using lumirex::TField;
using lumirex::Variant;

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

void CheckFilled(const std::vector<Variant>& items, const Promotions& promotions) {
  FUZZ_CHECK(items[0].type() == Variant::Type::Bool);
  FUZZ_CHECK(items[1].type() == Variant::Type::String);
  FUZZ_CHECK(items[2].type() == Variant::Type::String);
  FUZZ_CHECK(items[3].type() == Variant::Type::Double);
  FUZZ_CHECK(items[4].type() == Variant::Type::String);
  // A refused customer brings no promocodes.
  if (items[0].asBool()) FUZZ_CHECK(promotions.dataset.RecordCount() == 0);

  const lumirex::DataPacket packet = lumirex::ReadDataPacket(items[4].asString());
  FUZZ_CHECK(packet.fields.size() == promotions.dataset.FieldCount());
  FUZZ_CHECK(packet.rows.size() == promotions.dataset.RecordCount());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Promotions promotions;
  const std::string_view response(reinterpret_cast<const char*>(data), size);
  Variant result = Variant::Array(5);
  const bool read = lumirex::getConsulta(response, result, promotions.Fields()).asBool();

  const auto& items = result.items();
  FUZZ_CHECK(items.size() == 5);
  if (read) {
    CheckFilled(items, promotions);
  } else {
    for (const Variant& item : items) FUZZ_CHECK(item.isEmpty());
  }
  return 0;
}
