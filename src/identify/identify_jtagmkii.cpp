// The JTAGICE mkII family on a serial port: jtag2updi (an Arduino Nano
// that programs the newer AVRs through UPDI, and talks to the computer as
// a JTAGICE mkII) and the JTAGICE mkII's own RS-232 port. Both start at
// 19200 baud. A message is the start byte 1B, a sequence number (two
// bytes, low first), the body's length (four bytes, low first), the token
// 0E, the body, and a CRC-16 of all the bytes before (CCITT, reflected,
// from FFFF; low byte first). The sign-on (body 01) answers 86, the
// communications id, the two processors' boot, firmware and hardware
// versions, a serial number (six bytes) and the device's name.
#include <stdio.h>
#include <string.h>

#include "identify_query.h"

namespace {

enum {
  ID_MKII_START = 0x1B,
  ID_MKII_TOKEN = 0x0E,
  ID_MKII_HEADER = 8,  // start, sequence, length, token
  ID_MKII_SIGN_ON = 0x01,
  ID_MKII_SIGNED_ON = 0x86,
  ID_MKII_NAME_AT = 16,  // where the name starts in the sign-on's answer
  ID_MKII_MAX = 64,      // bytes of an answer this mode reads at most
};

// A message's CRC-16 (CCITT, reflected, from FFFF).
uint16_t id_jtagmkii_crc(const unsigned char *bytes, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; i++) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; bit++) {
      crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0x8408) : (uint16_t)(crc >> 1);
    }
  }
  return crc;
}

// The sign-on message into out (16 bytes): its length.
uint32_t id_jtagmkii_knock(unsigned char *out) {
  const unsigned char sign_on[] = {
      ID_MKII_START, 0, 0, 1, 0, 0, 0, ID_MKII_TOKEN, ID_MKII_SIGN_ON};
  memcpy(out, sign_on, sizeof sign_on);
  uint16_t crc = id_jtagmkii_crc(out, sizeof sign_on);
  out[sizeof sign_on] = (unsigned char)(crc & 0xFF);
  out[sizeof sign_on + 1] = (unsigned char)(crc >> 8);
  return sizeof sign_on + 2;
}

// Whether bytes are one whole message (start, length, token, CRC): its
// body's length, -1 when they are not.
int id_jtagmkii_whole(const unsigned char *b, size_t n) {
  if (n < ID_MKII_HEADER + 2 || b[0] != ID_MKII_START ||
      b[7] != ID_MKII_TOKEN) {
    return -1;
  }
  uint32_t len = (uint32_t)b[3] | (uint32_t)b[4] << 8 | (uint32_t)b[5] << 16 |
                 (uint32_t)b[6] << 24;
  if (len > ID_MKII_MAX || len + ID_MKII_HEADER + 2 != n) {
    return -1;
  }
  uint16_t crc = id_jtagmkii_crc(b, n - 2);
  if (b[n - 2] != (crc & 0xFF) || b[n - 1] != (crc >> 8)) {
    return -1;
  }
  return (int)len;
}

}  // namespace

void id_jtagmkii(id_session *s, id_found *found) {
  found->family = "JTAGICE mkII";
  found->query = "the JTAGICE mkII sign-on";
  unsigned char sent[16];
  uint32_t size = id_jtagmkii_knock(sent);
  unsigned char reply[ID_MKII_HEADER + ID_MKII_MAX + 2];
  // The header first: silence costs one short wait. Asked twice, as
  // avrdude does (ten times): the queries of the other families at other
  // rates reach it as garbage, and a start byte among them makes it drop
  // the message that follows; it waits for a start again after that.
  int n = 0;
  for (int attempt = 0; attempt < 2 && n == 0; attempt++) {
    n = id_exchange(s, sent, size, ID_WAIT_MS, reply, ID_MKII_HEADER);
  }
  if (n < 0) {
    found->outcome = ID_FAILED;
    return;
  }
  if (n == 0) {
    found->outcome = ID_SILENT;
    return;
  }
  int unasked = s->unasked_now;
  uint32_t len = (uint32_t)reply[3] | (uint32_t)reply[4] << 8;
  if (n == ID_MKII_HEADER && reply[0] == ID_MKII_START &&
      reply[7] == ID_MKII_TOKEN && reply[5] == 0 && reply[6] == 0 &&
      len <= ID_MKII_MAX) {
    int more = id_more(s, reply + n, len + 2);
    if (more < 0) {
      found->outcome = ID_FAILED;
      return;
    }
    n += more;
  } else if ((uint32_t)n < size) {
    // What else came: its own bytes back (an echo), or what fits nowhere.
    int more = id_more(s, reply + n, size - (uint32_t)n);
    if (more < 0) {
      found->outcome = ID_FAILED;
      return;
    }
    n += more;
  }
  if ((uint32_t)n == size && memcmp(reply, sent, size) == 0) {
    found->outcome = ID_ECHO;
    return;
  }
  int body = id_jtagmkii_whole(reply, (size_t)n);
  const unsigned char *b = reply + ID_MKII_HEADER;
  if (body < ID_MKII_NAME_AT || b[0] != ID_MKII_SIGNED_ON) {
    id_other(found, reply, (size_t)n);
    return;
  }
  if (id_answer_ended(s, unasked, found) < 0) {
    return;
  }
  size_t name = 0;
  while (ID_MKII_NAME_AT + (int)name < body && name + 1 < sizeof found->name &&
         b[ID_MKII_NAME_AT + name] != '\0') {
    found->name[name] = (char)b[ID_MKII_NAME_AT + name];
    name++;
  }
  found->name[name] = '\0';
  // The firmware that answers the host is the second processor's.
  snprintf(found->version, sizeof found->version,
           ", hardware %u, firmware %u.%02u", b[9], b[8], b[7]);
  memcpy(found->answer, reply,
         (size_t)n < sizeof found->answer ? (size_t)n : sizeof found->answer);
  found->n_answer =
      (size_t)n < sizeof found->answer ? (size_t)n : sizeof found->answer;
  id_decided(found, "sign-on", b, 10);
  found->outcome = ID_FOUND;
  found->what = "jtag2updi or a JTAGICE mkII";
  found->role = ID_PROGRAMMER;
}
