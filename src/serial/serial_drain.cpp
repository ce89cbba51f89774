// Input drain, shared by every module through its own prefixed wrapper.
#include "serial.h"

void serial_drain(serial_port *port) {
  for (int i = 0; i < 100; i++) {
    unsigned char byte;
    uint32_t got = 0;
    if (!serial_read(port, &byte, 1, &got) || got == 0) {
      return;
    }
  }
}
