#include "c_call.hpp"

#include <new>
#include <stdexcept>

#include "pos_database.hpp"

namespace lumirex::bench {

CCall::CCall(const std::vector<std::string>& parameters) {
  LumirexVariantInit(&params_);
  LumirexVariantInit(&result_);
  const auto count = static_cast<int32_t>(parameters.size());
  if (LumirexArrayCreate(&params_, count) != 0 || LumirexArrayCreate(&result_, 5) != 0) {
    LumirexVariantClear(&params_);
    throw std::bad_alloc();
  }
  for (int32_t i = 0; i < count; ++i) {
    const std::string& text = parameters[static_cast<std::size_t>(i)];
    if (LumirexVariantSetString(&params_.value.array.items[i], text.data(), text.size()) != 0) {
      LumirexVariantClear(&params_);
      LumirexVariantClear(&result_);
      throw std::bad_alloc();
    }
  }
}

CCall::~CCall() {
  LumirexVariantClear(&params_);
  LumirexVariantClear(&result_);
}

bool CCall::Run() {
  // A fresh result array for every call, as a host makes one (the guide's
  // example does); the previous answer is released here.
  LumirexVariantClear(&result_);
  if (LumirexArrayCreate(&result_, 5) != 0) throw std::bad_alloc();
  return IntegracaoLumirex(params_.value.array.items, params_.value.array.count - 1, &result_);
}

bool CCall::Accepted() const {
  const LumirexVariant& errorFlag = result_.value.array.items[0];
  return errorFlag.type == LUMIREX_BOOL && errorFlag.value.boolean == 0;
}

std::string CCall::Text(int index) const {
  const LumirexVariant& item = result_.value.array.items[index];
  if (item.type != LUMIREX_STRING) return "";
  return std::string(item.value.string.data, item.value.string.size);
}

std::vector<std::string> ConsultaParameters(const std::string& url, const std::string& cpf) {
  return {"CONSULTA", url, cpf, "", "", ""};
}

std::vector<std::string> VendaParameters(const std::string& url) {
  return {"VENDA", url, "", kSaleBranch, kSaleTill, kSaleSequence};
}

}  // namespace lumirex::bench
