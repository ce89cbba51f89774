// On the BSDs and macOS speed_t is the rate itself.
#include <termios.h>

#include "sim_pty.h"

long sim_custom_baud(int fd) {
  struct termios tio;
  return tcgetattr(fd, &tio) == 0 ? (long)cfgetospeed(&tio) : 0;
}
