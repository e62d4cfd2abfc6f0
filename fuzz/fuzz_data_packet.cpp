// The data packet reader on any bytes: it accepts a packet or raises
// ConversionError. A dataset loads whatever the reader accepts, and the packet
// the dataset then writes reads back to the same packet.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dataset/data_packet.hpp"
#include "fuzz/fuzz_check.hpp"
#include "support/errors.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    lumirex::ReadDataPacket(text);
  } catch (const lumirex::ConversionError&) {
    return 0;
  }

  lumirex::TClientDataSet dataset;
  dataset.SetData(text);
  const std::string written = dataset.GetData();
  lumirex::TClientDataSet again;
  again.SetData(written);
  FUZZ_CHECK(again.RecordCount() == dataset.RecordCount());
  FUZZ_CHECK(again.GetData() == written);
  return 0;
}
