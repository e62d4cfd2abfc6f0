#include "world.hpp"

#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "c_call.hpp"
#include "customers.hpp"
#include "lumirex/lumirex.h"
#include "pos_database.hpp"
#include "raw_client.hpp"

namespace lumirex::bench {

namespace {

std::mutex messageMutex;
std::string lastMessage;

void KeepMessage(const char* text, void*) {
  std::lock_guard lock(messageMutex);
  lastMessage = text;
}

}  // namespace

World::World(std::vector<int> answerSizes) : sizes_(std::move(answerSizes)) {
  const auto database = PosDatabase();
  std::filesystem::create_directories(database.parent_path());
  CreatePosDatabase(database);
  connection_ = PosConnectionString(database);
  LumirexSetBaseDir(base_.str().c_str());
  LumirexSetConnectionString(connection_.c_str());
  LumirexSetDecimalSeparator(',');
  LumirexSetMessageHandler(&KeepMessage, nullptr);

  for (int size : sizes_) sandbox_.ReplaceCustomer(CustomerWithPromocodes(size));
  sandbox_.Start();

  RawClient raw;
  for (int size : sizes_) answers_[size] = raw.Get(ConsultaUrl(size));
  // The library's own request body, as the sandbox received it; the sale is
  // then known, so every later report of it gets the same refusal.
  CCall sale(VendaParameters(Url()));
  if (!sale.Run()) throw std::runtime_error("the VENDA call failed: " + LastMessage());
  const auto journal = sandbox_.Journal();
  if (journal.empty()) throw std::runtime_error("the sandbox saw no VENDA request");
  saleBody_ = journal.back().body;
  saleAnswer_ = raw.Post(VendaUrl(), saleBody_);
  sandbox_.ClearJournal();
}

World::~World() {
  sandbox_.Stop();
  LumirexSetMessageHandler(nullptr, nullptr);
  Finalize();  // closes the database before its folder goes
}

std::string World::ConsultaUrl(int promocodes) const {
  return Url() + "user?cpf=" + CpfWithPromocodes(promocodes) + "&pdv=true";
}

std::string World::LastMessage() {
  std::lock_guard lock(messageMutex);
  return lastMessage;
}

}  // namespace lumirex::bench
