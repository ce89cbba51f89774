// The serialupdi personality: a USB-serial adapter whose TX is joined to
// its RX through a resistor ("SerialUPDI"), with a UPDI chip (a tinyAVR
// 0/1 by default) on that one wire, or with nothing on it.
//
// Every byte the tool sends comes back as its echo, and the chip's answer
// after it. The chip takes frames of 8 data bits with even parity, but a
// pty keeps no parity (Linux clears PARENB on both sides), so the
// simulator cannot tell whether the tool set it; a weak line's flipped bit
// stands for a parity error. After an error (a flipped bit, a first byte
// that is no SYNC) the chip ignores the line until a break: a zero byte
// sent at a rate so low that the line stays low for at least 12 bit times
// of the chip's rate (avrdude: 0x00 at 300 baud). Every instruction starts
// with SYNC (0x55), from which the chip takes its rate.
//
// It answers as far as avrdude's serialupdi needs to read a signature:
// LDCS/STCS on the control/status registers, the System Information Block
// (KEY 0xE4-0xE6), the NVMProg key, the reset request, and LDS, LD, ST and
// REPEAT on a data space that holds the signature row at 0x1100. Stores
// change nothing but the control/status registers and the pointer.
#include <string.h>

#include "sim.h"

enum {
  UPDI_SYNC = 0x55,
  UPDI_ACK = 0x40,
  UPDI_STATUSA = 0x00,
  UPDI_STATUSB = 0x01,
  UPDI_CTRLA = 0x02,
  UPDI_CTRLB = 0x03,
  UPDI_KEY_STATUS = 0x07,
  UPDI_RESET_REQ = 0x08,
  UPDI_SYS_STATUS = 0x0B,
  UPDI_SIGROW = 0x1100,
  UPDI_PE_PARITY = 1,  // STATUSB's error signature of a parity error
  UPDI_PE_SYNC = 5,    // of a SYNC that was no SYNC
};

static unsigned char updi_read(const sim_knobs *k, uint32_t address) {
  if (address >= UPDI_SIGROW && address < UPDI_SIGROW + 3) {
    return sim_signature(k, (int)(address - UPDI_SIGROW));
  }
  return 0;  // NVMCTRL.STATUS and the rest: ready, empty
}

// The chip goes into its error state: it ignores everything until a break.
static void updi_error(sim_updi *u, int signature) {
  u->listening = 0;
  u->len = 0;
  u->cs[UPDI_STATUSB] = (unsigned char)signature;
}

static int updi_key_is(const unsigned char *key, const char *name) {
  int forward = memcmp(key, name, 8) == 0;
  int reversed = 1;
  for (int i = 0; i < 8; i++) {
    reversed &= key[i] == (unsigned char)name[7 - i];
  }
  return forward || reversed;
}

// Operand bytes an instruction takes after its opcode.
static size_t updi_operands(unsigned char op) {
  switch (op & 0xE0) {
    case 0x00:  // LDS: an address of 1 to 3 bytes
    case 0x40:  // STS: the address first, its data after the ACK
      return (size_t)((op >> 2) & 3) + 1;
    case 0x60:  // ST: a pointer of 1 to 3 bytes; data comes after
      return ((op >> 2) & 3) == 2 ? (size_t)(op & 3) + 1 : 0;
    case 0xC0:  // STCS: the value
      return 1;
    case 0xA0:  // REPEAT: a count of 1 or 2 bytes
      return (size_t)(op & 3) + 1;
    case 0xE0:  // KEY: the key; the SIB read takes none
      return (op & 4) ? 0 : (size_t)8 << (op & 3);
    default:  // LD, LDCS
      return 0;
  }
}

