#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ports.h"

void ports_hint(const char *name, const char *example, char *out, size_t size) {
  char ports[400];
  ports_list(ports, sizeof ports);
  char var[32];
  snprintf(var, sizeof var, "PORTVET_%s", name);
  const char *env = getenv(var);
  // A port named by its own path is not what PORTVET_COMn sets.
  int set = (env != NULL && env[0] != '\0') || strchr(name, '/') != NULL;
  if (ports[0] == '\0' && set) {
    snprintf(out, size, " (no serial port is here now)");
  } else if (ports[0] == '\0') {
    snprintf(out, size,
             " (%s names the port, e.g. %s; no serial port is here now)", var,
             example);
  } else if (set) {
    snprintf(out, size, " (serial ports here: %s)", ports);
  } else {
    snprintf(out, size, " (set %s to one of the serial ports here: %s)", var,
             ports);
  }
}
