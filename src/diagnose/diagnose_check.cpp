// The verdict on a port of the connection check. The segments of its
// record are the STK500 probe's line setup (115200) and, when that found
// nothing, the AVR910 probe's four (115200, 38400, 19200, 9600).
#include <string.h>

#include "../avr910/avr910.h"
#include "../stk500/stk500.h"
#include "diagnose.h"
#include "diagnose_text.h"

namespace {

// The sign-on and the get-sync as the STK500 probe writes them.
const char kSignOn[] = {STK_GET_SIGN_ON, STK_CRC_EOP};
const char kGetSync[] = {STK_GET_SYNC, STK_CRC_EOP};

// Whether the exchange wrote exactly these bytes.
bool diag_wrote(const record_exchange *e, const char *bytes, size_t n) {
  return e->out == n && e->n_out == n && memcmp(e->bytes_out, bytes, n) == 0;
}

// Whether every byte value the segment read is one of these.
bool diag_only(const record_segment *s, const unsigned char *values, size_t n) {
  for (int b = 0; b < 256; b++) {
    if (record_seen(s->seen_in, (unsigned char)b) &&
        memchr(values, b, n) == NULL) {
      return false;
    }
  }
  return true;
}

// What came back is what went out: a loopback, or an adapter that echoes.
bool diag_echo(const record_log *r) {
  int with_bytes = 0;
  for (int i = 0; i < record_kept_segments(r); i++) {
    const record_segment *s = &r->segments[i];
    if (s->n_first_in == 0) {
      continue;
    }
    size_t n = s->n_first_in < s->n_first_out ? s->n_first_in : s->n_first_out;
    if (n < 2 || memcmp(s->first_in, s->first_out, n) != 0) {
      return false;
    }
    with_bytes++;
  }
  return with_bytes > 0;
}

// The first sign-on of the segment that was answered STK_INSYNC, seven
// bytes and STK_OK; id gets the seven bytes.
const record_exchange *diag_signon(const record_segment *s, char *id) {
  for (int i = 0; i < record_kept_exchanges(s); i++) {
    const record_exchange *e = &s->exchanges[i];
    if (diag_wrote(e, kSignOn, 2) && e->n_in >= 9 &&
        e->bytes_in[0] == STK_INSYNC && e->bytes_in[8] == STK_OK) {
      memcpy(id, e->bytes_in + 1, 7);
      id[7] = '\0';
      return e;
    }
  }
  return NULL;
}

// Whether the sign-on was answered with STK_INSYNC STK_OK and nothing more:
// what optiboot answers to any command it does not know.
bool diag_bootloader(const record_segment *s) {
  for (int i = 0; i < record_kept_exchanges(s); i++) {
    const record_exchange *e = &s->exchanges[i];
    if (diag_wrote(e, kSignOn, 2) && e->got == 2 && e->n_in == 2 &&
        e->bytes_in[0] == STK_INSYNC && e->bytes_in[1] == STK_OK) {
      return true;
    }
  }
  return false;
}

// Whether each command after the sign-on got a whole STK500 answer.
bool diag_rest_works(const record_segment *s) {
  int answered = 0;
  for (int i = 0; i < record_kept_exchanges(s); i++) {
    const record_exchange *e = &s->exchanges[i];
    if (diag_wrote(e, kGetSync, 2) ||
        (e->out == 3 && e->bytes_out[0] == STK_GET_PARAMETER)) {
      if (e->n_in < 2 || e->bytes_in[0] != STK_INSYNC ||
          e->bytes_in[e->n_in - 1] != STK_OK) {
        return false;
      }
      answered++;
    }
  }
  return answered > 0;
}

// The AVR910 programmer that identified itself, and at which segment.
int diag_avr910(const record_log *r, const char **id) {
  for (int i = 0; i < record_kept_segments(r); i++) {
    const record_segment *s = &r->segments[i];
    for (int k = 0; k < record_kept_exchanges(s); k++) {
      const record_exchange *e = &s->exchanges[k];
      if (!diag_wrote(e, "S", 1) || e->n_in != 7) {
        continue;
      }
      int known = avr910_id_index(e->bytes_in);
      if (known >= 0) {
        *id = avr910_id_name(known);
        return i;
      }
    }
  }
  return -1;
}

// Whether the segment read STK500 v1 replies only (INSYNC, NOSYNC, OK,
// FAILED, UNKNOWN), out-of-sync ones among them.
bool diag_stk500_bytes(const record_segment *s) {
  static const unsigned char replies[] = {STK_INSYNC, STK_NOSYNC, STK_OK,
                                          STK_FAILED, STK_UNKNOWN};
  return s->bytes_in > 0 && record_seen(s->seen_in, STK_NOSYNC) &&
         diag_only(s, replies, sizeof replies);
}

void diag_line(char *out, size_t size, const char *name) {
  out[0] = '\0';
  diag_append(out, size, "portvet: %s: ", name);
}

}  // namespace

