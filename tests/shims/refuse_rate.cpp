// A driver that takes only the standard rates, as many USB-serial bridges
// do: preloaded into portvet (LD_PRELOAD), it refuses every termios2 call
// that asks for a rate without a Bnnn constant (BOTHER), so the port keeps
// the rate it had.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>

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
