// What reaches a found programmer or bootloader from the common uploader
// (avrdude): its programmer name and rate, and for a board's bootloader
// the boards that use it at that rate.
#include <stdio.h>
#include <string.h>

#include "identify_query.h"

namespace {

// Whose STK500 v1 bootloader runs at baud.
const char *id_boards_at(int32_t baud) {
  switch (baud) {
    case 115200:
      return "the rate of an Uno's and a new Nano's bootloader";
    case 57600:
      return "the rate of an old Nano's, a Duemilanove's, a Pro's, a Pro "
             "Mini's and a Mega 1280's bootloader";
    case 19200:
      return "the rate of the ATmega168 and ATmega8 boards' bootloader: "
             "Diecimila, Nano 2, Pro Mini 168, NG";
    default:
      return NULL;
  }
}

}  // namespace

void id_upload(const id_found *f, int32_t baud, char *out, size_t size) {
  out[0] = '\0';
  const char *programmer = NULL;
  const char *boards = NULL;
  int board = f->role == ID_BOOTLOADER;
  if (strcmp(f->family, "STK500 v1") == 0) {
    programmer = board ? "arduino" : "stk500v1";
    boards = board ? id_boards_at(baud) : NULL;
  } else if (strcmp(f->family, "STK500 v2") == 0) {
    programmer = board ? "wiring" : "stk500v2";
    boards = board ? "the Mega 2560's and Mega ADK's bootloader" : NULL;
  } else if (strcmp(f->family, "AVR910") == 0) {
    programmer = "avr910";
  } else if (strcmp(f->family, "AVR109") == 0) {
    programmer = "avr109";
  } else if (strcmp(f->family, "JTAGICE mkII") == 0) {
    // avrdude signs on at 19200 and goes to the rate of its -b (115200
    // by default) itself.
    snprintf(out, size,
             "to program a chip through it: avrdude -c jtag2updi (a "
             "JTAGICE mkII's own: -c jtag2)");
    return;
  }
  if (programmer == NULL || f->role == ID_DEVICE) {
    return;
  }
  int w = snprintf(out, size, "%s: avrdude -c %s -b %ld",
                   board ? "to upload to the board"
                         : "to program a chip "
                           "through it",
                   programmer, (long)baud);
  if (boards != NULL && w >= 0 && (size_t)w < size) {
    snprintf(out + w, size - (size_t)w, " (%s)", boards);
  }
}
