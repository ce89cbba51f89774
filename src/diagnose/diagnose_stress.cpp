// The verdict on a stress test, from its record: one line setup; what each
// pass brought, folded into counts (sound, short, empty, wrong) with the
// first and the last pass that went wrong; the drains' bytes; and whether
// the bytes that came, in the order they came, kept the pattern's order
// (a loopback hands every byte back in order, late or not: a byte out of
// that order was lost, garbled or added).
#include <string.h>

#include "diagnose.h"
#include "diagnose_text.h"

namespace {

// Whether a value went out that never came back, other than those listed.
bool diag_missing_but(const record_segment *s, const unsigned char *except,
                      size_t n) {
  for (int b = 0; b < 256; b++) {
    bool listed = memchr(except, b, n) != NULL;
    if (record_seen(s->seen_out, (unsigned char)b) &&
        !record_seen(s->seen_in, (unsigned char)b) && !listed) {
      return true;
    }
  }
  return false;
}

bool diag_any_high(const uint8_t *seen) {
  for (int b = 0x80; b < 256; b++) {
    if (record_seen(seen, (unsigned char)b)) {
      return true;
    }
  }
  return false;
}

// Whether every value that went out came back with bit 7 clear.
bool diag_seven_bits(const record_segment *s) {
  if (!diag_any_high(s->seen_out) || diag_any_high(s->seen_in)) {
    return false;
  }
  for (int b = 0; b < 256; b++) {
    if (record_seen(s->seen_out, (unsigned char)b) &&
        !record_seen(s->seen_in, (unsigned char)(b & 0x7F))) {
      return false;
    }
  }
  return true;
}

// "pass 3, byte 201: 0xC9 came back as 0xC8"
void diag_where(const record_pass *p, char *out, size_t size) {
  out[0] = '\0';
  diag_append(out, size, "pass %lu, byte %d: 0x%02X came back as 0x%02X",
              (unsigned long)p->pass, p->differs, p->expected, p->received);
}

}  // namespace

