// portvet-sim: plays a serial device on the master side of a pseudo-terminal
// so that portvet, opening the slave side, can be tested end to end.
#ifndef PORTVET_SIM_H
#define PORTVET_SIM_H

#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "sim_board.h"
#include "sim_line.h"
#include "sim_pty.h"

// Personalities, as bits for the knob table.
enum {
  SIM_STK500 = 1,
  SIM_AVR910 = 2,
  SIM_ECHO = 4,
  SIM_NOISE = 8,
  SIM_STK500V2 = 16,
  SIM_AVR109 = 32,
  SIM_SERIALUPDI = 64,
  SIM_JTAG2UPDI = 128,
  SIM_STK = SIM_STK500 | SIM_STK500V2,        // knobs of both STK500 dialects
  SIM_910 = SIM_AVR910 | SIM_AVR109,          // knobs of AVR910 and AVR109
  SIM_UPDI = SIM_SERIALUPDI | SIM_JTAG2UPDI,  // a UPDI chip behind them
  SIM_DEVICES = SIM_STK | SIM_910 | SIM_ECHO | SIM_UPDI,
};

// The knobs of every personality; unused ones keep their defaults.
struct sim_knobs {
  long baud;  // the device's UART rate; 0: the tool's own
  // The line and how replies travel (every personality but noise).
  long pace;            // 1: bytes take their time at each side's rate
  long host;            // what hands the tool its bytes: LINE_HOST_*
  long host_size;       // UART: FIFO trigger (0: Linux's); USB: packet size
  long usb_latency_ms;  // USB: the latency timer
  long usb_packet;      // --usb-packet as given; -1: not given
  long fifo_trigger;    // --fifo-trigger as given; -1: not given
  long chunk;           // bytes per piece of a reply; 0: one piece
  long gap_ms;          // pause between two pieces
  long pause_after;     // byte index of a reply after which to pause; -1: none
  long pause_ms;        // that pause
  long stuck;           // 1: never read what the tool sends (a stuck line)
  long trailing;        // junk bytes sent after every reply (echo: every pass)
  char left[4];         // framing another program left the line in ("7E2")
  // A board's bootloader (sim_board.h; stk500, stk500v2, avr910, avr109)
  long reset;        // 1: restarts when a program opens the port
  long deaf_ms;      // after a restart, reads nothing for this long
  long window_ms;    // leaves this long after its last command; 0: never
  long foreign_max;  // leaves at the Nth byte of no command; 0: never
  char print[64];    // what its program prints now and then; "": nothing
  size_t print_len;
  long print_baud;      // at this rate; 0: the device's
  long print_every_ms;  // this often
  long signature;       // the chip's three signature bytes (0x1E950F)
  // stk500
  long hw, sw_major, sw_minor;
  char id[64];
  size_t id_len;
  long signon_end;     // eighth byte of the sign-on reply
  long nosync_signon;  // first n sign-ons answered out of sync
  long nosync_sync;    // likewise get-sync
  long nosync_param;   // likewise get-parameter
  long nosync_bytes;   // 0x15 bytes in one out-of-sync reply
  long nosync_fill;    // the bytes after the first 0x15 of such a reply
  long fail_param;     // parameter answered with status 0x11; -1: none
  long always;         // answer every command with this byte; -1: off
  long silent_after;   // commands answered before going silent; -1: never
  long hangup_after;   // commands answered before hanging up; -1: never
  long hangup_at_ms;   // hangs up this long after a program opened it; -1
  // avr910
  char sw[3], hwv[3];
  long type;
  long garbage_first;  // first n queries answered with garbage
  long bad_sum_first;  // stk500v2: first n answers framed with a wrong sum
  long short_first;    // then n queries answered one byte short
  long fault_cmd;      // the query these faults hit; 0: any
  long unknown;        // reply to an unknown command; -1: none
  long block;          // avr109: block size ('b'); 0: no block support
  // echo
  long corrupt;     // position in each 256-byte pass whose byte is flipped
  long flip;        // xor mask for the corrupted byte
  long drop;        // position in each pass whose byte is not echoed
  long fault_pass;  // the pass (0 first) corrupt and drop hit; -1: every one
  long stop_after_passes;
  long hangup_after_passes;
  long xonxoff;     // 1: 0x11 and 0x13 taken as flow control, not echoed
  long seven_bits;  // 1: bit 7 of every echoed byte cleared
  long twice;       // 1: every byte echoed twice
  // serialupdi, jtag2updi
  long target;        // 1: a UPDI chip on the wire; 0: nothing
  long echo;          // serialupdi: 1: the adapter's echo comes back
  long double_break;  // 1: the chip hears nothing before two breaks
  long weak;          // every Nth byte the tool sends crosses flipped
  long updi_rev;      // the UPDI revision in STATUSA
  long lose_first;    // jtag2updi: the first N messages dropped
};

