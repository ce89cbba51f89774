// Linux: any rate through termios2 with BOTHER. This file must not include
// <termios.h>: its struct termios and constants clash with <asm/termbits.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "serial_custom_baud.h"

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
