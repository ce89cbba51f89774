// Bytes that come without a query: at which rate they are text (a board's
// start-up text, a program that prints), or noise; and how the line shows
// them.
#include "identify_unasked.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

namespace {

// The rates a program that prints is looked for at, the common ones.
const int32_t id_text_rates[] = {9600, 19200, 38400, 57600, 115200};

// How long the mode listens at a rate for a program that prints: most
// print a line a second.
const uint32_t ID_TEXT_MS = 1100;

// Enough bytes to judge, from a device that streams.
const uint32_t ID_TEXT_ENOUGH = 32;

bool id_printable_byte(unsigned char c) {
  return (c >= 0x20 && c <= 0x7E) || c == '\r' || c == '\n' || c == '\t';
}

int id_kept(const id_unasked *u, int32_t baud) {
  for (int i = 0; i < ID_RATES; i++) {
    if (u->baud[i] == baud) {
      return i;
    }
  }
  return -1;
}

}  // namespace

int id_is_text(const unsigned char *bytes, size_t n) {
  // A listen that began in the middle of a byte reads its first one or two
  // wrong: three in four must be text, and four at least; with two letters
  // or digits, or it is no text a program prints ('?' is how an AVR910
  // device answers a command it does not know).
  size_t text = 0;
  size_t words = 0;
  for (size_t i = 0; i < n; i++) {
    text += id_printable_byte(bytes[i]);
    words += isalnum(bytes[i]) != 0;
  }
  return text >= 4 && text * 4 >= n * 3 && words >= 2;
}

void id_quote(const unsigned char *bytes, size_t n, char *out, size_t size) {
  // The longest run of text (the first bytes of a listen that began in the
  // middle of a line are garbled): escapes for CR, LF and TAB, and at most
  // 40 characters.
  size_t best = 0;
  size_t best_len = 0;
  for (size_t at = 0; at < n;) {
    size_t len = 0;
    while (at + len < n && id_printable_byte(bytes[at + len])) {
      len++;
    }
    if (len > best_len) {
      best = at;
      best_len = len;
    }
    at += len + 1;
  }
  size_t i = best;
  n = best_len > 0 ? best + best_len : n;
  size_t used = 0;
  out[used++] = '"';
  size_t shown = 0;
  for (; i < n && used + 6 < size && shown < 40; i++, shown++) {
    unsigned char c = bytes[i];
    const char *esc = c == '\r'   ? "\\r"
                      : c == '\n' ? "\\n"
                      : c == '\t' ? "\\t"
                      : c == '"'  ? "\\\""
                      : c == '\\' ? "\\\\"
                                  : NULL;
    if (esc != NULL) {
      out[used++] = esc[0];
      out[used++] = esc[1];
    } else if (id_printable_byte(c)) {
      out[used++] = (char)c;
    } else {
      used += (size_t)snprintf(out + used, size - used, "\\x%02X", c);
    }
  }
  out[used++] = '"';
  if (i < n && used + 4 < size) {
    memcpy(out + used, " ...", 4);
    used += 4;
  }
  out[used] = '\0';
}

int id_text(id_session *s, int32_t *baud, const unsigned char **bytes,
            size_t *n) {
  id_unasked *u = &s->unasked;
  for (int32_t rate : id_text_rates) {
    int at = id_kept(u, rate);
    if (at < 0 || u->count[at] < ID_TEXT_ENOUGH) {
      // Not heard enough at this rate yet: listen for a line.
      id_rate(s, rate);
      uint64_t end = serial_clock_ms() + ID_TEXT_MS;
      for (;;) {
        uint64_t now = serial_clock_ms();
        at = id_kept(u, rate);
        if (now >= end || (at >= 0 && u->count[at] >= ID_TEXT_ENOUGH)) {
          break;
        }
        unsigned char buf[64];
        uint32_t got = 0;
        if (!serial_read_for(s->port, buf, sizeof buf, (uint32_t)(end - now),
                             &got)) {
          return -1;
        }
        id_keep_unasked(s, buf, got);
      }
      at = id_kept(u, rate);
    }
    if (at < 0) {
      continue;
    }
    size_t kept =
        u->count[at] < (uint32_t)ID_KEPT ? u->count[at] : (uint32_t)ID_KEPT;
    if (id_is_text(u->bytes[at], kept)) {
      *baud = rate;
      *bytes = u->bytes[at];
      *n = kept;
      return 1;
    }
  }
  return 0;
}

int id_first_unasked(const id_session *s, const unsigned char **bytes,
                     size_t *n) {
  const id_unasked *u = &s->unasked;
  for (int i = 0; i < ID_RATES; i++) {
    if (u->count[i] > 0) {
      *bytes = u->bytes[i];
      *n = u->count[i] < (uint32_t)ID_KEPT ? u->count[i] : (uint32_t)ID_KEPT;
      return 1;
    }
  }
  return 0;
}
