/* A till host that loads lumirex.dll itself and turns forwarding on. A sale
 * reported while its service is down is kept; the host then lets the
 * library go with FreeLibrary and no Finalize, as a host that unloads its
 * plug-ins does. The library must stay loaded under its forwarder, which
 * still has work, and send the sale by itself once forwarding.sh
 * has started the service; the process must then end as usual.
 *   forwarding_host BASE_DIR OUTBOX URL
 * It prints "kept" once the service may be started. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "lumirex/lumirex.h"

static int failures = 0;

static void check(int passed, int line, const char* condition) {
  if (!passed) fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, line, condition);
  failures += !passed;
}
#define CHECK(condition) check((condition) != 0, __LINE__, #condition)

typedef void(LUMIREX_CALL* SetText)(const char*);
typedef int(LUMIREX_CALL* SetFile)(const char*);
typedef int(LUMIREX_CALL* SetFlag)(int32_t);
typedef void(LUMIREX_CALL* VariantOp)(LumirexVariant*);
typedef int(LUMIREX_CALL* VariantText)(LumirexVariant*, const char*, size_t);
typedef int(LUMIREX_CALL* ArrayCreate)(LumirexVariant*, int32_t);
typedef bool(LUMIREX_CALL* Call)(const LumirexVariant*, int32_t, LumirexVariant*);
typedef int32_t(LUMIREX_CALL* LastCall)(LumirexCallOutcome*, char*, size_t);
typedef int32_t(LUMIREX_CALL* Status)(LumirexOutboxState*);
typedef void(LUMIREX_CALL* SetHandler)(LumirexOutboxHandler, void*);

static HMODULE library;

/* void (*)(void) casts to any function pointer without a warning. */
typedef void (*Function)(void);

static Function function(const char* name) {
  FARPROC found = GetProcAddress(library, name);
  if (found == NULL) {
    fprintf(stderr, "lumirex.dll has no %s\n", name);
    ExitProcess(2);
  }
  return (Function)found;
}

static volatile LONG kept_end = 0;

/* On the forwarder's thread. */
static void LUMIREX_CALL on_kept_report(const LumirexKeptOutcome* outcome, void* context) {
  (void)context;
  InterlockedExchange(&kept_end, outcome->end);
}

/* The demo sale, reported while nothing listens at `url`. */
static void report_sale(const char* url) {
  const char* texts[6] = {"VENDA", url, "", "0001", "001", "000123"};
  LumirexVariant params[6], result;
  LumirexCallOutcome outcome;
  int i;
  for (i = 0; i < 6; ++i) {
    ((VariantOp)function("LumirexVariantInit"))(&params[i]);
    ((VariantText)function("LumirexVariantSetString"))(&params[i], texts[i], strlen(texts[i]));
  }
  ((VariantOp)function("LumirexVariantInit"))(&result);
  ((ArrayCreate)function("LumirexArrayCreate"))(&result, 5);
  CHECK(!((Call)function("IntegracaoLumirex"))(params, 5, &result));
  ((LastCall)function("LumirexLastCall"))(&outcome, NULL, 0);
  CHECK(outcome.error == LUMIREX_E_CONNECT && outcome.queued == 1 && outcome.sent == 0);
  for (i = 0; i < 6; ++i) ((VariantOp)function("LumirexVariantClear"))(&params[i]);
  ((VariantOp)function("LumirexVariantClear"))(&result);
}

static int nothing_waits(void) {
  LumirexOutboxState state;
  memset(&state, 0, sizeof state);
  state.size = sizeof state;
  return ((Status)function("LumirexOutboxStatus"))(&state) == 0 && state.waiting == 0;
}

/* On a thread of the host's that ends before the library is let go: a
 * thread that called the library holds it while it lives (its thread-local
 * objects do), which would hide what the library's own threads do. */
static DWORD WINAPI till(void* parameter) {
  char** argv = (char**)parameter;
  /* Before the outbox is named: no round starts yet. */
  CHECK(((SetFlag)function("LumirexSetForwarding"))(1) == 0);
  ((SetText)function("LumirexSetBaseDir"))(argv[1]);
  CHECK(((SetFile)function("LumirexSetOutbox"))(argv[2]) == 0);
  ((SetHandler)function("LumirexSetOutboxHandler"))(on_kept_report, NULL);
  report_sale(argv[3]);
  return 0;
}

int main(int argc, char** argv) {
  HANDLE thread;
  int tenths;
  if (argc != 4) return 2;
  library = LoadLibraryW(L"lumirex.dll");
  if (library == NULL) return 2;
  thread = CreateThread(NULL, 0, till, argv, 0, NULL);
  if (thread == NULL) return 2;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);

  FreeLibrary(library);
  /* Unloaded now, the library's threads would run code that is gone at
   * their next step: the forwarder's next try. */
  CHECK(GetModuleHandleW(L"lumirex.dll") != NULL);
  printf("kept\n");
  fflush(stdout);

  /* The same library, still loaded: only to watch the outbox. */
  library = LoadLibraryW(L"lumirex.dll");
  for (tenths = 0; tenths < 600 && !nothing_waits(); ++tenths) Sleep(100);
  CHECK(nothing_waits());
  CHECK(kept_end == LUMIREX_KEPT_ACCEPTED);
  FreeLibrary(library);
  if (failures == 0) printf("forwarding host: the kept sale went by itself\n");
  return failures == 0 ? 0 : 1;
}
