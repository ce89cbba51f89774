#include "serial_termios.h"

struct serial_rate {
  int32_t baud;
  speed_t speed;
};

static const serial_rate serial_rates[] = {
    {50, B50},         {75, B75},         {110, B110},     {134, B134},
    {150, B150},       {200, B200},       {300, B300},     {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},   {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400}, {57600, B57600},
    {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

int serial_termios_for(const struct termios *had, int32_t baud,
                       serial_framing framing, struct termios *want) {
  *want = *had;
  // Every byte value passes both ways untouched: XON/XOFF would swallow
  // 0x11 and 0x13, canonical mode and CR/LF mapping would hold back or
  // change bytes, and the tool would report a healthy link as broken.
  want->c_iflag &= ~(tcflag_t)(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR |
                               IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
  want->c_oflag &= ~(tcflag_t)OPOST;
  want->c_lflag &= ~(tcflag_t)(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  want->c_cflag &= ~(tcflag_t)(CSIZE | PARENB | PARODD | CSTOPB);
#ifdef CRTSCTS
  want->c_cflag &= ~(tcflag_t)CRTSCTS;
#endif
  want->c_cflag |= CS8 | CREAD | CLOCAL;
  // UPDI's even parity goes out with every byte (even: PARODD, which
  // another program may have left, is cleared above); INPCK stays off, so
  // that a byte whose parity bit came wrong is read as it is, not dropped.
  if (framing != SERIAL_8N1) {
    want->c_cflag |= PARENB;
  }
  if (framing == SERIAL_8E2) {
    want->c_cflag |= CSTOPB;
  }
  want->c_cc[VMIN] = 1;
  want->c_cc[VTIME] = 0;
  for (const serial_rate &rate : serial_rates) {
    if (rate.baud == baud) {
      cfsetispeed(want, rate.speed);
      cfsetospeed(want, rate.speed);
      return 1;
    }
  }
  return 0;
}
