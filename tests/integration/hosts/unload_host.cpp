// A host that unloads the library while its forwarder has work, run by the
// process-life tests:
//   unload_host <liblumirex.so> <base folder> <connection string> <outbox>
// It reports the demo sale to a service that is not there (the report is
// kept, and the forwarder tries it again on its back-off), then closes the
// library, goes on for a while and ends. The system may unmap the library at
// once or only at the end (it keeps one mapped while a thread has its
// thread-local objects): either way the forwarder must have stopped before
// the library's code and statics go. Exits 0 when nothing crashed, 2 on a
// set-up failure.
#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "lumirex/lumirex.h"

namespace {

template <typename Function>
Function Find(void* library, const char* name) {
  return reinterpret_cast<Function>(dlsym(library, name));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  setenv("LUMIREX_FORWARDING_BACKOFF_MS", "20,50", 1);
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return 2;
  Find<void (*)(const char*)>(library, "LumirexSetBaseDir")(argv[2]);
  Find<void (*)(const char*)>(library, "LumirexSetConnectionString")(argv[3]);
  Find<void (*)(LumirexMessageHandler, void*)>(library, "LumirexSetMessageHandler")(
      [](const char*, void*) {}, nullptr);
  if (Find<int (*)(const char*)>(library, "LumirexSetOutbox")(argv[4]) != 0) return 2;
  Find<int (*)(int32_t)>(library, "LumirexSetForwarding")(1);

  auto init = Find<void (*)(LumirexVariant*)>(library, "LumirexVariantInit");
  auto clear = Find<void (*)(LumirexVariant*)>(library, "LumirexVariantClear");
  auto set =
      Find<int (*)(LumirexVariant*, const char*, size_t)>(library, "LumirexVariantSetString");
  auto array = Find<int (*)(LumirexVariant*, int32_t)>(library, "LumirexArrayCreate");
  auto call =
      Find<bool (*)(const LumirexVariant*, int32_t, LumirexVariant*)>(library, "IntegracaoLumirex");
  const char* const venda[6] = {"VENDA", "http://127.0.0.1:1/", "", "0001", "001", "000123"};
  LumirexVariant params;
  LumirexVariant result;
  init(&params);
  init(&result);
  array(&params, 6);
  array(&result, 2);
  for (int i = 0; i < 6; ++i) set(&params.value.array.items[i], venda[i], std::strlen(venda[i]));
  call(params.value.array.items, 5, &result);
  clear(&params);
  clear(&result);

  // The forwarder is in its rounds now.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  if (dlclose(library) != 0) return 2;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return 0;
}
