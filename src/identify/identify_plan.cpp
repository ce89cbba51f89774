// The identify mode's plan, and why each wait is as long as it is.
//
// A programmer answers whenever it is asked, at its own rate. A board does
// not: opening its port restarts it (DTR), its chip is held in reset for
// its start-up (65 ms), and its bootloader may blink its LED before it
// reads the UART (optiboot: 375 ms more), up to 1.2 s on boards seen so
// far. Meanwhile the chip's UART keeps the first two bytes that came and
// the last one; the bootloader reads them first, and optiboot leaves for
// the board's program at the first byte that is no command of its own
// (ATmegaBOOT at the fifth). Then it reads for a second or so and leaves.
//
// So a bootloader is found only if the first bytes its UART keeps are a
// query at its own rate, and the mode still listens at that rate when the
// bootloader reads them. One reset serves one such rate: round 1 gives
// it to 115200 (optiboot on the Uno and the Nano, the Mega 2560's
// STK500 v2 bootloader, which ignores stray bytes), round 2, after a
// second reset, to 57600 (the older Nanos, Pro Minis and the Mega 1280,
// and 8 MHz boards' optiboot), with 19200 (the ATmega168 boards'
// ATmegaBOOT, which takes a stray byte or two) behind it. Each round
// waits out the longest time a bootloader stays deaf: 1.2 s. Programmers,
// which answer at once, are asked in round 1 after the bootloader's wait,
// at every family's rate.
#include "identify_plan.h"

#include <string.h>

#include "identify_unasked.h"

