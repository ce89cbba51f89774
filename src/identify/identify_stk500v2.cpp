// The STK500 v2 family: the STK500 with its newer firmware, the AVRISP
// mkII and its clones on a serial port, and the bootloader of the Arduino
// Mega 2560. Every message is framed: the start byte 1B, a sequence number,
// the body's length (two bytes, high first), the token 0E, the body, and
// the XOR of all the bytes before as a checksum. The sign-on (body 01)
// answers 01 00, the name's length and the name ("STK500_2", "AVRISP_MK2",
// "AVRISP_2"); a parameter read (03 p) answers 03 00 and the value.
#include <stdio.h>
#include <string.h>

#include "identify_query.h"

namespace {

enum {
  ID_V2_START = 0x1B,
  ID_V2_TOKEN = 0x0E,
  ID_V2_SIGN_ON = 0x01,
  ID_V2_GET_PARAMETER = 0x03,
  ID_V2_OK = 0x00,
  ID_V2_HW_VER = 0x90,
  ID_V2_SW_MAJOR = 0x91,
  ID_V2_SW_MINOR = 0x92,
  ID_V2_READ_SIGNATURE = 0x1B,
  ID_V2_MAX = 40,  // bytes of an answer this mode reads at most
};

// Frames a body into out (len + 6 bytes). Returns the frame's length.
uint32_t id_v2_frame(unsigned char seq, const unsigned char *body, uint32_t len,
                     unsigned char *out) {
  out[0] = ID_V2_START;
  out[1] = seq;
  out[2] = (unsigned char)(len >> 8);
  out[3] = (unsigned char)(len & 0xFF);
  out[4] = ID_V2_TOKEN;
  memcpy(out + 5, body, len);
  unsigned char sum = 0;
  for (uint32_t i = 0; i < len + 5; i++) {
    sum ^= out[i];
  }
  out[len + 5] = sum;
  return len + 6;
}

// Whether bytes are one whole message (start, token, length, checksum):
// its body's length, -1 when they are not.
int id_v2_whole(const unsigned char *frame, size_t n) {
  if (n < 6 || frame[0] != ID_V2_START || frame[4] != ID_V2_TOKEN) {
    return -1;
  }
  size_t body_len = (size_t)frame[2] << 8 | frame[3];
  if (body_len + 6 != n) {
    return -1;
  }
  unsigned char sum = 0;
  for (size_t i = 0; i < body_len + 5; i++) {
    sum ^= frame[i];
  }
  return sum == frame[body_len + 5] ? (int)body_len : -1;
}

// Whether a message's body answers the sign-on: its name into name.
bool id_v2_sign_on_answer(const unsigned char *frame, int body_len, char *name,
                          size_t size) {
  int name_len = body_len >= 3 ? frame[7] : -1;
  if (body_len < 3 || frame[5] != ID_V2_SIGN_ON || frame[6] != ID_V2_OK ||
      name_len + 3 != body_len || name_len >= (int)size) {
    return false;
  }
  memcpy(name, frame + 8, (size_t)name_len);
  name[name_len] = '\0';
  return true;
}

// Sends a message and reads the answer's frame into reply, its first byte
// awaited first_ms. Returns the body's length (the body at reply + 5), 0
// when no whole answer came, -1 on a port failure; *n the bytes that came.
int id_v2_ask(id_session *s, unsigned char seq, const unsigned char *body,
              uint32_t len, uint32_t first_ms, unsigned char *reply, int *n) {
  unsigned char frame[16];
  uint32_t size = id_v2_frame(seq, body, len, frame);
  // The first byte alone first: silence costs one short wait.
  *n = id_exchange(s, frame, size, first_ms, reply, 1);
  if (*n <= 0) {
    return *n;
  }
  int more = id_more(s, reply + 1, 4);
  if (more < 0) {
    return -1;
  }
  *n += more;
  if (*n < 5 || reply[0] != ID_V2_START || reply[4] != ID_V2_TOKEN) {
    return 0;
  }
  uint32_t body_len = (uint32_t)reply[2] << 8 | reply[3];
  if (body_len + 6 > ID_V2_MAX) {
    return 0;
  }
  more = id_more(s, reply + 5, body_len + 1);
  if (more < 0) {
    return -1;
  }
  *n += more;
  int whole = id_v2_whole(reply, (size_t)*n);
  return whole < 0 ? 0 : whole;
}

// Reads parameter p: its value, -1 when no whole answer came, -2 on a port
// failure.
int id_v2_parameter(id_session *s, unsigned char seq, unsigned char p) {
  const unsigned char body[] = {ID_V2_GET_PARAMETER, p};
  unsigned char reply[ID_V2_MAX];
  int n = 0;
  int len = id_v2_ask(s, seq, body, sizeof body, ID_WAIT_MS, reply, &n);
  if (len < 0) {
    return -2;
  }
  if (len == 3 && reply[5] == ID_V2_GET_PARAMETER && reply[6] == ID_V2_OK) {
    return reply[7];
  }
  return -1;
}

}  // namespace

