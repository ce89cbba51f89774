// The avr910 personality: a programmer that answers one-byte ASCII commands
// with fixed-length replies, and '?' to a command it does not know (unless
// --unknown says otherwise). The avr109 personality is the same with the
// defaults of an AVR109 bootloader (AVR910's self-programming dialect): it
// calls itself AVRBOOT and tells its block size ('b').
#include <string.h>

#include "sim.h"

// The commands this programmer knows.
static const char avr910_known[] = "SVvptasRdFrNQ.:TPLEAxycCDlem";

// Operand bytes that follow a command byte.
static size_t avr910_operands(unsigned char cmd) {
  switch (cmd) {
    case 'A':  // load address
      return 2;
    case 'T':  // select device
    case 'x':  // LED on
    case 'y':  // LED off
    case 'c':  // write program memory, low byte
    case 'C':  // write program memory, high byte
    case 'D':  // write EEPROM
    case 'l':  // write lock bits
      return 1;
    case '.':  // universal
      return 4;
    case ':':
      return 3;
    default:
      return 0;
  }
}

// Sets the reply to one of the four queries the probe makes; 0 when the
// command is not one of them.
static size_t avr910_query(const sim_knobs *k, unsigned char cmd,
                           unsigned char *out) {
  switch (cmd) {
    case 'S':
      memcpy(out, k->id, k->id_len);
      return k->id_len;
    case 'V':
      memcpy(out, k->sw, 2);
      return 2;
    case 'v':
      memcpy(out, k->hwv, 2);
      return 2;
    case 'p':
      out[0] = (unsigned char)k->type;
      return 1;
    default:
      return 0;
  }
}

static size_t avr910_answer(const sim_knobs *k, sim_state *s,
                            const unsigned char *f, unsigned char *out) {
  size_t n = avr910_query(k, f[0], out);
  if (n > 0 || f[0] == 'S') {
    // Faults go to the first queries of the chosen command (any, when none
    // is chosen).
    if (k->fault_cmd == 0 || k->fault_cmd == f[0]) {
      long query = ++s->counts[k->fault_cmd];
      if (query <= k->garbage_first) {
        memset(out, 0xA5, n);
      } else if (query <= k->garbage_first + k->short_first && n > 0) {
        n--;
      }
    }
    return n;
  }
  if (f[0] == 'b' && k->block > 0) {
    // Block mode: 'Y' and the block size (an AVR109 bootloader).
    out[0] = 'Y';
    out[1] = (unsigned char)(k->block >> 8);
    out[2] = (unsigned char)(k->block & 0xFF);
    return 3;
  }
  switch (f[0]) {
    case 't':  // supported devices, ended by 0
      out[0] = 0x74;
      out[1] = 0x00;
      return 2;
    case 'a':  // auto-increment supported
      out[0] = 'Y';
      return 1;
    case 's':  // signature, last byte first
      out[0] = sim_signature(k, 2);
      out[1] = sim_signature(k, 1);
      out[2] = sim_signature(k, 0);
      return 3;
    case 'R':
      out[0] = 0xFF;
      out[1] = 0xFF;
      return 2;
    case 'd':
    case 'F':
    case 'r':
    case 'N':
    case 'Q':
      out[0] = 0xFF;
      return 1;
    case '.':
    case ':':
      out[0] = 0x00;
      out[1] = '\r';
      return 2;
    case 'T':
    case 'P':
    case 'L':
    case 'E':
    case 'A':
    case 'x':
    case 'y':
    case 'c':
    case 'C':
    case 'D':
    case 'l':
    case 'e':
    case 'm':
      out[0] = '\r';
      return 1;
    default:
      if (k->unknown < 0) {
        return 0;
      }
      out[0] = (unsigned char)k->unknown;
      return 1;
  }
}

sim_action sim_avr910(const sim_knobs *k, sim_state *s,
                      const sim_settings *line, unsigned char byte,
                      unsigned char *out, size_t *out_len) {
  *out_len = 0;
  if (k->silent_after >= 0 && s->answered >= k->silent_after) {
    s->len = 0;
    return SIM_GO_ON;
  }
  s->frame[s->len++] = byte;
  if (s->len < 1 + avr910_operands(s->frame[0])) {
    return SIM_GO_ON;
  }
  bool known = strchr(avr910_known, s->frame[0]) != NULL ||
               (s->frame[0] == 'b' && k->block > 0);
  if (!known) {
    s->foreign++;
  }
  if (k->unknown < 0 && !known) {
    s->len = 0;  // noise to this programmer: no answer, no log
    return SIM_GO_ON;
  }
  sim_log(k->block > 0 ? "avr109" : "avr910", s->frame, s->len, line);
  if (k->hangup_after >= 0 && s->answered >= k->hangup_after) {
    return SIM_HANG_UP;
  }
  *out_len = avr910_answer(k, s, s->frame, out);
  s->len = 0;
  s->answered++;
  return SIM_GO_ON;
}
