#include "sandbox/service.hpp"

#include <cstdio>

#include "support/system_clock_and_path.hpp"

namespace lumirex::sandbox {

namespace {

// Now as service date text; fixed-width, so it orders like the dates it is
// compared with.
std::string NowAsServiceDate() {
  const DateTimeParts now = LocalTimeNow();
  char text[32];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  return text;
}

Reply Success(std::string message) {
  Reply reply;
  reply.success = true;
  reply.message = std::move(message);
  return reply;
}

const Promocode* FindPromocode(const Customer& customer, const std::string& code) {
  for (const auto& promocode : customer.promocodes) {
    if (promocode.friendlyCode == code) return &promocode;
  }
  return nullptr;
}

}  // namespace

Reply Refusal(int httpStatus, std::string message) {
  Reply reply;
  reply.httpStatus = httpStatus;
  reply.message = std::move(message);
  return reply;
}

LoyaltyService::LoyaltyService(const Fixture& fixture) {
  for (const auto& customer : fixture.customers) ReplaceCustomer(customer);
}

void LoyaltyService::ReplaceCustomer(const Customer& customer) {
  std::lock_guard lock(mutex_);
  customers_[CpfKey(customer.cpf)] = customer;
}

const Customer* LoyaltyService::Find(const std::string& cpf) const {
  const auto found = customers_.find(CpfKey(cpf));
  return found == customers_.end() ? nullptr : &found->second;
}

Reply LoyaltyService::QueryCustomer(const std::string& cpf) const {
  if (cpf.empty()) return Refusal(400, "CPF não informado");
  std::lock_guard lock(mutex_);
  const Customer* customer = Find(cpf);
  if (customer == nullptr) return Refusal(200, "Cliente não encontrado");
  Reply reply = Success("Cliente encontrado");
  reply.customer = *customer;
  return reply;
}

Reply LoyaltyService::ValidatePromocode(const pugi::xml_node& order) const {
  const std::string code = order.child_value("friendlyCode");
  if (code.empty()) return Refusal(200, "Promocode não informado");
  std::lock_guard lock(mutex_);
  const Customer* customer = Find(order.child_value("userId"));
  if (customer == nullptr) return Refusal(200, "Cliente não encontrado");
  const Promocode* promocode = FindPromocode(*customer, code);
  if (promocode == nullptr) {
    return Refusal(200, "Promocode " + code + " não encontrado para este cliente");
  }
  if (!promocode->expirationDate.empty() && promocode->expirationDate < NowAsServiceDate()) {
    return Refusal(200, "Promocode " + code + " expirado em " + promocode->expirationDate);
  }
  return Success("Promocode " + code + " válido");
}

Reply LoyaltyService::RecordOrder(const pugi::xml_node& order) {
  const std::string id = order.child("orderInfo").child_value("orderId");
  if (id.empty()) return Refusal(200, "Venda sem identificação (orderId)");
  std::lock_guard lock(mutex_);
  if (!orders_.insert(id).second) return Refusal(200, "Venda " + id + " já registrada");
  return Success("Venda " + id + " registrada");
}

std::vector<std::string> LoyaltyService::RecordedOrders() const {
  std::lock_guard lock(mutex_);
  return {orders_.begin(), orders_.end()};
}

Reply LoyaltyService::CancelOrder(const pugi::xml_node& order) {
  const std::string id = order.child_value("orderId");
  if (id.empty()) return Refusal(200, "Cancelamento sem identificação da venda (orderId)");
  std::lock_guard lock(mutex_);
  if (orders_.erase(id) == 0) return Refusal(200, "Venda " + id + " não encontrada");
  return Success("Venda " + id + " cancelada");
}

}  // namespace lumirex::sandbox
