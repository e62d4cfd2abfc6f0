#include "sandbox/order_body.hpp"

#include <algorithm>
#include <cctype>

#include "support/codepage.hpp"
#include "support/errors.hpp"
#include "support/url.hpp"

namespace lumirex::sandbox {

namespace {

constexpr std::string_view kPrefix = "order=";
constexpr std::string_view kSuffix = "&";

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// The encoding named in the document's XML declaration, lower case; "" when
// the document has no declaration or the declaration names none.
std::string DeclaredEncoding(std::string_view document) {
  if (!document.starts_with("<?xml")) return {};
  const std::string_view declaration = document.substr(0, document.find("?>"));
  std::size_t open = declaration.find("encoding");
  if (open == std::string_view::npos) return {};
  open = declaration.find_first_of("\"'", open);
  if (open == std::string_view::npos) return {};
  const std::size_t close = declaration.find(declaration[open], open + 1);
  if (close == std::string_view::npos) return {};
  return Lower(declaration.substr(open + 1, close - open - 1));
}

// The document as UTF-8, or false when its encoding is not one the service
// reads. Latin-1 labels are read as Windows-1252, as browsers do.
bool ToUtf8(std::string_view document, std::string& utf8, std::string& error) {
  const std::string encoding = DeclaredEncoding(document);
  if (encoding.empty() || encoding == "utf-8" || encoding == "utf8") {
    utf8 = document;
    return true;
  }
  if (encoding == "windows-1252" || encoding == "cp1252" || encoding == "iso-8859-1" ||
      encoding == "latin1") {
    utf8 = AnsiToUtf8(document);
    return true;
  }
  error = "codificação não suportada: " + encoding;
  return false;
}

// The document between "order=" and "&" of the decoded body.
bool Unwrap(std::string_view raw, std::string& document, std::string& error) {
  std::string decoded;
  try {
    decoded = PercentDecode(raw);
  } catch (const ConversionError&) {
    error = "escape % malformado no corpo";
    return false;
  }
  if (!std::string_view(decoded).starts_with(kPrefix)) {
    error = "o corpo não começa com \"order=\"";
    return false;
  }
  if (decoded.size() < kPrefix.size() + kSuffix.size() ||
      !std::string_view(decoded).ends_with(kSuffix)) {
    error = "o corpo não termina com \"&\"";
    return false;
  }
  document = decoded.substr(kPrefix.size(), decoded.size() - kPrefix.size() - kSuffix.size());
  return true;
}

}  // namespace

OrderBody ReadOrderBody(std::string_view raw) {
  OrderBody body;
  std::string document;
  if (!Unwrap(raw, document, body.error) || !ToUtf8(document, body.document, body.error)) {
    return body;
  }
  const auto parsed = body.xml.load_buffer(body.document.data(), body.document.size(),
                                           pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    body.error = std::string("XML malformado: ") + parsed.description() + " na posição " +
                 std::to_string(parsed.offset);
  } else if (std::string_view(body.xml.document_element().name()) != "order") {
    body.error = "o elemento raiz não é order";
  }
  return body;
}

}  // namespace lumirex::sandbox
