#include "options.h"

#include <ctype.h>
#include <stddef.h>
#include <string.h>

#include "option_value.h"

const char *main_ParseOptions(int argc, char **argv, main_options *options) {
  options->port = -1;
  options->attempts = 50;
  options->timeout = 20;
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (arg[0] != '-' || strlen(arg) < 3) {
      return arg;
    }
    int value = option_value(arg + 2);
    switch (tolower((unsigned char)arg[1])) {
      case 'c':
        options->port = value;  // checked once all arguments are read
        break;
      case 'r':
        if (value == 0) {
          return arg;
        }
        // Attempts are counted from 1 and stop before the count, so 2 is
        // the least that makes one attempt.
        options->attempts = value < 2 ? 2 : value;
        break;
      case 't':
        if (value == 0) {
          return arg;
        }
        options->timeout = value;  // negative: a huge unsigned count
        break;
      default:
        return arg;
    }
  }
  return NULL;
}
