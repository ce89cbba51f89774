#include "st.h"

#include <stdio.h>

#include "../common/option_arg.h"
#include "../diagnose/diagnose.h"
#include "../ports/ports.h"

enum { ST_PATTERN = 256 };

void st_ComInit(serial_port *port, int timeout, int baud) {
  serial_setup(port, (uint32_t)timeout, baud);
}

void st_flush(serial_port *port) { serial_drain(port); }

// 1 ms timeouts, so that a pause of more than 1 ms between two echoed bytes
// ends the read and the test shows every hiccup of the line; but never less
// than one and a half character times (15 bit times) at the rate, rounded
// up to whole ms: below 15000 baud a byte takes longer than 1 ms to cross,
// and a perfect line would fail every pass. The read's total, 257 such
// timeouts, then covers the pattern's transit (256 characters) half again.
// From 19200 baud up this is the 1 ms of old.
int st_timeout(int baud) {
  if (baud <= 0) {
    return 1;
  }
  int t = (15000 + baud - 1) / baud;
  return t < 1 ? 1 : t;
}

const char *st_ParseOptions(int argc, char **argv, st_options *options) {
  options->port = -1;
  options->baud = 115200;
  options->loops = 10;
  for (int i = 2; i < argc; i++) {
    const char *arg = argv[i];
    int value = 0;
    switch (option_split(arg, &value)) {
      case 'b':
        if (value < 600 || value > 256000) {
          return arg;
        }
        options->baud = value;
        break;
      case 'c':
        if (value < 1 || value > 4) {
          return arg;
        }
        options->port = value;
        break;
      case 'r':
        if (value < 1) {
          return arg;
        }
        options->loops = value;
        break;
      default:  // another letter, or no option at all
        return arg;
    }
  }
  return NULL;
}

// One pass: drain, write the pattern, read it back, compare. Returns the
// errors it found, or -1 after a port failure (already reported).
static int st_pass(serial_port *port, const unsigned char *sent) {
  unsigned char received[ST_PATTERN];
  int errors = 0;
  st_flush(port);
  uint32_t put = 0;
  if (!serial_write(port, sent, ST_PATTERN, &put)) {
    printf("Write error\n");
    return -1;
  }
  if (put < ST_PATTERN) {
    errors++;
    printf("Only %d of %d bytes written\n", (int)put, ST_PATTERN);
  }
  uint32_t got = 0;
  if (!serial_read(port, received, ST_PATTERN, &got)) {
    printf("Read error\n");
    return -1;
  }
  if (got != put) {
    errors++;
    printf("Only %d of %d bytes read\n", (int)got, (int)put);
  }
  int differs = -1;
  for (uint32_t k = 0; k < got; k++) {
    if (received[k] != sent[k]) {
      errors++;
      printf("Expected %d and received %d\n", sent[k], received[k]);
      differs = differs < 0 ? (int)k : differs;
    }
  }
  // What the pass brought, for the verdict after the summary.
  record_stress_pass(&port->record, put, got, differs,
                     differs < 0 ? 0 : sent[differs],
                     differs < 0 ? 0 : received[differs]);
  return errors;
}

// After the summary (or the read or write error), what the passes' bytes
// likely mean, on standard error.
static void st_diagnose(const serial_port *port, const char *name) {
  fflush(stdout);
  char latency[256];
  ports_latency_file(name, latency, sizeof latency);
  char verdict[DIAGNOSE_SIZE];
  diagnose_stress(&port->record, name, latency, &port->host, verdict,
                  sizeof verdict);
  fputs(verdict, stderr);
}

int st_main(int argc, char **argv) {
  static const char *const names[4] = {"COM1", "COM2", "COM3", "COM4"};
  if (argc <= 2) {
    return 0;
  }
  st_options options;
  const char *refused = st_ParseOptions(argc, argv, &options);
  if (refused != NULL) {
    printf("Invalid argument '%s'\n", refused);
    fflush(stdout);
    char hint[DIAGNOSE_SIZE];
    diagnose_argument(1, refused, hint, sizeof hint);
    fputs(hint, stderr);
    return 1;
  }
  if (options.port == -1) {
    // Nothing to open: say so, and let the caller show the usage text.
    printf("No port chosen: the stress test needs -c1 to -c4\n");
    return 0;
  }
  const char *name = names[options.port - 1];
  printf("\nInitiate test on %s (%d baud, %d loops):\n", name, options.baud,
         options.loops);
  fflush(stdout);

  serial_port port;
  if (!serial_open(&port, name)) {
    printf("Unable to open %s\n", name);
    fflush(stdout);
    fprintf(stderr, "portvet: %s\n", port.why);
    return 1;
  }
  st_ComInit(&port, st_timeout(options.baud), options.baud);

  unsigned char sent[ST_PATTERN];
  for (int k = 0; k < ST_PATTERN; k++) {
    sent[k] = (unsigned char)k;
  }
  int errors = 0;
  int failed = 0;
  for (int loop = 0; loop < options.loops && !failed; loop++) {
    int found = st_pass(&port, sent);
    if (found < 0) {
      failed = 1;
    } else {
      errors += found;
    }
  }
  if (!failed) {
    printf("Summary: %d errors\n", errors);
  }
  serial_close(&port);
  st_diagnose(&port, name);
  return 1;
}
