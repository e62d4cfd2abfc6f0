/* A C host of an installed lumirex: one customer query against $LUMIREX_URL. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <lumirex/lumirex.h>

int main(void) {
  const char* texts[6] = {"CONSULTA", getenv("LUMIREX_URL"), "12345678909", "", "", ""};
  LumirexVariant params[6], result;
  int i, accepted;
  if (texts[1] == NULL) return 64;
  for (i = 0; i < 6; ++i) {
    LumirexVariantInit(&params[i]);
    LumirexVariantSetString(&params[i], texts[i], strlen(texts[i]));
  }
  LumirexArrayCreate(&result, 5);
  accepted = IntegracaoLumirex(params, 5, &result) && !result.value.array.items[0].value.boolean;
  if (accepted)
    printf("lumirex %s: %s\n", LumirexVersion(), result.value.array.items[2].value.string.data);
  for (i = 0; i < 6; ++i) LumirexVariantClear(&params[i]);
  LumirexVariantClear(&result);
  return accepted ? 0 : 1;
}
