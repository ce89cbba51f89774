// Fuzz target: both probes and the stress test against arbitrary device
// behaviour (replies, short reads, failures) through the in-memory port.
// Every run must end, and every port opened must be closed again.
#include <stdio.h>
#include <stdlib.h>

#include "../src/avr910/avr910.h"
#include "../src/check/check_port.h"
#include "../src/st/st.h"
#include "serial_memory.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The reports are not what is checked here.
  if (freopen("/dev/null", "w", stdout) == NULL) {
    abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  if (size < 1) {
    return 0;
  }
  // The first byte picks the mode and the attempt count (2 to 9).
  int mode = data[0] % 3;
  int attempts = 2 + (data[0] >> 2) % 8;
  serial_memory_load(data + 1, size - 1);
  if (mode == 2) {
    char a0[] = "portvet", a1[] = "-st", a2[] = "-c1", a3[] = "-r3";
    char *argv[] = {a0, a1, a2, a3, NULL};
    st_main(4, argv);
  } else if (mode == 0) {
    check_port("COM1", attempts, 20);
  } else {
    // The AVR910 probe straight away, whatever the STK500 probe would say.
    serial_port port;
    if (!serial_open(&port, "COM1")) {
      abort();
    }
    avr910_main(&port, attempts, 20);
    serial_close(&port);
  }
  if (serial_memory_open_ports() != 0) {
    abort();  // a path left the port open
  }
  return 0;
}
