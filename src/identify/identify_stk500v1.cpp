// The STK500 v1 family: the STK500 itself, ArduinoISP, and the bootloaders
// of Arduino boards (optiboot; ATmegaBOOT, the older one). Each answers
// get-sync (30 20) with 14 10; the sign-on (31 20) names it ("AVR STK",
// "AVR ISP"), except optiboot, which answers any command it does not know
// with 14 10 alone; and the parameter reads (41 p 20) tell the rest:
// optiboot gives its version as the software version, ArduinoISP and
// ATmegaBOOT both say "AVR ISP", but only ArduinoISP answers parameter 0x93
// with 'S' (a serial programmer). Atmel's own AVRISP and its clones say
// "AVR ISP" too and know no parameter 0x93: their bytes are ATmegaBOOT's.
#include <stdio.h>
#include <string.h>

#include "../stk500/stk500.h"
#include "identify_query.h"

namespace {

// Reads parameter p; -1 when no whole answer came (a port failure: -2).
int id_v1_parameter(id_session *s, unsigned char p, id_found *found,
                    const char *label) {
  const unsigned char cmd[] = {STK_GET_PARAMETER, p, STK_CRC_EOP};
  unsigned char reply[3];
  int n = id_exchange(s, cmd, sizeof cmd, ID_WAIT_MS, reply, sizeof reply);
  if (n < 0) {
    return -2;
  }
  if (n == 3 && reply[0] == STK_INSYNC && reply[2] == STK_OK) {
    if (label != NULL) {
      id_decided(found, label, reply, 3);
    }
    return reply[1];
  }
  return -1;
}

}  // namespace

