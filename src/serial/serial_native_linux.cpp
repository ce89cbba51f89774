// Linux: termios2, whose BOTHER flag and c_ispeed/c_ospeed fields carry any
// rate (struct termios and TCGETS cannot tell a custom rate). This file must
// not include <termios.h>: its struct termios and constants clash with
// <asm/termbits.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <string.h>
#include <sys/ioctl.h>

#include "serial_native.h"

int serial_set_custom_baud(int fd, int32_t baud) {
  struct termios2 tio;
  if (baud <= 0 || ioctl(fd, TCGETS2, &tio) != 0) {
    return 0;
  }
  tio.c_cflag &= ~(tcflag_t)CBAUD;
  tio.c_cflag |= BOTHER;
  tio.c_cflag &= ~(tcflag_t)(CBAUD << IBSHIFT);
  tio.c_cflag |= BOTHER << IBSHIFT;
  tio.c_ispeed = (speed_t)baud;
  tio.c_ospeed = (speed_t)baud;
  return ioctl(fd, TCSETS2, &tio) == 0;
}

int32_t serial_actual_baud(int fd) {
  struct termios2 tio;
  if (ioctl(fd, TCGETS2, &tio) != 0) {
    return 0;
  }
  return (int32_t)tio.c_ospeed;
}

int serial_line_save(int fd, unsigned char *buf, size_t size) {
  struct termios2 tio;
  if (size < sizeof tio || ioctl(fd, TCGETS2, &tio) != 0) {
    return 0;
  }
  memcpy(buf, &tio, sizeof tio);
  return 1;
}

int serial_line_restore(int fd, const unsigned char *buf) {
  struct termios2 tio;
  memcpy(&tio, buf, sizeof tio);
  return ioctl(fd, TCSETS2, &tio) == 0;
}
