#include "sim_pty.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int sim_pty_open(const char *who, int *slave, const char **path) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    fprintf(stderr, "%s: pty: ", who);
    perror(NULL);
    return -1;
  }
  *path = ptsname(master);
  *slave = open(*path, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (*slave < 0) {
    fprintf(stderr, "%s: slave: ", who);
    perror(NULL);
    close(master);
    return -1;
  }
  return master;
}
