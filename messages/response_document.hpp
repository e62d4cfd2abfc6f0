// Reading the service's answers: byte-preserving loading and the look-up of
// children by name.
#pragma once

#include <string>
#include <string_view>

#include <pugixml.hpp>

namespace lumirex {

class ResponseDocument {
 public:
  // Widens each byte to Unicode through Windows-1252 and parses the result as
  // UTF-8 whatever the declaration says; a UTF-8 host's answer is parsed as
  // UTF-8 as it stands. No DTD is processed and no entity
  // beyond XML's five and character references is expanded. An empty text, or
  // one of blanks only, is the empty document. Raises ConversionError when
  // the text is not well-formed XML, or would make more nodes than
  // kMaxAnswerNodes (answer_size.hpp).
  void Load(std::string_view bytes);

  bool IsEmptyDoc() const;
  pugi::xml_node DocumentElement() const;

 private:
  pugi::xml_document document_;
};

// The first direct child element named exactly name; an empty node when none.
pugi::xml_node ChildNamed(pugi::xml_node parent, const char* name);

// An element's text narrowed back through Windows-1252 ('?' for a character
// with no byte), or as UTF-8 for a UTF-8 host: either way the bytes the
// service sent; "" for an absent element. Raises ConversionError when the
// element holds child elements.
std::string NodeText(pugi::xml_node element);

// A text the service wrote for people or for the till to hand back (a
// message, a name, a promocode): decoded from the service's UTF-8 into the
// host's encoding, so that a code read from the result goes out again as the
// same characters. A character Windows-1252 lacks becomes '?', as do the
// bytes of a broken sequence.
std::string ServiceText(pugi::xml_node element);

}  // namespace lumirex
