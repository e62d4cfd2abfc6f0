// How each operation's request is built and its answer read, bound to its row
// of the operations table (support/operations.hpp). Adding an operation is
// its row there and its entry here.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "integration/data_module.hpp"
#include "integration/exchange.hpp"
#include "lumirex/lumirex.hpp"
#include "messages/requests.hpp"
#include "messages/response_document.hpp"
#include "support/operations.hpp"

namespace lumirex {

// What a request builder works with.
struct RequestInput {
  const std::vector<Variant>& params;  // the host's list, as long as the row asks
  HostTexts& texts;                    // a validation's builder adds the promocode
  TrdmIntegraLumirex& module;          // the queries and datasets the builder reads
  RequestParts out;                    // where the request goes, its URL tail set last
};

struct OperationSteps {
  OperationId id;
  // Builds the request; what fails names the operation and the sale key.
  void (*build)(RequestInput& input);
  // The answer's elements, in the result's order; raises when it cannot be read.
  std::vector<Variant> (*read)(std::optional<ResponseDocument> loaded, std::string_view body,
                               TrdmIntegraLumirex& module);
};

const OperationSteps& StepsOf(const Operation& operation);

}  // namespace lumirex
