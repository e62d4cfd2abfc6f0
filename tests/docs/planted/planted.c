/* A library that exports one function lumirex.h does not declare: the drift
 * check must name it. */
__attribute__((visibility("default"))) int LumirexPlanted(void) {
  return 0;
}
