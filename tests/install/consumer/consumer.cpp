// A C++ host of an installed lumirex: one customer query against $LUMIREX_URL.
#include <cstdlib>
#include <iostream>

#include <lumirex/lumirex.hpp>

int main() {
  const char* url = std::getenv("LUMIREX_URL");
  if (url == nullptr) return 64;
  lumirex::Variant result = lumirex::Variant::Array(5);
  bool returned =
      lumirex::IntegracaoLumirex({"CONSULTA", url, "12345678909", "", "", ""}, 5, result);
  if (!returned || result.items()[0].asBool()) return 1;
  std::cout << "lumirex " << lumirex::Version() << ": " << result.items()[2].asString() << '\n';
  return 0;
}
