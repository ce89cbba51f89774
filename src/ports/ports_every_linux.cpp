// Linux: every port from sysfs. A tty with a "device" link has hardware
// behind it (the virtual consoles and ptys have none). The 8250 driver
// makes ttyS0..ttyS31 whether a UART is there or not; a slot with none
// says so in its "type" (0, unknown) and is left out. A USB device is one
// to three levels above the tty's device (the interface of a CDC ACM
// board; the port of a usb-serial bridge, on its interface), the folder
// with idVendor.
#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "ports_every.h"
#include "ports_sysfs.h"

void ports_read_line(const char *path, char *out, size_t size) {
  out[0] = '\0';
  FILE *f = fopen(path, "r");
  if (f == NULL) {
    return;
  }
  if (fgets(out, (int)size, f) == NULL) {
    out[0] = '\0';
  }
  fclose(f);
  out[strcspn(out, "\r\n")] = '\0';
}

namespace {

// Reads the USB device at or above dir (at most three levels up).
int ports_read_usb(const char *dir, ports_entry *entry) {
  char at[PATH_MAX];
  if (realpath(dir, at) == NULL) {
    return 0;
  }
  for (int up = 0; up < 4; up++) {
    char file[PATH_MAX + 32];
    char id[16];
    snprintf(file, sizeof file, "%s/idVendor", at);
    ports_read_line(file, id, sizeof id);
    if (id[0] != '\0') {
      entry->kind = PORTS_ENTRY_USB;
      entry->vid = (uint16_t)strtoul(id, NULL, 16);
      snprintf(file, sizeof file, "%s/idProduct", at);
      ports_read_line(file, id, sizeof id);
      entry->pid = (uint16_t)strtoul(id, NULL, 16);
      snprintf(file, sizeof file, "%s/manufacturer", at);
      ports_read_line(file, entry->manufacturer, sizeof entry->manufacturer);
      snprintf(file, sizeof file, "%s/product", at);
      ports_read_line(file, entry->product, sizeof entry->product);
      snprintf(file, sizeof file, "%s/serial", at);
      ports_read_line(file, entry->serial, sizeof entry->serial);
      return 1;
    }
    char *slash = strrchr(at, '/');
    if (slash == NULL || slash == at) {
      return 0;
    }
    *slash = '\0';
  }
  return 0;
}

// Reads the tty named base (under class, a /sys/class/tty). Returns 1 for a
// port: a device behind it, and a UART in a ttyS slot.
int ports_read_tty(const char *cls, const char *base, ports_entry *entry) {
  char dir[PATH_MAX];
  int w = snprintf(dir, sizeof dir, "%s/%s/device", cls, base);
  if (w < 0 || (size_t)w >= sizeof dir || access(dir, F_OK) != 0) {
    return 0;
  }
  if (ports_read_usb(dir, entry)) {
    return 1;
  }
  if (strncmp(base, "ttyS", 4) == 0) {
    char type[16];
    snprintf(dir, sizeof dir, "%s/%s/type", cls, base);
    ports_read_line(dir, type, sizeof type);
    if (strcmp(type, "0") == 0) {
      return 0;  // a slot without a UART
    }
    entry->kind = PORTS_ENTRY_UART;
  }
  return 1;
}

void ports_clear(ports_entry *entry) { memset(entry, 0, sizeof *entry); }

// ttyS2 before ttyS10: the names' letters, then their numbers.
int ports_by_name(const void *a, const void *b) {
  const char *x = ((const ports_entry *)a)->path;
  const char *y = ((const ports_entry *)b)->path;
  size_t nx = strcspn(x, "0123456789");
  size_t ny = strcspn(y, "0123456789");
  int c = strncmp(x, y, nx < ny ? nx : ny);
  if (c != 0 || nx != ny) {
    return c != 0 ? c : (nx < ny ? -1 : 1);
  }
  long vx = strtol(x + nx, NULL, 10);
  long vy = strtol(y + ny, NULL, 10);
  return vx != vy ? (vx < vy ? -1 : 1) : strcmp(x, y);
}

}  // namespace

int ports_every_in(const char *sys, ports_entry *out, int max) {
  char cls[PATH_MAX];
  snprintf(cls, sizeof cls, "%s/class/tty", sys);
  DIR *dir = opendir(cls);
  if (dir == NULL) {
    return 0;
  }
  int n = 0;
  for (struct dirent *e = readdir(dir); e != NULL && n < max;
       e = readdir(dir)) {
    if (e->d_name[0] == '.' ||
        strlen(e->d_name) + sizeof "/dev/" > sizeof out[n].path) {
      continue;
    }
    ports_clear(&out[n]);
    if (ports_read_tty(cls, e->d_name, &out[n])) {
      snprintf(out[n].path, sizeof out[n].path, "/dev/%.*s",
               (int)(sizeof out[n].path - sizeof "/dev/"), e->d_name);
      n++;
    }
  }
  closedir(dir);
  qsort(out, (size_t)n, sizeof out[0], ports_by_name);
  return n;
}

int ports_entry_in(const char *sys, const char *path, ports_entry *entry) {
  ports_clear(entry);
  snprintf(entry->path, sizeof entry->path, "%s", path);
  char real[PATH_MAX];
  if (realpath(path, real) == NULL) {
    return 0;
  }
  char cls[PATH_MAX];
  snprintf(cls, sizeof cls, "%s/class/tty", sys);
  // The device a link leads to (/dev/serial/by-id/usb-FTDI_...: ttyUSB0);
  // else the name the path gives it, for a tty that is a link of its own
  // in /dev.
  const char *resolved =
      strrchr(real, '/') != NULL ? strrchr(real, '/') + 1 : real;
  const char *named =
      strrchr(path, '/') != NULL ? strrchr(path, '/') + 1 : path;
  return ports_read_tty(cls, resolved, entry) ||
         (strcmp(named, resolved) != 0 && ports_read_tty(cls, named, entry));
}

int ports_every(ports_entry *out, int max) {
  return ports_every_in("/sys", out, max);
}

int ports_entry_of(const char *path, ports_entry *entry) {
  return ports_entry_in("/sys", path, entry);
}
