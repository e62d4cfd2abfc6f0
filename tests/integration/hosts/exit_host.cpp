// A host that ends while its worker threads are inside IntegracaoLumirex, run
// by the process-life tests:
//   exit_host exit <service URL> <base folder>: main calls exit() with the
//     workers still inside their calls;
//   exit_host join <service URL> <base folder>: main returns, and a global
//     pool's destructor joins the workers, which end their calls only then.
// The service is expected to hold every answer back for a while. Exits 0
// unless something crashes.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "lumirex/lumirex.h"

namespace {

constexpr int kWorkers = 4;
std::atomic<int> calling{0};

void SetText(LumirexVariant* item, const std::string& text) {
  LumirexVariantSetString(item, text.data(), text.size());
}

void Consulta(const std::string& url) {
  LumirexVariant params;
  LumirexVariant result;
  LumirexVariantInit(&params);
  LumirexVariantInit(&result);
  LumirexArrayCreate(&params, 6);
  LumirexArrayCreate(&result, 5);
  const char* texts[] = {"CONSULTA", url.c_str(), "12345678909", "0001", "001", "000123"};
  for (int i = 0; i < 6; ++i) SetText(&params.value.array.items[i], texts[i]);
  ++calling;
  IntegracaoLumirex(params.value.array.items, 5, &result);
  LumirexVariantClear(&params);
  LumirexVariantClear(&result);
}

// A C++ host's thread pool: its destructor runs among the static destructors.
struct Pool {
  std::vector<std::thread> workers;
  ~Pool() {
    for (auto& worker : workers) {
      if (worker.joinable()) worker.join();
    }
  }
} pool;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const bool exitNow = std::strcmp(argv[1], "exit") == 0;
  LumirexSetBaseDir(argv[3]);
  LumirexSetMessageHandler([](const char*, void*) {}, nullptr);
  for (int i = 0; i < kWorkers; ++i) pool.workers.emplace_back(Consulta, std::string(argv[2]));
  while (calling < kWorkers) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // Long enough for the first call to be waiting for its answer.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  if (exitNow) {
    for (auto& worker : pool.workers) worker.detach();
    std::exit(0);
  }
  return 0;
}
