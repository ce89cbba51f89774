// What a refused command line should have been.
#include <ctype.h>
#include <string.h>

#include "diagnose.h"
#include "diagnose_text.h"

void diagnose_argument(int mode, const char *arg, char *out, size_t size) {
  out[0] = '\0';
  if (arg == NULL) {
    diag_append(out, size,
                "portvet: choose the port: -c1 to -c4 for COM1 to COM4, or "
                "-c0 for all four\n");
    return;
  }
  if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0 ||
      strcmp(arg, "-?") == 0 || strcmp(arg, "/?") == 0) {
    diag_append(out, size,
                "portvet: options are one argument each, a letter and its "
                "value right after it (-c1, -r20); run portvet alone for the "
                "usage text\n");
    return;
  }
  if (arg[0] != '-') {
    diag_append(out, size,
                "portvet: '%s': options start with a dash and take their "
                "value in the same argument, as -c1\n",
                arg);
    return;
  }
  int letter = tolower((unsigned char)arg[1]);
  bool known = letter == 'c' || (mode != 2 && letter == 'r') ||
               (mode == 2 && letter == 'p') ||
               (mode == 0 ? letter == 't' : mode == 1 && letter == 'b');
  if (arg[1] == '\0' || (arg[2] == '\0' && known)) {
    diag_append(out, size,
                "portvet: '%s': an option takes its value in the same "
                "argument, as -c1 (not -c 1); run portvet alone for the usage "
                "text\n",
                arg);
    return;
  }
  const char *want = NULL;
  if (mode == 0) {
    switch (letter) {
      case 'c':
        want = "the port is -c1 to -c4 for COM1 to COM4, or -c0 for all four";
        break;
      case 'r':
        want = "the number of attempts is a number other than 0 (default -r50)";
        break;
      case 't':
        want = "the timeout is a number of ms, 1 or more (default -t20)";
        break;
      default:
        want =
            "the connection check takes -c (port), -r (attempts) and -t "
            "(timeout in ms); -st first selects the stress test";
        break;
    }
  } else if (mode == 2) {
    want = letter == 'c'
               ? "the port is -c1 to -c4 for COM1 to COM4, or -c0 for all four"
               : "the identify mode takes -c (COM1 to COM4), -p<port> (a "
                 "port by its own name) and -a (every port); -id alone "
                 "lists the ports";
  } else {
    switch (letter) {
      case 'c':
        want = "the port is -c1 to -c4 for COM1 to COM4";
        break;
      case 'b':
        want = "the baud rate is 600 to 256000 (default -b115200)";
        break;
      case 'r':
        want = "the number of loops is 1 or more (default -r10)";
        break;
      default:
        want =
            "the stress test takes -c (port), -b (baud rate) and -r "
            "(loops)";
        break;
    }
  }
  diag_append(out, size, "portvet: '%s': %s\n", arg, want);
}

void diagnose_port_name(const char *arg, char *out, size_t size) {
  out[0] = '\0';
  const char *name = arg + 2;
  bool device = name[0] == '/' || name[0] == '\\' ||
                strncmp(name, "COM", 3) == 0 || strncmp(name, "com", 3) == 0;
  if (arg[0] != '-' || arg[1] == '\0' || !device ||
      isdigit((unsigned char)name[0])) {
    return;
  }
  diag_append(out, size,
              "portvet: '%s' reads as -c0, all four ports (-c takes 1 to 4); "
              "to check %s, set PORTVET_COM1=%s and give -c1; portvet -id "
              "-p%s asks what is on it\n",
              arg, name, name, name);
}
