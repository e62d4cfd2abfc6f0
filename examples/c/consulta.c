/* A customer query from C: the parameter list laid out as a till lays it
 * out, one integration call, and the five result elements read back.
 *
 *   cc consulta.c $(pkg-config --cflags --libs lumirex) -o consulta
 *   ./consulta 12345678909 http://127.0.0.1:8080/
 *
 * The URL defaults to $LUMIREX_URL; the log goes under $LUMIREX_BASE_DIR, or
 * else under this program's folder. Exit status: 0 the service accepted,
 * 1 it declined, 2 the call failed, 64 usage error. */
#include <iconv.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lumirex/lumirex.h"

/* Texts inside the library are Windows-1252; a terminal wants UTF-8. */
static void print_ansi(const char* label, const LumirexVariant* v) {
  static char none[] = "";
  char utf8[4096];
  char* in = v->type == LUMIREX_STRING ? v->value.string.data : none;
  size_t in_left = v->type == LUMIREX_STRING ? v->value.string.size : 0;
  char* out = utf8;
  size_t out_left = sizeof utf8 - 1;
  iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
  if (cd != (iconv_t)-1) {
    iconv(cd, &in, &in_left, &out, &out_left);
    iconv_close(cd);
  }
  *out = '\0';
  printf("%-12s%s\n", label, utf8);
}

/* The customer's name and the promocodes arrive as the bytes the service
 * sent, which are UTF-8. */
static void print_bytes(const char* label, const LumirexVariant* v) {
  printf("%-12s%s\n", label, v->type == LUMIREX_STRING ? v->value.string.data : "");
}

/* The operator message of a failed call (without a handler it goes to stderr). */
static void on_message(const char* text, void* context) {
  (void)context;
  fprintf(stderr, "operator message: %s\n", text);
}

int main(int argc, char** argv) {
  const char* cpf = argc > 1 ? argv[1] : NULL;
  const char* url = argc > 2 ? argv[2] : getenv("LUMIREX_URL");
  if (cpf == NULL || url == NULL) {
    fprintf(stderr, "usage: consulta CPF [URL]   (URL defaults to $LUMIREX_URL)\n");
    return 64;
  }
  LumirexSetMessageHandler(on_message, NULL);

  /* Elements 0 to 5: operation, service URL, CPF, branch, till, sale number. */
  const char* texts[6] = {"CONSULTA", url, cpf, "", "", ""};
  LumirexVariant params[6];
  for (int i = 0; i < 6; ++i) {
    LumirexVariantInit(&params[i]);
    if (LumirexVariantSetString(&params[i], texts[i], strlen(texts[i])) != 0) return 2;
  }
  /* A customer query writes result elements 0 to 4. */
  LumirexVariant result;
  if (LumirexArrayCreate(&result, 5) != 0) return 2;

  int status = 2;
  if (IntegracaoLumirex(params, 5, &result)) {
    const LumirexVariant* e = result.value.array.items;
    int declined = e[0].type != LUMIREX_BOOL || e[0].value.boolean;
    printf("%s\n", declined ? "service declined" : "service accepted");
    print_ansi("message:", &e[1]);
    if (!declined) {
      print_bytes("name:", &e[2]);
      printf("%-12s%.2f\n", "balance:", e[3].type == LUMIREX_DOUBLE ? e[3].value.number : 0.0);
      print_bytes("promocodes:", &e[4]); /* a data packet, XML */
    }
    status = declined ? 1 : 0;
  } else {
    printf("call failed; the integration log says where\n");
  }

  for (int i = 0; i < 6; ++i) LumirexVariantClear(&params[i]);
  LumirexVariantClear(&result);
  return status;
}
