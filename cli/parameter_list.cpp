#include "cli/parameter_list.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

#include "cli/usage_error.hpp"
#include "dataset/data_packet.hpp"
#include "support/errors.hpp"
#include "support/host_text.hpp"
#include "support/path_text.hpp"

namespace lumirex::cli {

namespace {

// A product code column wide enough for every code given, never narrower than
// a till's usual twenty characters, so no code is cut.
constexpr int kProductCodeWidth = 20;

// An argument in the host encoding; a letter it lacks is refused rather than
// sent as '?', another CPF or code than the one typed.
std::string HostArgument(const std::string& utf8, const std::string& what) {
  try {
    return HostTextFromUtf8Exactly(utf8, what);
  } catch (const ConversionError& error) {
    throw UsageError(std::string(error.what()) + ": run with --host-encoding UTF-8");
  }
}

Variant Text(const std::string& utf8, std::size_t index) {
  return Variant(HostArgument(utf8, "parameter " + std::to_string(index)));
}

std::vector<Variant> Texts(const std::vector<std::string>& texts) {
  std::vector<Variant> params;
  for (const std::string& text : texts) params.push_back(Text(text, params.size()));
  return params;
}

std::string ReadItemsFile(const std::string& path) {
  std::ifstream in(FileSystemPath(path), std::ios::binary);
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
  return Texts({operation, url, cpf, branch, till, sequence});
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
    std::string code = HostArgument(product, "product " + product);
    width = std::max(width, static_cast<int>(HostTextLength(code)));
    rows.push_back({FieldValue(std::move(code))});
  }
  std::vector<FieldDef> fields{{"CDPRODUTO", FieldType::String, width, 0}};
  return WriteDataPacket(fields, rows);
}

std::vector<Variant> ValidationParameters(const std::string& url,
                                          const PromocodeValidation& request) {
  std::vector<Variant> params = CommonParameters("VALIDA_PROMOCODE", url, request.cpf, "", "", "");
  params.push_back(Text(request.promocode, 6));
  params.push_back(Text(request.store, 7));
  params.push_back(Variant(ParseAmount(request.subtotal)));
  params.push_back(Variant(ItemsPacket(request)));
  return params;
}

std::vector<Variant> TextParameters(const std::string& operation, const std::string& url,
                                    const std::vector<std::string>& rest) {
  std::vector<std::string> texts{operation, url};
  texts.insert(texts.end(), rest.begin(), rest.end());
  return Texts(texts);
}

}  // namespace lumirex::cli
