// macOS: the call-out devices /dev/cu.*. The other BSDs list none here.
#include <dirent.h>
#include <stdio.h>
#include <string.h>

#include "ports.h"

void ports_list(char *out, size_t size) {
  out[0] = '\0';
#ifndef __APPLE__
  (void)size;
#else
  DIR *dir = opendir("/dev");
  if (dir == NULL) {
    return;
  }
  for (struct dirent *e = readdir(dir); e != NULL; e = readdir(dir)) {
    if (strncmp(e->d_name, "cu.", 3) == 0) {
      size_t used = strlen(out);
      snprintf(out + used, size - used, "%s/dev/%s", used > 0 ? ", " : "",
               e->d_name);
    }
  }
  closedir(dir);
#endif
}

void ports_latency_file(const char *, char *out, size_t) { out[0] = '\0'; }

void ports_host_in(const char *, const char *, ports_host *host) {
  host->kind = PORTS_HOST_UNKNOWN;
  host->trigger = 0;
  host->latency_ms = 0;
}

void ports_host_of(const char *path, ports_host *host) {
  ports_host_in("", path, host);
}