// What a personality does with the bytes that came.
enum sim_action { SIM_GO_ON, SIM_HANG_UP };

// The line settings the tool set.
struct sim_settings {
  long baud;      // as the slave side set it; 0 when not a standard rate
  char frame[4];  // "8N1" and the like
};

// A UPDI chip's link (serialupdi).
struct sim_updi {
  int started;
  int listening;         // 0: in its error state, or off, until a break
  long breaks;           // breaks in a row (a chip that wants two)
  long sent;             // bytes the tool sent (a weak line)
  uint32_t rate;         // the rate of the last SYNC
  unsigned char cs[16];  // control/status registers
  unsigned char frame[40];
  size_t len;    // the instruction being collected, SYNC first
  long repeat;   // REPEAT: times the next LD or ST runs
  uint32_t ptr;  // the pointer of LD and ST
  size_t store;  // data bytes still to come for STS or ST
  size_t unit;   // a data element's size
};

struct sim_state {
  unsigned char frame[300];  // stk500: the command being collected
  size_t len;
  long counts[256];     // commands seen, by command byte
  long answered;        // commands answered
  long foreign;         // bytes taken as no command of its own (sim_board.h)
  long position;        // echo: bytes seen
  sim_settings logged;  // echo: the line settings last logged
  sim_updi updi;        // serialupdi
  long baud;            // the rate the device switched to; 0: --baud
  long replies;         // jtag2updi: answers sent
  long messages;        // jtag2updi: whole messages heard
};

// The device's UART rate now: what it switched to, --baud, or the tool's.
static inline uint32_t sim_device_rate(const sim_knobs *k, const sim_state *s,
                                       uint32_t tool_rate) {
  return s->baud != 0   ? (uint32_t)s->baud
         : k->baud != 0 ? (uint32_t)k->baud
                        : tool_rate;
}

// Byte i (0 first) of the chip's signature.
static inline unsigned char sim_signature(const sim_knobs *k, int i) {
  return (unsigned char)(k->signature >> (8 * (2 - i)));
}

// Each returns the reply to write in out/out_len (up to 1024 bytes).
sim_action sim_stk500(const sim_knobs *k, sim_state *s,
                      const sim_settings *line, unsigned char byte,
                      unsigned char *out, size_t *out_len);
sim_action sim_avr910(const sim_knobs *k, sim_state *s,
                      const sim_settings *line, unsigned char byte,
                      unsigned char *out, size_t *out_len);
sim_action sim_stk500v2(const sim_knobs *k, sim_state *s,
                        const sim_settings *line, unsigned char byte,
                        unsigned char *out, size_t *out_len);
sim_action sim_serialupdi(const sim_knobs *k, sim_state *s,
                          const sim_settings *line, unsigned char byte,
                          unsigned char *out, size_t *out_len);
sim_action sim_jtag2updi(const sim_knobs *k, sim_state *s,
                         const sim_settings *line, unsigned char byte,
                         unsigned char *out, size_t *out_len);
sim_action sim_echo(const sim_knobs *k, sim_state *s, const unsigned char *in,
                    size_t in_len, unsigned char *out, size_t *out_len);

// Reads the command line: the personality, --link PATH and the knobs.
// Returns -1 to go on, else the exit status (after --help or --manual, or
// after saying what is wrong).
int sim_parse(int argc, char **argv, sim_knobs *k, int *personality,
              const char **link);

// The line settings the tool set on the slave side, as the master sees
// them (Linux).
void sim_read_settings(int master, sim_settings *line);

// Leaves the line in a framing such as "7E2", as another program may have.
void sim_leave_framing(int slave, const char *framing);

// A stuck line: fills what the tool writes into until it takes no more.
// Stops early once *stop is set.
void sim_fill(int slave, const volatile sig_atomic_t *stop);

// Writes a log line "<who> <bytes> @<baud> <frame>" to stdout, each byte in
// hex and, when printable, as a character beside it: "53(S)".
void sim_log(const char *who, const unsigned char *bytes, size_t len,
             const sim_settings *line);

#endif
