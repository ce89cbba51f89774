// What the tool makes of the name a driver gives a COM port in SERIALCOMM:
// a Windows program (no GoogleTest there), run under Wine by the native
// suite. It writes its own values into the key (Wine's prefix lets its owner
// write HKLM), checks each port, takes the values out again. Prints each
// wrong field and exits 1, or exits 0.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "../../src/ports/ports.h"
#include "unit_check.h"

struct ports_case {
  const char *device;  // the value's name: what the driver calls the port
  const char *com;     // the value's data; NULL: not in the key at all
  const char *path;    // what the tool opens
  int kind;
  unsigned latency_ms;
  unsigned trigger;  // a UART's FIFO; 0: not a UART, not asked
};

// FTDI's driver calls its ports \Device\VCPn: a USB bridge at its default
// latency. Every other name (Windows' own UART driver, Prolific's, what
// Wine gives every port) says too little: unknown, a 14-byte FIFO at worst.
static const ports_case kCases[] = {
    {"\\Device\\VCP0", "COM21", "\\\\.\\COM21", PORTS_HOST_USB, 16, 0},
    {"\\Device\\vcp3", "COM22", "COM22", PORTS_HOST_USB, 16, 0},
    {"\\Device\\Serial0", "COM23", "\\\\.\\COM23", PORTS_HOST_UNKNOWN, 0, 14},
    {"\\Device\\ProlificSerial0", "COM24", "COM24", PORTS_HOST_UNKNOWN, 0, 14},
    {"\\Device\\VCP9", "COM25", "\\\\.\\COM250", PORTS_HOST_UNKNOWN, 0, 14},
    {NULL, NULL, "\\\\.\\COM26", PORTS_HOST_UNKNOWN, 0, 14},
};

int main(void) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                      NULL, REG_OPTION_VOLATILE, KEY_READ | KEY_WRITE, NULL,
                      &key, NULL) != ERROR_SUCCESS) {
    printf("cannot open SERIALCOMM for writing\n");
    return 1;
  }
  for (const ports_case &c : kCases) {
    if (c.device == NULL) continue;
    RegSetValueExA(key, c.device, 0, REG_SZ, (const BYTE *)c.com,
                   (DWORD)strlen(c.com) + 1);
  }
  for (const ports_case &c : kCases) {
    ports_host host = {-1, 0, 0};
    ports_host_of(c.path, &host);
    check(c.path, "kind", (unsigned long)host.kind, (unsigned long)c.kind);
    check(c.path, "latency_ms", host.latency_ms, c.latency_ms);
    if (c.trigger != 0) check(c.path, "trigger", host.trigger, c.trigger);
  }
  for (const ports_case &c : kCases) {
    if (c.device != NULL) RegDeleteValueA(key, c.device);
  }
  RegCloseKey(key);
  return failures == 0 ? 0 : 1;
}
