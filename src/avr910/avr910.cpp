#include "avr910.h"

#include <stdio.h>
#include <string.h>

#include "../report/report.h"

static const char *const avr910_ids[3] = {"AVR ISP", "AVR PPR", "AVR DEV"};
static const int avr910_bauds[4] = {115200, 38400, 19200, 9600};

int avr910_id_index(const unsigned char *id) {
  for (int i = 0; i < 3; i++) {
    if (memcmp(id, avr910_ids[i], 7) == 0) {
      return i;
    }
  }
  return -1;
}

const char *avr910_id_name(int index) { return avr910_ids[index]; }

void avr910_ComInit(serial_port *port, int timeout, int baud) {
  serial_setup(port, (uint32_t)timeout, baud);
}

void avr910_flush(serial_port *port) { serial_drain(port); }

int avr910_sendcmd(serial_port *port, unsigned char command, int length,
                   unsigned char *buffer) {
  avr910_flush(port);
  uint32_t put = 0;
  if (!serial_write(port, &command, 1, &put) || put == 0) {
    return AVR910_PORT_FAILURE;
  }
  uint32_t got = 0;
  if (!serial_read(port, buffer, (uint32_t)length, &got)) {
    return AVR910_PORT_FAILURE;
  }
  return (int)got;
}

int avr910_checkpresence(serial_port *port, int attempts, int *index) {
  for (int attempt = 1; attempt < attempts; attempt++) {
    unsigned char id[8];
    int n = avr910_sendcmd(port, 'S', 7, id);
    if (n == AVR910_PORT_FAILURE) {
      return AVR910_PORT_FAILURE;
    }
    if (n != 7) {
      continue;
    }
    int known = avr910_id_index(id);
    if (known >= 0) {
      *index = known;
      return attempt;
    }
  }
  return AVR910_FAILED;
}

int avr910_sendcmdext(serial_port *port, int attempts, unsigned char command,
                      int length, unsigned char *first, unsigned char *second) {
  for (int attempt = 1; attempt < attempts; attempt++) {
    unsigned char reply[2] = {0, 0};
    int n = avr910_sendcmd(port, command, length, reply);
    if (n == AVR910_PORT_FAILURE) {
      return AVR910_PORT_FAILURE;
    }
    if (n >= length) {
      *first = reply[0];
      *second = reply[1];
      return attempt;
    }
  }
  return AVR910_FAILED;
}

int avr910_checkmessage(int result, int index, int attempts) {
  if (result == AVR910_PORT_FAILURE) {
    report_out("Can't read/write port\n");
    return 0;
  }
  if (result == AVR910_FAILED) {
    report_out("failed (retries = %d (max))\n", attempts);
  } else if (result > 0 && index >= 0 && index <= 2) {
    report_out("found %s (retries = %d)\n", avr910_ids[index], result);
  } else if (result > 0 && index == -1) {
    report_out("found (retires = %d)\n", result);
  }
  return 1;
}

// Prints a step's label and lets it show while the port is waiting.
static void avr910_label(const char *label) {
  report_out("%s", label);
  report_flush();
}

// Asks for the two-digit software ('V') or hardware ('v') version and prints
// it. Returns 0 when the port failed and the probe must stop.
static int avr910_version(serial_port *port, int attempts,
                          unsigned char command) {
  unsigned char major = 0;
  unsigned char minor = 0;
  avr910_label(command == 'V' ? "Software version..." : "Hardware version...");
  record_step_begin(&port->record, command == 'V' ? RECORD_AVR910_SW_VERSION
                                                  : RECORD_AVR910_HW_VERSION);
  int result = avr910_sendcmdext(port, attempts, command, 2, &major, &minor);
  record_step_end(&port->record, result, 0);
  if (!avr910_checkmessage(result, -1, attempts)) {
    return 0;
  }
  if (result > 0) {
    // The digits are taken as signed bytes, so a stray byte above 0x7F
    // prints as a negative number rather than a large one.
    int high = (signed char)major - '0';
    int low = (signed char)minor - '0';
    if (command == 'V') {
      report_out("-> SW Version is %d.%d\n", high, low);
    } else {
      report_out("-> HW Version is %d.%d\n", high, low);
    }
  }
  return 1;
}

int avr910_main(serial_port *port, int attempts, int timeout) {
  for (int baud : avr910_bauds) {
    avr910_ComInit(port, timeout, baud);
    report_out("AVR910 presence check (%d baud)...", baud);
    report_flush();
    int index = -1;
    // Each step goes into the port's record, for the verdict.
    record_step_begin(&port->record, RECORD_AVR910_ID);
    int result = avr910_checkpresence(port, attempts, &index);
    record_step_end(&port->record, result, 0);
    if (!avr910_checkmessage(result, index, attempts)) {
      return 0;
    }
    if (result == AVR910_FAILED) {
      continue;
    }
    if (!avr910_version(port, attempts, 'V') ||
        !avr910_version(port, attempts, 'v')) {
      return 0;
    }
    unsigned char type = 0;
    unsigned char unused = 0;
    avr910_label("Programmer type...");
    record_step_begin(&port->record, RECORD_AVR910_TYPE);
    result = avr910_sendcmdext(port, attempts, 'p', 1, &type, &unused);
    record_step_end(&port->record, result, 0);
    if (!avr910_checkmessage(result, -1, attempts)) {
      return 0;
    }
    if (result > 0) {
      if (type == 'P') {
        report_out("-> Parallel programmer (where did u get that!?!)\n");
      } else if (type == 'S') {
        report_out("-> Serial programmer\n");
      } else {
        report_out("-> Unknown programmer (or read error)\n");
      }
    }
    return 0;
  }
  return 0;
}
