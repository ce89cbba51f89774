// Windows: the ports are the list of every port (ports_every_win32.cpp);
// what hands a port's bytes over, from the name its driver gives it under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "ports.h"
#include "ports_every.h"

void ports_list(char *out, size_t size) {
  out[0] = '\0';
  ports_entry every[PORTS_EVERY];
  int n = ports_every(every, PORTS_EVERY);
  for (int i = 0; i < n; i++) {
    size_t used = strlen(out);
    snprintf(out + used, size - used, "%s%s", i > 0 ? ", " : "", every[i].path);
  }
}

void ports_latency_file(const char *, char *out, size_t) { out[0] = '\0'; }

// Windows' serial calls do not say what is behind a COM port, but the
// name a driver gives its device in SERIALCOMM may: \Device\VCP<n> is
// FTDI's driver, whose adapters send a packet that has not filled up when
// their latency timer runs out (16 ms unless set lower). Any other name
// says too little: \Device\Serial<n> is Windows' own UART driver (its
// FIFO passes bytes on at 14 by default) but also what Wine calls every
// port it maps, whatever is behind it. So any other port is unknown: the
// slowest of a 14-byte FIFO and an FTDI adapter at its defaults.
static void ports_host_named(const char *device, ports_host *host) {
  if (_strnicmp(device, "\\Device\\VCP", 11) == 0) {
    host->kind = PORTS_HOST_USB;
    host->latency_ms = 16;
  }
}

void ports_host_in(const char *, const char *path, ports_host *host) {
  host->kind = PORTS_HOST_UNKNOWN;
  host->trigger = 14;
  host->latency_ms = 0;
  const char *name = strncmp(path, "\\\\.\\", 4) == 0 ? path + 4 : path;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                    KEY_READ, &key) != ERROR_SUCCESS) {
    return;
  }
  for (DWORD i = 0;; i++) {
    char value[256];
    DWORD value_size = sizeof value;
    char data[32];
    DWORD data_size = sizeof data - 1;
    DWORD type = 0;
    if (RegEnumValueA(key, i, value, &value_size, NULL, &type, (BYTE *)data,
                      &data_size) != ERROR_SUCCESS) {
      break;
    }
    if (type != REG_SZ) {
      continue;
    }
    data[data_size] = '\0';
    if (_stricmp(data, name) == 0) {
      ports_host_named(value, host);
      break;
    }
  }
  RegCloseKey(key);
}

void ports_host_of(const char *path, ports_host *host) {
  ports_host_in("", path, host);
}
