// The outcome of a call as one JSON object:
// {"returned": <the call's Boolean>, "result": [<element 0>, <element 1>, ...],
//  "error": null or what LastCall() said}
#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

#include "cli/call_runner.hpp"
#include "dataset/data_packet.hpp"

namespace lumirex::cli {

// Texts in UTF-8, date-times as "yyyy-mm-ddThh:nn:ss", and element 4 of a
// customer query (the promocodes data packet) decoded into fields and rows.
nlohmann::json OutcomeToJson(const CallRun& outcome);

// {"fields": [{"name", "type", "size"}], "rows": [{column: value}]}; a null
// value is null, a text UTF-8, a date or date-time its text form.
nlohmann::json PacketToJson(const DataPacket& packet);

// LumirexLastCall's error as lumirex.h names it: "LUMIREX_E_HTTP" for 8.
const char* ErrorName(std::int32_t code);

// The packet's own name of a field type: "string", "dateTime", "r8", ...
const char* FieldTypeName(FieldType type);

}  // namespace lumirex::cli
