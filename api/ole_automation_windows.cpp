// The integration call for OLE Automation hosts: their VARIANTs are copied into
// the library's own variants on the way in, and the result elements the call
// changed are written back into the host's SAFEARRAY by the write-back every
// entry shares (api/write_back.hpp): all of them after a true return, none
// after a false one.
#include <windows.h>

#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "api/write_back.hpp"
#include "integration/call_outcome.hpp"
#include "lumirex/lumirex_ole.h"
#include "support/errors.hpp"
#include "support/settings.hpp"
#include "support/variant_nesting.hpp"
#include "support/windows_text.hpp"

namespace lumirex {

namespace {

// The refusal of one element, kept for the call to report after INICIO.
struct Refusal {
  std::string text;
  void Note(std::string what) {
    if (text.empty()) text = std::move(what);
  }
};

// The array a VARIANT holds, directly or by reference; null when it holds
// something else.
SAFEARRAY* HeldArray(const VARIANT& value, VARTYPE elementType) {
  const VARTYPE type = V_VT(&value);
  if (type == (VT_ARRAY | elementType)) return V_ARRAY(&value);
  if (type == (VT_BYREF | VT_ARRAY | elementType)) return *V_ARRAYREF(&value);
  return nullptr;
}

// A failed HRESULT of the system's OLE Automation: out of memory said as
// such, anything else the platform failing under the library.
void Check(HRESULT result, const char* what) {
  if (SUCCEEDED(result)) return;
  if (result == E_OUTOFMEMORY) throw std::bad_alloc();
  throw InternalError(std::string(what) + " failed (HRESULT " + std::to_string(result) + ")");
}

// How many elements a one-dimensional array holds; nullopt for an array of
// other dimensions, or one whose bounds cannot be read.
std::optional<std::size_t> ElementCount(SAFEARRAY* array) {
  if (array == nullptr || SafeArrayGetDim(array) != 1) return std::nullopt;
  LONG low = 0, high = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &low)) || FAILED(SafeArrayGetUBound(array, 1, &high))) {
    return std::nullopt;
  }
  return high < low ? 0 : static_cast<std::size_t>(static_cast<LONGLONG>(high) - low + 1);
}

// The elements of an array, locked in place while this lives.
class ArrayData {
 public:
  explicit ArrayData(SAFEARRAY* array)
      : array_(array), status_(SafeArrayAccessData(array, &data_)) {}
  ~ArrayData() {
    if (locked()) (void)SafeArrayUnaccessData(array_);  // undoes our own lock: cannot fail
  }
  ArrayData(const ArrayData&) = delete;
  ArrayData& operator=(const ArrayData&) = delete;

  bool locked() const { return SUCCEEDED(status_); }
  HRESULT status() const { return status_; }
  template <typename T>
  T* items() const {
    return static_cast<T*>(data_);
  }

 private:
  SAFEARRAY* array_;
  void* data_ = nullptr;
  HRESULT status_;
};

// Calls f(element, offset) for each element of a one-dimensional array of
// VARIANT; false for an array of more dimensions, or one that cannot be read.
template <typename F>
bool ForEachElement(SAFEARRAY* array, F&& f) {
  const std::optional<std::size_t> count = ElementCount(array);
  if (!count) return false;
  const ArrayData data(array);
  if (!data.locked()) return false;
  for (std::size_t i = 0; i < *count; ++i) f(data.items<VARIANT>()[i], i);
  return true;
}

Variant FromOle(const VARIANT& value, const std::string& what, int levelsLeft, Refusal& refusal);

Variant FromOleArray(SAFEARRAY* array, const std::string& what, int levelsLeft, Refusal& refusal) {
  if (levelsLeft <= 0) {
    refusal.Note(NestedTooDeep(what));
    return {};
  }
  std::vector<Variant> items;
  const bool done = ForEachElement(array, [&](const VARIANT& item, std::size_t i) {
    items.push_back(FromOle(item, what + " element " + std::to_string(i), levelsLeft - 1, refusal));
  });
  if (!done) {
    refusal.Note(what + " is not a one-dimensional array");
    return {};
  }
  return Variant(std::move(items));
}

