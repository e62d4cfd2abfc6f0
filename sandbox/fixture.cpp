// The customers the sandbox knows, read from JSON.
//
// Fixture format (UTF-8 JSON):
//
//   {
//     "customers": [
//       {
//         "cpf": "12345678909",             required, non-empty text, unique
//         "name": "João da Silva",          required text
//         "balance": 1250,                  cashback balance in cents (whole number), default 0
//         "promocodes": [                   default none
//           {
//             "friendlyCode": "BEMVINDO10", required, non-empty text, unique per customer
//             "description": "…",           text, default ""
//             "gift": {"type": "discount", "value": 1000},
//                                           type: text, default ""; value: cents, default 0
//             "expiration_date": "2099-12-31T23:59:59"
//                                           yyyy-mm-ddThh:nn:ss, local time; "" or absent:
//                                           never expires
//           }
//         ]
//       }
//     ]
//   }
//
// A CPF is looked up with its dots, hyphens and blanks left out, so
// "123.456.789-09" finds "12345678909". Unknown keys are refused, so that a
// misspelt key does not silently mean its default.
#include <chrono>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "sandbox/sandbox.hpp"

namespace lumirex::sandbox {

namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw std::runtime_error("fixture: " + where + " " + what);
}

void RequireObject(const json& value, const std::string& where,
                   std::initializer_list<const char*> allowedKeys) {
  if (!value.is_object()) Fail(where, "must be an object");
  for (const auto& item : value.items()) {
    bool known = false;
    for (const char* key : allowedKeys) known = known || item.key() == key;
    if (!known) Fail(where, "has an unknown key \"" + item.key() + "\"");
  }
}

std::string Text(const json& object, const char* key, const std::string& where, bool required) {
  const auto found = object.find(key);
  if (found == object.end()) {
    if (required) Fail(where, std::string("lacks \"") + key + "\"");
    return {};
  }
  if (!found->is_string()) Fail(where + "." + key, "must be a text");
  auto text = found->get<std::string>();
  if (required && text.empty()) Fail(where + "." + key, "must not be empty");
  return text;
}

long long Cents(const json& object, const char* key, const std::string& where) {
  const auto found = object.find(key);
  if (found == object.end()) return 0;
  if (!found->is_number_integer()) Fail(where + "." + key, "must be a whole number of cents");
  return found->get<long long>();
}

bool IsDigits(const std::string& text, std::size_t from, std::size_t count) {
  for (std::size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

int Number(const std::string& text, std::size_t from, std::size_t count) {
  return std::stoi(text.substr(from, count));
}

// yyyy-mm-ddThh:nn:ss naming a real date and time.
bool IsServiceDate(const std::string& text) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':') {
    return false;
  }
  for (std::size_t at : {0, 5, 8, 11, 14, 17}) {
    if (!IsDigits(text, at, at == 0 ? 4 : 2)) return false;
  }
  const std::chrono::year_month_day day{std::chrono::year{Number(text, 0, 4)},
                                        std::chrono::month(Number(text, 5, 2)),
                                        std::chrono::day(Number(text, 8, 2))};
  return day.ok() && Number(text, 11, 2) < 24 && Number(text, 14, 2) < 60 &&
         Number(text, 17, 2) < 60;
}

Promocode ReadPromocode(const json& value, const std::string& where) {
  RequireObject(value, where, {"friendlyCode", "description", "gift", "expiration_date"});
  Promocode promocode;
  promocode.friendlyCode = Text(value, "friendlyCode", where, true);
  promocode.description = Text(value, "description", where, false);
  if (const auto gift = value.find("gift"); gift != value.end()) {
    RequireObject(*gift, where + ".gift", {"type", "value"});
    promocode.gift.type = Text(*gift, "type", where + ".gift", false);
    promocode.gift.cents = Cents(*gift, "value", where + ".gift");
  }
  promocode.expirationDate = Text(value, "expiration_date", where, false);
  if (!promocode.expirationDate.empty() && !IsServiceDate(promocode.expirationDate)) {
    Fail(where + ".expiration_date", "must be a date and time as yyyy-mm-ddThh:nn:ss, not \"" +
                                         promocode.expirationDate + "\"");
  }
  return promocode;
}

