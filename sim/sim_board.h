// A device as a board's bootloader is one: what the firmware hears once a
// program opens the port, and when it leaves for the program after it.
//
// Opening the port of most Arduino boards restarts the chip (DTR through
// the auto-reset capacitor). For its start-up time the chip is held in
// reset and its UART takes nothing; then the bootloader may blink its LED
// before it reads the UART, and meanwhile the UART's receiver keeps what
// an AVR's keeps: two bytes in its buffer and one in its shift register,
// where each newer byte takes the place of the one waiting (an overrun),
// so the firmware later finds the first two and the last. Once it reads,
// it answers the commands of its protocol; it leaves for its program when
// no byte has come for its window (a watchdog, a time-out), or at the Nth
// byte it cannot take as a command (optiboot at the first, ATmegaBOOT at
// the fifth). It answers nothing it does not understand, and reads its
// protocol a command at a time: a byte that begins none is one foreign
// byte. Its program is silent, or prints a line now and then at a rate of
// its own.
//
// The simulator's main loop and the virtual-time tests put this between
// the line and a personality; the personality counts in sim_state what it
// could not take as a command. Nothing here allocates or waits.
#ifndef PORTVET_SIM_BOARD_H
#define PORTVET_SIM_BOARD_H

#include <stddef.h>
#include <stdint.h>

#include "sim_line.h"

struct sim_knobs;

enum sim_board_phase {
  SIM_BOARD_RESET,    // held in reset: the UART takes nothing
  SIM_BOARD_DEAF,     // running, not reading: the UART keeps what it can
  SIM_BOARD_LISTENS,  // the firmware reads and answers
  SIM_BOARD_LEFT,     // gone to its program
};

enum { SIM_BOARD_HELD = 3 };  // an AVR's receive buffer and shift register

struct sim_board {
  int phase;
  uint64_t started_ns;  // the UART works from then (the start-up is over)
  uint64_t listen_ns;   // the firmware reads from then
  uint64_t heard_ns;    // its window counts from then
  long foreign;         // bytes it could not take as commands, so far
  line_byte held[SIM_BOARD_HELD];
  int n_held;
  uint64_t print_ns;  // its program's next line
};

// The device as it is before any program opened the port: a board has
// run its bootloader long ago and runs its program; anything else listens.
void sim_board_init(sim_board *b, const sim_knobs *k, uint64_t now_ns);

// A program opened the port: a board restarts. Returns 1 when it did (the
// caller starts the personality afresh).
int sim_board_open(sim_board *b, const sim_knobs *k, uint64_t now_ns);

// Moves the device on to now_ns: when it starts to read, the bytes its
// receiver kept go to out (at most SIM_BOARD_HELD, each as of the moment
// it is read) for the personality; when its window passes it leaves.
// Returns the count in out.
size_t sim_board_tick(sim_board *b, const sim_knobs *k, uint64_t now_ns,
                      line_byte *out);

// A byte its UART completed (call sim_board_tick up to its time first).
// Returns 1 when the firmware reads it now: the caller hands it to the
// personality and then calls sim_board_took.
int sim_board_hear(sim_board *b, const line_byte *got);

// The personality took a byte at at_ns and counted foreign of them as no
// command of its own (0 or 1). Returns 1 when its reply must be dropped:
// a bootloader answers nothing it does not understand.
int sim_board_took(sim_board *b, const sim_knobs *k, long foreign,
                   uint64_t at_ns);

// When the device next does something by itself (starts to read, leaves,
// its program prints); UINT64_MAX when nothing is coming.
uint64_t sim_board_next_ns(const sim_board *b, const sim_knobs *k);

// What its program prints by now_ns: the line into out (64 bytes at most),
// its length returned, sent at *baud.
size_t sim_board_print(sim_board *b, const sim_knobs *k, uint64_t now_ns,
                       unsigned char *out, uint32_t *baud);

#endif
