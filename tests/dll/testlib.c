/* A tiny shared library that the library-loading tests load: two functions
 * with known answers. */
#define ZVTEST_EXPORT __attribute__((visibility("default")))

ZVTEST_EXPORT int zvtest_add(int a, int b) { return a + b; }
ZVTEST_EXPORT int zvtest_answer(void) { return 42; }