int id_stk500v2_answers(const unsigned char *b, size_t n, id_found *found) {
  int len = id_v2_whole(b, n);
  if (len < 0 ||
      !id_v2_sign_on_answer(b, len, found->name, sizeof found->name)) {
    return 0;
  }
  found->family = "STK500 v2";
  id_decided(found, "sign-on", b, n);
  return 1;
}

uint32_t id_stk500v2_knock(unsigned char *out) {
  const unsigned char body[] = {ID_V2_SIGN_ON};
  return id_v2_frame(1, body, sizeof body, out);
}

void id_stk500v2(id_session *s, id_found *found) {
  found->family = "STK500 v2";
  found->query = "the STK500 v2 sign-on";
  const unsigned char body[] = {ID_V2_SIGN_ON};
  unsigned char reply[ID_V2_MAX];
  unsigned char sent[16];
  uint32_t size = id_v2_frame(1, body, sizeof body, sent);
  int n = 0;
  int len = id_v2_ask(s, 1, body, sizeof body, ID_WAIT_MS, reply, &n);
  if (len < 0) {
    found->outcome = ID_FAILED;
    return;
  }
  int unasked = s->unasked_now;
  if (n == (int)size && memcmp(reply, sent, size) == 0) {
    found->outcome = ID_ECHO;
    return;
  }
  if (!id_v2_sign_on_answer(reply, len, found->name, sizeof found->name)) {
    if (n > 0) {
      id_other(found, reply, (size_t)n);
    } else {
      found->outcome = ID_SILENT;
    }
    return;
  }
  if (id_answer_ended(s, unasked, found) < 0) {
    return;
  }
  memcpy(found->answer, reply, (size_t)n);
  found->n_answer = (size_t)n;
  id_decided(found, "sign-on", reply, (size_t)n);
  found->outcome = ID_FOUND;
  found->query = "an STK500 v2 parameter read";
  int hw = id_v2_parameter(s, 2, ID_V2_HW_VER);
  int major = id_v2_parameter(s, 3, ID_V2_SW_MAJOR);
  int minor = id_v2_parameter(s, 4, ID_V2_SW_MINOR);
  if (hw == -2 || major == -2 || minor == -2) {
    found->outcome = ID_FAILED;
    return;
  }
  if (hw >= 0 && major >= 0 && minor >= 0) {
    snprintf(found->version, sizeof found->version,
             ", hardware %d, software %d.%d", hw, major, minor);
  }
  if (strcmp(found->name, "AVRISP_2") == 0 && hw == 0x0F) {
    // The hardware version the Mega 2560's bootloader reports.
    found->what = "the Arduino Mega 2560's bootloader";
    found->role = ID_BOOTLOADER;
  } else if (strcmp(found->name, "STK500_2") == 0) {
    found->what = "an STK500 programmer";
    found->role = ID_PROGRAMMER;
  } else if (strncmp(found->name, "AVRISP", 6) == 0) {
    found->what = "an AVRISP programmer";
    found->role = ID_PROGRAMMER;
  } else {
    found->what = "a device of the STK500 v2 family";
    found->role = ID_DEVICE;
  }
}

int id_stk500v2_chip(id_session *s, id_found *found) {
  unsigned char sig[3];
  for (unsigned char i = 0; i < 3; i++) {
    // The ISP instruction that reads signature byte i (30 00 i 00); its
    // answer is the fourth byte (the return address 4).
    const unsigned char body[] = {ID_V2_READ_SIGNATURE, 4, 0x30, 0x00, i, 0x00};
    unsigned char reply[ID_V2_MAX];
    int n = 0;
    int len = id_v2_ask(s, (unsigned char)(5 + i), body, sizeof body,
                        ID_WAIT_MS, reply, &n);
    if (len < 0) {
      return -1;
    }
    if (len != 4 || reply[5] != ID_V2_READ_SIGNATURE || reply[6] != ID_V2_OK ||
        reply[8] != ID_V2_OK) {
      return 0;
    }
    sig[i] = reply[7];
  }
  memcpy(found->chip, sig, 3);
  found->has_chip = 1;
  return 0;
}
