#include "identify.h"

#include <stdio.h>
#include <string.h>

#include "../common/option_arg.h"
#include "../diagnose/diagnose.h"
#include "../diagnose/diagnose_text.h"
#include "../ports/ports_every.h"
#include "../report/report.h"
#include "../sweep/sweep.h"
#include "identify_plan.h"
#include "identify_query.h"
#include "identify_unasked.h"
#include "identify_updi.h"

namespace {

// "optiboot, a board's bootloader: STK500 v1, version 4.4, at 115200 baud"
void id_describe(const id_found *f, int32_t baud, char *out, size_t size) {
  out[0] = '\0';
  diag_append(out, size, "%s: %s", f->what, f->family);
  if (f->name[0] != '\0') {
    diag_append(out, size, " \"%s\"", f->name);
  }
  diag_append(out, size, "%s, at %ld baud", f->version, (long)baud);
  char chip[64];
  id_chip(f, chip, sizeof chip);
  diag_append(out, size, "%s", chip);
  if (f->once) {
    diag_append(out, size,
                ", which answered its first query once and then left at a "
                "byte it did not understand");
  }
}

// The note on standard error that says how avrdude reaches what was found.
void id_upload_note(const char *name, const id_found *f, int32_t baud) {
  char upload[256];
  id_upload(f, baud, upload, sizeof upload);
  if (upload[0] != '\0') {
    report_err("portvet: %s: %s\n", name, upload);
  }
}

void id_failed_line(const char *name, const id_found *f, int32_t baud) {
  report_out(
      "%s: the port failed during %s at %ld baud: unplugged, or a driver "
      "failure\n",
      name, f->query, (long)baud);
}

// What came unasked, when it is text at a rate where it was kept: ", and
// text comes unasked at 115200 baud ("SET BT ...")". Never listens.
void id_unasked_note(const id_unasked *u, char *out, size_t size) {
  out[0] = '\0';
  for (int i = 0; i < ID_RATES; i++) {
    size_t kept =
        u->count[i] < (uint32_t)ID_KEPT ? u->count[i] : (uint32_t)ID_KEPT;
    if (u->count[i] > 0 && id_is_text(u->bytes[i], kept)) {
      char text[200];
      id_quote(u->bytes[i], kept, text, sizeof text);
      diag_append(out, size, ", and text comes unasked at %ld baud (%s)",
                  (long)u->baud[i], text);
      return;
    }
  }
}

// The line for a port the plan found nothing certain on.
void id_uncertain(const char *name, id_session *s, const id_run_result *run) {
  char hex[64];
  const unsigned char *bytes = NULL;
  size_t n = 0;
  if (run->found.outcome == ID_ECHO) {
    id_updi_port(name, s, run->baud);
  } else if (run->found.outcome == ID_FAILED) {
    id_failed_line(name, &run->found, run->baud);
  } else if (id_first_unasked(s, &bytes, &n)) {
    // Bytes came without a query: text at some rate, or noise.
    int32_t baud = 0;
    const unsigned char *text = NULL;
    size_t len = 0;
    int is = id_text(s, &baud, &text, &len);
    if (is < 0) {
      id_found f;
      memset(&f, 0, sizeof f);
      f.query = "a look for text that comes unasked";
      id_failed_line(name, &f, s->baud);
    } else if (is > 0) {
      char quoted[200];
      id_quote(text, len, quoted, sizeof quoted);
      report_out(
          "%s: text comes unasked at %ld baud (%s): a device or a board's "
          "program that prints; not a programmer\n",
          name, (long)baud, quoted);
    } else {
      diag_hex(bytes, n, 8, hex, sizeof hex);
      report_out(
          "%s: noise: bytes come without a query (%s): noise on the line, or "
          "a device that streams; not a programmer\n",
          name, hex);
    }
  } else if (run->other.n_other > 0) {
    diag_hex(run->other.other, run->other.n_other, 8, hex, sizeof hex);
    report_out(
        "%s: something unknown: bytes that fit no family came at %ld baud "
        "(%s): a device at a rate no family uses, or in another protocol\n",
        name, (long)run->other_baud, hex);
  } else {
    report_out(
        "%s: nothing answers: no byte came back at 115200, 57600, 38400, "
        "19200, 9600 baud to any family's query: not connected, the wrong "
        "port, no power, or a device that keeps silent at these rates\n",
        name);
    report_err(
        "portvet: %s: a SerialUPDI adapter whose echo does not come back "
        "(an RX LED or a series resistor that loads the line) keeps silent "
        "too\n",
        name);
  }
}

// A board's bootloader answered (or a device that may be one): what the
// board runs after it. Prints the port's line.
void id_board(const char *name, id_session *s, id_run_result *run) {
  id_found boot = run->found;
  if (boot.role == ID_EITHER) {
    // What tells a board's bootloader from a programmer that speaks alike
    // is how it behaves: it restarts when the port opens.
    int restarts = id_plan_restarts(s, run->baud);
    if (restarts < 0) {
      char line[512];
      id_describe(&boot, run->baud, line, sizeof line);
      report_out(
          "%s: %s; then the port failed during opening the port again: "
          "unplugged, or a driver failure; decided by %s\n",
          name, line, boot.decided);
      return;
    }
    if (restarts) {
      id_stk500v1_board(&boot);
    }
  }
  // A bootloader that is there still reads its own chip's signature.
  if (boot.role == ID_BOOTLOADER && !boot.once) {
    id_rate(s, run->baud);
    // A port that fails here fails the wait for the program below too.
    if (strcmp(boot.family, "STK500 v1") == 0) {
      id_stk500v1_chip(s, &boot);
    } else if (strcmp(boot.family, "STK500 v2") == 0) {
      id_stk500v2_chip(s, &boot);
    } else if (strcmp(boot.family, "AVR109") == 0) {
      id_avr109_chip(s, &boot);
    }
  }
  id_unasked at_start = s->unasked;
  memset(&s->unasked, 0, sizeof s->unasked);
  id_run_result after;
  id_plan_program(s, run->baud, &after);
  char line[768];
  char note[256];
  id_unasked_note(&at_start, note, sizeof note);
  if (after.found.outcome == ID_FAILED) {
    id_describe(&boot, run->baud, line, sizeof line);
    report_out(
        "%s: %s%s; then the port failed during %s at %ld baud: unplugged, "
        "or a driver failure; decided by %s\n",
        name, line, note, after.found.query, (long)after.baud, boot.decided);
    return;
  }
  bool same = after.found.outcome == ID_FOUND &&
              strcmp(after.found.decided, boot.decided) == 0 &&
              after.baud == run->baud;
  if (!same) {
    // It left for the board's program: a bootloader.
    id_stk500v1_board(&boot);
  }
  id_describe(&boot, run->baud, line, sizeof line);
  if (after.found.outcome == ID_FOUND && !same) {
    char app[768];
    char chip[64];
    id_chip(&boot, chip, sizeof chip);
    id_describe(&after.found, after.baud, app, sizeof app);
    report_out(
        "%s: %s, on a board whose bootloader answers for a second after the "
        "port opens (%s: %s%s, at %ld baud%s)%s; decided by %s\n",
        name, app, boot.what, boot.family, boot.version, (long)run->baud, chip,
        note, after.found.decided);
    id_upload_note(name, &boot, run->baud);
    id_upload_note(name, &after.found, after.baud);
    return;
  }
  if (same) {
    report_out("%s: %s%s, and still after a wait: %s; decided by %s\n", name,
               line, note,
               boot.role == ID_EITHER ? "what it does cannot tell which"
                                      : "the board's program was not reached",
               boot.decided);
    id_upload_note(name, &boot, run->baud);
    return;
  }
  const unsigned char *bytes = NULL;
  size_t n = 0;
  int32_t baud = 0;
  const unsigned char *text = NULL;
  size_t len = 0;
  // What the board's program sent, asked or not, may be text it prints
  // at a rate of its own.
  int is = id_first_unasked(s, &bytes, &n) || after.other.n_other > 0
               ? id_text(s, &baud, &text, &len)
               : 0;
  if (is < 0) {
    report_out(
        "%s: %s%s; then the port failed during a look for text that comes "
        "unasked at %ld baud: unplugged, or a driver failure; decided by "
        "%s\n",
        name, line, note, (long)s->baud, boot.decided);
  } else if (is > 0) {
    char quoted[200];
    id_quote(text, len, quoted, sizeof quoted);
    report_out(
        "%s: %s%s, for a second after the port opens; then the board's "
        "program prints unasked at %ld baud (%s); decided by %s\n",
        name, line, note, (long)baud, quoted, boot.decided);
    id_upload_note(name, &boot, run->baud);
  } else {
    report_out(
        "%s: %s%s, for a second after the port opens; what the board runs "
        "after it answers none of these queries; decided by %s\n",
        name, line, note, boot.decided);
    id_upload_note(name, &boot, run->baud);
  }
}

// Identifies the port opened by name; its lines start with head ("COM1",
// or "/dev/ttyUSB0 (CH340, 1a86:7523)").
void id_port(const char *name, const char *head) {
  serial_port port;
  uint64_t opening_ms = serial_clock_ms();
  if (!serial_open(&port, name)) {
    report_out("%s: cannot be opened\n", head);
    report_err("portvet: %s\n", port.why);
    return;
  }
  id_session s;
  memset(&s, 0, sizeof s);
  s.port = &port;
  s.name = name;
  s.opened_ms = serial_clock_ms();
  s.opening_ms = opening_ms;
  id_run_result run;
  memset(&run, 0, sizeof run);
  // Bytes that come at once, before any query, and again (a board is in
  // reset then, and a byte in flight as the port opened comes once): a
  // device that streams, noise or text; the plan would only take them for
  // answers.
  id_rate(&s, 115200);
  uint32_t first_look = 0;
  int failed = id_listen(&s, ID_WAIT_MS) < 0;
  if (!failed && s.unasked.count[0] > 0) {
    first_look = s.unasked.count[0];
    failed = id_listen(&s, ID_WAIT_MS) < 0;
  }
  if (failed) {
    run.found.outcome = ID_FAILED;
    run.found.query = "a look for bytes that come unasked";
    run.baud = 115200;
  } else if (s.unasked.count[0] == first_look) {
    memset(&s.unasked, 0, sizeof s.unasked);
    id_plan_port(&s, &run);
  }
  if (run.found.outcome != ID_FOUND) {
    id_uncertain(head, &s, &run);
  } else if (run.found.role == ID_BOOTLOADER || run.found.role == ID_EITHER) {
    id_board(head, &s, &run);
  } else {
    char line[512];
    char note[256];
    id_describe(&run.found, run.baud, line, sizeof line);
    id_unasked_note(&s.unasked, note, sizeof note);
    report_out("%s: %s%s; decided by %s\n", head, line, note,
               run.found.decided);
    id_upload_note(head, &run.found, run.baud);
  }
  serial_close(&port);
}

// A port named by -p or found by -a: its lines start with the name and
// what the system says of the device.
void id_port_named(const char *name, const void *) {
  ports_entry entry;
  ports_entry_of(name, &entry);
  char label[PORTS_TEXT_SIZE + 32];
  ports_entry_label(&entry, label, sizeof label);
  char head[SERIAL_NAME_SIZE + sizeof label + 2];
  snprintf(head, sizeof head, "%s%s%s", name, label[0] ? " " : "", label);
  id_port(name, head);
}

// -id alone: every port and what the system says of it, none opened.
void id_list(void) {
  ports_entry every[PORTS_EVERY];
  int n = ports_every(every, PORTS_EVERY);
  printf("\n");
  for (int i = 0; i < n; i++) {
    char line[PORTS_NAME_SIZE + 4 * PORTS_TEXT_SIZE + 64];
    ports_entry_line(&every[i], line, sizeof line);
    printf("%s\n", line);
  }
  if (n == 0) {
    printf("No serial port was found\n");
  }
  fflush(stdout);
  fprintf(stderr,
          "portvet: none of these was opened; -id -a asks what is on every "
          "one at once, -id -p<port> on one (opening a port resets most "
          "boards, and stops a 3D printer's board printing from its card)\n");
}

}  // namespace

