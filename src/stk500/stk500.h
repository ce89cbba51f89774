// STK500 probe: sign-on, get-sync and three parameter reads in the STK500
// serial protocol (version 1 framing), each with retries and a report.
#ifndef PORTVET_STK500_H
#define PORTVET_STK500_H

#include "../serial/serial.h"

// The protocol's bytes: commands, the end-of-packet mark, replies and the
// parameters the probe reads.
enum {
  STK_GET_SYNC = 0x30,
  STK_GET_SIGN_ON = 0x31,
  STK_GET_PARAMETER = 0x41,
  STK_READ_SIGN = 0x75,  // a bootloader's own chip's signature
  STK_CRC_EOP = 0x20,
  STK_INSYNC = 0x14,
  STK_NOSYNC = 0x15,
  STK_OK = 0x10,
  STK_FAILED = 0x11,
  STK_UNKNOWN = 0x12,
  STK_HW_VER = 0x80,
  STK_SW_MAJOR = 0x81,
  STK_SW_MINOR = 0x82,
};

// Results of the exchange routines; a positive value is the number of the
// attempt that succeeded.
enum {
  STK500_PORT_FAILURE = 0,   // write failed or short, or read failed
  STK500_FAILED = -1,        // every attempt used without success
  STK500_PARAM_FAILED = -2,  // the programmer answered a read with 0x11
  STK500_TIMEOUT = -3,       // a read brought fewer bytes than asked for
};

// Runs the probe on an open port. Returns 0 when the presence step ended in
// a port failure or a timeout (nothing there to talk to), else 1.
int stk500_main(serial_port *port, int attempts, int timeout);

int stk500_CheckPresent(serial_port *port, int attempts, int *noSync);
int stk500_GetSync(serial_port *port, int attempts, int *noSync);
int stk500_GetParameterValue(serial_port *port, int attempts,
                             unsigned char parameter, unsigned char *value,
                             int *noSync);

// Prints the outcome of a step; returns 1 to go on, 0 to stop.
int stk500_CheckMessage(int result, int attempts, int noSync);

// Line setup at 115200 baud, 8N1, all timeouts equal to timeout ms.
void stk500_ComInit(serial_port *port, int timeout);

#endif
