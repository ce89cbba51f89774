// What the Linux files share in reading sysfs.
#ifndef PORTVET_PORTS_SYSFS_H
#define PORTVET_PORTS_SYSFS_H

#include <stddef.h>

// The first line of a small text file, without its end; "" if none.
void ports_read_line(const char *path, char *out, size_t size);

#endif
