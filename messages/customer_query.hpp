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

// The promotions dataset and its persistent fields, in column order.
struct PromotionFields {
  TClientDataSet& dataset;
  TField& CDPROMOCAO;
  TField& DSPROMOCAO;
  TField& DTVALPROMO;
  TField& DSTIPPROMO;
  TField& VRPROMOCAO;
};

// What an answer says about the customer: the verdict, the name and the
// balance; the promocodes are the promotions dataset's rows.
struct CustomerAnswer {
  CommonPart common;
  std::string name;
  double balance = 0;
};

// Empties the promotions dataset, then reads the answer: its verdict and, when
// the service accepted, the customer and one row for each promocode. Raises
// on an answer without a verdict or one that cannot be read; the dataset then
// holds no row of an earlier customer, but may hold some of this answer's.
CustomerAnswer getConsulta(const ResponseDocument& document, PromotionFields promotions);

}  // namespace lumirex
