#include "sandbox/answer.hpp"

#include <algorithm>
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

constexpr const char* kPaddingMark = "<!---->";

// Where the padding goes: an empty comment as the last child of the document
// element, so the padded document stays well-formed.
AnswerBody SplitAtPadding(const std::string& text, std::size_t targetBytes) {
  const std::size_t mark = text.rfind(kPaddingMark);
  const std::size_t inside = mark + 4;  // between "<!--" and "-->"
  AnswerBody body{text.substr(0, inside), 0, text.substr(inside)};
  if (text.size() < targetBytes) body.blanks = targetBytes - text.size();
  return body;
}

}  // namespace

std::size_t AnswerBody::Read(std::size_t offset, char* out, std::size_t size) const {
  std::size_t copied = 0;
  auto copy = [&](std::size_t partStart, std::size_t partSize, const char* bytes) {
    if (copied == size || offset + copied >= partStart + partSize) return;
    const std::size_t from = offset + copied - partStart;
    const std::size_t count = std::min(size - copied, partSize - from);
    if (bytes != nullptr) {
      std::copy_n(bytes + from, count, out + copied);
    } else {
      std::fill_n(out + copied, count, ' ');
    }
    copied += count;
  };
  copy(0, head.size(), head.data());
  copy(head.size(), blanks, nullptr);
  copy(head.size() + blanks, tail.size(), tail.data());
  return copied;
}

AnswerBody RenderReply(const Reply& reply, const Faults& faults) {
  pugi::xml_document document;
  auto declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  auto response = document.append_child("response");
  AddText(response, "success", reply.success ? "true" : "false");
  AddText(response, "message", reply.message);
  if (reply.customer) AddUserInfo(response, *reply.customer);
  if (faults.answerMiB > 0) response.append_child(pugi::node_comment);

  const std::string text = Save(document, faults.crlf);
  AnswerBody body = faults.answerMiB > 0 ? SplitAtPadding(text, faults.answerMiB * kMiB)
                                         : AnswerBody{text, 0, ""};
  if (faults.malformedXml) {
    std::string& end = body.tail.empty() ? body.head : body.tail;
    end.erase(end.rfind("</response>"));
  }
  return body;
}

std::string ServerErrorPage() {
  return "<!DOCTYPE html>\n"
         "<html><head><title>500 Internal Server Error</title></head>\n"
         "<body><h1>Internal Server Error</h1>\n"
         "<p>The server encountered an internal error and was unable to complete your "
         "request.</p></body></html>\n";
}

}  // namespace lumirex::sandbox
