// The jtag2updi personality: an Arduino Nano running jtag2updi, which
// speaks to the PC as a JTAGICE mkII and to a UPDI chip (an ATtiny416 by
// default) on its other side. As a JTAGICE mkII it starts at 19200 baud
// (avrdude signs on there), goes to the rate a host sets (avrdude: 115200)
// after its answer, and back to 19200 at sign-off.
//
// A message is 0x1B, a sequence number (2 bytes, LSB first), the body's
// length (4 bytes, LSB first), the token 0x0E, the body, and a CRC-16
// (CCITT, reflected, from 0xFFFF) of all of it before, LSB first. Every
// answer carries the sequence number of its command. A message with a
// wrong CRC, token or length is dropped without an answer, as the
// firmware's parser drops it.
//
// It answers as far as avrdude's jtag2updi needs to read a signature:
// sign-on, set and get parameter, the device descriptor, entering and
// leaving programming mode, memory reads (the signature row at 0x1100),
// reset, go and sign-off. Without a chip, entering programming mode
// fails.
#include <string.h>

#include "sim.h"

enum {
  JTAG_START = 0x1B,
  JTAG_TOKEN = 0x0E,
  JTAG_HEADER = 8,  // start, sequence, length, token
  CMND_SIGN_OFF = 0x00,
  CMND_GET_SIGN_ON = 0x01,
  CMND_SET_PARAMETER = 0x02,
  CMND_GET_PARAMETER = 0x03,
  CMND_READ_MEMORY = 0x05,
  CMND_ENTER_PROGMODE = 0x14,
  PAR_BAUD_RATE = 0x05,
  RSP_OK = 0x80,
  RSP_PARAMETER = 0x81,
  RSP_MEMORY = 0x82,
  RSP_SIGN_ON = 0x86,
  RSP_FAILED = 0xA0,
  RSP_NO_TARGET_POWER = 0xAB,
};

// A message's CRC-16 (CCITT, reflected, from FFFF).
static uint16_t sim_jtag_crc(const unsigned char *bytes, size_t len) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < len; i++) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; bit++) {
      crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0x8408) : (uint16_t)(crc >> 1);
    }
  }
  return crc;
}

// The body of the answer to the command body f (len bytes).
static size_t jtag_answer(const sim_knobs *k, sim_state *s,
                          const unsigned char *f, size_t len,
                          unsigned char *out) {
  size_t n = 0;
  switch (f[0]) {
    case CMND_GET_SIGN_ON: {
      static const unsigned char sign_on[] = {
          RSP_SIGN_ON, 0x01,                    // communications id
          0x01,        0x00, 0x07, 0x01,        // master: boot, fw, hw
          0x01,        0x00, 0x07, 0x01,        // slave: boot, fw, hw
          0x00,        0x00, 0x00, 0x00, 0x00,  // serial number
          0x00};
      memcpy(out, sign_on, sizeof sign_on);
      n = sizeof sign_on;
      memcpy(out + n, "JTAGICE mkII", 13);
      return n + 13;
    }
    case CMND_GET_PARAMETER:
      out[n++] = RSP_PARAMETER;
      out[n++] = 0x00;
      return n;
    case CMND_SET_PARAMETER:
      if (len >= 3 && f[1] == PAR_BAUD_RATE) {
        // Its codes: 1 2400, 2 4800, 3 9600, 4 19200, 5 38400, 6 57600,
        // 7 115200, 8 14400.
        static const long rates[] = {0,     2400,  4800,   9600, 19200,
                                     38400, 57600, 115200, 14400};
        if (f[2] == 0 || f[2] > 8) {
          out[n++] = RSP_FAILED;
          return n;
        }
        s->baud = rates[f[2]];
      }
      out[n++] = RSP_OK;
      return n;
    case CMND_ENTER_PROGMODE:
      out[n++] = k->target ? RSP_OK : RSP_NO_TARGET_POWER;
      s->answered++;
      return n;
    case CMND_READ_MEMORY: {
      // Memory type, then the count and the address, 4 bytes each.
      uint32_t count = 0;
      uint32_t address = 0;
      for (int i = 3; i >= 0 && len >= 10; i--) {
        count = count << 8 | f[2 + i];
        address = address << 8 | f[6 + i];
      }
      if (!k->target || len < 10 || count > 512) {
        out[n++] = RSP_FAILED;
        return n;
      }
      out[n++] = RSP_MEMORY;
      for (uint32_t i = 0; i < count; i++) {
        uint32_t at = address + i;
        out[n++] = at >= 0x1100 && at < 0x1103
                       ? sim_signature(k, (int)(at - 0x1100))
                       : 0xFF;
      }
      return n;
    }
    case CMND_SIGN_OFF:
      s->baud = 0;
      out[n++] = RSP_OK;
      return n;
    default:
      out[n++] = RSP_OK;
      return n;
  }
}

sim_action sim_jtag2updi(const sim_knobs *k, sim_state *s,
                         const sim_settings *line, unsigned char byte,
                         unsigned char *out, size_t *out_len) {
  *out_len = 0;
  if (s->len == 0 && byte != JTAG_START) {
    return SIM_GO_ON;  // between messages: waits for a start
  }
  s->frame[s->len++] = byte;
  if (s->len < JTAG_HEADER) {
    return SIM_GO_ON;
  }
  uint32_t size = (uint32_t)s->frame[3] | (uint32_t)s->frame[4] << 8 |
                  (uint32_t)s->frame[5] << 16 | (uint32_t)s->frame[6] << 24;
  if (s->frame[7] != JTAG_TOKEN || size == 0 ||
      size > sizeof s->frame - JTAG_HEADER - 2) {
    s->len = 0;  // no message of its: dropped
    return SIM_GO_ON;
  }
  if (s->len < JTAG_HEADER + size + 2) {
    return SIM_GO_ON;
  }
  sim_log("jtag2updi", s->frame, s->len, line);
  size_t len = s->len;
  s->len = 0;
  if (s->messages++ < k->lose_first) {
    return SIM_GO_ON;  // its start taken by garbage: dropped
  }
  uint16_t crc = sim_jtag_crc(s->frame, len - 2);
  if ((crc & 0xFF) != s->frame[len - 2] || (crc >> 8) != s->frame[len - 1]) {
    return SIM_GO_ON;
  }
  size_t body =
      jtag_answer(k, s, s->frame + JTAG_HEADER, size, out + JTAG_HEADER);
  out[0] = JTAG_START;
  out[1] = s->frame[1];
  out[2] = s->frame[2];
  for (int i = 0; i < 4; i++) {
    out[3 + i] = (unsigned char)(body >> (8 * i));
  }
  out[7] = JTAG_TOKEN;
  crc = sim_jtag_crc(out, JTAG_HEADER + body);
  if (s->replies++ < k->bad_sum_first) {
    crc ^= 0x0100;  // its high byte wrong
  }
  out[JTAG_HEADER + body] = (unsigned char)crc;
  out[JTAG_HEADER + body + 1] = (unsigned char)(crc >> 8);
  *out_len = JTAG_HEADER + body + 2;
  return SIM_GO_ON;
}
