#include "serial_dcb.h"

void serial_dcb_for(const DCB *had, int32_t baud, serial_framing framing,
                    DCB *want) {
  // XON/XOFF would swallow 0x11 and 0x13, null stripping 0x00, DSR
  // sensitivity every byte on a three-wire cable (DSR low), an error
  // character or abort-on-error would change or stop the data, and the tool
  // would then report a healthy link as broken. The handshake lines stay:
  // a programmer may reset on DTR, an adapter may gate on CTS.
  *want = *had;
  want->DCBlength = sizeof *want;
  want->BaudRate = (DWORD)baud;
  want->ByteSize = 8;
  // UPDI's even parity goes out with every byte; fParity stays off, so
  // that a byte whose parity bit came wrong is read as it is.
  want->Parity = framing == SERIAL_8N1 ? NOPARITY : EVENPARITY;
  want->StopBits = framing == SERIAL_8E2 ? TWOSTOPBITS : ONESTOPBIT;
  want->fBinary = TRUE;
  want->fParity = FALSE;
  want->fOutX = FALSE;
  want->fInX = FALSE;
  want->fNull = FALSE;
  want->fErrorChar = FALSE;
  want->fDsrSensitivity = FALSE;
  want->fAbortOnError = FALSE;
}