// A byte array (a data packet, as such hosts hold one) is the bytes of a text.
Variant FromByteArray(SAFEARRAY* array, const std::string& what, Refusal& refusal) {
  const std::optional<std::size_t> count = ElementCount(array);
  std::optional<ArrayData> data;
  if (count) data.emplace(array);
  if (!data || !data->locked()) {
    refusal.Note(what + " is not a one-dimensional byte array");
    return {};
  }
  return Variant(std::string(data->items<const char>(), *count));
}

// The system's own conversion of a number, a date or a Boolean, by reference
// or not; it reads the source only, whatever its declaration says.
bool ChangeType(VARIANT& copy, const VARIANT& value, VARTYPE to) {
  return SUCCEEDED(VariantChangeType(&copy, const_cast<VARIANT*>(&value), 0, to));
}

Variant FromOle(const VARIANT& value, const std::string& what, int levelsLeft, Refusal& refusal) {
  if (SAFEARRAY* array = HeldArray(value, VT_VARIANT)) {
    return FromOleArray(array, what, levelsLeft, refusal);
  }
  if (SAFEARRAY* bytes = HeldArray(value, VT_UI1)) return FromByteArray(bytes, what, refusal);
  switch (V_VT(&value) & ~VT_BYREF) {
    case VT_EMPTY:
      return {};
    case VT_NULL:
      return Variant::Null();
    case VT_BSTR: {
      const BSTR text = V_VT(&value) & VT_BYREF ? *V_BSTRREF(&value) : V_BSTR(&value);
      // Every text of the parameters goes out (a CPF, a promocode): a
      // character the host encoding lacks is refused rather than sent as '?'.
      try {
        return Variant(
            HostTextFromWideExactly({text == nullptr ? L"" : text, SysStringLen(text)}, what));
      } catch (const ConversionError& error) {
        refusal.Note(error.what());
        return {};
      }
    }
    case VT_VARIANT:
      if (V_VT(&value) & VT_BYREF) return FromOle(*V_VARIANTREF(&value), what, levelsLeft, refusal);
      break;
    default:
      break;
  }
  VARIANT copy;
  VariantInit(&copy);
  Variant converted;
  const VARTYPE type = V_VT(&value) & ~VT_BYREF;
  if (type == VT_BOOL && ChangeType(copy, value, VT_BOOL)) {
    converted = Variant(V_BOOL(&copy) != VARIANT_FALSE);
  } else if ((type == VT_I8 || type == VT_UI8) && ChangeType(copy, value, VT_I8)) {
    converted = Variant(static_cast<std::int64_t>(V_I8(&copy)));
  } else if ((type == VT_I1 || type == VT_I2 || type == VT_I4 || type == VT_INT || type == VT_UI1 ||
              type == VT_UI2 || type == VT_UI4 || type == VT_UINT) &&
             ChangeType(copy, value, VT_I8)) {
    converted = Variant(static_cast<std::int64_t>(V_I8(&copy)));
  } else if ((type == VT_R4 || type == VT_R8 || type == VT_CY || type == VT_DECIMAL) &&
             ChangeType(copy, value, VT_R8)) {
    converted = Variant(V_R8(&copy));
  } else if (type == VT_DATE && ChangeType(copy, value, VT_DATE)) {
    converted = Variant::DateTime(V_DATE(&copy));
  } else {
    refusal.Note(what + " has the OLE type " + std::to_string(V_VT(&value)) +
                 ", which the call does not take");
  }
  (void)VariantClear(&copy);  // a number, a date or a Boolean: nothing to release, cannot fail
  return converted;
}