void id_port_each(const char *name, const void *) { id_port(name, name); }

namespace {

// The identify mode's ports: which were named by -p or found by -a.
struct id_ports {
  const char *names[2 * PORTS_EVERY];
  int named[2 * PORTS_EVERY];
  int count;
};

void id_port_any(const char *name, const void *how) {
  const id_ports *ports = (const id_ports *)how;
  for (int i = 0; i < ports->count; i++) {
    if (ports->names[i] == name) {
      if (ports->named[i]) {
        id_port_named(name, NULL);
      } else {
        id_port(name, name);
      }
      return;
    }
  }
}

}  // namespace

int id_main(int argc, char **argv) {
  static const char *const com[4] = {"COM1", "COM2", "COM3", "COM4"};
  if (argc <= 2) {
    id_list();
    return 0;
  }
  // The ports in the order given: -c's COMn, -p's names, -a's every port.
  ports_entry every[PORTS_EVERY];
  id_ports ports;
  int n = 0;
  const int room = 2 * PORTS_EVERY;
  const char *refused = NULL;
  for (int i = 2; i < argc && refused == NULL; i++) {
    const char *arg = argv[i];
    int value = 0;
    int letter = option_split(arg, &value);
    if (letter == 'c' && value >= 0 && value <= 4 && n + 4 <= room) {
      for (int k = value == 0 ? 0 : value - 1; k < (value == 0 ? 4 : value);
           k++) {
        ports.named[n] = 0;
        ports.names[n++] = com[k];
      }
    } else if (letter == 'p' && n + 1 <= room &&
               strlen(arg + 2) < SERIAL_NAME_SIZE) {
      ports.named[n] = 1;
      ports.names[n++] = arg + 2;
    } else if ((strcmp(arg, "-a") == 0 || strcmp(arg, "-A") == 0) &&
               n + PORTS_EVERY <= room) {
      int found = ports_every(every, PORTS_EVERY);
      for (int k = 0; k < found; k++) {
        ports.named[n] = 1;
        ports.names[n++] = every[k].path;
      }
    } else {
      refused = arg;
    }
  }
  if (refused != NULL) {
    printf("Invalid argument '%s'\n", refused);
    fflush(stdout);
    char hint[DIAGNOSE_SIZE];
    diagnose_argument(2, refused, hint, sizeof hint);
    fputs(hint, stderr);
    return 1;
  }
  printf("\n");
  if (n == 0) {
    printf("No serial port was found\n");
  }
  fflush(stdout);
  // At the same time: COMn's lines as they always were, a named port's
  // with what the system says of it.
  ports.count = n;
  if (n > 0) {
    sweep_ports(ports.names, 0, n - 1, id_port_any, &ports);
  }
  return 0;
}
