// The identify mode's plan: which family it asks at which rate, when, and
// how long it waits for the answer; and what a run of it found.
#ifndef PORTVET_IDENTIFY_PLAN_H
#define PORTVET_IDENTIFY_PLAN_H

#include "identify_query.h"

// What a run of a plan saw.
struct id_run_result {
  id_found found;  // the first certain answer, echo or failure
  int32_t baud;    // where
  id_found other;  // the first bytes that fit no family
  int32_t other_baud;
};

// Runs the plan for a port that has just been opened (s->opened_ms): the
// families at their rates, with a second reset of the port for the boards
// at 57600 and 19200. Stops at the first certain answer.
void id_plan_port(id_session *s, id_run_result *run);

// Whether the STK500 v1 device at baud restarts when the port opens, as a
// board does: opens the port again and asks after the start-up; a board's
// bootloader answers only once it reads, a programmer at once. Returns 1
// when it restarts, 0 when not, -1 on a port failure.
int id_plan_restarts(id_session *s, int32_t baud);

// Once a board's bootloader answered: waits until it has left, then runs
// the plan for the program the board runs after it (no reset).
void id_plan_program(id_session *s, int32_t boot_baud, id_run_result *run);

// How long a board's bootloader may keep the port after its last command
// before the board runs its program (optiboot's watchdog: 1 s).
enum { ID_BOARD_MS = 1500 };

#endif
