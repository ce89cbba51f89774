#include "usage.h"

#include <stdio.h>

#ifndef PORTVET_VERSION
#define PORTVET_VERSION "0.0.0"
#endif

void main_Banner(void) {
  printf("STK500/AVR910 connection check\n");
  printf("COM port stress test\n");
  printf("v1.2 (portvet %s)\n", PORTVET_VERSION);
}

void UsageMessage(void) {
  printf(
      "\nTest connection to a STK500/AVR910 compatible device and list error "
      "details\n");
  printf("\nUsage: Portvet -cn [-rn] [-tn]\n\n");
  printf("   -cn\t  n = 1 - 4 for COM1 - 4\n");
  printf("\t  n = 0 for all four ports\n");
  printf("   -rn\t  n = number of connection retries (default = 50)\n");
  printf("   -tn\t  n = timeout value for COM port in ms (defaut 20ms)\n");
  printf("\n\nPerformance test for COM port with error details/counter\n\n");
  printf("Connect TXD and RXD line or use device that echos every byte\n");
  printf("Usage Portvet -st -cn [-bn] [-rn]\n\n");
  printf("   -cn\t  n = 1 - 4 for COM1 - 4\n");
  printf("   -bn\t  n = baudrate (default = 115200)\n");
  printf("   -rn\t  n = test loops (default = 10)\n");
}

void main_UsageNote(void) {
#ifdef _WIN32
  const char *example = "COM7";
#else
  const char *example = "/dev/ttyUSB0";
#endif
  fprintf(stderr,
          "portvet: portvet -id lists the serial ports and names what is on "
          "them; PORTVET_COM1 to PORTVET_COM4 choose what COM1 to COM4 open "
          "(PORTVET_COM1=%s); both are explained in portvet(1) and the "
          "README\n",
          example);
}
