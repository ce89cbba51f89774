// Windows: every port from the registry. The serial drivers announce their
// ports under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM ("COM7"). A USB device's
// port is named in its instance key's "Device Parameters\PortName", under
// HKLM\SYSTEM\CurrentControlSet\Enum\USB\VID_xxxx&PID_yyyy[&MI_nn] (CDC ACM
// boards, CH340, CP210x, PL2303) or Enum\FTDIBUS\VID_xxxx+PID_yyyy+<serial>
// (FTDI's own driver). The instance key's name is the device's serial
// number where it has one (no '&' in it); its "Mfg" and "DeviceDesc" are
// what the driver's INF calls the device, after the last ';'.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "ports_every.h"

namespace {

const char kEnum[] = "SYSTEM\\CurrentControlSet\\Enum";

// COM2 before COM10.
int ports_by_number(const void *a, const void *b) {
  const char *x = ((const ports_entry *)a)->path;
  const char *y = ((const ports_entry *)b)->path;
  long nx = strtol(x + strcspn(x, "0123456789"), NULL, 10);
  long ny = strtol(y + strcspn(y, "0123456789"), NULL, 10);
  return nx != ny ? (nx < ny ? -1 : 1) : strcmp(x, y);
}

// A string value of key, "" where there is none; INF text ("@oem3.inf,
// %ftdi%;FTDI") is cut to what follows its last ';'.
void ports_reg_text(HKEY key, const char *sub, const char *name, char *out,
                    size_t size) {
  out[0] = '\0';
  char data[256];
  DWORD data_size = sizeof data - 1;
  DWORD type = 0;
  if (RegGetValueA(key, sub, name, RRF_RT_REG_SZ, &type, data, &data_size) !=
      ERROR_SUCCESS) {
    return;
  }
  data[sizeof data - 1] = '\0';
  const char *text = strrchr(data, ';');
  snprintf(out, size, "%s", text != NULL ? text + 1 : data);
}

// The IDs in a device key's name: "VID_2341&PID_0043&MI_00" or
// "VID_0403+PID_6001+A50285BIA". Returns 1 when both are there.
int ports_reg_ids(const char *name, ports_entry *entry) {
  const char *v = strstr(name, "VID_");
  const char *p = strstr(name, "PID_");
  if (v == NULL || p == NULL) {
    return 0;
  }
  entry->vid = (uint16_t)strtoul(v + 4, NULL, 16);
  entry->pid = (uint16_t)strtoul(p + 4, NULL, 16);
  return 1;
}

// Finds the USB device whose port is entry->path under Enum\<bus>. Returns
// 1 when found (entry then has its IDs and names).
int ports_reg_usb(const char *bus, ports_entry *entry) {
  char path[128];
  snprintf(path, sizeof path, "%s\\%s", kEnum, bus);
  HKEY devices;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &devices) !=
      ERROR_SUCCESS) {
    return 0;
  }
  int found = 0;
  char device[256];
  for (DWORD i = 0; !found; i++) {
    DWORD device_size = sizeof device;
    if (RegEnumKeyExA(devices, i, device, &device_size, NULL, NULL, NULL,
                      NULL) != ERROR_SUCCESS) {
      break;
    }
    HKEY instances;
    if (RegOpenKeyExA(devices, device, 0, KEY_READ, &instances) !=
        ERROR_SUCCESS) {
      continue;
    }
    char instance[256];
    for (DWORD k = 0; !found; k++) {
      DWORD instance_size = sizeof instance;
      if (RegEnumKeyExA(instances, k, instance, &instance_size, NULL, NULL,
                        NULL, NULL) != ERROR_SUCCESS) {
        break;
      }
      char port[PORTS_NAME_SIZE];
      char sub[300];
      snprintf(sub, sizeof sub, "%s\\Device Parameters", instance);
      ports_reg_text(instances, sub, "PortName", port, sizeof port);
      if (_stricmp(port, entry->path) != 0 || !ports_reg_ids(device, entry)) {
        continue;
      }
      found = 1;
      entry->kind = PORTS_ENTRY_USB;
      ports_reg_text(instances, instance, "Mfg", entry->manufacturer,
                     sizeof entry->manufacturer);
      ports_reg_text(instances, instance, "DeviceDesc", entry->product,
                     sizeof entry->product);
      // FTDIBUS: "VID_0403+PID_6001+A50285BIA", the serial number and
      // the channel's letter; USB: the instance, when it is a serial number.
      const char *ftdi = strstr(device, "+PID_");
      ftdi = ftdi != NULL ? strchr(ftdi + 1, '+') : NULL;
      if (ftdi != NULL && strlen(ftdi) > 2) {
        snprintf(entry->serial, sizeof entry->serial, "%.*s",
                 (int)strlen(ftdi) - 2, ftdi + 1);
      } else if (ftdi == NULL && strchr(instance, '&') == NULL) {
        snprintf(entry->serial, sizeof entry->serial, "%s", instance);
      }
    }
    RegCloseKey(instances);
  }
  RegCloseKey(devices);
  return found;
}

void ports_reg_identify(ports_entry *entry) {
  if (!ports_reg_usb("USB", entry)) {
    ports_reg_usb("FTDIBUS", entry);
  }
}

}  // namespace

int ports_every(ports_entry *out, int max) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                    KEY_READ, &key) != ERROR_SUCCESS) {
    return 0;
  }
  int n = 0;
  for (DWORD i = 0; n < max; i++) {
    char value[256];
    DWORD value_size = sizeof value;
    char data[PORTS_NAME_SIZE];
    DWORD data_size = sizeof data - 1;
    DWORD type = 0;
    if (RegEnumValueA(key, i, value, &value_size, NULL, &type, (BYTE *)data,
                      &data_size) != ERROR_SUCCESS) {
      break;
    }
    if (type == REG_SZ) {
      data[data_size] = '\0';
      memset(&out[n], 0, sizeof out[n]);
      snprintf(out[n].path, sizeof out[n].path, "%s", data);
      n++;
    }
  }
  RegCloseKey(key);
  qsort(out, (size_t)n, sizeof out[0], ports_by_number);
  for (int i = 0; i < n; i++) {
    ports_reg_identify(&out[i]);
  }
  return n;
}

int ports_entry_of(const char *path, ports_entry *entry) {
  memset(entry, 0, sizeof *entry);
  const char *name = strncmp(path, "\\\\.\\", 4) == 0 ? path + 4 : path;
  snprintf(entry->path, sizeof entry->path, "%s", name);
  ports_entry every[PORTS_EVERY];
  int n = ports_every(every, PORTS_EVERY);
  for (int i = 0; i < n; i++) {
    if (_stricmp(every[i].path, name) == 0) {
      *entry = every[i];
      return 1;
    }
  }
  return 0;
}
