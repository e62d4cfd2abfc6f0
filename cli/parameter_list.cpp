#include "cli/parameter_list.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

#include "cli/usage_error.hpp"
#include "dataset/data_packet.hpp"
#include "support/host_text.hpp"

namespace lumirex::cli {

namespace {

// A product code column wide enough for every code given, never narrower than
// a till's usual twenty characters, so no code is cut.
constexpr int kProductCodeWidth = 20;

Variant Text(const std::string& utf8) {
  return Variant(HostTextFromUtf8(utf8));
}

std::string ReadItemsFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError("cannot read the items file '" + path + "'");
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string ItemsPacket(const PromocodeValidation& request) {
  bool haveProducts = !request.products.empty();
  bool haveFile = !request.itemsFile.empty();
  if (haveProducts == haveFile) {
    throw UsageError("give the sale items either as --product CODE ... or as --items PACKET.xml");
  }
  // The packet file is taken byte for byte: it is in the host's code page already.
  return haveFile ? ReadItemsFile(request.itemsFile) : ProductsPacket(request.products);
}

}  // namespace

std::vector<Variant> CommonParameters(const std::string& operation, const std::string& url,
                                      const std::string& cpf, const std::string& branch,
                                      const std::string& till, const std::string& sequence) {
  return {Text(operation), Text(url), Text(cpf), Text(branch), Text(till), Text(sequence)};
}

double ParseAmount(const std::string& text) {
  std::string normalized = text;
  std::replace(normalized.begin(), normalized.end(), ',', '.');
  bool wellFormed = !normalized.empty() &&
                    std::count(normalized.begin(), normalized.end(), '.') <= 1 &&
                    normalized.find_first_not_of("-.0123456789") == std::string::npos &&
                    normalized.find('-', 1) == std::string::npos &&
                    normalized.find_first_of("0123456789") != std::string::npos;
  double value = 0;
  if (wellFormed) {
    const char* end = normalized.data() + normalized.size();
    auto [stop, error] = std::from_chars(normalized.data(), end, value);
    wellFormed = error == std::errc() && stop == end;
  }
  if (!wellFormed) {
    throw UsageError("'" + text + "' is not an amount; write it as 12,34 or 12.34");
  }
  return value;
}

std::string ProductsPacket(const std::vector<std::string>& products) {
  int width = kProductCodeWidth;
  std::vector<TClientDataSet::Row> rows;
  for (const std::string& product : products) {
    std::string code = HostTextFromUtf8(product);
    width = std::max(width, static_cast<int>(HostTextLength(code)));
    rows.push_back({FieldValue(std::move(code))});
  }
  std::vector<FieldDef> fields{{"CDPRODUTO", FieldType::String, width, 0}};
  return WriteDataPacket(fields, rows);
}

std::vector<Variant> ValidationParameters(const std::string& url,
                                          const PromocodeValidation& request) {
  std::vector<Variant> params = CommonParameters("VALIDA_PROMOCODE", url, request.cpf, "", "", "");
  params.push_back(Text(request.promocode));
  params.push_back(Text(request.store));
  params.push_back(Variant(ParseAmount(request.subtotal)));
  params.push_back(Variant(ItemsPacket(request)));
  return params;
}

std::vector<Variant> TextParameters(const std::string& operation, const std::string& url,
                                    const std::vector<std::string>& rest) {
  std::vector<Variant> params{Text(operation), Text(url)};
  for (const std::string& element : rest) params.push_back(Text(element));
  return params;
}

}  // namespace lumirex::cli
