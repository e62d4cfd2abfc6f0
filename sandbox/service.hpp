// What the loyalty service decides, apart from HTTP: who the customers are,
// which promocodes apply, which sales it has on record.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "sandbox/sandbox.hpp"

namespace lumirex::sandbox {

// The CPF without its dots, hyphens and blanks, the form customers are found by.
std::string CpfKey(std::string_view cpf);

// The service's verdict on one request, before it is written as XML.
struct Reply {
  int httpStatus = 200;
  bool success = false;
  std::string message;               // UTF-8
  std::optional<Customer> customer;  // sent as userInfo
};

Reply Refusal(int httpStatus, std::string message);

class LoyaltyService {
 public:
  explicit LoyaltyService(const Fixture& fixture);

  void ReplaceCustomer(const Customer& customer);
  // The orderIds of the sales recorded and not cancelled.
  std::vector<std::string> RecordedOrders() const;

  Reply QueryCustomer(const std::string& cpf) const;
  // Each takes the document element of a well-formed order document.
  Reply ValidatePromocode(const pugi::xml_node& order) const;
  Reply RecordOrder(const pugi::xml_node& order);
  Reply CancelOrder(const pugi::xml_node& order);

 private:
  const Customer* Find(const std::string& cpf) const;

  mutable std::mutex mutex_;
  std::map<std::string, Customer> customers_;  // by CpfKey
  std::set<std::string> orders_;               // by orderId
};

}  // namespace lumirex::sandbox
