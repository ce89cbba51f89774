// The DCB the tool asks for, against DCBs another program may have left: a
// Windows program (no GoogleTest there), run under Wine by the native suite.
// Prints each wrong field and exits 1, or exits 0.
#include <stdio.h>
#include <windows.h>

#include "../../src/serial/serial_dcb.h"
#include "unit_check.h"

// A DCB with every setting a program could leave that changes the data on
// the line, and handshake settings that must stay.
static DCB left_by_another_program(void) {
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 9600;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fBinary = FALSE;
  dcb.fParity = TRUE;
  dcb.fOutX = TRUE;
  dcb.fInX = TRUE;
  dcb.fNull = TRUE;
  dcb.fErrorChar = TRUE;
  dcb.fDsrSensitivity = TRUE;
  dcb.fAbortOnError = TRUE;
  dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  dcb.fRtsControl = RTS_CONTROL_TOGGLE;
  dcb.fOutxCtsFlow = TRUE;
  dcb.fOutxDsrFlow = TRUE;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.ErrorChar = '?';
  return dcb;
}

int main(void) {
  // 8N1 for every programmer and bootloader; UPDI's 8E2, and its break (a
  // zero at 300 baud, 8E1), whatever the port had (7E2, parity checked).
  const struct {
    long rate;
    serial_framing framing;
    unsigned long parity;
    unsigned long stop_bits;
  } cases[] = {
      {600, SERIAL_8N1, NOPARITY, ONESTOPBIT},
      {115200, SERIAL_8N1, NOPARITY, ONESTOPBIT},
      {256000, SERIAL_8N1, NOPARITY, ONESTOPBIT},
      {31250, SERIAL_8N1, NOPARITY, ONESTOPBIT},
      {115200, SERIAL_8E2, EVENPARITY, TWOSTOPBITS},
      {230400, SERIAL_8E2, EVENPARITY, TWOSTOPBITS},
      {300, SERIAL_8E1, EVENPARITY, ONESTOPBIT},
  };
  for (const auto &c : cases) {
    long rate = c.rate;
    DCB had = left_by_another_program();
    DCB want;
    serial_dcb_for(&had, rate, c.framing, &want);
    char name[32];
    snprintf(name, sizeof name, "%ld baud, framing %d", rate, (int)c.framing);
    check(name, "BaudRate", want.BaudRate, (unsigned long)rate);
    check(name, "ByteSize", want.ByteSize, 8);
    check(name, "Parity", want.Parity, c.parity);
    check(name, "StopBits", want.StopBits, c.stop_bits);
    check(name, "fBinary", want.fBinary, TRUE);
    check(name, "fParity", want.fParity, FALSE);
    check(name, "fOutX", want.fOutX, FALSE);
    check(name, "fInX", want.fInX, FALSE);
    check(name, "fNull", want.fNull, FALSE);
    check(name, "fErrorChar", want.fErrorChar, FALSE);
    check(name, "fDsrSensitivity", want.fDsrSensitivity, FALSE);
    check(name, "fAbortOnError", want.fAbortOnError, FALSE);
    // The handshake lines and their flow control are the port's own.
    check(name, "fDtrControl", want.fDtrControl, DTR_CONTROL_HANDSHAKE);
    check(name, "fRtsControl", want.fRtsControl, RTS_CONTROL_TOGGLE);
    check(name, "fOutxCtsFlow", want.fOutxCtsFlow, TRUE);
    check(name, "fOutxDsrFlow", want.fOutxDsrFlow, TRUE);
    check(name, "DCBlength", want.DCBlength, sizeof want);
  }
  printf("%s\n", failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}
