// Order documents and the request body envelope shared by every POST.
#pragma once

#include <string>
#include <string_view>

#include <pugixml.hpp>

namespace lumirex {

// Appends a leaf element with its text (none when value is empty).
pugi::xml_node AppendLeaf(pugi::xml_node parent, const char* name, std::string_view value);

// Appends an empty element. pugixml answers an allocation failure with an
// empty node that ignores everything appended to it, so the document would
// go out with parts missing: that failure is raised as std::bad_alloc.
pugi::xml_node AppendElement(pugi::xml_node parent, const char* name);

// '<?xml version="1.0" encoding="windows-1252"?>' CR LF ("UTF-8" for a UTF-8
// host), the elements with no indentation, CR LF. Texts are the bytes the
// values hold, in the host's encoding; "" for an empty document.
std::string SerializeOrder(const pugi::xml_document& document);

// PercentEncode("order=" + xml + "&").
std::string RequestBodyEnvelope(std::string_view xml);

}  // namespace lumirex