void diagnose_check(const record_log *r, const char *name, char *out,
                    size_t size) {
  out[0] = '\0';
  int n = record_kept_segments(r);
  if (n == 0) {
    return;
  }
  // A port failure ends a probe: say where.
  for (int i = 0; i < n; i++) {
    const record_segment *s = &r->segments[i];
    const char *step = diag_step(s->failed_out, s->n_failed_out);
    if (s->failed) {
      diag_line(out, size, name);
      diag_append(out, size,
                  "the port failed (a %s failed) during %s at %ld baud: "
                  "unplugged, or a driver failure\n",
                  s->failed_write ? "write" : "read", step, (long)s->baud);
      return;
    }
    if (s->short_writes > 0) {
      step = diag_step(s->last_out, s->n_last_out);
      diag_line(out, size, name);
      diag_append(out, size,
                  "the port did not send all of %s at %ld baud: the line "
                  "does not move (flow control held, CTS low, or a stuck "
                  "driver)\n",
                  step, (long)s->baud);
      return;
    }
  }
  if (diag_echo(r)) {
    diag_line(out, size, name);
    diag_append(out, size,
                "what the tool sends comes back as it was sent: a loopback "
                "or an adapter that echoes, not a programmer\n");
    return;
  }
  const record_segment *stk = &r->segments[0];
  char id[8];
  if (diag_signon(stk, id) != NULL) {
    diag_line(out, size, name);
    if (strcmp(id, "AVR STK") == 0) {
      bool clean = !record_seen(stk->seen_in, STK_NOSYNC);
      diag_append(
          out, size,
          "an STK500 programmer (\"AVR STK\") answers at %ld baud: %s\n",
          (long)stk->baud,
          clean ? "the link works"
                : "the link works, but some replies were out of sync "
                  "(0x15): bytes lost or garbled now and then");
    } else {
      diag_append(out, size,
                  "an STK500 device signs on as \"%s\" at %ld baud, not as "
                  "\"AVR STK\", so the presence step counts no attempt: %s\n",
                  id, (long)stk->baud,
                  diag_rest_works(stk)
                      ? "sync and the version reads work (ArduinoISP says "
                        "\"AVR ISP\"): the link works"
                      : "a programmer of another make");
    }
    return;
  }
  const char *avr_id = NULL;
  int avr = diag_avr910(r, &avr_id);
  if (avr >= 0) {
    diag_line(out, size, name);
    diag_append(out, size,
                "an AVR910 programmer (\"%s\") answers at %ld baud: the link "
                "works\n",
                avr_id, (long)r->segments[avr].baud);
    return;
  }
  if (diag_bootloader(stk)) {
    diag_line(out, size, name);
    diag_append(out, size,
                "the sign-on is answered with 14 10 alone, as a bootloader "
                "(optiboot) answers any command: a board running its "
                "bootloader (it resets when the port opens, or its reset "
                "button was pressed), not a programmer\n");
    return;
  }
  if (stk->n_exchanges > 0 && stk->exchanges[0].n_in > 0 &&
      stk->exchanges[0].bytes_in[0] == '?') {
    diag_line(out, size, name);
    diag_append(out, size,
                "'?' answers the STK500 sign-on at %ld baud, as an AVR910 "
                "programmer answers a command it does not know: the sign-on "
                "got an answer, so this check does not try AVR910 here, and "
                "misses such a programmer\n",
                (long)stk->baud);
    return;
  }
  // Bytes no programmer sends: something at another rate. Where clean
  // STK500 replies came at some other rate, say which.
  int noise = -1;
  int stk500_at = -1;
  for (int i = 0; i < n; i++) {
    const record_segment *s = &r->segments[i];
    if (s->bytes_in == 0) {
      continue;
    }
    if (stk500_at < 0 && s->baud != 115200 && diag_stk500_bytes(s)) {
      stk500_at = i;
    } else if (noise < 0) {
      noise = i;
    }
  }
  if (noise < 0 && stk500_at < 0) {
    diag_line(out, size, name);
    diag_append(out, size, "no byte came back at");
    for (int i = 0; i < n; i++) {
      bool again = false;
      for (int k = 0; k < i; k++) {
        again = again || r->segments[k].baud == r->segments[i].baud;
      }
      if (!again) {
        diag_append(out, size, "%s %ld", i == 0 ? "" : ",",
                    (long)r->segments[i].baud);
      }
    }
    diag_append(out, size,
                " baud: nothing answers (not connected, the wrong port, or no "
                "power)\n");
    return;
  }
  diag_line(out, size, name);
  if (noise >= 0) {
    const record_segment *s = &r->segments[noise];
    char hex[64];
    diag_hex(s->first_in, s->n_first_in, 8, hex, sizeof hex);
    diag_append(out, size,
                "bytes that no programmer sends came at %ld baud (%s): "
                "something answers at another rate",
                (long)s->baud, hex);
  }
  if (stk500_at >= 0) {
    diag_append(out, size,
                "%sSTK500 v1 out-of-sync replies (0x15) came at %ld baud: an "
                "STK500 v1 programmer at %ld baud, such as a board running "
                "ArduinoISP; this check looks for STK500 only at 115200",
                noise >= 0 ? "; " : "", (long)r->segments[stk500_at].baud,
                (long)r->segments[stk500_at].baud);
  }
  diag_append(out, size, "\n");
}
