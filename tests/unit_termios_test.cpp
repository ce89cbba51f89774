// The termios the tool asks for, against one another program left with
// every setting that changes the data on a line: what no pty can show (a
// Linux pty keeps 8N1 and no flow control whatever it is asked).
#include <gtest/gtest.h>
#include <termios.h>

#include "../src/serial/serial_termios.h"

namespace {

termios LeftByAnotherProgram() {
  termios tio = {};
  cfmakeraw(&tio);
  tio.c_iflag |= IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                 IXON | IXOFF | IXANY | INPCK;
  tio.c_oflag |= OPOST | ONLCR;
  tio.c_lflag |= ECHO | ECHONL | ICANON | ISIG | IEXTEN;
  tio.c_cflag &= ~(tcflag_t)(CSIZE | CLOCAL | CREAD);
  tio.c_cflag |= CS7 | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 5;
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  return tio;
}

struct RateCase {
  int32_t baud;
  serial_framing framing;
  int standard;  // 1: set in the termios; 0: left to the custom-rate call
  speed_t speed;
  tcflag_t framed;  // PARENB and CSTOPB as the framing wants them
};

// 8N1 for every programmer and bootloader; UPDI's 8E2, and its break (a
// zero at 300 baud, 8E1), whatever framing the port had (7O2 here).
TEST(SerialTermios, RawWithoutFlowControl) {
  const RateCase cases[] = {
      {115200, SERIAL_8N1, 1, B115200, 0},
      {600, SERIAL_8N1, 1, B600, 0},
      {256000, SERIAL_8N1, 0, B9600, 0},  // no Bnnn: the rate it had stays
      {31250, SERIAL_8N1, 0, B9600, 0},
      {115200, SERIAL_8E2, 1, B115200, PARENB | CSTOPB},
      {230400, SERIAL_8E2, 1, B230400, PARENB | CSTOPB},
      {300, SERIAL_8E1, 1, B300, PARENB},
  };
  for (const RateCase &c : cases) {
    termios had = LeftByAnotherProgram();
    termios want;
    EXPECT_EQ(serial_termios_for(&had, c.baud, c.framing, &want), c.standard)
        << c.baud;
    EXPECT_EQ(cfgetispeed(&want), c.speed) << c.baud;
    EXPECT_EQ(cfgetospeed(&want), c.speed) << c.baud;
    EXPECT_EQ(want.c_cflag & CSIZE, (tcflag_t)CS8) << c.baud;
    EXPECT_EQ(want.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS), c.framed)
        << c.baud << " framing " << c.framing;
    EXPECT_EQ(want.c_cflag & (CREAD | CLOCAL), (tcflag_t)(CREAD | CLOCAL));
    EXPECT_EQ(want.c_cflag & HUPCL, (tcflag_t)HUPCL) << "kept as it was";
    EXPECT_EQ(want.c_iflag & (IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR |
                              IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK),
              0u)
        << c.baud;
    EXPECT_EQ(want.c_oflag & OPOST, 0u) << c.baud;
    EXPECT_EQ(want.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(want.c_cc[VMIN], 1) << c.baud;
    EXPECT_EQ(want.c_cc[VTIME], 0) << c.baud;
  }
}

}  // namespace
