// portvet: checks the serial link to an STK500 or AVR910 programmer,
// stress-tests a port through a TXD-RXD loopback ("-st"), or names what is
// on each port ("-id").
#include <stdio.h>
#include <string.h>

#include "../check/check_port.h"
#include "../diagnose/diagnose.h"
#include "../identify/identify.h"
#include "../st/st.h"
#include "../sweep/sweep.h"
#include "options.h"
#include "usage.h"

int main(int argc, char **argv) {
  static const char *const names[4] = {"COM1", "COM2", "COM3", "COM4"};
  main_Banner();
  if (argc < 2) {
    UsageMessage();
    fflush(stdout);
    main_UsageNote();
    return 0;
  }
  if (strcmp(argv[1], "-id") == 0) {
    return id_main(argc, argv);
  }
  if (strcmp(argv[1], "-st") == 0) {
    if (st_main(argc, argv) == 0) {
      UsageMessage();
      fflush(stdout);
      main_UsageNote();
    }
    // Whatever the test found, the status is 0; but a command line it
    // refused (an invalid argument, or no port to test) ran nothing, and
    // says so as the connection check does.
    st_options options;
    return argc > 2 && (st_ParseOptions(argc, argv, &options) != NULL ||
                        options.port == -1)
               ? 1
               : 0;
  }

  main_options options;
  const char *refused = main_ParseOptions(argc, argv, &options);
  char hint[DIAGNOSE_SIZE];
  if (refused != NULL) {
    printf("Invalid argument '%s'!\n", refused);
    fflush(stdout);
    diagnose_argument(0, refused, hint, sizeof hint);
    fputs(hint, stderr);
    return 1;
  }
  if (options.port == 0) {
    diagnose_port_name(options.port_arg, hint, sizeof hint);
    fputs(hint, stderr);
  }
  int first = 0;
  int last = 3;
  if (options.port >= 1 && options.port <= 4) {
    first = last = options.port - 1;
  } else if (options.port != 0) {
    printf("Port number must be between 0 and 4\n");
    fflush(stdout);
    diagnose_argument(0, options.port_arg, hint, sizeof hint);
    fputs(hint, stderr);
    return 1;
  }

  // The ports are checked at the same time; the report comes in port
  // order, as one after another.
  const check_how how = {options.attempts, options.timeout};
  sweep_ports(names, first, last, check_port_each, &how);
  return 0;
}
