// C variants that a test owns, released on every path, for calls through the C ABI.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lumirex/lumirex.h"
#include "lumirex/lumirex.hpp"

namespace calltest {

// An ARRAY variant made with the library's own helpers, as a C host makes one.
class CArray {
 public:
  explicit CArray(int32_t count) {
    LumirexVariantInit(&value_);
    EXPECT_EQ(LumirexArrayCreate(&value_, count), 0);
  }
  // One STRING element for each text.
  explicit CArray(const std::vector<std::string>& texts)
      : CArray(static_cast<int32_t>(texts.size())) {
    for (int32_t i = 0; i < size(); ++i) SetText(i, texts[static_cast<std::size_t>(i)]);
  }
  ~CArray() { LumirexVariantClear(&value_); }
  CArray(const CArray&) = delete;
  CArray& operator=(const CArray&) = delete;

  LumirexVariant* get() { return &value_; }
  int32_t size() const { return value_.value.array.count; }
  // The first element, as IntegracaoLumirex takes its parameters.
  const LumirexVariant* items() const { return value_.value.array.items; }
  LumirexVariant& operator[](int32_t i) { return value_.value.array.items[i]; }

  void SetText(int32_t i, const std::string& text) {
    LumirexVariantClear(&(*this)[i]);
    ASSERT_EQ(LumirexVariantSetString(&(*this)[i], text.data(), text.size()), 0);
  }
  std::string Text(int32_t i) {
    auto& item = (*this)[i];
    EXPECT_EQ(item.type, LUMIREX_STRING);
    return item.type == LUMIREX_STRING ? std::string(item.value.string.data, item.value.string.size)
                                       : "";
  }
  // A copy in the C++ API's terms, for comparing whole arrays.
  lumirex::Variant Value() const { return lumirex::Variant::fromC(value_); }

 private:
  LumirexVariant value_;
};

// IntegracaoLumirex with every element of params, the last index the list's own.
inline bool CallThroughC(const CArray& params, CArray& result) {
  return IntegracaoLumirex(params.items(), params.size() - 1, result.get());
}

}  // namespace calltest
