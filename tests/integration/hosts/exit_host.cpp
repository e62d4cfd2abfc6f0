// A host that ends while its worker threads keep calling IntegracaoLumirex
// (customer queries and sale reports, which read the point-of-sale
// database), run by the process-life tests:
//   exit_host <mode> <service URL> <base folder> <connection string>
// with mode
//   exit:     main calls exit() with the workers in their calls;
//   finalize: main calls Finalize, then exit();
//   return:   main returns, and a global pool's destructor lets its workers
//             go on for a while before it stops and joins them, so they call
//             while the process's statics are being destroyed.
// Exits 0 unless something crashes, or a call made once the process has
// begun to end is not refused.
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
std::atomic<bool> stop{false};

void SetText(LumirexVariant* item, const std::string& text) {
  LumirexVariantSetString(item, text.data(), text.size());
}

void Call(const char* const (&texts)[6]) {
  LumirexVariant params;
  LumirexVariant result;
  LumirexVariantInit(&params);
  LumirexVariantInit(&result);
  LumirexArrayCreate(&params, 6);
  LumirexArrayCreate(&result, 5);
  for (int i = 0; i < 6; ++i) SetText(&params.value.array.items[i], texts[i]);
  IntegracaoLumirex(params.value.array.items, 5, &result);
  LumirexVariantClear(&params);
  LumirexVariantClear(&result);
}

// Odd workers report the demo sale again and again, even ones ask for the customer.
void Work(int worker, std::string url) {
  const char* const consulta[6] = {"CONSULTA", url.c_str(), "12345678909", "0001", "001", "000123"};
  const char* const venda[6] = {"VENDA", url.c_str(), "", "0001", "001", "000123"};
  ++calling;
  while (!stop) Call(worker % 2 == 0 ? consulta : venda);
}

// A C++ host's thread pool: its destructor runs among the static
// destructors, after the library's exit handler, which it tells by a call of
// its own being refused. Status 3 when it is not.
struct Pool {
  std::vector<std::thread> workers;
  ~Pool() {
    const char* const venda[6] = {"VENDA", "http://127.0.0.1:1/", "", "0001", "001", "000123"};
    Call(venda);
    const bool refused = LumirexLastCall(nullptr, nullptr, 0) == LUMIREX_E_STATE;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    for (auto& worker : workers) {
      if (worker.joinable()) worker.join();
    }
    if (!refused) std::_Exit(3);
  }
} pool;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const std::string mode = argv[1];
  LumirexSetBaseDir(argv[3]);
  LumirexSetConnectionString(argv[4]);
  LumirexSetMessageHandler([](const char*, void*) {}, nullptr);
  for (int i = 0; i < kWorkers; ++i) pool.workers.emplace_back(Work, i, std::string(argv[2]));
  while (calling < kWorkers) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // Long enough for the workers to be in their calls.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  if (mode == "return") return 0;
  for (auto& worker : pool.workers) worker.detach();
  if (mode == "finalize") Finalize();
  std::exit(0);
}
