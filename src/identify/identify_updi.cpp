// What echoes on a port: a loopback, or a SerialUPDI adapter (a USB-serial
// adapter with TXD joined to RXD through a resistor, the one wire of UPDI,
// which programs the AVRs made since 2016). Every byte such an adapter
// sends comes back as its echo, and a UPDI chip's answer after it.
//
// UPDI frames are 8 data bits, even parity and two stop bits. A chip that
// heard something else (the plan's queries, in 8N1) ignores the line until
// a break, which hosts send as a zero at 300 baud (the line low 33 ms, far
// longer than 12 of the chip's bit times); a chip whose link was left in a
// worse state wants two. Every instruction starts with SYNC (55), from
// which the chip takes its rate.
//
// The check asks only what reads and changes nothing: the echo of a
// pattern without 55 at 57600, 115200 and 230400 baud (the rates people
// use), a break, LDCS STATUSA (55 80: the UPDI revision in its high
// nibble), and the System Information Block (55 E6: 32 bytes of text that
// name the chip's family, its NVM and debug interfaces). Never a key,
// never a store.
#include "identify_updi.h"

#include <stdio.h>
#include <string.h>

#include "../diagnose/diagnose_text.h"
#include "../report/report.h"
#include "identify_query.h"

namespace {

enum {
  ID_UPDI_RATES = 3,
  ID_UPDI_SIB = 32,
  ID_UPDI_SYNC = 0x55,
  ID_UPDI_LDCS_STATUSA = 0x80,
  ID_UPDI_SIB_32 = 0xE6,
};

const int32_t id_updi_rates[ID_UPDI_RATES] = {57600, 115200, 230400};

// The rate the chip is asked at: avrdude's default.
const int32_t ID_UPDI_BAUD = 115200;

// How long the echo of a zero at 300 baud may take: its 11 bits (37 ms), a
// USB adapter's latency (16 ms) and room.
const uint32_t ID_UPDI_BREAK_MS = 120;

// How long an answer of the chip may take after the echo: the chip's guard
// time and a USB adapter's latency.
const uint32_t ID_UPDI_ANSWER_MS = 2 * ID_WAIT_MS;

// A pattern without SYNC (55) or a zero: a chip that hears it takes its
// first byte for a SYNC that is none and ignores the rest until a break.
const unsigned char id_updi_pattern[] = {0xF0, 0x0F, 0xAA, 0x33, 0xCC, 0x81,
                                         0x7E, 0x18, 0xE7, 0x3C, 0xC3, 0x66,
                                         0x99, 0x5A, 0xA5, 0xFF};

// The echo at a rate: whole, changed, short (or none).
enum id_echo_kind { ID_ECHO_WHOLE, ID_ECHO_CHANGED, ID_ECHO_SHORT };

// What the check of an adapter that echoes found.
struct id_updi_result {
  int echo[ID_UPDI_RATES];  // at 57600, 115200, 230400: id_echo_kind
  int answered;             // 0: no chip; 1: after a break; 2: only after two
  unsigned char statusa;    // LDCS STATUSA: the UPDI revision, high nibble
  unsigned char sib[ID_UPDI_SIB];  // the System Information Block
  int has_sib;
};

// Sets the port to baud in UPDI's framing (8E2; 8E1 for a break). The
// session's rate is forgotten: the next 8N1 query sets the line anew.
void id_updi_line(id_session *s, int32_t baud, serial_framing framing) {
  serial_setup_framed(s->port, ID_TIMEOUT_MS, baud, framing);
  s->baud = 0;
}

// Writes bytes and reads up to want bytes back within ms. Returns the
// count, -1 on a port failure.
int id_updi_send(id_session *s, const unsigned char *bytes, uint32_t len,
                 unsigned char *back, uint32_t want, uint32_t ms) {
  if (id_take_unasked(s) < 0) {
    return -1;
  }
  uint32_t put = 0;
  if (!serial_write(s->port, bytes, len, &put) || put != len) {
    return -1;
  }
  uint32_t got = 0;
  if (!serial_read_for(s->port, back, want, ms, &got)) {
    return -1;
  }
  return (int)got;
}

// The echo of the pattern at baud. Returns its kind, -1 on a port failure.
int id_updi_echo(id_session *s, int32_t baud) {
  id_updi_line(s, baud, SERIAL_8E2);
  unsigned char back[sizeof id_updi_pattern];
  int got = id_updi_send(s, id_updi_pattern, sizeof id_updi_pattern, back,
                         sizeof back, ID_UPDI_ANSWER_MS);
  if (got < 0) {
    return -1;
  }
  if ((size_t)got < sizeof back) {
    return ID_ECHO_SHORT;
  }
  return memcmp(back, id_updi_pattern, sizeof back) == 0 ? ID_ECHO_WHOLE
                                                         : ID_ECHO_CHANGED;
}

// count breaks (a zero at 300 baud, each after the echo of the one
// before). Returns 0, -1 on a port failure.
int id_updi_breaks(id_session *s, int count) {
  id_updi_line(s, 300, SERIAL_8E1);
  for (int i = 0; i < count; i++) {
    const unsigned char zero = 0;
    unsigned char back = 0;
    if (id_updi_send(s, &zero, 1, &back, 1, ID_UPDI_BREAK_MS) < 0) {
      return -1;
    }
  }
  id_updi_line(s, ID_UPDI_BAUD, SERIAL_8E2);
  return 0;
}

// An instruction and the chip's answer of want bytes after its echo.
// Returns 1 with the answer in answer, 0 when no whole answer came, -1 on
// a port failure.
int id_updi_ask(id_session *s, unsigned char op, unsigned char *answer,
                uint32_t want) {
  const unsigned char cmd[2] = {ID_UPDI_SYNC, op};
  unsigned char back[2 + ID_UPDI_SIB];
  int got = id_updi_send(s, cmd, sizeof cmd, back, 2 + want, ID_UPDI_ANSWER_MS);
  if (got < 0) {
    return -1;
  }
  if (got < (int)(2 + want) || memcmp(back, cmd, sizeof cmd) != 0) {
    return 0;
  }
  memcpy(answer, back + 2, want);
  return 1;
}

// "57600, 115200 and 230400 baud" of the rates whose echo was kind.
void id_updi_rates_of(const int *echo, int kind, char *out, size_t size) {
  out[0] = '\0';
  int n = 0;
  for (int i = 0; i < ID_UPDI_RATES; i++) {
    n += echo[i] == kind;
  }
  int said = 0;
  for (int i = 0; i < ID_UPDI_RATES; i++) {
    if (echo[i] != kind) {
      continue;
    }
    said++;
    diag_append(out, size, "%s%ld",
                said == 1   ? ""
                : said == n ? " and "
                            : ", ",
                (long)id_updi_rates[i]);
  }
  if (n > 0) {
    diag_append(out, size, " baud");
  }
}

// What the echo did at each rate: "; the echo comes back whole at 57600
// and 115200 baud, changed at 230400 baud (...)".
void id_updi_echo_text(const int *echo, char *out, size_t size) {
  out[0] = '\0';
  char rates[64];
  const char *sep = "; the echo comes back ";
  id_updi_rates_of(echo, ID_ECHO_WHOLE, rates, sizeof rates);
  if (rates[0] != '\0') {
    diag_append(out, size, "%swhole at %s", sep, rates);
    sep = ", ";
  }
  id_updi_rates_of(echo, ID_ECHO_CHANGED, rates, sizeof rates);
  if (rates[0] != '\0') {
    diag_append(out, size,
                "%schanged at %s (a weak line: a series resistor too large, "
                "or an RX LED that loads it)",
                sep, rates);
    sep = ", ";
  }
  id_updi_rates_of(echo, ID_ECHO_SHORT, rates, sizeof rates);
  if (rates[0] != '\0') {
    diag_append(out, size, "%sshort at %s (the adapter loses bytes there)", sep,
                rates);
  }
}

// The SIB as text: printable up to its end, its padding cut off (the AVR
// Dx's family starts with four spaces).
void id_updi_sib_text(const unsigned char *sib, char *out, size_t size) {
  size_t from = 0;
  while (from < ID_UPDI_SIB && sib[from] == ' ') {
    from++;
  }
  size_t n = from;
  while (n < ID_UPDI_SIB && sib[n] >= 0x20 && sib[n] < 0x7F) {
    n++;
  }
  while (n > from && sib[n - 1] == ' ') {
    n--;
  }
  snprintf(out, size, "%.*s", (int)(n - from), (const char *)sib + from);
}

// The chip's family, the SIB's first seven characters without their
// padding: "tinyAVR", "megaAVR", "AVR" (the AVR Dx and Ex).
void id_updi_family(const unsigned char *sib, char *out, size_t size) {
  size_t from = 0;
  while (from < 7 && sib[from] == ' ') {
    from++;
  }
  size_t to = 7;
  while (to > from && (sib[to - 1] == ' ' || sib[to - 1] == '\0')) {
    to--;
  }
  snprintf(out, size, "%.*s", (int)(to - from), (const char *)sib + from);
}

// The rate to give avrdude: its default, 115200, where the echo came back
// whole there; else the lowest rate where it did (a weak line fails the
// fast rates first); 115200 where it did nowhere.
int32_t id_updi_upload_rate(const int *echo) {
  if (echo[1] == ID_ECHO_WHOLE) {
    return ID_UPDI_BAUD;
  }
  for (int i = 0; i < ID_UPDI_RATES; i++) {
    if (echo[i] == ID_ECHO_WHOLE) {
      return id_updi_rates[i];
    }
  }
  return ID_UPDI_BAUD;
}

// Checks an adapter that echoes: the echo at each rate, then a break (and
// where the chip keeps silent, a double break), STATUSA and the SIB.
// Returns 0, or -1 on a port failure.
int id_updi_check(id_session *s, id_updi_result *r) {
  memset(r, 0, sizeof *r);
  for (int i = 0; i < ID_UPDI_RATES; i++) {
    r->echo[i] = id_updi_echo(s, id_updi_rates[i]);
    if (r->echo[i] < 0) {
      return -1;
    }
  }
  // One break; where the chip does not answer then, two.
  for (int breaks = 1; breaks <= 2 && !r->answered; breaks++) {
    if (id_updi_breaks(s, breaks) < 0) {
      return -1;
    }
    int got = id_updi_ask(s, ID_UPDI_LDCS_STATUSA, &r->statusa, 1);
    if (got < 0) {
      return -1;
    }
    r->answered = got ? breaks : 0;
  }
  if (r->answered) {
    int got = id_updi_ask(s, ID_UPDI_SIB_32, r->sib, ID_UPDI_SIB);
    if (got < 0) {
      return -1;
    }
    r->has_sib = got;
  }
  return 0;
}

// "a SerialUPDI adapter with a UPDI chip on its wire: tinyAVR, UPDI
// revision 3 (...), at 115200 baud; the echo ...; decided by ...".
void id_updi_describe(const id_updi_result *r, char *out, size_t size) {
  out[0] = '\0';
  char family[16] = "";
  char sib[ID_UPDI_SIB + 1] = "";
  if (r->has_sib) {
    id_updi_family(r->sib, family, sizeof family);
    id_updi_sib_text(r->sib, sib, sizeof sib);
  }
  diag_append(out, size, "a SerialUPDI adapter with a UPDI chip on its wire: ");
  if (family[0] != '\0') {
    diag_append(out, size, "%s, ", family);
  }
  diag_append(out, size, "UPDI revision %u", (unsigned)(r->statusa >> 4));
  if (sib[0] != '\0') {
    diag_append(out, size, " (\"%s\")", sib);
  }
  diag_append(out, size, ", at %ld baud", (long)ID_UPDI_BAUD);
  if (r->answered == 2) {
    diag_append(out, size,
                ", which answers only after a double break (its link was "
                "left in a state one break does not clear)");
  }
  char echo[400];
  id_updi_echo_text(r->echo, echo, sizeof echo);
  diag_append(out, size, "%s; decided by LDCS STATUSA %02X", echo, r->statusa);
  if (r->has_sib) {
    diag_append(out, size, ", SIB");
    for (int i = 0; i < 8; i++) {
      diag_append(out, size, " %02X", r->sib[i]);
    }
  }
}

}  // namespace

