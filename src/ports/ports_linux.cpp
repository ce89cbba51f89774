// Linux: sysfs. The ports are the list of every port (ports_every_linux.cpp)
// with a USB device's product name; the tty's device's driver names what
// hands its bytes over.
#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "ports.h"
#include "ports_every.h"
#include "ports_sysfs.h"

static const char kTtyClass[] = "/sys/class/tty";

void ports_list(char *out, size_t size) {
  out[0] = '\0';
  ports_entry every[PORTS_EVERY];
  int n = ports_every(every, PORTS_EVERY);
  for (int i = 0; i < n; i++) {
    size_t used = strlen(out);
    const char *product = every[i].product;
    snprintf(out + used, size - used, "%s%s%s%s%s", i > 0 ? ", " : "",
             every[i].path, product[0] != '\0' ? " (" : "", product,
             product[0] != '\0' ? ")" : "");
  }
}

void ports_latency_file(const char *name, char *out, size_t size) {
  out[0] = '\0';
  char var[32];
  snprintf(var, sizeof var, "PORTVET_%s", name);
  const char *path = getenv(var);
  char fallback[32];
  if (path == NULL || path[0] == '\0') {
    if (strncmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9') {
      return;
    }
    snprintf(fallback, sizeof fallback, "/dev/ttyS%d", name[3] - '1');
    path = fallback;
  }
  char real[PATH_MAX];
  if (realpath(path, real) == NULL) {
    return;
  }
  const char *base = strrchr(real, '/');
  base = base != NULL ? base + 1 : real;
  char file[PATH_MAX + 64];
  snprintf(file, sizeof file, "%s/%s/device/latency_timer", kTtyClass, base);
  if (access(file, F_OK) == 0) {
    snprintf(out, size, "%s", file);
  }
}

void ports_host_in(const char *tty_class, const char *path, ports_host *host) {
  host->kind = PORTS_HOST_UNKNOWN;
  host->trigger = 0;
  host->latency_ms = 0;
  char real[PATH_MAX];
  if (realpath(path, real) == NULL) {
    return;
  }
  const char *base = strrchr(real, '/');
  base = base != NULL ? base + 1 : real;
  char file[PATH_MAX + 128];
  char link[PATH_MAX];
  snprintf(file, sizeof file, "%s/%s/device/driver", tty_class, base);
  ssize_t len = readlink(file, link, sizeof link - 1);
  if (len < 0) {
    return;  // no device behind it: a pty, a virtual console
  }
  link[len] = '\0';
  const char *slash = strrchr(link, '/');
  const char *driver = slash != NULL ? slash + 1 : link;
  char value[32];
  if (strcmp(driver, "ftdi_sio") == 0) {
    // FTDI chips send a packet that has not filled up when their latency
    // timer runs out: 16 ms unless set lower.
    host->kind = PORTS_HOST_USB;
    snprintf(file, sizeof file, "%s/%s/device/latency_timer", tty_class, base);
    ports_read_line(file, value, sizeof value);
    long ms = atol(value);
    host->latency_ms = ms > 0 && ms <= 255 ? (uint32_t)ms : 16;
    return;
  }
  if (strncmp(driver, "ch341", 5) == 0) {
    host->kind = PORTS_HOST_USB;  // a CH340: about 1 ms
    host->latency_ms = 1;
    return;
  }
  // An 8250-family UART: its FIFO trigger where the driver lets it be set
  // (rx_trig_bytes), else the driver's own choice.
  snprintf(file, sizeof file, "%s/%s/rx_trig_bytes", tty_class, base);
  ports_read_line(file, value, sizeof value);
  long trigger = atol(value);
  if ((trigger > 0 && trigger <= 256) || strncmp(base, "ttyS", 4) == 0) {
    host->kind = PORTS_HOST_UART;
    host->trigger = trigger > 0 && trigger <= 256 ? (uint32_t)trigger : 0;
  }
}
