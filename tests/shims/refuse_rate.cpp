// A driver that takes only some rates, as many USB-serial bridges do:
// preloaded into portvet (LD_PRELOAD), it refuses every termios2 call that
// asks for a rate without a Bnnn constant (BOTHER), and every tcsetattr()
// that asks for the standard rate PORTVET_TEST_REFUSE_RATE names (for
// example 38400), so the port keeps the rate it had.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>

// <termios.h> clashes with <asm/termbits.h>: what tcsetattr() needs of it.
extern "C" {
typedef unsigned int speed_t;
speed_t cfgetospeed(const void *termios_p);
}

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void *arg = va_arg(args, void *);
  va_end(args);
  if (request == TCSETS2 || request == TCSETSW2 || request == TCSETSF2) {
    const termios2 *tio = static_cast<const termios2 *>(arg);
    if ((tio->c_cflag & CBAUD) == BOTHER) {
      errno = EINVAL;
      return -1;
    }
  }
  using ioctl_fn = int (*)(int, unsigned long, ...);
  ioctl_fn real = reinterpret_cast<ioctl_fn>(dlsym(RTLD_NEXT, "ioctl"));
  return real(fd, request, arg);
}

// The Bnnn constant of a standard rate (those the connection check uses).
static speed_t refuse_speed(long rate) {
  switch (rate) {
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return (speed_t)-1;
  }
}

extern "C" int tcsetattr(int fd, int actions, const void *termios_p) {
  const char *refuse = getenv("PORTVET_TEST_REFUSE_RATE");
  if (refuse != NULL &&
      cfgetospeed(termios_p) == refuse_speed(strtol(refuse, NULL, 10))) {
    errno = EINVAL;
    return -1;
  }
  using tcsetattr_fn = int (*)(int, int, const void *);
  tcsetattr_fn real =
      reinterpret_cast<tcsetattr_fn>(dlsym(RTLD_NEXT, "tcsetattr"));
  return real(fd, actions, termios_p);
}