void id_updi_port(const char *name, id_session *s, int32_t echo_baud) {
  id_updi_result r;
  if (id_updi_check(s, &r) < 0) {
    report_out(
        "%s: the port failed during a UPDI check at %ld baud: unplugged, or "
        "a driver failure\n",
        name, (long)ID_UPDI_BAUD);
    return;
  }
  char echo[400];
  id_updi_echo_text(r.echo, echo, sizeof echo);
  if (!r.answered) {
    report_out(
        "%s: a loopback: what the tool sends comes back as it was sent at "
        "%ld baud (TXD joined to RXD, or an adapter that echoes), not a "
        "programmer\n",
        name, (long)echo_baud);
    report_err(
        "portvet: %s: no UPDI chip answers after a break and a double "
        "break: if this is a SerialUPDI adapter, nothing is on its wire (no "
        "chip, no power, or the wire not on the UPDI pin)%s\n",
        name, echo);
    return;
  }
  char line[1024];
  id_updi_describe(&r, line, sizeof line);
  report_out("%s: %s\n", name, line);
  report_err(
      "portvet: %s: to program the chip through it: avrdude -c serialupdi "
      "-b %ld\n",
      name, (long)id_updi_upload_rate(r.echo));
  report_err(
      "portvet: %s: portvet -st would send its counting pattern through "
      "the chip's UPDI pin, UPDI instructions among it (55 and a store): "
      "take the chip off the adapter for a stress test\n",
      name);
}
