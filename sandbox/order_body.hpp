// The body of a POST: "order=" + the order document + "&", percent-encoded as a
// whole, the document in the encoding its XML declaration names.
#pragma once

#include <string>
#include <string_view>

#include <pugixml.hpp>

namespace lumirex::sandbox {

struct OrderBody {
  std::string error;     // why the body was refused (UTF-8); empty when it was read
  std::string document;  // the document as UTF-8 text; "" when it could not be decoded
  pugi::xml_document xml;
};

// Never raises: a body that cannot be read comes back with its error set.
OrderBody ReadOrderBody(std::string_view raw);

}  // namespace lumirex::sandbox
