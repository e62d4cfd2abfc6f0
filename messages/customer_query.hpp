// The answer to a customer query: the common part, the name, the balance and
// the promocodes, read into result elements 0 to 4.
#pragma once

#include <array>
#include <exception>
#include <string_view>

#include "dataset/dataset.hpp"
#include "lumirex/lumirex.hpp"

namespace lumirex {

// The columns of the promotions dataset, in order: CDPROMOCAO, DSPROMOCAO,
// DTVALPROMO, DSTIPPROMO, VRPROMOCAO.
inline std::array<FieldDef, 5> PromotionColumns() {
  return {{{"CDPROMOCAO", FieldType::String, 50},
           {"DSPROMOCAO", FieldType::String, 50},
           {"DTVALPROMO", FieldType::DateTime},
           {"DSTIPPROMO", FieldType::String, 50},
           {"VRPROMOCAO", FieldType::Float}}};
}

// The promotions dataset and its persistent fields, in column order.
struct PromotionFields {
  TClientDataSet& dataset;
  TField& CDPROMOCAO;
  TField& DSPROMOCAO;
  TField& DTVALPROMO;
  TField& DSTIPPROMO;
  TField& VRPROMOCAO;
};

// Writes elements 0 (BOOL), 1 (STRING), 2 (STRING), 3 (DOUBLE) and 4 (the
// promotions data packet, STRING). Returns a BOOL variant, false when any
// step failed; the failure is handed back in *failure when asked for.
Variant getConsulta(std::string_view response, Variant& result, PromotionFields promotions,
                    std::exception_ptr* failure = nullptr);

}  // namespace lumirex
