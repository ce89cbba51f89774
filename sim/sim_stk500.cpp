// The stk500 personality: an STK500 (version 1 framing) that answers
// sign-on, get-sync and get-parameter, and enough of the rest for a real
// host to sign on, enter programming mode and read a signature.
#include <string.h>

#include "sim.h"

enum {
  EOP = 0x20,
  INSYNC = 0x14,
  NOSYNC = 0x15,
  OK = 0x10,
  FAILED = 0x11,
  UNKNOWN = 0x12,
};

// Operand count of a command; -1 when the first operand gives it.
static int stk500_operands(unsigned char cmd) {
  switch (cmd) {
    case 0x40:  // set parameter
    case 0x55:  // load address
      return 2;
    case 0x41:  // get parameter
      return 1;
    case 0x42:  // set device
      return 20;
    case 0x45:  // set device extended: its first operand counts itself
      return -1;
    case 0x56:  // universal
      return 4;
    case 0x74:  // read page
      return 3;
    default:
      return 0;
  }
}

// Whether a byte begins a command this device knows.
static bool stk500_command(unsigned char cmd) {
  switch (cmd) {
    case 0x30:  // get-sync
    case 0x31:  // sign-on
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x45:
    case 0x50:  // enter programming mode
    case 0x51:  // leave programming mode
    case 0x52:
    case 0x55:
    case 0x56:
    case 0x74:
    case 0x75:  // read signature
      return true;
    default:
      return false;
  }
}

static size_t stk500_frame_len(const unsigned char *frame, size_t len) {
  int operands = stk500_operands(frame[0]);
  if (operands < 0) {
    return len < 2 ? 0 : (size_t)frame[1] + 2;
  }
  return (size_t)operands + 2;
}

static long stk500_param(const sim_knobs *k, unsigned char id) {
  switch (id) {
    case 0x80:
      return k->hw;
    case 0x81:
      return k->sw_major;
    case 0x82:
      return k->sw_minor;
    default:
      return 0;
  }
}

static size_t stk500_answer(const sim_knobs *k, sim_state *s,
                            const unsigned char *f, unsigned char *out) {
  unsigned char cmd = f[0];
  long seen = ++s->counts[cmd];
  long nosync = cmd == 0x31   ? k->nosync_signon
                : cmd == 0x30 ? k->nosync_sync
                : cmd == 0x41 ? k->nosync_param
                              : 0;
  if (k->always >= 0) {
    out[0] = (unsigned char)k->always;
    return 1;
  }
  if (seen <= nosync) {
    memset(out, (unsigned char)k->nosync_fill, (size_t)k->nosync_bytes);
    out[0] = NOSYNC;
    return (size_t)k->nosync_bytes;
  }
  size_t n = 0;
  out[n++] = INSYNC;
  switch (cmd) {
    case 0x31:
      memcpy(out + n, k->id, k->id_len);
      n += k->id_len;
      out[n++] = (unsigned char)k->signon_end;
      return n;
    case 0x41:
      out[n++] = (unsigned char)stk500_param(k, f[1]);
      out[n++] = f[1] == k->fail_param ? FAILED : OK;
      return n;
    case 0x56:
      // Universal: 0x30 0x00 i 0x00 reads signature byte i.
      out[n++] = f[1] == 0x30 && f[3] < 3 ? sim_signature(k, f[3]) : 0;
      out[n++] = OK;
      return n;
    case 0x75:
      for (int i = 0; i < 3; i++) {
        out[n++] = sim_signature(k, i);
      }
      out[n++] = OK;
      return n;
    case 0x74: {
      size_t count = (size_t)f[1] << 8 | f[2];
      if (count > 512) {
        count = 512;
      }
      memset(out + n, 0xFF, count);
      n += count;
      out[n++] = OK;
      return n;
    }
    case 0x30:
    case 0x40:
    case 0x42:
    case 0x45:
    case 0x50:
    case 0x51:
    case 0x52:
    case 0x55:
      out[n++] = OK;
      return n;
    default:
      s->foreign++;
      out[n++] = UNKNOWN;
      return n;
  }
}

sim_action sim_stk500(const sim_knobs *k, sim_state *s,
                      const sim_settings *line, unsigned char byte,
                      unsigned char *out, size_t *out_len) {
  *out_len = 0;
  if (k->silent_after >= 0 && s->answered >= k->silent_after) {
    s->len = 0;
    return SIM_GO_ON;
  }
  if (s->len == 0 && k->reset && !stk500_command(byte)) {
    // A bootloader reads a command at a time: a byte that begins none is
    // an error of its own (ATmegaBOOT counts it; optiboot leaves).
    s->foreign++;
    return SIM_GO_ON;
  }
  s->frame[s->len++] = byte;
  size_t want = stk500_frame_len(s->frame, s->len);
  if (want == 0 || s->len < want) {
    if (s->len < sizeof s->frame) {
      return SIM_GO_ON;
    }
  }
  sim_log("stk500", s->frame, s->len, line);
  if (s->frame[s->len - 1] != EOP) {
    s->foreign++;
    out[0] = NOSYNC;
    *out_len = 1;
  } else {
    if (k->hangup_after >= 0 && s->answered >= k->hangup_after) {
      return SIM_HANG_UP;
    }
    *out_len = stk500_answer(k, s, s->frame, out);
  }
  s->len = 0;
  s->answered++;
  return SIM_GO_ON;
}
