// The C ABI's variant helpers: the only code that allocates or frees what a
// C variant holds, so a host and the library always agree on the allocator.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lumirex/lumirex.h"

extern "C" {

void LumirexVariantInit(LumirexVariant* v) {
  if (v == nullptr) return;
  std::memset(v, 0, sizeof *v);
  v->type = LUMIREX_EMPTY;
}

// Arrays are freed without recursion and without memory of its own, however
// deep a host nested them: elements go from the last to the first, and an
// inner array is entered through the element that holds it, which is about to
// be freed anyway and so keeps the way back: the element through which its own
// array was entered, and its index there.
void LumirexVariantClear(LumirexVariant* v) {
  if (v == nullptr) return;
  if (v->type == LUMIREX_STRING) std::free(v->value.string.data);
  if (v->type != LUMIREX_ARRAY || v->value.array.items == nullptr) {
    LumirexVariantInit(v);
    return;
  }
  LumirexVariant* items = v->value.array.items;
  int32_t left = v->value.array.count;
  LumirexVariant* enteredBy = nullptr;  // nullptr: the outermost array
  for (;;) {
    if (left > 0) {
      LumirexVariant& last = items[left - 1];
      if (last.type == LUMIREX_ARRAY && last.value.array.items != nullptr) {
        LumirexVariant* inner = last.value.array.items;
        const int32_t innerCount = last.value.array.count;
        last.value.array.items = enteredBy;
        last.value.array.count = left - 1;
        enteredBy = &last;
        items = inner;
        left = innerCount;
        continue;
      }
      if (last.type == LUMIREX_STRING) std::free(last.value.string.data);
      --left;
      continue;
    }
    std::free(items);
    if (enteredBy == nullptr) break;
    left = enteredBy->value.array.count;
    items = enteredBy - left;
    enteredBy = enteredBy->value.array.items;
  }
  LumirexVariantInit(v);
}

int LumirexVariantSetString(LumirexVariant* v, const char* data, size_t size) {
  if (v == nullptr || (data == nullptr && size != 0) || size == SIZE_MAX) return 1;
  auto* copy = static_cast<char*>(std::malloc(size + 1));
  if (copy == nullptr) return 1;
  if (size != 0) std::memcpy(copy, data, size);
  copy[size] = '\0';
  LumirexVariantInit(v);
  v->type = LUMIREX_STRING;
  v->value.string.data = copy;
  v->value.string.size = size;
  return 0;
}

int LumirexArrayCreate(LumirexVariant* v, int32_t count) {
  if (v == nullptr || count < 0) return 1;
  // calloc leaves every element all-zero, which is EMPTY.
  auto* items =
      static_cast<LumirexVariant*>(std::calloc(count == 0 ? 1 : count, sizeof(LumirexVariant)));
  if (items == nullptr) return 1;
  LumirexVariantInit(v);
  v->type = LUMIREX_ARRAY;
  v->value.array.items = items;
  v->value.array.count = count;
  return 0;
}

}  // extern "C"