// The chip's answer to a whole instruction (u->frame, opcode first).
static size_t updi_execute(const sim_knobs *k, sim_updi *u,
                           unsigned char *out) {
  const unsigned char *f = u->frame;
  unsigned char op = f[0];
  int ack = (u->cs[UPDI_CTRLA] & 0x08) == 0;  // RSD: no ACKs
  size_t n = 0;
  uint32_t operand = 0;
  for (size_t i = u->len - 1; i >= 1; i--) {
    operand = operand << 8 | f[i];
  }
  long repeat = u->repeat;
  u->repeat = 1;
  switch (op & 0xE0) {
    case 0x00:  // LDS
      for (int i = 0; i <= (op & 3); i++) {
        out[n++] = updi_read(k, operand + (uint32_t)i);
      }
      return n;
    case 0x40:  // STS: data to come
      u->unit = (size_t)(op & 3) + 1;
      u->store = u->unit;
      if (ack) {
        out[n++] = UPDI_ACK;
      }
      return n;
    case 0x20:  // LD
      if (((op >> 2) & 3) == 2) {
        for (int i = 0; i <= (op & 3); i++) {
          out[n++] = (unsigned char)(u->ptr >> (8 * i));
        }
        return n;
      }
      for (long r = 0; r < repeat && n < 512; r++) {
        for (int i = 0; i <= (op & 3); i++) {
          out[n++] = updi_read(k, u->ptr + (uint32_t)i);
        }
        if (((op >> 2) & 3) == 1) {
          u->ptr += (uint32_t)(op & 3) + 1;
        }
      }
      return n;
    case 0x60:  // ST
      if (((op >> 2) & 3) == 2) {
        u->ptr = operand;
        if (ack) {
          out[n++] = UPDI_ACK;
        }
        return n;
      }
      // Data to come, an element at a time, each acknowledged.
      u->unit = (size_t)(op & 3) + 1;
      u->store = u->unit * (size_t)repeat;
      if (((op >> 2) & 3) == 1) {
        u->ptr += (uint32_t)u->store;
      }
      return n;
    case 0x80:  // LDCS
      out[n++] = u->cs[op & 0x0F];
      return n;
    case 0xC0:  // STCS
      if ((op & 0x0F) == UPDI_RESET_REQ) {
        if (f[1] == 0x59) {
          u->cs[UPDI_SYS_STATUS] |= 0x20;  // RSTSYS
        } else if (u->cs[UPDI_SYS_STATUS] & 0x20) {
          u->cs[UPDI_SYS_STATUS] &= (unsigned char)~0x20;
          if (u->cs[UPDI_KEY_STATUS] & 0x10) {
            u->cs[UPDI_SYS_STATUS] |= 0x08;  // NVMPROG
          } else {
            u->cs[UPDI_SYS_STATUS] &= (unsigned char)~0x08;
          }
        }
      } else if ((op & 0x0F) == UPDI_CTRLB && (f[1] & 0x04)) {
        updi_error(u, 0);  // UPDIDIS: off until the next break
        u->cs[UPDI_KEY_STATUS] = 0;
        u->cs[UPDI_SYS_STATUS] &= (unsigned char)~0x08;
      } else if ((op & 0x0F) != UPDI_STATUSA && (op & 0x0F) != UPDI_STATUSB) {
        u->cs[op & 0x0F] = f[1];
      }
      return n;
    case 0xA0:  // REPEAT
      u->repeat = (long)operand + 1;
      return n;
    default:  // KEY
      if (op & 4) {
        size_t size = (size_t)8 << (op & 3);
        for (size_t i = 0; i < size && i < 32; i++) {
          out[n++] = i < k->id_len ? (unsigned char)k->id[i] : 0;
        }
        return n;
      }
      if (u->len == 9 && updi_key_is(f + 1, "NVMProg ")) {
        u->cs[UPDI_KEY_STATUS] |= 0x10;
      } else if (u->len == 9 && updi_key_is(f + 1, "NVMErase")) {
        u->cs[UPDI_KEY_STATUS] |= 0x08;
      }
      return n;
  }
}

// The chip hears one byte; its answer goes to out.
static size_t updi_hear(const sim_knobs *k, sim_updi *u,
                        const sim_settings *line, unsigned char byte,
                        unsigned char *out) {
  // A zero at a rate low enough that the line is low 12 of the chip's bit
  // times: 10 bit times (start, 8 zeros, a zero parity bit) at the tool's.
  uint32_t rate = u->rate != 0 ? u->rate : 115200;
  if (byte == 0 && line->baud > 0 &&
      (uint64_t)line->baud * 12 <= (uint64_t)rate * 10) {
    u->breaks++;
    sim_log("break", NULL, 0, line);
    if (k->double_break && u->breaks < 2) {
      return 0;
    }
    u->listening = 1;
    u->len = 0;
    u->store = 0;
    return 0;
  }
  if (k->double_break && u->breaks < 2) {
    u->breaks = 0;  // its link needs two breaks in a row first
    return 0;
  }
  if (!u->listening) {
    return 0;
  }
  if (u->store > 0) {
    // Data of STS or ST: an ACK after each element.
    if (--u->store % u->unit == 0 && (u->cs[UPDI_CTRLA] & 0x08) == 0) {
      out[0] = UPDI_ACK;
      return 1;
    }
    return 0;
  }
  if (u->len == 0) {
    if (byte == 0) {
      // A zero too short for a break while SYNC is due: the pulse that
      // wakes the link (avrdude's handshake at its rate), not an error.
      return 0;
    }
    if (byte != UPDI_SYNC) {
      updi_error(u, UPDI_PE_SYNC);
      return 0;
    }
    u->rate = (uint32_t)line->baud;
    u->frame[u->len++] = byte;
    return 0;
  }
  u->frame[u->len++] = byte;
  size_t want = u->len >= 2 ? updi_operands(u->frame[1]) + 2 : 2;
  if (u->len < want && u->len < sizeof u->frame) {
    return 0;
  }
  sim_log("updi", u->frame, u->len, line);
  // The instruction without its SYNC.
  memmove(u->frame, u->frame + 1, --u->len);
  size_t n = updi_execute(k, u, out);
  u->len = 0;
  return n;
}

sim_action sim_serialupdi(const sim_knobs *k, sim_state *s,
                          const sim_settings *line, unsigned char byte,
                          unsigned char *out, size_t *out_len) {
  sim_updi *u = &s->updi;
  *out_len = 0;
  if (!u->started) {
    u->started = 1;
    u->listening = 1;
    u->repeat = 1;
    u->cs[UPDI_STATUSA] = (unsigned char)(k->updi_rev << 4);
    u->cs[UPDI_SYS_STATUS] = 0x82;
  }
  // A weak line: every Nth byte crosses with its lowest bit flipped, for
  // the echo and the chip alike; the chip sees the wrong parity.
  unsigned char answer[600];
  size_t n = 0;
  if (k->weak > 0 && ++u->sent % k->weak == 0) {
    byte ^= 1;
    if (k->target) {
      updi_error(u, UPDI_PE_PARITY);
    }
  } else if (k->target) {
    n = updi_hear(k, u, line, byte, answer);
  }
  if (!k->echo) {
    return SIM_GO_ON;  // the RX input loads the line: nothing comes back
  }
  out[(*out_len)++] = byte;
  memcpy(out + *out_len, answer, n);
  *out_len += n;
  return SIM_GO_ON;
}
