// Linux: what stands behind a port, from the system's sysfs. Apart from
// the reading itself (ports_linux.cpp), so that the virtual-time tests say
// what stands behind their port instead.
#include "ports.h"

void ports_host_of(const char *path, ports_host *host) {
  ports_host_in("/sys/class/tty", path, host);
}
