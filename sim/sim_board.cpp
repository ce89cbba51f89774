#include "sim_board.h"

#include <string.h>

#include "sim.h"

// A board's start-up delay after a reset (an Uno's fuses: 65 ms); a
// device deaf for less starts sooner.
static const uint64_t SIM_BOARD_STARTUP_NS = 65000000;

static const uint64_t SIM_MS = 1000000;

static int sim_board_is(const sim_knobs *k) { return k->reset != 0; }

void sim_board_init(sim_board *b, const sim_knobs *k, uint64_t now_ns) {
  memset(b, 0, sizeof *b);
  b->phase = sim_board_is(k) ? SIM_BOARD_LEFT : SIM_BOARD_LISTENS;
  b->started_ns = now_ns;
  b->listen_ns = now_ns;
  b->heard_ns = now_ns;
  b->print_ns = now_ns;
}

int sim_board_open(sim_board *b, const sim_knobs *k, uint64_t now_ns) {
  if (!sim_board_is(k)) {
    return 0;
  }
  uint64_t deaf = (uint64_t)k->deaf_ms * SIM_MS;
  memset(b, 0, sizeof *b);
  b->phase = SIM_BOARD_RESET;
  b->started_ns =
      now_ns + (deaf < SIM_BOARD_STARTUP_NS ? deaf : SIM_BOARD_STARTUP_NS);
  b->listen_ns = now_ns + deaf;
  b->heard_ns = b->listen_ns;
  b->print_ns = UINT64_MAX;
  return 1;
}

// Leaves for its program, which prints its first line at once.
static void sim_board_leave(sim_board *b, uint64_t at_ns) {
  b->phase = SIM_BOARD_LEFT;
  b->print_ns = at_ns;
}

size_t sim_board_tick(sim_board *b, const sim_knobs *k, uint64_t now_ns,
                      line_byte *out) {
  size_t n = 0;
  if (b->phase == SIM_BOARD_RESET && now_ns >= b->started_ns) {
    b->phase = SIM_BOARD_DEAF;
  }
  if (b->phase == SIM_BOARD_DEAF && now_ns >= b->listen_ns) {
    b->phase = SIM_BOARD_LISTENS;
    for (int i = 0; i < b->n_held; i++) {
      out[n] = b->held[i];
      out[n].at_ns = b->listen_ns;
      n++;
    }
    b->n_held = 0;
  }
  if (b->phase == SIM_BOARD_LISTENS && k->window_ms > 0 &&
      now_ns >= b->heard_ns + (uint64_t)k->window_ms * SIM_MS && n == 0) {
    sim_board_leave(b, b->heard_ns + (uint64_t)k->window_ms * SIM_MS);
  }
  return n;
}

int sim_board_hear(sim_board *b, const line_byte *got) {
  switch (b->phase) {
    case SIM_BOARD_DEAF:
      if (b->n_held < SIM_BOARD_HELD) {
        b->held[b->n_held++] = *got;
      } else {
        b->held[SIM_BOARD_HELD - 1] = *got;  // the overrun
      }
      return 0;
    case SIM_BOARD_LISTENS:
      return 1;
    default:
      return 0;  // in reset, or its program (which reads nothing)
  }
}

int sim_board_took(sim_board *b, const sim_knobs *k, long foreign,
                   uint64_t at_ns) {
  // Any byte it reads restarts its window: optiboot's watchdog, the time-
  // out of ATmegaBOOT's read, the Mega 2560's wait for a message.
  b->heard_ns = at_ns;
  if (foreign == 0) {
    return 0;
  }
  b->foreign += foreign;
  if (k->foreign_max > 0 && b->foreign >= k->foreign_max) {
    sim_board_leave(b, at_ns);
  }
  return sim_board_is(k) || k->foreign_max > 0;
}

uint64_t sim_board_next_ns(const sim_board *b, const sim_knobs *k) {
  switch (b->phase) {
    case SIM_BOARD_RESET:
      return b->started_ns;
    case SIM_BOARD_DEAF:
      return b->listen_ns;
    case SIM_BOARD_LISTENS:
      return k->window_ms > 0 ? b->heard_ns + (uint64_t)k->window_ms * SIM_MS
                              : UINT64_MAX;
    default:
      return k->print_len > 0 ? b->print_ns : UINT64_MAX;
  }
}

size_t sim_board_print(sim_board *b, const sim_knobs *k, uint64_t now_ns,
                       unsigned char *out, uint32_t *baud) {
  if (b->phase != SIM_BOARD_LEFT || k->print_len == 0 || now_ns < b->print_ns) {
    return 0;
  }
  memcpy(out, k->print, k->print_len);
  *baud = (uint32_t)(k->print_baud > 0 ? k->print_baud : k->baud);
  uint64_t every = (uint64_t)(k->print_every_ms > 0 ? k->print_every_ms : 1000);
  b->print_ns += every * SIM_MS;
  if (b->print_ns <= now_ns) {
    b->print_ns = now_ns + every * SIM_MS;
  }
  return k->print_len;
}
