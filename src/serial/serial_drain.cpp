// Input drain, shared by every module through its own prefixed wrapper.
#include "serial.h"

void serial_drain(serial_port *port) {
  record_drain(&port->record, 1);
  for (int i = 0; i < 100; i++) {
    unsigned char byte;
    uint32_t got = 0;
    if (!serial_read(port, &byte, 1, &got) || got == 0) {
      break;
    }
  }
  record_drain(&port->record, 0);
}
