// The verdict on a port of the connection check, from its record: the
// probe's steps as the probes ran them (what each asked, its result, its
// replies, the out-of-sync replies the probe counted) and the line setups
// (the STK500 probe's at 115200 and, when that found nothing, the AVR910
// probe's four).
#include <string.h>

#include "../avr910/avr910.h"
#include "../stk500/stk500.h"
#include "diagnose.h"
#include "diagnose_text.h"

namespace {

// A cause beside silence and garbage: the board's bootloader is there
// only for a while after the port opens, and leaves at a foreign byte.
const char diag_board[] =
    "a board that restarts when its port opens (most Arduino boards): its "
    "bootloader listens only after its start-up and leaves at the check's "
    "other queries";

// A second line: where the identify mode can tell what is there.
void diag_identify_hint(char *out, size_t size, const char *name) {
  diag_append(out, size,
              "portvet: %s: portvet -id -c%s asks each family at its rate "
              "and waits for a board's bootloader\n",
              name, name + 3);
}

// The rate a setup ran at: what the port said, else what was asked.
long diag_rate(const record_segment *s) {
  return s->runs > 0 ? s->runs : s->baud;
}

long diag_step_rate(const record_log *r, const record_step *step) {
  return step->segment < record_kept_segments(r)
             ? diag_rate(&r->segments[step->segment])
             : 0;
}

// The first kept step that asked this; NULL when none did.
const record_step *diag_find(const record_log *r, int ask) {
  for (int i = 0; i < record_kept_steps(r); i++) {
    if (r->steps[i].ask == ask) {
      return &r->steps[i];
    }
  }
  return NULL;
}

// Whether a reply is an STK500 sign-on answer: in sync, seven bytes and OK;
// id gets the seven.
bool diag_signon_reply(const record_reply *reply, char *id) {
  if (reply->got != 9 || reply->n != 9 || reply->bytes[0] != STK_INSYNC ||
      reply->bytes[8] != STK_OK) {
    return false;
  }
  memcpy(id, reply->bytes + 1, 7);
  id[7] = '\0';
  return true;
}

// Whether a reply's kept bytes from the one at from are printable ASCII.
static bool diag_printable(const record_reply *reply, int from) {
  for (int i = from; i < reply->n; i++) {
    if (reply->bytes[i] < 0x20 || reply->bytes[i] > 0x7E) {
      return false;
    }
  }
  return true;
}

// Whether a reply is seven printable characters, an AVR910 programmer's
// name; id gets them.
bool diag_name_reply(const record_reply *reply, char *id) {
  if (reply->got != 7 || reply->n != 7 || !diag_printable(reply, 0)) {
    return false;
  }
  memcpy(id, reply->bytes, 7);
  id[7] = '\0';
  return true;
}

// Why a step that did not succeed failed, in words.
void diag_why(const record_step *s, char *out, size_t size) {
  out[0] = '\0';
  if (s->result == STK500_PARAM_FAILED && s->ask >= RECORD_STK500_HW_VERSION &&
      s->ask <= RECORD_STK500_SW_MINOR) {
    diag_append(out, size, "the programmer refused it (0x11)");
  } else if (s->result == STK500_TIMEOUT && s->ask <= RECORD_STK500_SW_MINOR) {
    diag_append(out, size, "a reply stopped short (a timeout)");
  } else if (s->no_sync > 0 && (uint32_t)s->no_sync >= s->commands) {
    diag_append(out, size,
                "every one of its %lu replies was out of sync (0x15): the "
                "programmer does not take the command, or the line garbles "
                "it on the way",
                (unsigned long)s->commands);
  } else if (s->answered == 0) {
    diag_append(out, size, "nothing answered it in %lu attempts",
                (unsigned long)s->commands);
  } else {
    diag_append(out, size, "no reply in %lu attempts was a whole answer",
                (unsigned long)s->commands);
  }
}

// The first of the steps after the sign-on (get-sync, the version reads)
// that did not succeed; NULL when all did.
const record_step *diag_first_failed(const record_log *r, int from, int to) {
  for (int i = 0; i < record_kept_steps(r); i++) {
    const record_step *s = &r->steps[i];
    if (s->ask >= from && s->ask <= to && s->result <= 0) {
      return s;
    }
  }
  return NULL;
}

// Whether each of the asks from..to was made and succeeded.
bool diag_all_ok(const record_log *r, int from, int to) {
  for (int ask = from; ask <= to; ask++) {
    const record_step *s = diag_find(r, ask);
    if (s == NULL || s->result <= 0) {
      return false;
    }
  }
  return true;
}

// The replies the probe counted out of sync in steps that succeeded.
long diag_no_sync_ok(const record_log *r) {
  long n = 0;
  for (int i = 0; i < record_kept_steps(r); i++) {
    const record_step *s = &r->steps[i];
    if (s->ask <= RECORD_STK500_SW_MINOR && s->result > 0) {
      n += s->no_sync;
    }
  }
  return n;
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

// Whether every reply of the step is made of STK500 v1 reply bytes (in
// sync, out of sync, OK, failed, unknown) and some began out of sync.
bool diag_stk500_replies(const record_step *s) {
  static const unsigned char replies[] = {STK_INSYNC, STK_NOSYNC, STK_OK,
                                          STK_FAILED, STK_UNKNOWN};
  if (s->answered == 0 || !record_seen(s->starts, STK_NOSYNC)) {
    return false;
  }
  for (int b = 0; b < 256; b++) {
    if (record_seen(s->values, (unsigned char)b) &&
        memchr(replies, b, sizeof replies) == NULL) {
      return false;
    }
  }
  return true;
}

// Whether a reply of a step is the start of its protocol's answer and no
// more: STK500's 0x14 with the start of what follows it (a sign-on's name,
// a value), AVR910's identifier in fewer than seven characters. Returns
// the answer it began, or NULL.
const char *diag_cut_short(const record_step *s, const record_reply *reply) {
  if (reply->got == 0 || reply->n < reply->got) {
    return NULL;  // nothing came, or more than the record keeps
  }
  switch (s->ask) {
    case RECORD_STK500_SIGN_ON:
      return reply->bytes[0] == STK_INSYNC && reply->got < 9 &&
                     diag_printable(reply, 1)
                 ? "an STK500 sign-on answer (0x14 and the name)"
                 : NULL;
    case RECORD_STK500_SYNC:
      return reply->got == 1 && reply->bytes[0] == STK_INSYNC
                 ? "an STK500 get-sync answer (14 10)"
                 : NULL;
    case RECORD_STK500_HW_VERSION:
    case RECORD_STK500_SW_MAJOR:
    case RECORD_STK500_SW_MINOR:
      return reply->got < 3 && reply->bytes[0] == STK_INSYNC
                 ? "an STK500 parameter answer (0x14, the value, 0x10)"
                 : NULL;
    case RECORD_AVR910_ID: {
      // '?' is how an AVR910 programmer answers the stray bytes of other
      // rates; what follows it is the identifier's start.
      int from = 0;
      while (from < reply->n && reply->bytes[from] == '?') {
        from++;
      }
      return from < reply->n && reply->n - from < 7 &&
                     diag_printable(reply, from)
                 ? "an AVR910 identifier (seven characters)"
                 : NULL;
    }
    default:
      return NULL;
  }
}

void diag_line(char *out, size_t size, const char *name) {
  out[0] = '\0';
  diag_append(out, size, "portvet: %s: ", name);
}

// After "the link works": the step after the sign-on that failed, or the
// out-of-sync replies of those that did not.
void diag_link_works(const record_log *r, int from, int to, char *out,
                     size_t size) {
  diag_append(out, size, "the link works");
  const record_step *failed = diag_first_failed(r, from, to);
  if (failed != NULL) {
    char why[256];
    diag_why(failed, why, sizeof why);
    diag_append(out, size, ", but %s failed: %s", diag_ask(failed->ask), why);
    return;
  }
  long no_sync = diag_no_sync_ok(r);
  if (no_sync > 0) {
    diag_append(out, size,
                ", but %ld %s out of sync (0x15): bytes lost or garbled now "
                "and then",
                no_sync, no_sync == 1 ? "reply was" : "replies were");
  }
}

// The rates the port ran at, each once, as "115200, 38400".
void diag_rates(const record_log *r, char *out, size_t size) {
  out[0] = '\0';
  int n = record_kept_segments(r);
  for (int i = 0; i < n; i++) {
    bool again = false;
    for (int k = 0; k < i; k++) {
      again = again || diag_rate(&r->segments[k]) == diag_rate(&r->segments[i]);
    }
    if (!again) {
      diag_append(out, size, "%s%ld", out[0] == '\0' ? "" : ", ",
                  diag_rate(&r->segments[i]));
    }
  }
}

// The STK500 probe's findings; false when it found nothing to name.
bool diag_stk500(const record_log *r, char *out, size_t size,
                 const char *name) {
  const record_step *stk = diag_find(r, RECORD_STK500_SIGN_ON);
  if (stk == NULL) {
    return false;
  }
  long rate = diag_step_rate(r, stk);
  char id[8];
  if (stk->result > 0) {
    diag_line(out, size, name);
    diag_append(
        out, size,
        "an STK500 programmer (\"AVR STK\") answers at %ld baud: ", rate);
    diag_link_works(r, RECORD_STK500_SYNC, RECORD_STK500_SW_MINOR, out, size);
    diag_append(out, size, "\n");
    return true;
  }
  // A get-sync that works is a working link, whatever the sign-on got.
  const record_step *sync = diag_find(r, RECORD_STK500_SYNC);
  bool sync_works = sync != NULL && sync->result > 0;
  bool all_work = diag_all_ok(r, RECORD_STK500_SYNC, RECORD_STK500_SW_MINOR);
  const char *works =
      all_work ? "sync and the version reads work" : "get-sync works";
  if (stk->result == STK500_FAILED && (diag_signon_reply(&stk->first, id) ||
                                       diag_signon_reply(&stk->last, id))) {
    diag_line(out, size, name);
    diag_append(out, size,
                "an STK500 device signs on as \"%s\" at %ld baud, not as "
                "\"AVR STK\", so the presence step counts no attempt: ",
                id, rate);
    if (sync_works) {
      diag_append(out, size, "%s (ArduinoISP says \"AVR ISP\"): ", works);
      diag_link_works(r, RECORD_STK500_SYNC, RECORD_STK500_SW_MINOR, out, size);
    } else if (sync != NULL) {
      char why[256];
      diag_why(sync, why, sizeof why);
      diag_append(out, size,
                  "a programmer of another make, and the STK500 get-sync "
                  "failed: %s",
                  why);
    } else {
      diag_append(out, size, "a programmer of another make");
    }
    diag_append(out, size, "\n");
    return true;
  }
  if (stk->result == STK500_FAILED && stk->no_sync > 0 &&
      (uint32_t)stk->no_sync >= stk->commands) {
    diag_line(out, size, name);
    diag_append(out, size,
                "every sign-on at %ld baud was answered out of sync (0x15): "
                "an STK500 that hears the commands garbled (noise, or a rate "
                "slightly off), or that wants another command first",
                rate);
    if (sync_works) {
      diag_append(out, size, "; %s: ", works);
      diag_link_works(r, RECORD_STK500_SYNC, RECORD_STK500_SW_MINOR, out, size);
    }
    diag_append(out, size, "\n");
    return true;
  }
  if (sync_works) {
    // Whatever the sign-on got, a device that syncs talks STK500 over a
    // working link.
    diag_line(out, size, name);
    diag_append(out, size,
                "the sign-on at %ld baud got no STK500 answer, but %s: an "
                "STK500 of another dialect; ",
                rate, works);
    diag_link_works(r, RECORD_STK500_SYNC, RECORD_STK500_SW_MINOR, out, size);
    diag_append(out, size, "\n");
    return true;
  }
  // A bootloader that was not reading yet when the sign-on came (optiboot
  // blinks its LED after a reset) answers it late: its 14 10 are the first
  // bytes that come at this rate, and all of them, whichever read (a drain
  // too) takes them.
  const record_segment *late = NULL;
  for (int i = 0; i < record_kept_segments(r) && late == NULL; i++) {
    if (r->segments[i].bytes_in > 0 && diag_rate(&r->segments[i]) == rate) {
      late = &r->segments[i];
    }
  }
  bool bare = stk->first.got == 2 && stk->first.bytes[0] == STK_INSYNC &&
              stk->first.bytes[1] == STK_OK;
  bool bare_late = stk->first.got == 0 && late != NULL && late->bytes_in == 2 &&
                   late->first_in[0] == STK_INSYNC &&
                   late->first_in[1] == STK_OK;
  if (stk->result == STK500_TIMEOUT && (bare || bare_late)) {
    diag_line(out, size, name);
    diag_append(out, size,
                "the sign-on is answered with 14 10 alone, as a bootloader "
                "(optiboot) answers any command: a board running its "
                "bootloader (it resets when the port opens, or its reset "
                "button was pressed), not a programmer\n");
    return true;
  }
  if (stk->first.got > 0 && stk->first.bytes[0] == '?') {
    diag_line(out, size, name);
    diag_append(out, size,
                "'?' answers the STK500 sign-on at %ld baud, as an AVR910 "
                "programmer answers a command it does not know: the sign-on "
                "got an answer, so this check does not try AVR910 here, and "
                "misses such a programmer\n",
                rate);
    return true;
  }
  return false;
}

// The AVR910 probe's findings; false when it found nothing to name.
bool diag_avr910(const record_log *r, char *out, size_t size,
                 const char *name) {
  for (int i = 0; i < record_kept_steps(r); i++) {
    const record_step *s = &r->steps[i];
    if (s->ask == RECORD_AVR910_ID && s->result > 0) {
      char id[8] = "";
      diag_name_reply(&s->last, id);
      diag_line(out, size, name);
      diag_append(out, size,
                  "an AVR910 programmer (\"%s\") answers at %ld baud: ", id,
                  diag_step_rate(r, s));
      diag_link_works(r, RECORD_AVR910_SW_VERSION, RECORD_AVR910_TYPE, out,
                      size);
      diag_append(out, size, "\n");
      return true;
    }
  }
  for (int i = 0; i < record_kept_steps(r); i++) {
    const record_step *s = &r->steps[i];
    char id[8];
    if (s->ask == RECORD_AVR910_ID &&
        (diag_name_reply(&s->last, id) || diag_name_reply(&s->first, id))) {
      diag_line(out, size, name);
      diag_append(out, size,
                  "an AVR910 programmer that calls itself %s, not a type this "
                  "check knows (\"AVR ISP\", \"AVR PPR\", \"AVR DEV\"): it "
                  "answers at %ld baud in the protocol (AVR109 bootloaders "
                  "call themselves AVRBOOT)\n",
                  id, diag_step_rate(r, s));
      return true;
    }
  }
  return false;
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
                  s->failed_write ? "write" : "read", step, diag_rate(s));
      return;
    }
    if (s->short_writes > 0) {
      step = diag_step(s->last_out, s->n_last_out);
      diag_line(out, size, name);
      diag_append(out, size,
                  "the port did not send all of %s at %ld baud: the line "
                  "does not move (flow control held, CTS low, or a stuck "
                  "driver)\n",
                  step, diag_rate(s));
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
  if (diag_stk500(r, out, size, name) || diag_avr910(r, out, size, name)) {
    return;
  }
  // The start of an answer, cut short: a programmer whose replies come
  // slower than the timeout allows, or a line that drops bytes.
  for (int i = 0; i < record_kept_steps(r); i++) {
    const record_step *step = &r->steps[i];
    const record_reply *reply = &step->first;
    const char *what = diag_cut_short(step, reply);
    if (what == NULL) {
      reply = &step->last;
      what = diag_cut_short(step, reply);
    }
    if (what != NULL) {
      char hex[64];
      diag_hex(reply->bytes, reply->n, 8, hex, sizeof hex);
      diag_line(out, size, name);
      diag_append(out, size,
                  "a reply cut short came at %ld baud (%s): the start of %s, "
                  "and no more within the timeout: a programmer that answers "
                  "in pieces further apart than the timeout allows (-t), or "
                  "a line that loses bytes\n",
                  diag_step_rate(r, step), hex, what);
      return;
    }
  }
  // Bytes no programmer sends: something at another rate, or in another
  // protocol. Where clean STK500 replies came to the AVR910 queries at a
  // rate other than 115200, say which.
  int noise = -1;
  long stk500_at = 0;
  for (int i = 0; i < record_kept_steps(r) && stk500_at == 0; i++) {
    const record_step *s = &r->steps[i];
    long rate = diag_step_rate(r, s);
    if (s->ask == RECORD_AVR910_ID && rate != 115200 &&
        diag_stk500_replies(s)) {
      stk500_at = rate;
    }
  }
  for (int i = 0; i < n && noise < 0; i++) {
    const record_segment *s = &r->segments[i];
    if (s->bytes_in > 0 && diag_rate(s) != stk500_at) {
      noise = i;
    }
  }
  diag_line(out, size, name);
  if (noise < 0 && stk500_at == 0) {
    char rates[128];
    diag_rates(r, rates, sizeof rates);
    diag_append(out, size,
                "no byte came back at %s baud: nothing answers these queries: "
                "not connected, the wrong port, no power, a device that "
                "keeps silent to them (a programmer or bootloader that speaks "
                "STK500 v2, or STK500 v1 at a rate this check does not use, "
                "such as 57600), or %s\n",
                rates, diag_board);
    diag_identify_hint(out, size, name);
    return;
  }
  if (noise >= 0) {
    // The first reply that came at that rate, as it came.
    const record_segment *s = &r->segments[noise];
    char hex[64];
    diag_hex(s->first_in, s->n_first_in, 8, hex, sizeof hex);
    for (int i = record_kept_steps(r) - 1; i >= 0; i--) {
      const record_step *step = &r->steps[i];
      if (step->segment == noise && step->first.got > 0) {
        diag_hex(step->first.bytes, step->first.got,
                 step->first.n < 8 ? step->first.n : 8, hex, sizeof hex);
      }
    }
    diag_append(out, size,
                "bytes that no programmer sends came at %ld baud (%s): "
                "something answers at another rate, or in another protocol, "
                "or %s",
                diag_rate(s), hex, diag_board);
  }
  if (stk500_at != 0) {
    diag_append(out, size,
                "%sSTK500 v1 out-of-sync replies (0x15) came at %ld baud: an "
                "STK500 v1 programmer at %ld baud, such as a board running "
                "ArduinoISP; this check looks for STK500 only at 115200",
                noise >= 0 ? "; " : "", stk500_at, stk500_at);
  }
  diag_append(out, size, "\n");
  diag_identify_hint(out, size, name);
}