namespace {

enum id_step_kind {
  ID_ASK,     // a family's query; its answer awaited ID_WAIT_MS; with
              // until_ms, asked only that soon after the open began
  ID_KNOCK,   // sent no sooner than at_ms after the open; awaited until
              // until_ms
  ID_REOPEN,  // the port closed and opened again: a board restarts
};

enum id_family_kind { ID_V1, ID_V2, ID_910, ID_MKII };

struct id_step {
  int kind;
  int32_t baud;
  int family;
  uint32_t at_ms;
  uint32_t until_ms;
};

// A board's chip is held in reset 65 ms after the port opens (an Uno's
// fuses): a query that goes out sooner is lost, as it should be. One that
// goes out later, where the open or the line setup took long (a loaded
// computer, a driver that is slow to set a USB bridge up), would wait in
// the bootloader's UART and drive optiboot off at its next byte: the query
// at once is then left out, and the programmers are asked after the wait.
const uint32_t ID_IN_RESET_MS = 60;

// After the open, a board's chip is held in reset (an Uno's fuses: 65 ms)
// and its UART takes nothing: the first query that counts goes out after
// that, with room for a USB bridge that raises DTR a little late and for a
// busy computer that sees the open late.
const uint32_t ID_STARTUP_MS = 150;

// The longest a bootloader reads nothing after the reset (a board's
// start-up and its LED flashes; seen: 440 ms for optiboot, 665 ms for the
// ATmega168 NG's ATmegaBOOT; up to 1.2 s allowed), and room for its
// answer to come.
const uint32_t ID_DEAF_MAX_MS = 1250;

// Where round 2 gives up on 57600 and turns to 19200: an 8 MHz board's
// optiboot reads after its flashes (440 ms); ATmegaBOOT at 57600 after 265.
const uint32_t ID_57600_UNTIL_MS = 560;

// A device that takes longer than this to answer a query it heard was not
// reading when the query came: it restarted when the port opened. No
// programmer takes that long; a board's start-up alone takes 65 ms.
const uint32_t ID_DEAF_MS = 50;

// Until when the first knock at 115200 waits alone: optiboot (440 ms) has
// read it by then, and the Mega 2560's bootloader, which the knock kept
// (its wait restarts with every byte), still waits for a message.
const uint32_t ID_V1_UNTIL_MS = 1000;

const id_step id_port_plan[] = {
    // Round 1. At once, at 115200: what is awake when the port opens
    // answers now; a board is in reset and loses it.
    {ID_ASK, 115200, ID_V1, 0, ID_IN_RESET_MS},
    // After the start-up the same query again: the first bytes the UART
    // of a board at 115200 keeps, answered when the bootloader reads.
    {ID_KNOCK, 115200, ID_V1, ID_STARTUP_MS, ID_V1_UNTIL_MS},
    // The Mega 2560's bootloader ignored the stray get-sync; its message
    // now. A bootloader deaf longer still answers the first knock from its
    // UART meanwhile (this message's last byte waits behind it).
    {ID_KNOCK, 115200, ID_V2, ID_V1_UNTIL_MS, ID_DEAF_MAX_MS},
    // Then a bootloader that began to read only now, and the programmers,
    // at every family's rate.
    {ID_ASK, 115200, ID_V2, 0, 0},
    {ID_ASK, 115200, ID_910, 0, 0},
    {ID_ASK, 57600, ID_V1, 0, 0},
    {ID_ASK, 19200, ID_V1, 0, 0},
    {ID_ASK, 38400, ID_910, 0, 0},
    {ID_ASK, 19200, ID_910, 0, 0},
    {ID_ASK, 9600, ID_910, 0, 0},
    // jtag2updi, as a JTAGICE mkII, signs on at 19200 (and ignores what
    // is no message of its own).
    {ID_ASK, 19200, ID_MKII, 0, 0},
    // Round 2: a second reset for the boards at 57600, then 19200 behind
    // them (the 57600 query costs ATmegaBOOT at 19200 one stray byte; its
    // own query waits in its UART if it is deaf still).
    {ID_REOPEN, 0, 0, 0, 0},
    {ID_KNOCK, 57600, ID_V1, ID_STARTUP_MS, ID_57600_UNTIL_MS},
    {ID_KNOCK, 19200, ID_V1, 0, ID_DEAF_MAX_MS},
};

// Where something answered and nothing was certain, a device is there
// (so the time an empty port may take does not bind): a third reset, and
// the wait round 2 could not give a bootloader at 57600 deaf for longer.
const id_step id_evidence_plan[] = {
    {ID_REOPEN, 0, 0, 0, 0},
    {ID_KNOCK, 57600, ID_V1, ID_STARTUP_MS, ID_DEAF_MAX_MS},
};

// What a board runs after its bootloader: ArduinoISP first (it answers at
// 19200 once its setup has blinked its LEDs, half a second), then any
// programmer at its rate. No reset: the board's program runs now.
const uint32_t ID_PROGRAM_START_MS = 600;

const id_step id_program_plan[] = {
    {ID_KNOCK, 19200, ID_V1, 0, ID_PROGRAM_START_MS},
    {ID_ASK, 115200, ID_V1, 0, 0},
    {ID_ASK, 115200, ID_V2, 0, 0},
    {ID_ASK, 115200, ID_910, 0, 0},
    {ID_ASK, 57600, ID_V1, 0, 0},
    {ID_ASK, 38400, ID_910, 0, 0},
    {ID_ASK, 19200, ID_910, 0, 0},
    {ID_ASK, 9600, ID_910, 0, 0},
    {ID_ASK, 19200, ID_MKII, 0, 0},
};

void id_ask_family(id_session *s, int family, id_found *found) {
  memset(found, 0, sizeof *found);
  switch (family) {
    case ID_V1:
      id_stk500v1(s, found);
      break;
    case ID_V2:
      id_stk500v2(s, found);
      break;
    case ID_MKII:
      id_jtagmkii(s, found);
      break;
    default:
      id_avr910(s, found);
      break;
  }
}

// Asks a family, and believes its answer only when its query caused it: it
// came after the query with nothing before it and ended where the protocol
// ends it; or, where bytes came unasked around it (a start-up text before
// a bootloader's answer), the same query asked again brought the same
// answer with nothing around it (a device that streams never does).
void id_ask_certain(id_session *s, int family, id_found *found) {
  id_ask_family(s, family, found);
  if (found->outcome != ID_FOUND || !found->with_unasked) {
    return;
  }
  id_found again;
  id_ask_family(s, family, &again);
  if (again.outcome == ID_FAILED) {
    *found = again;
  } else if (again.outcome != ID_FOUND || again.with_unasked ||
             strcmp(again.decided, found->decided) != 0) {
    // Bytes that look like an answer once: unasked ones, as far as this
    // mode can tell.
    found->outcome = ID_SILENT;
  }
}

// What a knock brought: the bytes that came, when the first did.
struct id_burst {
  unsigned char bytes[ID_KEPT];
  uint32_t n;
  uint32_t sent_ms;  // the knock went out, after the open
  uint32_t came_ms;  // its first byte came
};

// Sends a family's first query and listens until until_ms after the open
// for whatever comes, to the end of its burst. Returns 1 when bytes came,
// 0 when none, -1 on a port failure.
int id_knock(id_session *s, int family, uint32_t until_ms, id_burst *b) {
  unsigned char knock[16];
  uint32_t len = family == ID_V1   ? id_stk500v1_knock(knock)
                 : family == ID_V2 ? id_stk500v2_knock(knock)
                                   : id_avr910_knock(knock);
  b->n = 0;
  if (id_take_unasked(s) < 0) {
    return -1;
  }
  uint32_t put = 0;
  if (!serial_write(s->port, knock, len, &put) || put != len) {
    return -1;
  }
  b->sent_ms = id_elapsed_ms(s);
  uint32_t wait = until_ms > b->sent_ms + ID_WAIT_MS ? until_ms - b->sent_ms
                                                     : (uint32_t)ID_WAIT_MS;
  uint32_t got = 0;
  if (!serial_read_for(s->port, b->bytes, 1, wait, &got)) {
    return -1;
  }
  if (got == 0) {
    return 0;
  }
  b->came_ms = id_elapsed_ms(s);
  b->n = 1;
  // The rest of the burst: until the line has been quiet a while, or
  // enough came to judge (a device that streams is never quiet).
  while (b->n < ID_KEPT) {
    unsigned char buf[64];
    if (!serial_read_for(s->port, buf, sizeof buf, ID_WAIT_MS, &got)) {
      return -1;
    }
    if (got == 0) {
      return 1;
    }
    for (uint32_t i = 0; i < got && b->n < ID_KEPT; i++) {
      b->bytes[b->n++] = buf[i];
    }
  }
  return 1;
}

// Which family's answer to its first query a knock's burst is, whole:
// that family (found has its name and bytes), or -1.
int id_burst_family(const id_burst *b, id_found *found) {
  memset(found, 0, sizeof *found);
  if (id_stk500v1_answers(b->bytes, b->n, found)) {
    return ID_V1;
  }
  if (id_stk500v2_answers(b->bytes, b->n, found)) {
    return ID_V2;
  }
  if (id_avr910_answers(b->bytes, b->n, found)) {
    return ID_910;
  }
  return -1;
}

// What of a knock's burst came unasked: all of it when it is text (no
// family's query is answered with text alone but AVR910's identifier,
// which found names), else none; the answer found gave, at its end, is no
// part of it.
void id_burst_unasked(id_session *s, const id_burst *b, const id_found *f) {
  uint32_t n = b->n;
  while (f->outcome == ID_FOUND && f->n_answer > 0 && n >= f->n_answer &&
         memcmp(b->bytes + n - f->n_answer, f->answer, f->n_answer) == 0) {
    n -= (uint32_t)f->n_answer;
  }
  if (n > 0 && id_is_text(b->bytes, n)) {
    id_keep_unasked(s, b->bytes, n);
  }
}

void id_run(id_session *s, const id_step *plan, size_t n_steps,
            id_run_result *run) {
  memset(run, 0, sizeof *run);
  run->found.outcome = ID_SILENT;
  for (size_t i = 0; i < n_steps; i++) {
    const id_step &step = plan[i];
    if (step.kind == ID_REOPEN) {
      // Closing the port drops DTR, opening it raises it: the reset an
      // upload gives a board.
      serial_close(s->port);
      s->opening_ms = serial_clock_ms();
      if (!serial_open(s->port, s->name)) {
        run->found.outcome = ID_FAILED;
        run->found.query = "opening the port again";
        run->baud = s->baud;
        return;
      }
      s->opened_ms = serial_clock_ms();
      s->baud = 0;
      continue;
    }
    id_rate(s, step.baud);
    if (step.kind == ID_ASK && step.until_ms > 0 &&
        serial_clock_ms() - s->opening_ms >= step.until_ms) {
      continue;
    }
    id_burst burst;
    burst.n = 0;
    if (step.kind == ID_KNOCK) {
      uint32_t now = id_elapsed_ms(s);
      int knocked = now < step.at_ms ? id_listen(s, step.at_ms - now) : 0;
      if (knocked == 0) {
        knocked = id_knock(s, step.family, step.until_ms, &burst);
      }
      if (knocked < 0) {
        run->found.outcome = ID_FAILED;
        run->found.query = "a wait for a board's bootloader";
        run->baud = step.baud;
        return;
      }
      if (knocked == 0) {
        continue;  // nothing came: nothing to ask further
      }
    }
    // Asked now, the device answers at once if it is there: the family
    // whose answer the burst was, if any.
    id_found once;
    int family = burst.n > 0 ? id_burst_family(&burst, &once) : -1;
    id_found found;
    id_ask_certain(s, family >= 0 ? family : step.family, &found);
    if (family >= 0 && found.outcome == ID_SILENT) {
      // It answered the knock, after it and with nothing before it, and
      // no more: a bootloader that left at the next byte it did not
      // understand (one that waited behind the knock in its UART).
      found = once;
      found.outcome = ID_FOUND;
      found.once = 1;
      found.what = "a board's bootloader";
      found.role = ID_BOOTLOADER;
    }
    if (burst.n > 0) {
      id_burst_unasked(s, &burst, &found);
      // It heard the knock only a while after it went out: it was not
      // reading then, as a board that restarted when the port opened.
      found.late = burst.came_ms - burst.sent_ms > ID_DEAF_MS;
      if (found.outcome != ID_FOUND && found.outcome != ID_ECHO &&
          found.outcome != ID_FAILED && !id_is_text(burst.bytes, burst.n) &&
          run->other.n_other == 0) {
        id_other(&run->other, burst.bytes, burst.n);
        run->other_baud = step.baud;
      }
    }
    if (found.outcome == ID_FOUND && found.role == ID_EITHER && found.late) {
      id_stk500v1_board(&found);
    }
    if (found.outcome == ID_OTHER && run->other.n_other == 0) {
      run->other = found;
      run->other_baud = step.baud;
    }
    if (found.outcome == ID_FOUND || found.outcome == ID_ECHO ||
        found.outcome == ID_FAILED) {
      run->found = found;
      run->baud = step.baud;
      return;
    }
  }
}

}  // namespace

