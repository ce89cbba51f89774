// The one assertion of the Windows unit programs (no GoogleTest there):
// prints a wrong field and counts it; the program exits 1 when any was.
#ifndef PORTVET_TESTS_WINDOWS_UNIT_CHECK_H
#define PORTVET_TESTS_WINDOWS_UNIT_CHECK_H

#include <stdio.h>

static int failures = 0;

static void check(const char *name, const char *field, unsigned long got,
                  unsigned long want) {
  if (got != want) {
    printf("%s: %s is %lu, not %lu\n", name, field, got, want);
    failures++;
  }
}

#endif
