// getConsulta on any bytes, loaded as a call loads them. Whatever the answer,
// the reading never crashes (it may raise); a refused customer brings no
// promocodes, and the packet is one the host (and we) can read back.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

#include "dataset/data_packet.hpp"
#include "fuzz/fuzz_check.hpp"
#include "messages/customer_query.hpp"

namespace {

void CheckRead(const lumirex::CustomerAnswer& answer) {
  const lumirex::DataPacket packet = lumirex::ReadDataPacket(answer.promotions);
  FUZZ_CHECK(packet.fields.size() == lumirex::PromotionColumns().size());
  if (answer.common.errorFlag) FUZZ_CHECK(packet.rows.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view response(reinterpret_cast<const char*>(data), size);
  lumirex::CustomerAnswer answer;
  try {
    lumirex::ResponseDocument document;
    document.Load(response);
    answer = lumirex::getConsulta(document);
  } catch (const std::exception&) {
    return 0;  // an answer that cannot be read: the call says so
  }
  CheckRead(answer);
  return 0;
}
