// The pty side of the simulator: the line settings the tool set, as the
// master side sees them; the log line that names them; and the states
// another program may leave a line in (a framing, a stuck line).
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "sim.h"

static long sim_rate(speed_t speed) {
  static const struct {
    speed_t speed;
    long baud;
  } rates[] = {{B300, 300},       {B600, 600},      {B1200, 1200},
               {B2400, 2400},     {B4800, 4800},    {B9600, 9600},
               {B19200, 19200},   {B38400, 38400},  {B57600, 57600},
               {B115200, 115200}, {B230400, 230400}};
  for (const auto &r : rates) {
    if (r.speed == speed) {
      return r.baud;
    }
  }
  return 0;
}

void sim_read_settings(int master, sim_settings *line) {
  struct termios tio;
  line->baud = 0;
  strcpy(line->frame, "?");
  if (tcgetattr(master, &tio) != 0) {
    return;
  }
  line->baud = sim_rate(cfgetospeed(&tio));
  if (line->baud == 0) {
    line->baud = sim_custom_baud(master);
  }
  int bits = (tio.c_cflag & CSIZE) == CS8   ? 8
             : (tio.c_cflag & CSIZE) == CS7 ? 7
             : (tio.c_cflag & CSIZE) == CS6 ? 6
                                            : 5;
  char parity = (tio.c_cflag & PARENB) == 0 ? 'N'
                : (tio.c_cflag & PARODD)    ? 'O'
                                            : 'E';
  snprintf(line->frame, sizeof line->frame, "%d%c%d", bits, parity,
           (tio.c_cflag & CSTOPB) ? 2 : 1);
}

void sim_log(const char *who, const unsigned char *bytes, size_t len,
             const sim_settings *line) {
  printf("%s", who);
  for (size_t i = 0; i < len; i++) {
    if (bytes[i] > 0x20 && bytes[i] < 0x7F) {
      printf(" %02x(%c)", bytes[i], bytes[i]);
    } else {
      printf(" %02x", bytes[i]);
    }
  }
  printf(" @%ld %s\n", line->baud, line->frame);
  fflush(stdout);
}

// Fills through the simulator's own hold on the slave side, and never
// reads it. Raw for the filling only: with output processing on, a pty
// refuses more input sooner than without, and the tool writes raw.
void sim_fill(int slave, const volatile sig_atomic_t *stop) {
  struct termios saved;
  struct termios raw;
  tcgetattr(slave, &saved);
  raw = saved;
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  int flags = fcntl(slave, F_GETFL);
  fcntl(slave, F_SETFL, flags | O_NONBLOCK);
  static const unsigned char junk[256] = {0};
  // The kernel moves what was written on to the master side's line
  // discipline in the background, which frees room again: the line is full
  // only once it has taken nothing for a while.
  for (int quiet = 0; quiet < 10 && !*stop;) {
    if (write(slave, junk, sizeof junk) > 0) {
      quiet = 0;
    } else if (errno == EAGAIN) {
      quiet++;
      usleep(10000);
    } else if (errno != EINTR) {
      break;
    }
  }
  fcntl(slave, F_SETFL, flags);
  tcsetattr(slave, TCSANOW, &saved);
}

void sim_leave_framing(int slave, const char *framing) {
  static const tcflag_t sizes[4] = {CS5, CS6, CS7, CS8};
  struct termios tio;
  if (tcgetattr(slave, &tio) != 0) {
    return;
  }
  tio.c_cflag &= ~(tcflag_t)(CSIZE | PARENB | PARODD | CSTOPB);
  tio.c_cflag |= sizes[framing[0] - '5'];
  if (framing[1] != 'N') {
    tio.c_cflag |= PARENB | (framing[1] == 'O' ? PARODD : 0);
  }
  if (framing[2] == '2') {
    tio.c_cflag |= CSTOPB;
  }
  tcsetattr(slave, TCSANOW, &tio);
}

// The noise personality: 32 pseudo-random bytes (xorshift) every
// millisecond, whatever the tool sends.
