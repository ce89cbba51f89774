#include "options.h"

#include <stddef.h>

#include "../common/option_arg.h"

const char *main_ParseOptions(int argc, char **argv, main_options *options) {
  options->port = -1;
  options->port_arg = NULL;
  options->attempts = 50;
  options->timeout = 20;
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    int value = 0;
    switch (option_split(arg, &value)) {
      case 'c':
        options->port = value;  // checked once all arguments are read
        options->port_arg = arg;
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
        // A negative timeout would reach the line setup as a count of
        // about 49 days: no answer for a user who typed -t-1.
        if (value <= 0) {
          return arg;
        }
        options->timeout = value;
        break;
      default:  // another letter, or no option at all
        return arg;
    }
  }
  return NULL;
}
