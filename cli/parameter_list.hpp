// Parameter lists laid out as a till's back end lays them out, from what a
// person typed in a UTF-8 terminal.
#pragma once

#include <string>
#include <vector>

#include "lumirex/lumirex.hpp"

namespace lumirex::cli {

// The six elements every operation reads: operation, service base URL, CPF,
// branch, till and sale sequence number. Texts become the host encoding.
std::vector<Variant> CommonParameters(const std::string& operation, const std::string& url,
                                      const std::string& cpf, const std::string& branch,
                                      const std::string& till, const std::string& sequence);

struct PromocodeValidation {
  std::string cpf;
  std::string promocode;
  std::string store;
  std::string subtotal;  // as typed: "12,34" or "12.34"
  std::vector<std::string> products;
  std::string itemsFile;  // a data packet file, instead of products
};

// The ten elements of a promocode validation: the subtotal as a DOUBLE, the
// sale items as a data packet. Raises UsageError for a subtotal that is not
// an amount, for neither or both of products and items file, and for an
// unreadable items file.
std::vector<Variant> ValidationParameters(const std::string& url,
                                          const PromocodeValidation& request);

// "12,34", "12.34", "-5" or "7": digits with at most one separator, either
// "," or "."; raises UsageError naming the text otherwise.
double ParseAmount(const std::string& text);

// A data packet of one text column CDPRODUTO, one row a product code.
std::string ProductsPacket(const std::vector<std::string>& products);

// The operation and the elements after the URL as text elements, in order.
std::vector<Variant> TextParameters(const std::string& operation, const std::string& url,
                                    const std::vector<std::string>& rest);

}  // namespace lumirex::cli