void id_plan_port(id_session *s, id_run_result *run) {
  id_run(s, id_port_plan, sizeof id_port_plan / sizeof id_port_plan[0], run);
  if (run->found.outcome == ID_SILENT && run->other.n_other > 0) {
    id_run_result more;
    id_run(s, id_evidence_plan,
           sizeof id_evidence_plan / sizeof id_evidence_plan[0], &more);
    if (more.found.outcome != ID_SILENT) {
      *run = more;
    }
  }
}

int id_plan_restarts(id_session *s, int32_t baud) {
  // A device that restarts is in its start-up when the port has just
  // opened, and loses a query then; it answers one after that, once it
  // reads. A programmer answers at once.
  const id_step at_once[] = {
      {ID_REOPEN, 0, 0, 0, 0},
      {ID_ASK, baud, ID_V1, 0, 0},
  };
  const id_step after[] = {
      {ID_KNOCK, baud, ID_V1, ID_STARTUP_MS, ID_DEAF_MAX_MS},
  };
  id_run_result run;
  id_run(s, at_once, sizeof at_once / sizeof at_once[0], &run);
  if (run.found.outcome == ID_FAILED) {
    return -1;
  }
  if (run.found.outcome == ID_FOUND) {
    return 0;
  }
  id_run(s, after, sizeof after / sizeof after[0], &run);
  if (run.found.outcome == ID_FAILED) {
    return -1;
  }
  return run.found.outcome == ID_FOUND;
}

void id_plan_program(id_session *s, int32_t boot_baud, id_run_result *run) {
  // A bootloader leaves when it has heard no command for its window
  // (optiboot: 1 s); what its program prints meanwhile comes unasked.
  id_rate(s, boot_baud);
  if (id_listen(s, ID_BOARD_MS) < 0) {
    memset(run, 0, sizeof *run);
    run->found.outcome = ID_FAILED;
    run->found.query = "the wait for the board's program";
    run->baud = boot_baud;
    return;
  }
  s->opened_ms = serial_clock_ms();
  id_run(s, id_program_plan, sizeof id_program_plan / sizeof id_program_plan[0],
         run);
}
