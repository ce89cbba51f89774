// Option arguments such as "-c1" or "-r20", shared by both modes' option
// parsers: a dash, one letter (either case) and the value right after it.
#ifndef PORTVET_OPTION_ARG_H
#define PORTVET_OPTION_ARG_H

#include <ctype.h>
#include <limits.h>
#include <stdlib.h>

// Reads text as a signed decimal integer: leading white space is skipped, an
// optional sign and the digits after it are taken, reading stops at the
// first other character, and text without digits gives 0. A value beyond
// the range of int saturates at the nearest limit (strtol does so for long;
// the clamp does it where long is wider than int).
static inline int option_value(const char *text) {
  long value = strtol(text, NULL, 10);
  if (value > INT_MAX) {
    return INT_MAX;
  }
  if (value < INT_MIN) {
    return INT_MIN;
  }
  return (int)value;
}

// Splits an option argument. Returns its letter in lower case and sets
// *value, or returns 0 for an argument that is not a dash, a letter and at
// least one character more.
static inline int option_split(const char *arg, int *value) {
  if (arg[0] != '-' || arg[1] == '\0' || arg[2] == '\0') {
    return 0;
  }
  *value = option_value(arg + 2);
  return tolower((unsigned char)arg[1]);
}

#endif
