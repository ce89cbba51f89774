// The value of an option argument such as "-c1" or "-r20", shared by both
// modes' option parsers.
#ifndef PORTVET_OPTION_VALUE_H
#define PORTVET_OPTION_VALUE_H

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

#endif
