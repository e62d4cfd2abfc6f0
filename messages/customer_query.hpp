// The answer to a customer query: the common part, the name, the balance and
// the promocodes, read into result elements 0 to 4.
#pragma once

#include <array>
#include <string>

#include "dataset/dataset.hpp"
#include "messages/operation_result.hpp"
#include "messages/response_document.hpp"

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

// What an answer says about the customer: the verdict, the name, the
// balance and the promotions' data packet.
struct CustomerAnswer {
  CommonPart common;
  std::string name;
  double balance = 0;
  std::string promotions;  // PromotionColumns, a row for each promocode
};

// Reads the answer: its verdict and, when the service accepted, the customer
// and a row of the promotions' packet for each promocode, written as the
// tree is walked, in the order the service sent them. Raises on an answer
// without a verdict or one that cannot be read.
CustomerAnswer getConsulta(const ResponseDocument& document);

}  // namespace lumirex
