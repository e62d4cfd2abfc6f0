#include "integration/data_module.hpp"

#include <vector>

#include "integration/sale_queries.hpp"
#include "messages/customer_query.hpp"
#include "messages/operation_result.hpp"
#include "shared_services/shared_services.hpp"
#include "support/at_fork.hpp"
#include "support/no_destructor.hpp"

namespace lumirex {

namespace {

// Never destroyed at exit: a call may still be using the instance on another
// thread while the host exits. Finalize releases it.
constinit NoDestructor<std::unique_ptr<TrdmIntegraLumirex>> instance;

// Instances left behind by a fork, kept reachable and never destroyed.
std::vector<std::unique_ptr<TrdmIntegraLumirex>>& Abandoned() {
  static NoDestructor<std::vector<std::unique_ptr<TrdmIntegraLumirex>>> abandoned;
  return *abandoned;
}
const BuiltAtLoad<&Abandoned> abandonedBuiltAtLoad;

std::vector<std::string> SaleKeyParameters() {
  return {"P_CDFILIAL", "P_CDCAIXA", "P_NRSEQVENDA"};
}

}  // namespace

constinit std::unique_ptr<TrdmIntegraLumirex>& rdmIntegraLumirex = *instance;

void AbandonDataModule() noexcept {
  AbandonDataModule(std::move(rdmIntegraLumirex));
}

void AbandonDataModule(std::unique_ptr<TrdmIntegraLumirex> module) noexcept {
  if (!module) return;
  try {
    Abandoned().push_back(std::move(module));
  } catch (const std::bad_alloc&) {
    // Only a leak checker would notice the instance now.
    (void)module.release();
  }
}

TrdmIntegraLumirex::TrdmIntegraLumirex()
    : adqVenda(adcIntegraLumirex, SaleKeyParameters(), sale_queries::kHeaderTransactSql,
               sale_queries::kHeaderSqlite, sale_queries::kHeaderPostgreSql),
      adqItemVenda(adcIntegraLumirex, SaleKeyParameters(), sale_queries::kItemsTransactSql,
                   sale_queries::kItemsSqlite, sale_queries::kItemsPostgreSql) {
  adqVenda.Description = "the sale header query";
  adqItemVenda.Description = "the sale items query";
  adcIntegraLumirex.LoginPrompt = false;
  adcIntegraLumirex.AfterConnect = [this](TADOConnection& sender) {
    adcIntegraLumirexAfterConnect(sender);
  };

  // Nothing is connected here: customer queries and promocode validations
  // never read the database, so they must neither wait for nor fail on it. The
  // first sale query connects, with the same connection events and the same
  // bound on the wait, and its failure names the database's reason.
}

TrdmIntegraLumirex::~TrdmIntegraLumirex() {
  DataModuleDestroy();
}

void TrdmIntegraLumirex::DataModuleDestroy() {
  adcIntegraLumirex.Close();
}

void TrdmIntegraLumirex::adcIntegraLumirexAfterConnect(TADOConnection& sender) {
  Services()->SetADODBSession(sender);
}

void TrdmIntegraLumirex::UseConnectionString(const std::string& connection) {
  if (adcIntegraLumirex.Connected() && connection == adcIntegraLumirex.ConnectionString) return;
  adcIntegraLumirex.Close();
  adcIntegraLumirex.ConnectionString = connection;
}

CustomerAnswer TrdmIntegraLumirex::getConsulta(const ResponseDocument& document) {
  return lumirex::getConsulta(document);
}

CommonPart TrdmIntegraLumirex::getRetVenda(const ResponseDocument& document) {
  return lumirex::getRetVenda(document);
}

}  // namespace lumirex
