#include "sweep_output.h"

#include <stdio.h>
#include <string.h>

void sweep_output_init(sweep_output *out, int count) {
  sweep_mutex_init(&out->lock);
  out->count = count;
  out->turn = 0;
  for (int i = 0; i < SWEEP_PORTS; i++) {
    out->done[i] = 0;
    out->used[i] = 0;
  }
}

void sweep_output_free(sweep_output *out) { sweep_mutex_free(&out->lock); }

static void sweep_print(int stream, const char *text, size_t len) {
  FILE *to = stream == 2 ? stderr : stdout;
  // What came before on the other stream goes first.
  fflush(stream == 2 ? stdout : stderr);
  fwrite(text, 1, len, to);
  fflush(to);
}

// Prints what port index has written so far and empties its buffer.
static void sweep_print_buffer(sweep_output *out, int index) {
  const char *p = out->buffer[index];
  const char *end = p + out->used[index];
  while (p + 3 <= end) {
    int stream = (unsigned char)p[0];
    size_t len = (size_t)(unsigned char)p[1] << 8 | (unsigned char)p[2];
    sweep_print(stream, p + 3, len);
    p += 3 + len;
  }
  out->used[index] = 0;
}

void sweep_output_write(sweep_output *out, int index, int stream,
                        const char *text, size_t len) {
  sweep_lock(&out->lock);
  if (index == out->turn) {
    sweep_print(stream, text, len);
  } else {
    // In pieces a length of two bytes can say; what finds the buffer full
    // is lost (a report is a few hundred bytes; the buffer holds 16 KiB).
    while (len > 0) {
      size_t piece = len < 0xFFFF ? len : 0xFFFF;
      size_t used = out->used[index];
      if (used + 3 + piece > SWEEP_BUFFER) {
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
  sweep_unlock(&out->lock);
}

void sweep_output_done(sweep_output *out, int index) {
  sweep_lock(&out->lock);
  out->done[index] = 1;
  // The turn passes on past every port that is done, printing each.
  while (out->turn < out->count && out->done[out->turn]) {
    out->turn++;
    if (out->turn < out->count) {
      sweep_print_buffer(out, out->turn);
    }
  }
  sweep_unlock(&out->lock);
}
