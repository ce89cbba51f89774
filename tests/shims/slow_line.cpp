// A driver that is slow to set a line, as a USB-serial bridge is (each
// setting is a request over USB): preloaded into portvet (LD_PRELOAD), it
// takes PORTVET_TEST_SLOW_LINE_MS milliseconds for every termios2 call
// that sets the line, the one that puts a port back included.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <dlfcn.h>
#include <stdarg.h>
#include <stdlib.h>
#include <time.h>

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void *arg = va_arg(args, void *);
  va_end(args);
  if (request == TCSETS2 || request == TCSETSW2 || request == TCSETSF2) {
    const char *ms = getenv("PORTVET_TEST_SLOW_LINE_MS");
    long n = ms != NULL ? strtol(ms, NULL, 10) : 0;
    // nanosleep: safe in the signal handler that puts the ports back.
    struct timespec wait = {n / 1000, (n % 1000) * 1000000};
    nanosleep(&wait, NULL);
  }
  using ioctl_fn = int (*)(int, unsigned long, ...);
  ioctl_fn real = reinterpret_cast<ioctl_fn>(dlsym(RTLD_NEXT, "ioctl"));
  return real(fd, request, arg);
}