Customer ReadCustomer(const json& value, const std::string& where) {
  RequireObject(value, where, {"cpf", "name", "balance", "promocodes"});
  Customer customer;
  customer.cpf = Text(value, "cpf", where, true);
  customer.name = Text(value, "name", where, true);
  customer.balanceCents = Cents(value, "balance", where);
  const auto promocodes = value.find("promocodes");
  if (promocodes == value.end()) return customer;
  if (!promocodes->is_array()) Fail(where + ".promocodes", "must be a list");
  std::set<std::string> codes;
  for (std::size_t i = 0; i < promocodes->size(); ++i) {
    const std::string at = where + ".promocodes[" + std::to_string(i) + "]";
    auto promocode = ReadPromocode((*promocodes)[i], at);
    if (!codes.insert(promocode.friendlyCode).second) {
      Fail(at, "repeats the friendlyCode \"" + promocode.friendlyCode + "\"");
    }
    customer.promocodes.push_back(std::move(promocode));
  }
  return customer;
}

}  // namespace

std::string CpfKey(std::string_view cpf) {
  std::string key;
  for (char c : cpf) {
    if (c != '.' && c != '-' && c != ' ') key += c;
  }
  return key;
}

Fixture LoadFixture(const std::string& jsonText) {
  json document;
  try {
    document = json::parse(jsonText);
  } catch (const json::parse_error& error) {
    throw std::runtime_error(std::string("fixture: not valid JSON: ") + error.what());
  }
  RequireObject(document, "document", {"customers"});
  const auto customers = document.find("customers");
  if (customers == document.end() || !customers->is_array()) {
    Fail("document", "needs a \"customers\" list");
  }
  Fixture fixture;
  std::set<std::string> cpfs;
  for (std::size_t i = 0; i < customers->size(); ++i) {
    const std::string at = "customers[" + std::to_string(i) + "]";
    auto customer = ReadCustomer((*customers)[i], at);
    if (!cpfs.insert(CpfKey(customer.cpf)).second) {
      Fail(at, "repeats the cpf \"" + customer.cpf + "\"");
    }
    fixture.customers.push_back(std::move(customer));
  }
  return fixture;
}

Fixture LoadFixtureFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("fixture: cannot read " + path);
  std::ostringstream text;
  text << file.rdbuf();
  try {
    return LoadFixture(text.str());
  } catch (const std::runtime_error& error) {
    throw std::runtime_error(path + ": " + error.what());
  }
}

Fixture DefaultFixture() {
  return LoadFixture(R"json({
  "customers": [
    {
      "cpf": "12345678909",
      "name": "João da Silva",
      "balance": 1250,
      "promocodes": [
        {"friendlyCode": "BEMVINDO10", "description": "Desconto de boas-vindas",
         "gift": {"type": "discount", "value": 1000}, "expiration_date": "2099-12-31T23:59:59"},
        {"friendlyCode": "CASHBACK5", "description": "Cashback em dobro na padaria",
         "gift": {"type": "cashback", "value": 500}, "expiration_date": ""},
        {"friendlyCode": "NATAL2020", "description": "Promoção de Natal",
         "gift": {"type": "discount", "value": 2000}, "expiration_date": "2020-12-25T23:59:59"}
      ]
    },
    {
      "cpf": "98765432100",
      "name": "Maria Conceição Araújo",
      "balance": 0,
      "promocodes": [
        {"friendlyCode": "FRETEGRATIS", "description": "Frete grátis na próxima compra",
         "gift": {"type": "freeShipping", "value": 0}, "expiration_date": "2099-06-30T12:00:00"},
        {"friendlyCode": "DESC15", "description": "15% em hortifrúti",
         "gift": {"type": "percentage", "value": 1500}, "expiration_date": "2099-01-31T23:59:59"}
      ]
    },
    {
      "cpf": "11144477735",
      "name": "José Ângelo Pereira",
      "balance": 98765
    }
  ]
})json");
}

}  // namespace lumirex::sandbox
