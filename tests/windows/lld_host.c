/* A host as Visual Studio would build it: compiled for the Microsoft ABI and
 * linked by LLVM's Microsoft-compatible linker against lumirex.lib, with no
 * C run time (link_with_lld.sh); only the link is checked. */
#include "lumirex/lumirex.h"

int __stdcall entry(void) {
  LumirexVariant list[1];
  LumirexVariantInit(&list[0]);
  return IntegracaoLumirex(list, 0, list) ? 0 : (int)LumirexLastCall(0, 0, 0);
}
