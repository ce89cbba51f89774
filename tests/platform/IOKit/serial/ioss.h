// Stand-in for macOS's <IOKit/serial/ioss.h>, so that the macOS paths
// compile (and are warned about) on Linux. Never linked into a program.
#pragma once
#include <sys/ioctl.h>
#include <termios.h>

#define IOSSIOSPEED _IOW('T', 2, speed_t)
