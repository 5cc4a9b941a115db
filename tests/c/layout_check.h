/* The check of the layout programs: a mismatch is printed and counted. */
#ifndef ZV_TESTS_LAYOUT_CHECK_H
#define ZV_TESTS_LAYOUT_CHECK_H

#include <stddef.h>
#include <stdio.h>

static int failures = 0;

static void check(const char *what, size_t got, size_t want) {
    if (got != want) {
        fprintf(stderr, "%s: %lu, expected %lu\n", what, (unsigned long)got, (unsigned long)want);
        failures++;
    }
}

#endif
