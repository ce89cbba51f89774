#include "report_order.h"

#include <stdio.h>
#include <string.h>

void report_order_init(report_order *out, int count) {
  thread_mutex_init(&out->lock);
  out->count = count;
  out->turn = 0;
  for (int i = 0; i < REPORT_PORTS; i++) {
    out->done[i] = 0;
    out->used[i] = 0;
  }
}

void report_order_free(report_order *out) { thread_mutex_free(&out->lock); }

static void report_order_print(int stream, const char *text, size_t len) {
  FILE *to = stream == 2 ? stderr : stdout;
  // What came before on the other stream goes first.
  fflush(stream == 2 ? stdout : stderr);
  fwrite(text, 1, len, to);
  fflush(to);
}

// Prints what port index has written so far and empties its buffer.
static void report_order_print_buffer(report_order *out, int index) {
  const char *p = out->buffer[index];
  const char *end = p + out->used[index];
  while (p + 3 <= end) {
    int stream = (unsigned char)p[0];
    size_t len = (size_t)(unsigned char)p[1] << 8 | (unsigned char)p[2];
    report_order_print(stream, p + 3, len);
    p += 3 + len;
  }
  out->used[index] = 0;
}

void report_order_write(report_order *out, int index, int stream,
                        const char *text, size_t len) {
  thread_lock(&out->lock);
  if (index == out->turn) {
    report_order_print(stream, text, len);
  } else {
    // In pieces a length of two bytes can say; what finds the buffer full
    // is lost (a report is a few hundred bytes; the buffer holds 16 KiB).
    while (len > 0) {
      size_t piece = len < 0xFFFF ? len : 0xFFFF;
      size_t used = out->used[index];
      if (used + 3 + piece > REPORT_BUFFER) {
        break;
      }
      char *p = out->buffer[index] + used;
      p[0] = (char)stream;
      p[1] = (char)(piece >> 8);
      p[2] = (char)(piece & 0xFF);
      memcpy(p + 3, text, piece);
      out->used[index] = used + 3 + piece;
      text += piece;
      len -= piece;
    }
  }
  thread_unlock(&out->lock);
}

void report_order_done(report_order *out, int index) {
  thread_lock(&out->lock);
  out->done[index] = 1;
  // The turn passes on past every port that is done, printing each.
  while (out->turn < out->count && out->done[out->turn]) {
    out->turn++;
    if (out->turn < out->count) {
      report_order_print_buffer(out, out->turn);
    }
  }
  thread_unlock(&out->lock);
}
