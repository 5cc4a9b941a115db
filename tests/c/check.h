/* The check of the C programs that call the library: a failed condition is
 * printed with its place and ends main with 1. */
#ifndef ZV_TESTS_CHECK_H
#define ZV_TESTS_CHECK_H

#include <stdio.h>

#define CHECK(cond)                                                  \
    do {                                                             \
        if (!(cond)) {                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__,   \
                    __LINE__, #cond);                                \
            return 1;                                                \
        }                                                            \
    } while (0)

#endif