// A value of ours as a VARIANT the host owns.
void ToOle(const Variant& value, VARIANT* target) {
  VariantInit(target);
  switch (value.type()) {
    case Variant::Type::Empty:
      return;
    case Variant::Type::Null:
      V_VT(target) = VT_NULL;
      return;
    case Variant::Type::Bool:
      V_VT(target) = VT_BOOL;
      V_BOOL(target) = value.asBool() ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case Variant::Type::Int: {
      const std::int64_t number = value.asInt();
      if (number >= std::numeric_limits<LONG>::min() &&
          number <= std::numeric_limits<LONG>::max()) {
        V_VT(target) = VT_I4;
        V_I4(target) = static_cast<LONG>(number);
      } else {
        V_VT(target) = VT_I8;
        V_I8(target) = number;
      }
      return;
    }
    case Variant::Type::Double:
      V_VT(target) = VT_R8;
      V_R8(target) = value.asDouble();
      return;
    case Variant::Type::DateTime:
      V_VT(target) = VT_DATE;
      V_DATE(target) = value.asDouble();
      return;
    case Variant::Type::String: {
      const std::wstring text = WideFromHostText(value.asString());
      BSTR bstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (bstr == nullptr) throw std::bad_alloc();
      V_VT(target) = VT_BSTR;
      V_BSTR(target) = bstr;
      return;
    }
    case Variant::Type::Array: {
      const auto& items = value.items();
      SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
      if (array == nullptr) throw std::bad_alloc();
      for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
        VARIANT item;
        try {
          ToOle(items[static_cast<std::size_t>(i)], &item);
        } catch (...) {
          (void)SafeArrayDestroy(array);  // our own, unlocked: cannot fail
          throw;
        }
        const HRESULT put = SafeArrayPutElement(array, &i, &item);
        // Our own value of a type we made: clearing it cannot fail.
        (void)VariantClear(&item);
        if (FAILED(put)) {
          (void)SafeArrayDestroy(array);
          Check(put, "SafeArrayPutElement");
        }
      }
      V_VT(target) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(target) = array;
      return;
    }
  }
}

// The host's SAFEARRAY: each changed element is built as a VARIANT first;
// once all are, the array is locked and each old value is cleared and the
// new one moved into its slot, which cannot fail.
class OleResult final : public api::HostResult {
 public:
  OleResult(SAFEARRAY* array, std::size_t count) : array_(array), count_(count) {}
  ~OleResult() override {
    for (auto& element : built_) (void)VariantClear(&element.value);  // ours: cannot fail
  }
  OleResult(const OleResult&) = delete;
  OleResult& operator=(const OleResult&) = delete;

  std::size_t Count() const override { return count_; }

  void Build(std::size_t index, const Variant& value) override {
    built_.push_back({index, VARIANT{}});
    ToOle(value, &built_.back().value);
  }

  void PutInPlace() override {
    const ArrayData data(array_);
    Check(data.status(), "SafeArrayAccessData");
    VARIANT* items = data.items<VARIANT>();
    for (auto& element : built_) {
      VARIANT& slot = items[element.index];
      // The old value was read in whole, so its type is one VariantClear
      // knows; a failure would only leave it unreleased.
      (void)VariantClear(&slot);
      slot = element.value;
      VariantInit(&element.value);
    }
  }

 private:
  struct Element {
    std::size_t index;
    VARIANT value;
  };
  SAFEARRAY* array_;
  std::size_t count_;
  std::vector<Element> built_;
};

}  // namespace

}  // namespace lumirex

extern "C" bool IntegracaoLumirexOle(const VARIANT* params, VARIANT* result) {
  using namespace lumirex;
  try {
    Refusal refusal;
    std::vector<Variant> list;
    SAFEARRAY* paramArray = params == nullptr ? nullptr : HeldArray(*params, VT_VARIANT);
    if (params == nullptr) {
      refusal.Note("the parameter list is missing");
    } else if (paramArray == nullptr ||
               !ForEachElement(paramArray, [&](const VARIANT& item, std::size_t i) {
                 list.push_back(FromOle(item, "parameter element " + std::to_string(i),
                                        kMaxArrayNesting, refusal));
               })) {
      refusal.Note("the parameter list is not a one-dimensional array of VARIANT");
    }
    if (result == nullptr)
      return api::CallAndWriteBack(std::move(list), refusal.text, nullptr, nullptr);
    SAFEARRAY* resultArray = HeldArray(*result, VT_VARIANT);
    const std::optional<std::size_t> count = ElementCount(resultArray);
    if (!count) {
      // Refused as a missing array is: the host's VARIANT stays as it was.
      const Variant untouched;
      return api::CallAndWriteBack(std::move(list), refusal.text, &untouched, nullptr);
    }
    const Variant before = FromOle(*result, "the result array", kMaxArrayNesting, refusal);
    OleResult host(resultArray, *count);
    return api::CallAndWriteBack(std::move(list), refusal.text, &before, &host);
  } catch (...) {
    // Out of memory copying the host's values in: nothing was sent.
    RecordOutOfMemory();
    return false;
  }
}
