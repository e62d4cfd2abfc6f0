// The integration call for OLE Automation hosts: their VARIANTs are copied into
// the library's own variants on the way in, and the result elements the call
// changed are written back into the host's SAFEARRAY in place.
#include <windows.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "integration/call_outcome.hpp"
#include "integration/integration_call.hpp"
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

// Calls f(element, offset) for each element of a one-dimensional array of
// VARIANT; false for an array of more dimensions.
template <typename F>
bool ForEachElement(SAFEARRAY* array, F&& f) {
  if (array == nullptr || SafeArrayGetDim(array) != 1) return false;
  LONG low = 0, high = -1;
  SafeArrayGetLBound(array, 1, &low);
  SafeArrayGetUBound(array, 1, &high);
  VARIANT* items = nullptr;
  if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&items)))) return false;
  for (LONG i = low; i <= high; ++i) f(items[i - low], static_cast<std::size_t>(i - low));
  SafeArrayUnaccessData(array);
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
  LONG low = 0, high = -1;
  unsigned char* bytes = nullptr;
  if (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &low)) ||
      FAILED(SafeArrayGetUBound(array, 1, &high)) ||
      FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&bytes)))) {
    refusal.Note(what + " is not a one-dimensional byte array");
    return {};
  }
  std::string text(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(high - low + 1));
  SafeArrayUnaccessData(array);
  return Variant(std::move(text));
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
  VariantClear(&copy);
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
          SafeArrayDestroy(array);
          throw;
        }
        SafeArrayPutElement(array, &i, &item);
        VariantClear(&item);
      }
      V_VT(target) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(target) = array;
      return;
    }
  }
}

// Writes back the result elements the call changed; SafeArrayPutElement
// releases each old value.
void WriteBack(const Variant& before, const Variant& after, SAFEARRAY* array) {
  if (!before.isArray() || !after.isArray()) return;
  LONG low = 0;
  SafeArrayGetLBound(array, 1, &low);
  const auto& old = before.items();
  const auto& now = after.items();
  for (std::size_t i = 0; i < old.size() && i < now.size(); ++i) {
    if (now[i] == old[i]) continue;
    VARIANT written;
    ToOle(now[i], &written);
    LONG index = low + static_cast<LONG>(i);
    SafeArrayPutElement(array, &index, &written);
    VariantClear(&written);
  }
}

}  // namespace

}  // namespace lumirex

extern "C" bool IntegracaoLumirexOle(const VARIANT* params, VARIANT* result) {
  using namespace lumirex;
  try {
    Refusal refusal;
    std::vector<Variant> list;
    if (params == nullptr) {
      refusal.Note("the parameter list is missing");
    } else if (SAFEARRAY* array = HeldArray(*params, VT_VARIANT)) {
      ForEachElement(array, [&](const VARIANT& item, std::size_t i) {
        list.push_back(
            FromOle(item, "parameter element " + std::to_string(i), kMaxArrayNesting, refusal));
      });
    }
    if (params != nullptr && list.empty() && HeldArray(*params, VT_VARIANT) == nullptr) {
      refusal.Note("the parameter list is not a one-dimensional array of VARIANT");
    }
    SAFEARRAY* resultArray = result == nullptr ? nullptr : HeldArray(*result, VT_VARIANT);
    if (resultArray == nullptr || SafeArrayGetDim(resultArray) != 1) {
      // Refused as a missing array is: the host's VARIANT stays as it was.
      Variant untouched;
      return RunIntegrationCall(std::move(list), result == nullptr ? nullptr : &untouched,
                                refusal.text);
    }
    const Variant before = FromOle(*result, "the result array", kMaxArrayNesting, refusal);
    Variant after = before;
    const bool returned = RunIntegrationCall(std::move(list), &after, refusal.text);
    WriteBack(before, after, resultArray);
    return returned;
  } catch (...) {
    // Out of memory copying the host's values: reported as any failure is.
    RecordLastFailure(LUMIREX_E_MEMORY, "");
    settings::DeliverMessage("Exception IntegracaoLumirexOle: out of memory");
    return false;
  }
}