void id_stk500v1(id_session *s, id_found *found) {
  static const unsigned char sync[] = {STK_GET_SYNC, STK_CRC_EOP};
  static const unsigned char sign_on[] = {STK_GET_SIGN_ON, STK_CRC_EOP};
  found->family = "STK500 v1";
  found->query = "the STK500 v1 get-sync";
  unsigned char reply[9];
  int n = 0;
  bool in_sync = false;
  int unasked = 0;
  // A device that heard garbage before (other rates' queries) may answer
  // out of sync once or twice before it takes a command whole.
  for (int attempt = 0; attempt < 3 && !in_sync; attempt++) {
    if (attempt > 0 && n > 0 && reply[0] == STK_NOSYNC) {
      // Out of sync: the device holds part of a command from the garbage
      // of other rates. The end-of-command byte alone ends it, and the
      // next get-sync starts a command of its own.
      static const unsigned char end[] = {STK_CRC_EOP};
      if (id_exchange(s, end, sizeof end, ID_WAIT_MS, reply, 2) < 0) {
        found->outcome = ID_FAILED;
        return;
      }
      unasked |= s->unasked_now;
    }
    n = id_exchange(s, sync, sizeof sync, ID_WAIT_MS, reply, 2);
    if (n < 0) {
      found->outcome = ID_FAILED;
      return;
    }
    unasked |= s->unasked_now;
    if (n == 2 && memcmp(reply, sync, 2) == 0) {
      found->outcome = ID_ECHO;
      return;
    }
    in_sync = n == 2 && reply[0] == STK_INSYNC && reply[1] == STK_OK;
    if (!in_sync && n > 0 && found->n_other == 0) {
      id_other(found, reply, (size_t)n);
    }
    if (n == 0 || (reply[0] != STK_NOSYNC && !in_sync && attempt > 0)) {
      break;  // silence, or bytes of no STK500 twice: not this family
    }
  }
  if (!in_sync) {
    found->outcome = found->n_other > 0 ? ID_OTHER : ID_SILENT;
    return;
  }
  // The answer ends there; what follows it came unasked.
  if (id_answer_ended(s, unasked, found) < 0) {
    return;
  }
  found->n_other = 0;
  memcpy(found->answer, reply, 2);
  found->n_answer = 2;
  id_decided(found, "get-sync", reply, 2);
  found->query = "the STK500 v1 sign-on";
  n = id_exchange(s, sign_on, sizeof sign_on, ID_WAIT_MS, reply, sizeof reply);
  if (n < 0) {
    found->outcome = ID_FAILED;
    return;
  }
  bool named = n == 9 && reply[0] == STK_INSYNC && reply[8] == STK_OK;
  bool bare = n == 2 && reply[0] == STK_INSYNC && reply[1] == STK_OK;
  if (!named && !bare) {
    id_other(found, reply, (size_t)n);
    return;
  }
  id_decided(found, "sign-on", reply, (size_t)n);
  if (named) {
    memcpy(found->name, reply + 1, 7);
    found->name[7] = '\0';
  }
  found->query = "an STK500 v1 parameter read";
  found->outcome = ID_FOUND;
  if (bare) {
    // optiboot: its version is the software version it reports.
    int major = id_v1_parameter(s, STK_SW_MAJOR, found, "version");
    int minor = id_v1_parameter(s, STK_SW_MINOR, found, NULL);
    if (major == -2 || minor == -2) {
      found->outcome = ID_FAILED;
      return;
    }
    found->what = "optiboot, a board's bootloader";
    found->role = ID_BOOTLOADER;
    if (major >= 0 && minor >= 0) {
      snprintf(found->version, sizeof found->version, ", version %d.%d", major,
               minor);
    }
    return;
  }
  int hw = id_v1_parameter(s, STK_HW_VER, found, NULL);
  int major = id_v1_parameter(s, STK_SW_MAJOR, found, NULL);
  int minor = id_v1_parameter(s, STK_SW_MINOR, found, NULL);
  if (hw == -2 || major == -2 || minor == -2) {
    found->outcome = ID_FAILED;
    return;
  }
  if (hw >= 0 && major >= 0 && minor >= 0) {
    snprintf(found->version, sizeof found->version,
             ", hardware %d, software %d.%d", hw, major, minor);
  }
  if (strcmp(found->name, "AVR STK") == 0) {
    found->what = "an STK500 programmer";
    found->role = ID_PROGRAMMER;
  } else if (strcmp(found->name, "AVR ISP") == 0) {
    // Parameter 0x93 is ArduinoISP's own: 'S', a serial programmer. The
    // others that say "AVR ISP" (ATmegaBOOT, Atmel's AVRISP and its
    // clones) are told apart only by how they behave: see the plan.
    int kind = id_v1_parameter(s, 0x93, found, "parameter 0x93");
    if (kind == -2) {
      found->outcome = ID_FAILED;
      return;
    }
    bool isp = kind == 'S';
    found->what = isp ? "ArduinoISP, a programmer"
                      : "a programmer (an AVRISP, or a clone) or a board's "
                        "bootloader (ATmegaBOOT)";
    found->role = isp ? ID_PROGRAMMER : ID_EITHER;
  } else {
    found->what = "a device of the STK500 v1 family";
    found->role = ID_DEVICE;
  }
}

int id_stk500v1_answers(const unsigned char *b, size_t n, id_found *found) {
  if (n != 2 || b[0] != STK_INSYNC || b[1] != STK_OK) {
    return 0;
  }
  found->family = "STK500 v1";
  id_decided(found, "get-sync", b, n);
  return 1;
}

uint32_t id_stk500v1_knock(unsigned char *out) {
  out[0] = STK_GET_SYNC;
  out[1] = STK_CRC_EOP;
  return 2;
}

void id_stk500v1_board(id_found *found) {
  if (found->role == ID_EITHER) {
    found->what = "ATmegaBOOT, a board's bootloader";
    found->role = ID_BOOTLOADER;
  }
}

int id_stk500v1_chip(id_session *s, id_found *found) {
  static const unsigned char cmd[] = {STK_READ_SIGN, STK_CRC_EOP};
  unsigned char reply[5];
  int n = id_exchange(s, cmd, sizeof cmd, ID_WAIT_MS, reply, sizeof reply);
  if (n < 0) {
    return -1;
  }
  if (n == 5 && reply[0] == STK_INSYNC && reply[4] == STK_OK) {
    memcpy(found->chip, reply + 1, 3);
    found->has_chip = 1;
  }
  return 0;
}
