// macOS and the BSDs: speed_t is the rate itself, so struct termios carries
// any rate; macOS drivers refuse non-standard rates through cfsetspeed() and
// want IOSSIOSPEED instead.
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#ifdef __APPLE__
#include <IOKit/serial/ioss.h>
#endif

#include "serial_native.h"

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

int32_t serial_actual_baud(int fd) {
  struct termios tio;
  return tcgetattr(fd, &tio) == 0 ? (int32_t)cfgetospeed(&tio) : 0;
}

int serial_line_save(int fd, unsigned char *buf, size_t size) {
  struct termios tio;
  if (size < sizeof tio || tcgetattr(fd, &tio) != 0) {
    return 0;
  }
  memcpy(buf, &tio, sizeof tio);
  return 1;
}

int serial_line_restore(int fd, const unsigned char *buf) {
  struct termios tio;
  memcpy(&tio, buf, sizeof tio);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}
