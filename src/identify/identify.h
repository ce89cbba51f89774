// The identify mode (first argument "-id"): names what is on each port,
// one line per port on standard output. For each port it tries the serial
// AVR programmer and bootloader families at their usual rates, cheapest and
// most likely first (STK500 v1 at 115200, 57600 and 19200; STK500 v2 at
// 115200; AVR910 and AVR109 at 115200, 38400, 19200 and 9600), stops at
// the first certain answer, and says what is there, speaking what, at which
// rate, a programmer or a board's bootloader, and the bytes that decided
// it; or what was seen where nothing was certain. A bootloader's answer
// means a board that reset when the port opened: the mode waits it out and
// asks again, for the program the board runs after it (ArduinoISP, say).
//
// It sends only read-only queries (get-sync, sign-on and parameter reads;
// STK500 v2's sign-on and parameter reads; AVR910's identifier, version,
// type and capability queries; a bootloader's read of its own chip's
// signature, asked of nothing that may be a programmer), never a command
// that writes, erases or enters programming mode, and leaves every port as it
// found it. The ports are identified at the same time, as the connection
// check's sweep does.
#ifndef PORTVET_IDENTIFY_H
#define PORTVET_IDENTIFY_H

// Runs the mode on the whole argument vector (argv[1] is "-id"). "-id"
// alone lists every port of the computer and what the system says of it,
// opening none. Otherwise it identifies the ports given, in that order and
// at the same time: -c1 to -c4 (COM1 to COM4; -c0 all four), -p<port> (a
// port by its own name: "/dev/ttyACM0", "COM7") and -a (every port the list
// would show); a named port's line starts with what the system says of it
// ("/dev/ttyUSB0 (CH340, 1a86:7523): ..."). Returns the exit status: 0 once
// the ports are identified, 1 for a command line it refused.
int id_main(int argc, char **argv);

// Identifies one port and prints its line (for the sweep; how is unused).
void id_port_each(const char *name, const void *how);

#endif
