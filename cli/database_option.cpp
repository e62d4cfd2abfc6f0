#include "cli/database_option.hpp"

#include "support/option_string.hpp"

namespace lumirex::cli {

std::string ConnectionFromOption(std::string_view option) {
  if (option.empty() || option.find("://") != std::string_view::npos) return std::string(option);
  return "sqlite3://db=" + QuoteOptionValue(option) + " readonly=1";
}

}  // namespace lumirex::cli
