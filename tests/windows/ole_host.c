/* An OLE Automation host in C: it builds its parameter list and result array
 * as SAFEARRAYs of VARIANT, the way a C#, VB or Delphi host's runtime does,
 * and calls IntegracaoLumirexOle against the sandbox at LUMIREX_URL. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "lumirex/lumirex_ole.h"

static int failures = 0;

#define CHECK(condition)                                                      \
  do {                                                                        \
    if (!(condition)) {                                                       \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                             \
    }                                                                         \
  } while (0)

static void put(SAFEARRAY* array, LONG index, VARIANT* value) {
  SafeArrayPutElement(array, &index, value);
  VariantClear(value);
}

static void put_text(SAFEARRAY* array, LONG index, const wchar_t* text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(text);
  put(array, index, &v);
}

static VARIANT element(SAFEARRAY* array, LONG index) {
  VARIANT v;
  VariantInit(&v);
  SafeArrayGetElement(array, &index, &v);
  return v;
}

static VARIANT holding(SAFEARRAY* array) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&v) = array;
  return v;
}

/* A VB-style array, counted from 1: element 0 of the call is the lower bound. */
static SAFEARRAY* array_from_one(ULONG count) {
  SAFEARRAYBOUND bound = {count, 1};
  return SafeArrayCreate(VT_VARIANT, 1, &bound);
}

static void wide_url(wchar_t* out, size_t size) {
  const char* url = getenv("LUMIREX_URL");
  MultiByteToWideChar(CP_UTF8, 0, url != NULL ? url : "http://localhost:1/", -1, out, (int)size);
}

/* CONSULTA with the branch code as VT_I4, the till code as VT_R8 and the
 * sequence number by reference: each is taken as its text. */
static void customer_query(void) {
  wchar_t url[512];
  wide_url(url, 512);
  SAFEARRAY* params = array_from_one(6);
  put_text(params, 1, L"CONSULTA");
  put_text(params, 2, url);
  put_text(params, 3, L"123.456.789-09");
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = 1;
  put(params, 4, &v);
  V_VT(&v) = VT_R8;
  V_R8(&v) = 1.0;
  put(params, 5, &v);
  put_text(params, 6, L"123");

  VARIANT list = holding(params), result = holding(SafeArrayCreateVector(VT_VARIANT, 0, 5));

  CHECK(IntegracaoLumirexOle(&list, &result));
  SAFEARRAY* answer = V_ARRAY(&result);
  VARIANT flag = element(answer, 0);
  CHECK(V_VT(&flag) == VT_BOOL && V_BOOL(&flag) == VARIANT_FALSE);
  VARIANT name = element(answer, 2);
  /* The customer's name as the service sent it, UTF-8 for a UTF-8 host,
   * handed over as UTF-16. */
  CHECK(V_VT(&name) == VT_BSTR && wcscmp(V_BSTR(&name), L"Jo\u00e3o da Silva") == 0);
  VARIANT balance = element(answer, 3);
  CHECK(V_VT(&balance) == VT_R8 && V_R8(&balance) == 12.5);
  VARIANT packet = element(answer, 4);
  CHECK(V_VT(&packet) == VT_BSTR && SysStringLen(V_BSTR(&packet)) > 0);
  VariantClear(&name);
  VariantClear(&packet);
  VariantClear(&list);
  VariantClear(&result);
}

/* An element of a type the call does not take fails the call as bad input,
 * and the result array is left as the host made it. */
static void refused_element(void) {
  SAFEARRAY* params = SafeArrayCreateVector(VT_VARIANT, 0, 6);
  put_text(params, 0, L"CONSULTA");
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_ERROR;
  V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
  put(params, 2, &v);
  VARIANT list = holding(params), result = holding(SafeArrayCreateVector(VT_VARIANT, 0, 5));

  CHECK(!IntegracaoLumirexOle(&list, &result));
  LumirexCallOutcome outcome;
  char message[256];
  LumirexLastCall(&outcome, message, sizeof message);
  CHECK(outcome.error == LUMIREX_E_INPUT);
  CHECK(strstr(message, "parameter element 2") != NULL);
  VARIANT flag = element(V_ARRAY(&result), 0);
  CHECK(V_VT(&flag) == VT_EMPTY);
  VariantClear(&list);
  VariantClear(&result);
}

/* A customer query into an array of two: the answer reached the library but
 * the array cannot take it, so the call fails and the array is left as the
 * host made it, element 0 included. */
static void short_array(void) {
  wchar_t url[512];
  wide_url(url, 512);
  SAFEARRAY* params = SafeArrayCreateVector(VT_VARIANT, 0, 6);
  put_text(params, 0, L"CONSULTA");
  put_text(params, 1, url);
  put_text(params, 2, L"123.456.789-09");
  VARIANT list = holding(params), result = holding(SafeArrayCreateVector(VT_VARIANT, 0, 2));

  CHECK(!IntegracaoLumirexOle(&list, &result));
  LumirexCallOutcome outcome;
  LumirexLastCall(&outcome, NULL, 0);
  CHECK(outcome.error == LUMIREX_E_INPUT && outcome.sent == 1);
  VARIANT flag = element(V_ARRAY(&result), 0), message = element(V_ARRAY(&result), 1);
  CHECK(V_VT(&flag) == VT_EMPTY && V_VT(&message) == VT_EMPTY);
  VariantClear(&list);
  VariantClear(&result);
}

int main(void) {
  CHECK(LumirexSetHostEncoding("UTF-8") == 0);
  customer_query();
  refused_element();
  short_array();
  if (failures == 0) printf("ole host: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
