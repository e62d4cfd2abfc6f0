#include "integration/integration_call.hpp"

#include <string>

#include <pugixml.hpp>

#include "integration/data_module.hpp"
#include "messages/order_document.hpp"
#include "messages/requests.hpp"
#include "shared_services/shared_services.hpp"
#include "support/errors.hpp"
#include "support/log.hpp"
#include "support/number_text.hpp"
#include "support/text.hpp"
#include "support/url.hpp"

namespace lumirex {

namespace {

constexpr const char* kSeparatorLine = "--------------------------------------------------";
constexpr const char* kFailureLabel = "Exception IntegracaoLumirex: ";
constexpr const char* kTimeout = "10";
constexpr std::size_t kCommonParameters = 6;
constexpr std::size_t kValidationParameters = 10;

// The text values of one call, as the log and the branches use them.
struct CallValues {
  std::string operation;  // element 0
  std::string baseUrl;    // element 1, after the trailing-slash rule
  std::string cpf;        // element 2
  std::string branch;     // element 3
  std::string till;       // element 4
  std::string sequence;   // element 5
  std::string promocode;  // element 6, VALIDA_PROMOCODE only
  std::string urlTail;
  std::string method;
  std::string response;
};

// What a call owns from its start to its end, released on every path.
struct CallObjects {
  pugi::xml_document requestDocument;
  TStringStream sideStream1;
  TStringStream requestStream;
  TStringStream sideStream2;
};

// A list shorter than the operation needs is refused before anything reads
// past its end.
void RequireParameters(std::size_t count, std::size_t needed, const std::string& operation) {
  if (count >= needed) return;
  throw ConversionError("the parameter list has " + std::to_string(count) + " element" +
                        (count == 1 ? "" : "s") + "; " +
                        (count == 0 ? std::string("every operation") : operation) + " needs " +
                        std::to_string(needed));
}

void ReadCommonParameters(const std::vector<Variant>& params, CallValues& values) {
  std::string operation = params.empty() ? std::string() : VariantToText(params[0]);
  RequireParameters(params.size(), kCommonParameters, operation);
  values.operation = std::move(operation);
  values.baseUrl = VariantToText(params[1]);
  values.cpf = VariantToText(params[2]);
  values.branch = VariantToText(params[3]);
  values.till = VariantToText(params[4]);
  values.sequence = VariantToText(params[5]);
  // The trailing-slash rule; an empty URL becomes "/".
  if (values.baseUrl.empty() || values.baseUrl.back() != '/') values.baseUrl += '/';
}

// The four tests are made one after the other, not chained: at most one matches.
void PrepareRequest(const std::vector<Variant>& params, CallValues& values, CallObjects& objects,
                    TrdmIntegraLumirex& module) {
  RequestParts out{objects.requestDocument, objects.requestStream, values.urlTail, values.method};
  SaleKey key{values.branch, values.till, values.sequence};
  if (values.operation == "CONSULTA") {
    // Encoded, so a CPF holding "&", "=" or blanks cannot add or change query parameters.
    values.urlTail = "user?cpf=" + PercentEncode(values.cpf) + "&pdv=true";
    values.method = "GET";
  }
  if (values.operation == "VALIDA_PROMOCODE") {
    RequireParameters(params.size(), kValidationParameters, values.operation);
    BuildValidationRequest(params, module.cdsVenda, values.promocode, out);
  }
  if (values.operation == "VENDA") {
    BuildSaleRequest(key, module.adqVenda, module.adqItemVenda, out);
  }
  if (values.operation == "VENDA_CANC") {
    BuildCancellationRequest(key, module.adqVenda, out);
  }
}

void LogRequest(const CallValues& values, const CallObjects& objects) {
  WriteLogLine("P_OPERACAO   = " + values.operation);
  WriteLogLine("P_CPF        = " + values.cpf);
  WriteLogLine("P_CDFILIAL   = " + values.branch);
  WriteLogLine("P_CDCAIXA    = " + values.till);
  WriteLogLine("P_NRSEQVENDA = " + values.sequence);
  WriteLogLine("P_PROMOCODE  = " + values.promocode);
  // The request carries the URL's password; the log and the operator never see it.
  WriteLogLine("P_URL        = " + MaskUrlPasswords(values.baseUrl + values.urlTail));
  WriteLogLine("P_XML        = ", RemoveCarriageReturns(SerializeOrder(objects.requestDocument)));
  WriteLogLine("P_TIMEOUT    = 10");
}

std::string ResponseDocumentOf(const Variant& httpResult) {
  if (!httpResult.isArray() || httpResult.items().size() < 2) {
    throw ConversionError("the HTTP result has no element 1");
  }
  return VariantToText(httpResult.items()[1]);
}

bool CallSteps(const std::vector<Variant>& params, Variant* result, CallObjects& objects) {
  if (!rdmIntegraLumirex) rdmIntegraLumirex = std::make_unique<TrdmIntegraLumirex>();
  TrdmIntegraLumirex& module = *rdmIntegraLumirex;

  WriteLogLine(kSeparatorLine);
  WriteLogLine("INICIO");
  CallValues values;
  ReadCommonParameters(params, values);
  if (result == nullptr) throw ConversionError("the result array is missing");
  PrepareRequest(params, values, objects, module);
  LogRequest(values, objects);

  // The HTTP result goes as soon as its answer is taken: a large answer is
  // not held twice through the reading.
  values.response = ResponseDocumentOf(Services().RequisicaoHTTP(
      values.baseUrl + values.urlTail, "URLENCODED", values.method, objects.sideStream1,
      objects.requestStream, objects.sideStream2, kTimeout));
  WriteLogLine("RETORNO      = ", RemoveCarriageReturns(values.response));

  Variant parsed = values.operation == "CONSULTA" ? module.getConsulta(values.response, *result)
                                                  : module.getRetVenda(values.response, *result);
  bool returned = VariantToBool(parsed);
  WriteLogLine("FIM");
  return returned;
}

void ReportFailure(const std::string& message) noexcept {
  try {
    // Failures of the exchange name the URL, password and all.
    std::string text = kFailureLabel + MaskUrlPasswords(message);
    try {
      WriteLogLine(text);
    } catch (...) {
      // The log itself is what failed; the operator still hears about it.
    }
    Services().Mensagem(text, "", "N", "N", TTipoMsg::Error, "", "", 0, nullptr);
  } catch (...) {
    // Out of memory while reporting: nothing more can be done, and nothing may escape.
  }
}

}  // namespace

std::mutex& CallMutex() {
  static std::mutex mutex;
  return mutex;
}

bool RunIntegrationCall(std::vector<Variant> params, Variant* result) noexcept {
  std::lock_guard lock(CallMutex());
  CallObjects objects;
  try {
    return CallSteps(params, result, objects);
  } catch (const std::exception& error) {
    ReportFailure(error.what());
  } catch (...) {
    ReportFailure("unknown error");
  }
  return false;
}

}  // namespace lumirex
