// The verdict on a stress test: one line setup, one exchange a pass (the
// 256-byte pattern and the reads that bring it back), the drains between.
#include <string.h>

#include "diagnose.h"
#include "diagnose_text.h"

namespace {

unsigned diag_gcd(unsigned a, unsigned b) {
  while (b != 0) {
    unsigned t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// Whether the bytes the segment read are exactly the values it wrote.
bool diag_same_values(const record_segment *s) {
  return memcmp(s->seen_in, s->seen_out, sizeof s->seen_in) == 0;
}

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

}  // namespace

void diagnose_stress(const record_log *r, const char *name, const char *latency,
                     char *out, size_t size) {
  out[0] = '\0';
  if (r->n_segments == 0) {
    return;
  }
  const record_segment *s = &r->segments[0];
  int kept = record_kept_exchanges(s);
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
                "the port failed (a %s failed) in pass %u at %s: unplugged, "
                "or a driver failure\n",
                s->failed_write ? "write" : "read", (unsigned)s->n_exchanges,
                rate);
    return;
  }
  if (s->short_writes > 0) {
    diag_append(out, size,
                "the port did not send all of the pattern in %lu of %u passes "
                "at %s: the line does not move (flow control held, CTS low, "
                "or a stuck driver)\n",
                (unsigned long)s->short_writes, (unsigned)s->n_exchanges, rate);
    return;
  }
  if (s->bytes_in == 0) {
    diag_append(out, size,
                "no byte came back in %u passes at %s: TXD and RXD are not "
                "joined (nothing echoes), or the port does not send\n",
                (unsigned)s->n_exchanges, rate);
    return;
  }
  // The passes that came back short, and how many bytes each brought.
  int shorts = 0;
  unsigned block = 0;
  bool late = s->drained > 0;
  for (int i = 0; i < kept; i++) {
    const record_exchange *e = &s->exchanges[i];
    if (e->got < e->out) {
      shorts++;
      block = diag_gcd(block, e->got);
    }
    // A pass that read bytes of an earlier one: they came late.
    if (i > 0 && e->n_in > 0 && e->bytes_in[0] != 0) {
      late = true;
    }
  }
  if (shorts == 0 && s->bytes_in == s->bytes_out && diag_same_values(s)) {
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
  if (shorts > 0 && late && shorts >= 2 && block >= 4) {
    diag_append(out, size,
                "%d of %d passes at %s ended after whole blocks of %u bytes, "
                "and later passes took the bytes that came late: bytes come "
                "in blocks with pauses longer than the test's timeout between "
                "them, as a USB adapter hands them over (or the line stalls "
                "at the same places); no sign of a lost byte\n",
                shorts, kept, rate, block);
    if (latency != NULL && latency[0] != '\0') {
      diag_append(out, size,
                  "portvet: %s: the adapter hands bytes over when its latency "
                  "timer runs out: write 1 to %s (as root) for 1 ms\n",
                  name, latency);
    }
    return;
  }
  if (shorts > 0 && late) {
    diag_append(out, size,
                "%d of %d passes at %s came back short, and later passes (or "
                "the drains before them) took the bytes that came after: "
                "pauses on the line longer than the test's timeout, not lost "
                "bytes\n",
                shorts, kept, rate);
    return;
  }
  if (shorts == 1 && kept > 0 &&
      s->exchanges[kept - 1].got < s->exchanges[kept - 1].out) {
    diag_append(out, size,
                "the last pass at %s came back short (%u of %u bytes), and no "
                "later pass could take what came after: bytes lost, or a "
                "pause longer than the test's timeout (a USB adapter's "
                "buffering gives such pauses)\n",
                rate, (unsigned)s->exchanges[kept - 1].got,
                (unsigned)s->exchanges[kept - 1].out);
    return;
  }
  if (shorts > 0) {
    diag_append(out, size,
                "%d of %d passes at %s came back short, and nothing that came "
                "later made up for them: the line loses bytes\n",
                shorts, kept, rate);
    return;
  }
  char gone[64];
  gone[0] = '\0';
  int listed = 0;
  for (int b = 0; b < 256 && listed < 4; b++) {
    if (record_seen(s->seen_out, (unsigned char)b) &&
        !record_seen(s->seen_in, (unsigned char)b)) {
      diag_append(gone, sizeof gone, "%s0x%02X", listed ? ", " : "", b);
      listed++;
    }
  }
  diag_append(out, size,
              "every pass brought all its bytes at %s, some of them wrong%s%s%s"
              ": the line garbles bytes (noise, a loose contact, or a rate "
              "slightly off)\n",
              rate, listed ? " (never came back: " : "", gone,
              listed ? ")" : "");
}
