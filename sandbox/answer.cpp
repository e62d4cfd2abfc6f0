#include "sandbox/answer.hpp"

#include <sstream>

#include <pugixml.hpp>

namespace lumirex::sandbox {

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

void AddText(pugi::xml_node parent, const char* name, const std::string& text) {
  parent.append_child(name).text() = text.c_str();
}

void AddPromocode(pugi::xml_node promocodes, const Promocode& promocode) {
  auto element = promocodes.append_child("promocode");
  AddText(element, "friendlyCode", promocode.friendlyCode);
  AddText(element, "description", promocode.description);
  auto gift = element.append_child("gift");
  AddText(gift, "type", promocode.gift.type);
  AddText(gift, "value", std::to_string(promocode.gift.cents));
  AddText(element, "expiration_date", promocode.expirationDate);
}

void AddUserInfo(pugi::xml_node response, const Customer& customer) {
  auto userInfo = response.append_child("userInfo");
  AddText(userInfo, "name", customer.name);
  AddText(userInfo, "balance", std::to_string(customer.balanceCents));
  auto promocodes = userInfo.append_child("promocodes");
  for (const auto& promocode : customer.promocodes) AddPromocode(promocodes, promocode);
}

std::string Save(const pugi::xml_document& document, bool crlf) {
  std::ostringstream out;
  if (!crlf) {
    document.save(out, "", pugi::format_raw, pugi::encoding_utf8);
    return out.str();
  }
  document.save(out, "  ", pugi::format_indent, pugi::encoding_utf8);
  std::string text;
  for (char c : out.str()) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return text;
}

// Pads the document to the size asked for with a comment of blanks as the
// last child of the document element, so it stays well-formed.
void Pad(pugi::xml_document& document, std::size_t targetBytes, bool crlf) {
  auto comment = document.document_element().append_child(pugi::node_comment);
  const std::size_t size = Save(document, crlf).size();
  if (size < targetBytes) comment.set_value(std::string(targetBytes - size, ' ').c_str());
}

}  // namespace

std::string RenderReply(const Reply& reply, const Faults& faults) {
  pugi::xml_document document;
  auto declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  auto response = document.append_child("response");
  AddText(response, "success", reply.success ? "true" : "false");
  AddText(response, "message", reply.message);
  if (reply.customer) AddUserInfo(response, *reply.customer);
  if (faults.answerMiB > 0) Pad(document, faults.answerMiB * kMiB, faults.crlf);

  std::string text = Save(document, faults.crlf);
  if (faults.malformedXml) text.erase(text.rfind("</response>"));
  return text;
}

std::string ServerErrorPage() {
  return "<!DOCTYPE html>\n"
         "<html><head><title>500 Internal Server Error</title></head>\n"
         "<body><h1>Internal Server Error</h1>\n"
         "<p>The server encountered an internal error and was unable to complete your "
         "request.</p></body></html>\n";
}

}  // namespace lumirex::sandbox
