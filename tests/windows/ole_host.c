/* An OLE Automation host in C: it builds its parameter list and result array
 * as SAFEARRAYs of VARIANT, the way a C#, VB or Delphi host's runtime does
 * (VB's counted from 1 and passed by reference), reads the call's Boolean as
 * one byte, and calls IntegracaoLumirexOle against the sandbox at LUMIREX_URL
 * in the host encoding its argument names. */
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

/* Held by reference, as VB passes an array variable to a ByRef Variant. */
static VARIANT by_reference(SAFEARRAY** array) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BYREF | VT_ARRAY | VT_VARIANT;
  V_ARRAYREF(&v) = array;
  return v;
}

/* The call's one-byte Boolean, read as VB's "As Byte" reads it. */
static unsigned char call_as_byte(VARIANT* list, VARIANT* result) {
  return (unsigned char)IntegracaoLumirexOle(list, result);
}

static int utf8_host;

/* The customer's promocode packet, and the code in it that has a letter
 * outside ASCII, as the host read them. */
static wchar_t accented_code[64];

static void read_accented_code(const wchar_t* packet) {
  const wchar_t* at = packet;
  accented_code[0] = 0;
  while ((at = wcsstr(at, L"CDPROMOCAO=\"")) != NULL) {
    at += wcslen(L"CDPROMOCAO=\"");
    const wchar_t* end = wcschr(at, L'"');
    int accented = 0;
    for (const wchar_t* c = at; end != NULL && c < end; ++c) accented |= *c > 0x7F;
    if (accented && end - at < 64) {
      wcsncpy(accented_code, at, (size_t)(end - at));
      accented_code[end - at] = 0;
    }
  }
}

/* CONSULTA with the branch code as VT_I4, the till code as VT_R8 and the
 * sequence number by reference, the list and the result arrays held by
 * reference: each is taken as its text. */
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
  SAFEARRAY* answer = array_from_one(5);

  VARIANT list = by_reference(&params), result = by_reference(&answer);
  CHECK(call_as_byte(&list, &result) == 1);
  VARIANT flag = element(answer, 1);
  CHECK(V_VT(&flag) == VT_BOOL && V_BOOL(&flag) == VARIANT_FALSE);
  VARIANT name = element(answer, 3);
  /* The name the service sent, in either host encoding. */
  CHECK(V_VT(&name) == VT_BSTR && wcscmp(V_BSTR(&name), L"Jo\u00e3o da Silva") == 0);
  VARIANT balance = element(answer, 4);
  CHECK(V_VT(&balance) == VT_R8 && V_R8(&balance) == 12.5);
  VARIANT packet = element(answer, 5);
  CHECK(V_VT(&packet) == VT_BSTR && SysStringLen(V_BSTR(&packet)) > 0);
  if (V_VT(&packet) == VT_BSTR) {
    CHECK(wcsstr(V_BSTR(&packet),
                 utf8_host ? L"encoding=\"UTF-8\"" : L"encoding=\"windows-1252\"") != NULL);
    read_accented_code(V_BSTR(&packet));
  }
  CHECK(wcscmp(accented_code, L"P\u00c3O5") == 0);
  VariantClear(&name);
  VariantClear(&packet);
  SafeArrayDestroy(params);
  SafeArrayDestroy(answer);
}

/* VALIDA_PROMOCODE with `code`; returns the call's byte, and the service's
 * verdict in *accepted. */
static unsigned char validation(const wchar_t* code, int* accepted) {
  wchar_t url[512];
  wide_url(url, 512);
  SAFEARRAY* params = SafeArrayCreateVector(VT_VARIANT, 0, 10);
  const wchar_t* texts[] = {L"VALIDA_PROMOCODE", url,  L"12345678909", L"0001", L"001",
                            L"000123",           code, L"LOJA-1",      L"12,34"};
  for (LONG i = 0; i < 9; ++i) put_text(params, i, texts[i]);
  put_text(params, 9,
           L"<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\"><METADATA>"
           L"<FIELDS><FIELD attrname=\"CDPRODUTO\" fieldtype=\"string\" WIDTH=\"20\"/></FIELDS>"
           L"<PARAMS/></METADATA><ROWDATA><ROW CDPRODUTO=\"1001\"/></ROWDATA></DATAPACKET>");
  SAFEARRAY* answer = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  VARIANT list = holding(params), result = by_reference(&answer);
  const unsigned char returned = call_as_byte(&list, &result);
  VARIANT flag = element(answer, 0);
  *accepted = V_VT(&flag) == VT_BOOL && V_BOOL(&flag) == VARIANT_FALSE;
  VariantClear(&list);
  SafeArrayDestroy(answer);
  return returned;
}

/* The accented code read from the packet is accepted as it stands; a code
 * with a letter Windows-1252 lacks is refused from such a host, not sent as
 * '?', and goes out whole from a UTF-8 host (where the service knows no such
 * code). */
static void promocodes(void) {
  int accepted = 0;
  CHECK(validation(accented_code, &accepted) == 1 && accepted);
  CHECK(validation(L"\u0141\u00d3D\u01791", &accepted) == (utf8_host ? 1 : 0));
  CHECK(!accepted);
  if (!utf8_host) {
    LumirexCallOutcome outcome;
    char message[256];
    LumirexLastCall(&outcome, message, sizeof message);
    CHECK(outcome.error == LUMIREX_E_INPUT);
    CHECK(strstr(message, "holds U+0141, which windows-1252 lacks") != NULL);
  }
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

/*   ole_host [UTF-8 | windows-1252]   (default windows-1252, a default host) */
int main(int argc, char** argv) {
  utf8_host = argc > 1 && strcmp(argv[1], "UTF-8") == 0;
  if (utf8_host) CHECK(LumirexSetHostEncoding("UTF-8") == 0);
  customer_query();
  promocodes();
  refused_element();
  short_array();
  if (failures == 0) printf("ole host: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
