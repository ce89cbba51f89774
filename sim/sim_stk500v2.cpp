// The stk500v2 personality: an STK500 with its newer firmware (or, with
// --id AVRISP_MK2, an AVRISP mkII on a serial port), speaking the framed v2
// protocol: the start byte 1B, a sequence number, the body's length (two
// bytes, high first), the token 0E, the body, and the XOR of all bytes
// before as the checksum; every answer comes in a frame with the same
// sequence number. It answers the sign-on with its name, parameter reads
// with its versions, and enough of the rest (programming mode, signature,
// fuses) for a real host to read an ATmega328P's signature.
#include <string.h>

#include "sim.h"

enum {
  V2_START = 0x1B,
  V2_TOKEN = 0x0E,
  V2_SIGN_ON = 0x01,
  V2_SET_PARAMETER = 0x02,
  V2_GET_PARAMETER = 0x03,
  V2_LOAD_ADDRESS = 0x06,
  V2_ENTER_PROGMODE = 0x10,
  V2_LEAVE_PROGMODE = 0x11,
  V2_READ_FUSE = 0x18,
  V2_READ_LOCK = 0x1A,
  V2_READ_SIGNATURE = 0x1B,
  V2_OK = 0x00,
  V2_FAILED = 0xC0,
  V2_CKSUM_ERROR = 0xC1,
  V2_UNKNOWN = 0xC9,
  V2_ANSWER_CKSUM_ERROR = 0xB0,
  V2_BODY = 275,  // the longest body this device takes
};

// Frames an answer's body into out; returns the frame's length.
static size_t v2_frame(unsigned char seq, const unsigned char *body, size_t len,
                       unsigned char *out) {
  out[0] = V2_START;
  out[1] = seq;
  out[2] = (unsigned char)(len >> 8);
  out[3] = (unsigned char)(len & 0xFF);
  out[4] = V2_TOKEN;
  memcpy(out + 5, body, len);
  unsigned char sum = 0;
  for (size_t i = 0; i < len + 5; i++) {
    sum ^= out[i];
  }
  out[len + 5] = sum;
  return len + 6;
}

static long v2_parameter(const sim_knobs *k, unsigned char p) {
  switch (p) {
    case 0x90:  // hardware version
      return k->hw;
    case 0x91:  // software version, major
      return k->sw_major;
    case 0x92:  // software version, minor
      return k->sw_minor;
    case 0x94:  // target voltage: 5.0 V
      return 50;
    default:
      return 0;
  }
}

// The answer's body to a whole message's body.
static size_t v2_answer(const sim_knobs *k, const unsigned char *body,
                        size_t len, unsigned char *out) {
  out[0] = body[0];
  out[1] = V2_OK;
  switch (body[0]) {
    case V2_SIGN_ON:
      out[2] = (unsigned char)k->id_len;
      memcpy(out + 3, k->id, k->id_len);
      return 3 + k->id_len;
    case V2_GET_PARAMETER:
      out[2] = (unsigned char)v2_parameter(k, len > 1 ? body[1] : 0);
      return 3;
    case V2_SET_PARAMETER:
    case V2_LOAD_ADDRESS:
    case V2_ENTER_PROGMODE:
    case V2_LEAVE_PROGMODE:
      return 2;
    case V2_READ_SIGNATURE:  // 1B retaddr c1 c2 c3 c4: c3 is the index
      out[2] = len > 4 && body[4] < 3 ? sim_signature(k, body[4]) : 0;
      out[3] = V2_OK;
      return 4;
    case V2_READ_FUSE:
    case V2_READ_LOCK:
      out[2] = 0xFF;
      out[3] = V2_OK;
      return 4;
    default:
      out[1] = V2_UNKNOWN;
      return 2;
  }
}

sim_action sim_stk500v2(const sim_knobs *k, sim_state *s,
                        const sim_settings *line, unsigned char byte,
                        unsigned char *out, size_t *out_len) {
  *out_len = 0;
  if (k->silent_after >= 0 && s->answered >= k->silent_after) {
    s->len = 0;
    return SIM_GO_ON;
  }
  // Collects a frame; a byte that cannot belong to one starts over.
  if (s->len == 0 && byte != V2_START) {
    s->foreign++;
    return SIM_GO_ON;
  }
  if (s->len < sizeof s->frame) {
    s->frame[s->len++] = byte;
  }
  if (s->len == 5 && s->frame[4] != V2_TOKEN) {
    s->len = 0;
    s->foreign++;
    return SIM_GO_ON;
  }
  if (s->len < 5) {
    return SIM_GO_ON;
  }
  size_t body_len = (size_t)s->frame[2] << 8 | s->frame[3];
  if (body_len == 0 || body_len > V2_BODY || body_len + 6 > sizeof s->frame) {
    s->len = 0;
    s->foreign++;
    return SIM_GO_ON;
  }
  if (s->len < body_len + 6) {
    return SIM_GO_ON;
  }
  sim_log("stk500v2", s->frame, s->len, line);
  if (k->hangup_after >= 0 && s->answered >= k->hangup_after) {
    return SIM_HANG_UP;
  }
  unsigned char sum = 0;
  for (size_t i = 0; i < body_len + 5; i++) {
    sum ^= s->frame[i];
  }
  unsigned char body[V2_BODY];
  size_t len = 0;
  if (sum != s->frame[body_len + 5]) {
    s->foreign++;
    body[0] = V2_ANSWER_CKSUM_ERROR;
    body[1] = V2_CKSUM_ERROR;
    len = 2;
  } else {
    len = v2_answer(k, s->frame + 5, body_len, body);
  }
  *out_len = v2_frame(s->frame[1], body, len, out);
  if (s->answered < k->bad_sum_first) {
    out[*out_len - 1] ^= 0xFF;
  }
  s->len = 0;
  s->answered++;
  return SIM_GO_ON;
}
