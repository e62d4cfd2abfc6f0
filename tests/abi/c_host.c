/* A C99 host: it compiles against the public header alone and uses the
 * variant helpers the way a till's back end would. */
#include <stdio.h>
#include <string.h>

#include "lumirex/lumirex.h"

static int failures = 0;

#define CHECK(condition)                                                      \
  do {                                                                        \
    if (!(condition)) {                                                       \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                             \
    }                                                                         \
  } while (0)

static void variant_helpers(void) {
  LumirexVariant v;
  LumirexVariantInit(&v);
  CHECK(v.type == LUMIREX_EMPTY);

  CHECK(LumirexVariantSetString(&v, "ab\0c", 4) == 0);
  CHECK(v.type == LUMIREX_STRING);
  CHECK(v.value.string.size == 4);
  CHECK(memcmp(v.value.string.data, "ab\0c", 5) == 0); /* terminated after the copy */
  LumirexVariantClear(&v);
  CHECK(v.type == LUMIREX_EMPTY);

  CHECK(LumirexArrayCreate(&v, -1) != 0);
  CHECK(LumirexArrayCreate(&v, 3) == 0);
  CHECK(v.type == LUMIREX_ARRAY && v.value.array.count == 3);
  CHECK(v.value.array.items[2].type == LUMIREX_EMPTY);
  CHECK(LumirexVariantSetString(&v.value.array.items[1], "x", 1) == 0);
  CHECK(LumirexArrayCreate(&v.value.array.items[2], 2) == 0);
  LumirexVariantClear(&v); /* frees the nested string and array too */
  CHECK(v.type == LUMIREX_EMPTY);

  CHECK(LumirexVariantSetString(&v, NULL, 1) != 0);
  CHECK(LumirexVariantSetString(&v, NULL, 0) == 0);
  CHECK(v.value.string.size == 0 && v.value.string.data[0] == '\0');
  LumirexVariantClear(&v);
  LumirexVariantClear(NULL);
}

int main(void) {
  Initialize();
  variant_helpers();
  CHECK(strlen(LumirexVersion()) > 0);
  LumirexSetDecimalSeparator(',');
  Finalize();
  if (failures == 0) printf("c host: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
