#include "customers.hpp"

#include <cstdio>

namespace lumirex::bench {

std::string CpfWithPromocodes(int promocodes) {
  char cpf[16];
  std::snprintf(cpf, sizeof cpf, "9%010d", promocodes);
  return cpf;
}

sandbox::Customer CustomerWithPromocodes(int promocodes) {
  sandbox::Customer customer;
  customer.cpf = CpfWithPromocodes(promocodes);
  customer.name = "Cliente com muitos promocodes (Jo\xC3\xA3o)";
  customer.balanceCents = 123456;
  customer.promocodes.reserve(static_cast<std::size_t>(promocodes));
  for (int i = 0; i < promocodes; ++i) {
    char code[16];
    std::snprintf(code, sizeof code, "PROMO%06d", i);
    sandbox::Promocode promocode;
    promocode.friendlyCode = code;
    promocode.description =
        "Cashback de " + std::to_string(i % 20 + 1) + "% na pr\xC3\xB3xima compra";
    promocode.gift = {i % 2 == 0 ? "cashback" : "discount", 100 + i % 5000};
    promocode.expirationDate = "2030-12-31T23:59:59";
    customer.promocodes.push_back(std::move(promocode));
  }
  return customer;
}

}  // namespace lumirex::bench
