// macOS and the other BSDs: every port from /dev, by the names their
// drivers give call-out devices (macOS: cu.*, FreeBSD: cuaU* for USB and
// cuau* for UARTs). The system's USB IDs are not read here (macOS keeps
// them in IOKit's registry, FreeBSD in sysctl), so a port has no label.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ports_every.h"

namespace {

int ports_is_callout(const char *name) {
#ifdef __APPLE__
  return strncmp(name, "cu.", 3) == 0;
#else
  return strncmp(name, "cuaU", 4) == 0 || strncmp(name, "cuau", 4) == 0
             ? strstr(name, ".init") == NULL && strstr(name, ".lock") == NULL
             : 0;
#endif
}

int ports_by_path(const void *a, const void *b) {
  return strcmp(((const ports_entry *)a)->path, ((const ports_entry *)b)->path);
}

}  // namespace

int ports_every(ports_entry *out, int max) {
  DIR *dir = opendir("/dev");
  if (dir == NULL) {
    return 0;
  }
  int n = 0;
  for (struct dirent *e = readdir(dir); e != NULL && n < max;
       e = readdir(dir)) {
    if (ports_is_callout(e->d_name) &&
        strlen(e->d_name) + sizeof "/dev/" <= sizeof out[n].path) {
      memset(&out[n], 0, sizeof out[n]);
      snprintf(out[n].path, sizeof out[n].path, "/dev/%.*s",
               (int)(sizeof out[n].path - sizeof "/dev/"), e->d_name);
      n++;
    }
  }
  closedir(dir);
  qsort(out, (size_t)n, sizeof out[0], ports_by_path);
  return n;
}

int ports_entry_of(const char *path, ports_entry *entry) {
  memset(entry, 0, sizeof *entry);
  snprintf(entry->path, sizeof entry->path, "%s", path);
  return 0;
}
