#include "stk500.h"

#include <stdio.h>
#include <string.h>

#include "../report/report.h"

// The parameter reads keep their own attempt limit, whatever -r says.
static const int STK500_PARAMETER_ATTEMPTS = 100;

// What stk500_receive() returns when every byte asked for came.
static const int STK500_RECEIVED = 1;

void stk500_ComInit(serial_port *port, int timeout) {
  serial_setup(port, (uint32_t)timeout, 115200);
}

// Reads n bytes: STK500_RECEIVED, STK500_PORT_FAILURE or STK500_TIMEOUT.
static int stk500_receive(serial_port *port, unsigned char *buf, uint32_t n) {
  uint32_t got = 0;
  if (!serial_read(port, buf, n, &got)) {
    return STK500_PORT_FAILURE;
  }
  return got < n ? STK500_TIMEOUT : STK500_RECEIVED;
}

// Writes a whole command and reads the first n bytes of its answer:
// STK500_RECEIVED, STK500_PORT_FAILURE (also for a short write) or
// STK500_TIMEOUT. An answer that starts with "out of sync" is counted.
static int stk500_ask(serial_port *port, const unsigned char *cmd, uint32_t len,
                      unsigned char *reply, uint32_t n, int *noSync) {
  uint32_t put = 0;
  if (!serial_write(port, cmd, len, &put) || put != len) {
    return STK500_PORT_FAILURE;
  }
  int r = stk500_receive(port, reply, n);
  if (r == STK500_RECEIVED && reply[0] == STK_NOSYNC) {
    ++*noSync;
  }
  return r;
}

int stk500_CheckPresent(serial_port *port, int attempts, int *noSync) {
  static const unsigned char cmd[] = {STK_GET_SIGN_ON, STK_CRC_EOP};
  *noSync = 0;
  for (int attempt = 1; attempt < attempts; attempt++) {
    unsigned char reply = 0;
    int r = stk500_ask(port, cmd, sizeof cmd, &reply, 1, noSync);
    if (r != STK500_RECEIVED) {
      return r;
    }
    if (reply == STK_INSYNC) {
      unsigned char id[8];
      r = stk500_receive(port, id, sizeof id);
      if (r != STK500_RECEIVED) {
        return r;
      }
      if (id[7] == STK_OK && memcmp(id, "AVR STK", 7) == 0) {
        return attempt;
      }
    }
  }
  return STK500_FAILED;
}

int stk500_GetSync(serial_port *port, int attempts, int *noSync) {
  static const unsigned char cmd[] = {STK_GET_SYNC, STK_CRC_EOP};
  *noSync = 0;
  for (int attempt = 1; attempt < attempts; attempt++) {
    unsigned char reply[2];
    int r = stk500_ask(port, cmd, sizeof cmd, reply, sizeof reply, noSync);
    if (r != STK500_RECEIVED) {
      return r;
    }
    // The second byte (STK_OK from a sound device) is not examined.
    if (reply[0] == STK_INSYNC) {
      return attempt;
    }
  }
  return STK500_FAILED;
}

int stk500_GetParameterValue(serial_port *port, int attempts,
                             unsigned char parameter, unsigned char *value,
                             int *noSync) {
  const unsigned char cmd[] = {STK_GET_PARAMETER, parameter, STK_CRC_EOP};
  *noSync = 0;
  for (int attempt = 1; attempt < attempts; attempt++) {
    unsigned char reply = 0;
    int r = stk500_ask(port, cmd, sizeof cmd, &reply, 1, noSync);
    if (r != STK500_RECEIVED) {
      return r;
    }
    if (reply != STK_INSYNC) {
      continue;
    }
    r = stk500_receive(port, value, 1);
    if (r != STK500_RECEIVED) {
      return r;
    }
    unsigned char status = 0;
    r = stk500_receive(port, &status, 1);
    if (r != STK500_RECEIVED) {
      return r;
    }
    if (status == STK_FAILED) {
      return STK500_PARAM_FAILED;
    }
    if (status == STK_OK) {
      return attempt;
    }
  }
  return STK500_FAILED;
}

int stk500_CheckMessage(int result, int attempts, int noSync) {
  switch (result) {
    case STK500_PORT_FAILURE:
      report_out("Can't read/write port\n");
      return 0;
    case STK500_FAILED:
      report_out("failed (retries = %d; noSync = %d)\n", attempts, noSync);
      return 1;
    case STK500_PARAM_FAILED:
      report_out("failed (Internal error. Report bug)\n");
      return 1;
    case STK500_TIMEOUT:
      report_out("timeout\n");
      return 0;
    default:
      if (result > 0) {
        report_out("ok (retries = %d; noSync = %d)\n", result, noSync);
      }
      return 1;
  }
}

// Prints a step's label and lets it show while the port is waiting.
static void stk500_label(const char *label) {
  report_out("%s", label);
  report_flush();
}

int stk500_main(serial_port *port, int attempts, int timeout) {
  static const struct {
    const char *label;
    unsigned char parameter;
    int ask;
  } versions[3] = {
      {"Get version 1...", STK_HW_VER, RECORD_STK500_HW_VERSION},
      {"Get version 2...", STK_SW_MAJOR, RECORD_STK500_SW_MAJOR},
      {"Get version 3...", STK_SW_MINOR, RECORD_STK500_SW_MINOR},
  };
  int error = 0;
  int noSync = 0;
  unsigned char value = 0;
  unsigned char version[3] = {0, 0, 0};

  stk500_ComInit(port, timeout);

  // Each step goes into the port's record as the probe counted it, for the
  // verdict after the report.
  record_log *record = &port->record;
  stk500_label("Presence check...");
  record_step_begin(record, RECORD_STK500_SIGN_ON);
  int result = stk500_CheckPresent(port, attempts, &noSync);
  record_step_end(record, result, noSync);
  if (!stk500_CheckMessage(result, attempts, noSync)) {
    return 0;
  }

  stk500_label("Sync test...");
  record_step_begin(record, RECORD_STK500_SYNC);
  result = stk500_GetSync(port, attempts, &noSync);
  record_step_end(record, result, noSync);
  if (!stk500_CheckMessage(result, attempts, noSync)) {
    error = 1;
  }

  for (int i = 0; i < 3; i++) {
    stk500_label(versions[i].label);
    record_step_begin(record, versions[i].ask);
    result = stk500_GetParameterValue(port, STK500_PARAMETER_ATTEMPTS,
                                      versions[i].parameter, &value, &noSync);
    record_step_end(record, result, noSync);
    if (!stk500_CheckMessage(result, attempts, noSync)) {
      error = 1;
    }
    version[i] = value;
  }

  if (!error) {
    report_out("Version: HW: 0x%.2X, SW: 0x%.2X.0x%.2X\n", version[0],
               version[1], version[2]);
  } else {
    report_out("Some errors occured\n");
  }
  return 1;
}
