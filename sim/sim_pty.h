// The pseudo-terminal a simulated device plays on (the simulator and the
// firmware host alike): the tool opens its slave side as a serial port.
#ifndef PORTVET_SIM_PTY_H
#define PORTVET_SIM_PTY_H

// Opens a pty and holds its slave side open, so the master side sees no
// hang-up between two runs of the tool. Returns the master side, or -1
// after saying why on standard error as who; *slave and *path get the
// slave side.
int sim_pty_open(const char *who, int *slave, const char **path);

// The baud rate of a line whose rate has no Bnnn constant; 0 if unknown.
long sim_custom_baud(int fd);

#endif
