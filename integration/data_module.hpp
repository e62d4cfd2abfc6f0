// TrdmIntegraLumirex: the one object that lives between integration calls,
// holding the database connection, the two sale queries and the
// in-memory dataset of a validation's items.
#pragma once

#include <memory>
#include <string>

#include "database/connection.hpp"
#include "database/query.hpp"
#include "dataset/dataset.hpp"
#include "lumirex/lumirex.hpp"
#include "messages/customer_query.hpp"
#include "messages/operation_result.hpp"

namespace lumirex {

class TrdmIntegraLumirex {
 public:
  // Creates the components with their settings; connects nothing.
  TrdmIntegraLumirex();
  // Runs DataModuleDestroy.
  ~TrdmIntegraLumirex();
  TrdmIntegraLumirex(const TrdmIntegraLumirex&) = delete;
  TrdmIntegraLumirex& operator=(const TrdmIntegraLumirex&) = delete;

  TADOConnection adcIntegraLumirex;
  TADOQuery adqVenda;
  TADOQuery adqItemVenda;
  TClientDataSet cdsVenda;

  void DataModuleDestroy();
  void adcIntegraLumirexAfterConnect(TADOConnection& sender);

  // The readers of the service's answer: a customer query's, whose
  // promocodes become the rows of its promotions' packet, and any other's.
  // Each raises when the answer cannot be read.
  CustomerAnswer getConsulta(const ResponseDocument& document);
  CommonPart getRetVenda(const ResponseDocument& document);

  // The connection string the next opening uses, the one in force when the
  // call started; a kept connection made with another one is closed. The
  // connection is opened with exactly this string: nothing asks for it again
  // while connecting.
  void UseConnectionString(const std::string& connection);
};

// The first instance: null until an integration call creates it, and again
// after Finalize. A lone caller always uses it; calls beside it borrow others
// (integration/data_module_pool.hpp).
extern std::unique_ptr<TrdmIntegraLumirex>& rdmIntegraLumirex;

// In a fork's child: the inherited instance shares its database connection
// with the parent, and closing it would end the parent's session too. It is
// set aside, never used or destroyed, and the next call creates a fresh one.
void AbandonDataModule() noexcept;
// The same for another instance the child inherited.
void AbandonDataModule(std::unique_ptr<TrdmIntegraLumirex> module) noexcept;

}  // namespace lumirex
