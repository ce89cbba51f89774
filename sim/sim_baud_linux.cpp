// The rate of a line set through termios2/BOTHER, which cfgetospeed() cannot
// tell. Kept apart because <asm/termbits.h> clashes with <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "sim_pty.h"

long sim_custom_baud(int fd) {
  struct termios2 tio;
  if (ioctl(fd, TCGETS2, &tio) != 0) {
    return 0;
  }
  return (long)tio.c_ospeed;
}
