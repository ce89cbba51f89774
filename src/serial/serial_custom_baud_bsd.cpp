// macOS and the BSDs: speed_t is the rate itself, so any rate goes through
// cfsetspeed(); macOS drivers refuse non-standard rates there and want
// IOSSIOSPEED instead.
#include <sys/ioctl.h>
#include <termios.h>
#ifdef __APPLE__
#include <IOKit/serial/ioss.h>
#endif

#include "serial_custom_baud.h"

int serial_set_custom_baud(int fd, int32_t baud) {
  if (baud <= 0) {
    return 0;
  }
#ifdef __APPLE__
  speed_t speed = (speed_t)baud;
  return ioctl(fd, IOSSIOSPEED, &speed) == 0;
#else
  struct termios tio;
  if (tcgetattr(fd, &tio) != 0 || cfsetspeed(&tio, (speed_t)baud) != 0) {
    return 0;
  }
  return tcsetattr(fd, TCSANOW, &tio) == 0;
#endif
}