void diagnose_stress(const record_log *r, const char *name, const char *latency,
                     const ports_host *host, char *out, size_t size) {
  out[0] = '\0';
  if (r->n_segments == 0) {
    return;
  }
  const record_segment *s = &r->segments[0];
  const record_stress *st = &r->stress;
  unsigned long passes = st->passes;
  char rate[80];
  rate[0] = '\0';
  if (s->runs > 0 && s->runs != s->baud) {
    diag_append(rate, sizeof rate, "%ld baud (the port refused %ld)",
                (long)s->runs, (long)s->baud);
  } else {
    diag_append(rate, sizeof rate, "%ld baud", (long)s->baud);
  }
  diag_append(out, size, "portvet: %s: ", name);
  if (s->failed) {
    diag_append(out, size,
                "the port failed (a %s failed) in pass %lu at %s: unplugged, "
                "or a driver failure\n",
                s->failed_write ? "write" : "read", passes + 1, rate);
    return;
  }
  if (s->short_writes > 0) {
    diag_append(out, size,
                "the port did not send all of the pattern in %lu of %lu passes "
                "at %s: the line does not move (flow control held, CTS low, "
                "or a stuck driver)\n",
                (unsigned long)s->short_writes, passes, rate);
    return;
  }
  if (s->bytes_in == 0) {
    diag_append(out, size,
                "no byte came back in %lu passes at %s: TXD and RXD are not "
                "joined (nothing echoes), or the port does not send\n",
                passes, rate);
    return;
  }
  if (st->sound == st->passes) {
    diag_append(out, size,
                "every byte came back, in order, at %s: the line is sound\n",
                rate);
    return;
  }
  if (s->n_first_in >= 6 && s->first_in[0] == s->first_in[1] &&
      s->first_in[2] == s->first_in[3] && s->first_in[4] == s->first_in[5] &&
      s->first_in[0] != s->first_in[2]) {
    diag_append(out, size,
                "every byte came back twice at %s: an echo on top of the "
                "loopback (the adapter or a device on the line echoes too)\n",
                rate);
    return;
  }
  if (diag_seven_bits(s)) {
    diag_append(out, size,
                "no byte came back with bit 7 set at %s: the line carries "
                "seven data bits (another program's setting, or the "
                "adapter's)\n",
                rate);
    return;
  }
  static const unsigned char xon_xoff[] = {0x11, 0x13};
  if (record_seen(s->seen_out, 0x11) && record_seen(s->seen_out, 0x13) &&
      !record_seen(s->seen_in, 0x11) && !record_seen(s->seen_in, 0x13) &&
      !diag_missing_but(s, xon_xoff, sizeof xon_xoff)) {
    diag_append(out, size,
                "0x11 and 0x13 never came back, every other byte did, at %s: "
                "XON/XOFF flow control on the line (another program's "
                "setting, or the adapter's)\n",
                rate);
    return;
  }
  // The loop went quiet: bytes in the first passes, none in the rest.
  if (st->last_with_bytes > 0 && st->last_with_bytes < st->passes) {
    diag_append(out, size,
                "the first %lu of %lu passes at %s brought bytes, the last "
                "%lu none: the loop stopped answering (a contact that came "
                "loose, or a device at the far end that stopped)\n",
                (unsigned long)st->last_with_bytes, passes, rate,
                (unsigned long)(st->passes - st->last_with_bytes));
    return;
  }
  // Every byte that came, came in the pattern's order: what a pass missed
  // came later, in a later pass or a drain.
  bool in_order = r->stream_breaks == 0;
  bool late = s->drained > 0 || st->late_starts > 0;
  unsigned long shorts = st->short_passes;
  if (shorts > 0 && in_order && late && shorts >= 2 && st->short_gcd >= 8 &&
      st->short_min == st->short_gcd) {
    // What hands bytes over in blocks, as far as the system says.
    const char *who = host->kind == PORTS_HOST_USB ? "a USB adapter"
                      : host->kind == PORTS_HOST_UART
                          ? "a UART's FIFO at its trigger level"
                          : "a USB adapter or a UART's FIFO";
    diag_append(out, size,
                "%lu of %lu passes at %s ended after whole blocks of %lu "
                "bytes, and later passes took the bytes that came late: bytes "
                "come in blocks with pauses longer than the test's timeout "
                "between them, as %s hands them over (or the line stalls at "
                "the same places); no sign of a lost byte\n",
                shorts, passes, rate, (unsigned long)st->short_gcd, who);
    if (latency != NULL && latency[0] != '\0') {
      diag_append(out, size,
                  "portvet: %s: the adapter hands bytes over when its latency "
                  "timer runs out: write 1 to %s (as root) for 1 ms\n",
                  name, latency);
    }
    return;
  }
  if (shorts > 0 && in_order && late) {
    diag_append(out, size,
                "%lu of %lu passes at %s came back short, and later passes (or "
                "the drains before them) took the bytes that came after, in "
                "order: pauses on the line longer than the test's timeout, not "
                "lost bytes\n",
                shorts, passes, rate);
    return;
  }
  if (shorts == 1 && in_order && st->last_bad.pass == st->passes &&
      st->last_bad.got < st->last_bad.sent) {
    // A UART hands bytes on within the gap the tool allows: there a pause
    // is the line's own.
    diag_append(out, size,
                "the last pass at %s came back short (%u of %u bytes), and no "
                "later pass could take what came after: bytes lost, or a "
                "pause longer than the test's timeout%s\n",
                rate, (unsigned)st->last_bad.got, (unsigned)st->last_bad.sent,
                host->kind == PORTS_HOST_UART
                    ? ""
                    : " (a USB adapter's buffering gives such pauses)");
    return;
  }
  if (shorts > 0) {
    diag_append(out, size,
                "%lu of %lu passes at %s came back short, and the bytes that "
                "came skip some of the pattern: the line loses bytes\n",
                shorts, passes, rate);
    return;
  }
  char first[96];
  diag_where(&st->first_bad, first, sizeof first);
  diag_append(out, size,
              "every pass brought all its bytes at %s, %lu of %lu with bytes "
              "out of place (first: %s): the line garbles bytes (noise, a "
              "loose contact, or a rate slightly off)\n",
              rate, (unsigned long)st->wrong, passes, first);
}
