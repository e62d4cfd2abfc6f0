// The OLE entry short of memory: each of the last allocations of a customer
// query fails in turn. Whatever fails, the call either returns true with the
// whole answer in the host's array, or returns false with the array as the
// host made it; a failure after the exchange keeps `sent`.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "lumirex/lumirex_ole.h"

namespace {

// Only this thread's allocations count; constant initialisation, so reading
// them allocates nothing.
constinit thread_local long counted = 0;
constinit thread_local long failAt = 0;  // 0: none fails

void* Allocate(std::size_t size) {
  ++counted;
  if (counted == failAt) throw std::bad_alloc();
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

int failures = 0;

void Check(bool condition, const char* what, long at) {
  if (condition) return;
  std::fprintf(stderr, "allocation %ld: failed: %s\n", at, what);
  ++failures;
}

VARIANT Text(const wchar_t* text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(text);
  return v;
}

// One customer query into a fresh array of five; returns the call's Boolean
// and how many of the array's elements it left EMPTY.
bool Query(const wchar_t* url, int& empty) {
  SAFEARRAY* params = SafeArrayCreateVector(VT_VARIANT, 0, 6);
  const wchar_t* texts[6] = {L"CONSULTA", url, L"123.456.789-09", L"", L"", L""};
  for (LONG i = 0; i < 6; ++i) {
    VARIANT v = Text(texts[i]);
    SafeArrayPutElement(params, &i, &v);
    VariantClear(&v);
  }
  VARIANT list, result;
  VariantInit(&list);
  VariantInit(&result);
  V_VT(&list) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&list) = params;
  V_VT(&result) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&result) = SafeArrayCreateVector(VT_VARIANT, 0, 5);
  const bool returned = IntegracaoLumirexOle(&list, &result);
  empty = 0;
  for (LONG i = 0; i < 5; ++i) {
    VARIANT element;
    VariantInit(&element);
    SafeArrayGetElement(V_ARRAY(&result), &i, &element);
    if (V_VT(&element) == VT_EMPTY) ++empty;
    VariantClear(&element);
  }
  VariantClear(&list);
  VariantClear(&result);
  return returned;
}

}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}

// The operator's messages go nowhere: the test reads the outcome instead.
void LUMIREX_CALL Silent(const char*, void*) {}

int main() {
  const char* service = std::getenv("LUMIREX_URL");
  if (service == nullptr) return 77;
  wchar_t url[512];
  MultiByteToWideChar(CP_UTF8, 0, service, -1, url, 512);
  LumirexSetMessageHandler(&Silent, nullptr);
  int empty = 0;
  // The first call sets up what later calls reuse (the connection, the module).
  Check(Query(url, empty) && empty == 0, "the first query", 0);
  counted = 0;
  Check(Query(url, empty) && empty == 0, "the counted query", 0);
  const long total = counted;
  bool keptSent = false;
  for (long at = total; at > 0 && at > total - 60; --at) {
    counted = 0;
    failAt = at;
    const bool returned = Query(url, empty);
    failAt = 0;
    if (returned) {
      Check(empty == 0, "a true return wrote every element", at);
      continue;
    }
    Check(empty == 5, "a false return left the array as it was", at);
    LumirexCallOutcome outcome;
    LumirexLastCall(&outcome, nullptr, 0);
    Check(outcome.error != LUMIREX_OK, "a false return said why", at);
    keptSent = keptSent || (outcome.error == LUMIREX_E_MEMORY && outcome.sent == 1);
  }
  Check(keptSent, "an allocation failing after the exchange kept sent = 1", total);
  if (failures == 0) std::printf("ole allocation: %ld allocations, all checks passed\n", total);
  return failures == 0 ? 0 : 1;
}
