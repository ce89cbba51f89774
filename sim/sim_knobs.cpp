// The simulator's knobs: their table, the text of --help and of the manual
// page portvet-sim(1), their defaults, and the command line that sets them.
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sim.h"

static const struct {
  const char *name;
  int bit;
} sim_personalities[] = {
    {"stk500", SIM_STK500},
    {"avr910", SIM_AVR910},
    {"stk500v2", SIM_STK500V2},
    {"avr109", SIM_AVR109},
    {"echo", SIM_ECHO},
    {"noise", SIM_NOISE},
    {"serialupdi", SIM_SERIALUPDI},
    {"jtag2updi", SIM_JTAG2UPDI},
};

// How a knob's value is read.
enum sim_kind {
  SIM_NUMBER,  // decimal, or hex with 0x
  SIM_TEXT,    // up to 63 characters
  SIM_CHAR,    // one character, stored as its code
  SIM_DIGITS,  // exactly two characters
  SIM_FRAME,   // data bits, parity, stop bits: "8N1", "7E2"
  SIM_HOST,    // a name from sim_hosts
  SIM_LINE,    // up to 63 characters, \r and \n as escapes: a printed line
};

// What hands the tool the bytes its port received, by name.
static const struct {
  const char *name;
  int kind;
  long size;
  long latency_ms;
} sim_hosts[] = {
    {"direct", LINE_HOST_DIRECT, 0, 0}, {"uart", LINE_HOST_UART, 0, 0},
    {"uart14", LINE_HOST_UART, 14, 0},  {"ftdi", LINE_HOST_USB, 62, 16},
    {"ftdi-low", LINE_HOST_USB, 62, 1}, {"ch340", LINE_HOST_USB, 32, 1},
};

struct sim_knob_def {
  const char *name;
  int personalities;
  sim_kind kind;
  size_t offset;
  const char *help;  // what it does, with its unit
};

#define SIM_AT(field) offsetof(sim_knobs, field)

static const sim_knob_def sim_knob_defs[] = {
    {"baud", SIM_DEVICES, SIM_NUMBER, SIM_AT(baud),
     "the device's UART rate, in baud: the tool at another rate hears and "
     "sends garbage; 0: the tool's own rate, as a loopback wire has "
     "(stk500, stk500v2: 115200; avr910, avr109: 19200; jtag2updi: 19200 "
     "until a host sets another; echo, serialupdi: 0)"},
    {"pace", SIM_DEVICES, SIM_NUMBER, SIM_AT(pace),
     "1 (default): every byte takes ten bit times on the line at its "
     "sender's rate; 0: an ideal line, with no time and no rate (--baud "
     "then does nothing), for a test that needs one"},
    {"host", SIM_DEVICES, SIM_HOST, SIM_AT(host),
     "what hands the tool the bytes its port received: uart (default), a "
     "PC's UART (16550) under Linux: its FIFO passes them on at 8 bytes (1 "
     "below 2400 baud) or when none has come for four character times, and "
     "it reads a wrong-rate burst as a 16550 does; uart14, the same with "
     "Windows' trigger of 14 bytes; ftdi, a USB bridge at its defaults "
     "(62-byte packets, a 16 ms latency timer); ftdi-low, the same set to "
     "low latency (1 ms); ch340 (32 bytes, 1 ms); direct, every byte as it "
     "comes (no FIFO: kinder than any PC)"},
    {"fifo-trigger", SIM_DEVICES, SIM_NUMBER, SIM_AT(fifo_trigger),
     "a UART host's FIFO trigger level, 1 to 16 bytes; 0: as Linux sets it"},
    {"usb-packet", SIM_DEVICES, SIM_NUMBER, SIM_AT(usb_packet),
     "a USB bridge that hands received bytes to the computer in packets of "
     "up to N bytes (FTDI: 62, CH340: 32), instead of --host"},
    {"usb-latency", SIM_DEVICES, SIM_NUMBER, SIM_AT(usb_latency_ms),
     "the bridge sends a packet that has not filled up this many ms after "
     "its first byte (FTDI: 16 by default, 1 where the driver sets low "
     "latency; CH340: 1)"},
    {"chunk", SIM_DEVICES, SIM_NUMBER, SIM_AT(chunk),
     "the device sends in pieces of N bytes, as firmware that writes its "
     "replies in blocks (echo: a loopback through such a relay); 0: whole"},
    {"gap", SIM_DEVICES, SIM_NUMBER, SIM_AT(gap_ms),
     "pause between two pieces, in ms"},
    {"pause-after", SIM_DEVICES, SIM_NUMBER, SIM_AT(pause_after),
     "pause after this byte of each reply (0 = first; echo: of each 256-byte "
     "pass); -1: never"},
    {"pause", SIM_DEVICES, SIM_NUMBER, SIM_AT(pause_ms), "that pause, in ms"},
    {"stuck", SIM_DEVICES, SIM_NUMBER, SIM_AT(stuck),
     "1: take no byte from the tool, so that its writes run into their "
     "timeout"},
    {"trailing", SIM_DEVICES, SIM_NUMBER, SIM_AT(trailing),
     "junk bytes (0x5A) after every reply (echo: after every 256-byte pass), "
     "0 to 64"},
    {"left-framing", SIM_DEVICES, SIM_FRAME, SIM_AT(left),
     "start the line in this framing, as another program may leave it: "
     "data bits 5-8, parity N/E/O, stop bits 1-2, e.g. 7E2"},
    {"reset", SIM_STK | SIM_910, SIM_NUMBER, SIM_AT(reset),
     "1: a board's bootloader: the device restarts whenever a program opens "
     "the port (DTR), and before the first open runs its program"},
    {"deaf", SIM_STK | SIM_910, SIM_NUMBER, SIM_AT(deaf_ms),
     "after a restart the firmware reads nothing for this long, in ms: the "
     "first 65 ms (all of them, if fewer) the chip is held in reset and its "
     "UART takes nothing; after that the UART keeps two bytes and the "
     "last one, as an AVR's does, for the firmware to find (optiboot "
     "blinking its LED: 440)"},
    {"window", SIM_STK | SIM_910, SIM_NUMBER, SIM_AT(window_ms),
     "once it reads, the device leaves for its program this long, in ms, "
     "after the last byte it heard (optiboot: 1000); 0: never"},
    {"foreign", SIM_STK | SIM_910, SIM_NUMBER, SIM_AT(foreign_max),
     "it leaves for its program at the Nth byte it cannot take as a "
     "command (optiboot: 1, ATmegaBOOT: 5); 0: never. Once it left, or "
     "with --reset 1, it answers nothing it does not understand"},
    {"print", SIM_STK | SIM_910, SIM_LINE, SIM_AT(print),
     "its program prints this line (\\r and \\n as escapes) when it starts "
     "and every --print-every ms; default: a silent program"},
    {"print-baud", SIM_STK | SIM_910, SIM_NUMBER, SIM_AT(print_baud),
     "the rate its program prints at, in baud; 0: the device's"},
    {"print-every", SIM_STK | SIM_910, SIM_NUMBER, SIM_AT(print_every_ms),
     "how often its program prints, in ms (default 1000)"},
    {"signature", SIM_STK | SIM_910 | SIM_UPDI, SIM_NUMBER, SIM_AT(signature),
     "the chip's signature, three bytes, first byte first (default "
     "0x1E950F, an ATmega328P; serialupdi: 0x1E9221, an ATtiny416): what a "
     "signature read answers"},
    {"hw-version", SIM_STK, SIM_NUMBER, SIM_AT(hw),
     "parameter 0x80 (stk500v2: 0x90), a byte (default 0x02)"},
    {"sw-major", SIM_STK, SIM_NUMBER, SIM_AT(sw_major),
     "parameter 0x81 (stk500v2: 0x91), a byte (default 0x01; stk500v2: "
     "0x02)"},
    {"sw-minor", SIM_STK, SIM_NUMBER, SIM_AT(sw_minor),
     "parameter 0x82 (stk500v2: 0x92), a byte (default 0x12; stk500v2: "
     "0x0A)"},
    {"id", SIM_STK | SIM_910 | SIM_SERIALUPDI, SIM_TEXT, SIM_AT(id),
     "identifier (default \"AVR STK\", \"STK500_2\", \"AVR ISP\" or "
     "\"AVRBOOT\"); serialupdi: the chip's System Information Block "
     "(default \"tinyAVR P:0D:1-3M2 (01.59B14.0)\")"},
    {"signon-end", SIM_STK500, SIM_NUMBER, SIM_AT(signon_end),
     "last byte of the sign-on reply (default 0x10)"},
    {"nosync-signon", SIM_STK500, SIM_NUMBER, SIM_AT(nosync_signon),
     "answer the first N sign-ons out of sync"},
    {"nosync-sync", SIM_STK500, SIM_NUMBER, SIM_AT(nosync_sync),
     "answer the first N get-syncs out of sync"},
    {"nosync-param", SIM_STK500, SIM_NUMBER, SIM_AT(nosync_param),
     "answer the first N parameter reads out of sync"},
    {"nosync-bytes", SIM_STK500, SIM_NUMBER, SIM_AT(nosync_bytes),
     "0x15 bytes in one out-of-sync reply (default 1)"},
    {"nosync-fill", SIM_STK500, SIM_NUMBER, SIM_AT(nosync_fill),
     "the bytes after the first of an out-of-sync reply (default 0x15)"},
    {"fail-param", SIM_STK500, SIM_NUMBER, SIM_AT(fail_param),
     "answer this parameter with status 0x11; -1: none"},
    {"always", SIM_STK500, SIM_NUMBER, SIM_AT(always),
     "answer every command with this one byte; -1: off"},
    {"silent-after", SIM_STK | SIM_910, SIM_NUMBER, SIM_AT(silent_after),
     "answer N commands, then none; -1: never silent"},
    {"hangup-after", SIM_STK | SIM_910, SIM_NUMBER, SIM_AT(hangup_after),
     "answer N commands, then hang up at the next; -1: never"},
    {"sw-digits", SIM_910, SIM_DIGITS, SIM_AT(sw),
     "software version, two characters (default 38)"},
    {"hangup-at", SIM_DEVICES, SIM_NUMBER, SIM_AT(hangup_at_ms),
     "hang up this many ms after a program opened the port (an adapter "
     "unplugged then); -1: never"},
    {"hw-digits", SIM_910, SIM_DIGITS, SIM_AT(hwv),
     "hardware version, two characters (default 10)"},
    {"type", SIM_910, SIM_CHAR, SIM_AT(type),
     "programmer type, one character (default S)"},
    {"bad-sum-first", SIM_STK500V2 | SIM_JTAG2UPDI, SIM_NUMBER,
     SIM_AT(bad_sum_first),
     "frame the first N answers with a wrong checksum (jtag2updi: CRC)"},
    {"garbage-first", SIM_910, SIM_NUMBER, SIM_AT(garbage_first),
     "answer the first N queries with 0xA5 bytes"},
    {"short-first", SIM_910, SIM_NUMBER, SIM_AT(short_first),
     "then answer N queries one byte short"},
    {"fault-cmd", SIM_910, SIM_CHAR, SIM_AT(fault_cmd),
     "the query (S, V, v or p) those faults hit; default: any"},
    {"unknown", SIM_910, SIM_NUMBER, SIM_AT(unknown),
     "reply byte to an unknown command (default '?'); -1: none"},
    {"block", SIM_910, SIM_NUMBER, SIM_AT(block),
     "block size 'b' reports, bytes (avr109: 128); 0: no 'b' (avr910)"},
    {"corrupt", SIM_ECHO, SIM_NUMBER, SIM_AT(corrupt),
     "flip the byte at this position of each 256-byte pass; -1: none"},
    {"flip", SIM_ECHO, SIM_NUMBER, SIM_AT(flip),
     "xor mask for the corrupted byte (default 1)"},
    {"drop", SIM_ECHO, SIM_NUMBER, SIM_AT(drop),
     "do not echo the byte at this position of each pass; -1: none"},
    {"fault-pass", SIM_ECHO, SIM_NUMBER, SIM_AT(fault_pass),
     "the pass (0: the first) in which --corrupt and --drop hit; -1: every "
     "pass"},
    {"stop-after-passes", SIM_ECHO, SIM_NUMBER, SIM_AT(stop_after_passes),
     "echo N passes, then nothing; -1: never stop"},
    {"hangup-after-passes", SIM_ECHO, SIM_NUMBER, SIM_AT(hangup_after_passes),
     "echo N passes, then hang up; -1: never"},
    {"xonxoff", SIM_ECHO, SIM_NUMBER, SIM_AT(xonxoff),
     "1: the loop runs through something with XON/XOFF flow control, which "
     "takes 0x11 and 0x13 and passes every other byte"},
    {"seven-bits", SIM_ECHO, SIM_NUMBER, SIM_AT(seven_bits),
     "1: the loop carries seven data bits: bit 7 of every byte comes back "
     "clear"},
    {"twice", SIM_ECHO, SIM_NUMBER, SIM_AT(twice),
     "1: every byte comes back twice (an echo on top of the loopback)"},
    {"target", SIM_UPDI, SIM_NUMBER, SIM_AT(target),
     "1 (default): a UPDI chip on the adapter's wire; 0: nothing attached"},
    {"echo", SIM_SERIALUPDI, SIM_NUMBER, SIM_AT(echo),
     "1 (default): every byte the tool sends comes back first; 0: nothing "
     "comes back (an RX LED that loads the line)"},
    {"double-break", SIM_SERIALUPDI, SIM_NUMBER, SIM_AT(double_break),
     "1: the chip hears nothing until two breaks came in a row"},
    {"weak", SIM_SERIALUPDI, SIM_NUMBER, SIM_AT(weak),
     "a weak line: every Nth byte the tool sends crosses with its lowest "
     "bit flipped; 0: never"},
    {"lose-first", SIM_JTAG2UPDI, SIM_NUMBER, SIM_AT(lose_first),
     "drop the first N messages unanswered, as a parser whose start byte "
     "line garbage took drops the message after it"},
    {"updi-rev", SIM_SERIALUPDI, SIM_NUMBER, SIM_AT(updi_rev),
     "the UPDI revision STATUSA holds in its high nibble (default 3)"},
};

// The names of the personalities in mask, "stk500, avr910"; out holds 64.
static void sim_personality_list(int mask, char *out) {
  out[0] = '\0';
  for (const auto &p : sim_personalities) {
    if (mask & p.bit) {
      if (out[0] != '\0') {
        strcat(out, ", ");
      }
      strcat(out, p.name);
    }
  }
}

static void sim_usage(FILE *to) {
  fprintf(to,
          "usage: portvet-sim "
          "stk500|stk500v2|avr910|avr109|echo|noise|serialupdi|jtag2updi "
          "[--link PATH] "
          "[--KNOB VALUE]...\n"
          "Plays a serial device on a pseudo-terminal: prints the path of "
          "its slave side,\n"
          "links it to PATH, and logs every command it receives with the "
          "line settings.\n"
          "noise sends 32 random bytes every millisecond and takes no "
          "knob.\n\n");
  for (const sim_knob_def &d : sim_knob_defs) {
    char personalities[64];
    sim_personality_list(d.personalities, personalities);
    fprintf(to, "  --%-20s [%s]\n      %s\n", d.name, personalities, d.help);
  }
}

// The manual page portvet-sim(1), made from the same table.
static void sim_manual(void) {
  printf(
      ".TH PORTVET-SIM 1 \"December 2026\" \"portvet\" \"User Commands\"\n"
      ".SH NAME\n"
      "portvet-sim \\- play a serial device on a pseudo-terminal\n"
      ".SH SYNOPSIS\n"
      ".B portvet-sim\n"
      ".BR stk500 | stk500v2 | avr910 | avr109 | echo | noise | serialupdi\n"
      ".RB [ \\-\\-link\n"
      ".IR PATH ]\n"
      ".RB [ \\-\\-\\fIKNOB\\fP\n"
      ".IR VALUE ]...\n"
      ".SH DESCRIPTION\n"
      "Opens a pseudo-terminal, prints the path of its slave side on the "
      "first line of standard output (and links it to\n"
      ".I PATH\n"
      "with\n"
      ".BR \\-\\-link ),\n"
      "then plays the device on the master side until it is ended: an "
      "STK500 programmer, an AVR910 programmer, a TXD\\-RXD loopback, a "
      "SerialUPDI adapter with or without a UPDI chip, jtag2updi, or "
      "noise (32 random bytes every millisecond).\n"
      "Each later line logs a command the device received, every byte in "
      "hex with printable ones beside it (53(S)), and the line settings "
      "the tool set: @\\fIbaud\\fP and the framing, e.g. 8N1.\n"
      ".SH KNOBS\n"
      "Numbers are decimal, or hexadecimal after 0x. Each knob is for the "
      "personalities in brackets.\n");
  for (const sim_knob_def &d : sim_knob_defs) {
    printf(".TP\n.BI \\-\\-");
    for (const char *c = d.name; *c != '\0'; c++) {
      if (*c == '-') {
        fputs("\\-", stdout);
      } else {
        putchar(*c);
      }
    }
    char personalities[64];
    sim_personality_list(d.personalities, personalities);
    printf(" \" VALUE\"\n[%s] ", personalities);
    for (const char *c = d.help; *c != '\0'; c++) {
      if (*c == '\\') {
        fputs("\\e", stdout);  // a backslash, as groff writes it
      } else {
        putchar(*c);
      }
    }
    putchar('\n');
  }
  printf(".SH \"SEE ALSO\"\n.BR portvet (1)\n");
}

static void sim_defaults(sim_knobs *k, int personality) {
  memset(k, 0, sizeof *k);
  k->baud = personality == SIM_STK500 || personality == SIM_STK500V2 ? 115200
            : personality == SIM_JTAG2UPDI                           ? 19200
            : personality == SIM_AVR910 || personality == SIM_AVR109 ? 19200
                                                                     : 0;
  k->pace = 1;
  k->host = LINE_HOST_UART;
  k->usb_latency_ms = -1;
  k->usb_packet = -1;
  k->fifo_trigger = -1;
  k->pause_after = -1;
  k->signature = 0x1E950F;
  k->hw = 0x02;
  k->sw_major = 0x01;
  k->sw_minor = 0x12;
  strcpy(k->id, personality == SIM_AVR910     ? "AVR ISP"
                : personality == SIM_AVR109   ? "AVRBOOT"
                : personality == SIM_STK500V2 ? "STK500_2"
                                              : "AVR STK");
  k->id_len = strlen(k->id);
  k->signon_end = 0x10;
  k->nosync_bytes = 1;
  k->nosync_fill = 0x15;
  k->fail_param = -1;
  k->always = -1;
  k->silent_after = -1;
  k->hangup_after = -1;
  k->hangup_at_ms = -1;
  if (personality == SIM_STK500V2) {
    k->sw_major = 0x02;
    k->sw_minor = 0x0A;
  }
  strcpy(k->sw, personality == SIM_AVR109 ? "10" : "38");
  k->block = personality == SIM_AVR109 ? 128 : 0;
  strcpy(k->hwv, "10");
  k->type = 'S';
  k->unknown = '?';
  k->corrupt = -1;
  k->flip = 1;
  k->drop = -1;
  k->fault_pass = -1;
  k->stop_after_passes = -1;
  k->hangup_after_passes = -1;
  k->target = 1;
  k->echo = 1;
  k->updi_rev = 3;
  if (personality & SIM_UPDI) {
    k->signature = 0x1E9221;
    strcpy(k->id, "tinyAVR P:0D:1-3M2 (01.59B14.0)");
    k->id_len = strlen(k->id);
  }
}

// Sets a knob. Returns 0 after printing what is wrong.
static int sim_knob(sim_knobs *k, int personality, const char *pname,
                    const char *name, const char *value) {
  for (const sim_knob_def &d : sim_knob_defs) {
    if (strcmp(name, d.name) != 0) {
      continue;
    }
    if ((d.personalities & personality) == 0) {
      fprintf(stderr, "portvet-sim: %s has no knob --%s\n", pname, name);
      return 0;
    }
    char *field = (char *)k + d.offset;
    size_t len = strlen(value);
    switch (d.kind) {
      case SIM_NUMBER: {
        char *end = NULL;
        long v = strtol(value, &end, 0);
        if (len == 0 || *end != '\0') {
          fprintf(stderr, "portvet-sim: --%s wants a number, not '%s'\n", name,
                  value);
          return 0;
        }
        *(long *)(void *)field = v;
        return 1;
      }
      case SIM_TEXT:
        if (len >= sizeof k->id) {
          fprintf(stderr, "portvet-sim: --%s: at most %zu characters\n", name,
                  sizeof k->id - 1);
          return 0;
        }
        memcpy(k->id, value, len);
        k->id_len = len;
        return 1;
      case SIM_CHAR:
        if (len != 1) {
          fprintf(stderr, "portvet-sim: --%s wants one character, not '%s'\n",
                  name, value);
          return 0;
        }
        *(long *)(void *)field = (unsigned char)value[0];
        return 1;
      case SIM_FRAME:
        if (len != 3 || value[0] < '5' || value[0] > '8' ||
            strchr("NEO", value[1]) == NULL || value[2] < '1' ||
            value[2] > '2') {
          fprintf(stderr,
                  "portvet-sim: --%s wants a framing like 7E2, not '%s'\n",
                  name, value);
          return 0;
        }
        memcpy(field, value, 4);
        return 1;
      case SIM_HOST:
        for (const auto &h : sim_hosts) {
          if (strcmp(value, h.name) == 0) {
            k->host = h.kind;
            k->host_size = h.size;
            if (k->usb_latency_ms < 0 || h.kind == LINE_HOST_USB) {
              k->usb_latency_ms = h.latency_ms;
            }
            return 1;
          }
        }
        fprintf(stderr,
                "portvet-sim: --%s is uart, uart14, ftdi, ftdi-low, ch340 or "
                "direct, not '%s'\n",
                name, value);
        return 0;
      case SIM_LINE: {
        size_t n = 0;
        for (const char *c = value; *c != '\0'; c++) {
          char ch = *c;
          if (ch == '\\' && (c[1] == 'r' || c[1] == 'n' || c[1] == '\\')) {
            c++;
            ch = *c == 'r' ? '\r' : *c == 'n' ? '\n' : '\\';
          }
          if (n + 1 >= sizeof k->print) {
            fprintf(stderr, "portvet-sim: --%s: at most %zu characters\n", name,
                    sizeof k->print - 1);
            return 0;
          }
          k->print[n++] = ch;
        }
        k->print_len = n;
        return 1;
      }
      case SIM_DIGITS:
        if (len != 2) {
          fprintf(stderr, "portvet-sim: --%s wants two characters, not '%s'\n",
                  name, value);
          return 0;
        }
        memcpy(field, value, 3);
        return 1;
    }
  }
  fprintf(stderr,
          "portvet-sim: unknown knob --%s (portvet-sim --help lists them)\n",
          name);
  return 0;
}

int sim_parse(int argc, char **argv, sim_knobs *k, int *personality,
              const char **link) {
  if (argc >= 2 &&
      (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    sim_usage(stdout);
    return 0;
  }
  if (argc >= 2 && strcmp(argv[1], "--manual") == 0) {
    sim_manual();
    return 0;
  }
  *personality = 0;
  for (const auto &p : sim_personalities) {
    if (argc >= 2 && strcmp(argv[1], p.name) == 0) {
      *personality = p.bit;
    }
  }
  if (*personality == 0) {
    if (argc >= 2) {
      fprintf(stderr,
              "portvet-sim: unknown personality '%s' (stk500, stk500v2, "
              "avr910, avr109, echo, noise, serialupdi or jtag2updi)\n",
              argv[1]);
    } else {
      sim_usage(stderr);
    }
    return 2;
  }
  const char *pname = argv[1];
  sim_defaults(k, *personality);
  *link = NULL;
  for (int i = 2; i < argc; i += 2) {
    if (strncmp(argv[i], "--", 2) != 0) {
      fprintf(stderr, "portvet-sim: '%s' is no knob (knobs start with --)\n",
              argv[i]);
      return 2;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "portvet-sim: %s wants a value\n", argv[i]);
      return 2;
    }
    if (strcmp(argv[i], "--link") == 0) {
      *link = argv[i + 1];
    } else if (!sim_knob(k, *personality, pname, argv[i] + 2, argv[i + 1])) {
      return 2;
    }
  }
  if (k->trailing < 0 || k->trailing > 64) {
    fprintf(stderr, "portvet-sim: --trailing is 0 to 64\n");
    return 2;
  }
  if (k->usb_packet == 0 || k->usb_packet > LINE_PACKET ||
      k->usb_latency_ms < -1 || k->fifo_trigger > 16) {
    fprintf(stderr,
            "portvet-sim: --usb-packet is 1 to %d, --usb-latency 0 or more, "
            "--fifo-trigger 0 to 16\n",
            (int)LINE_PACKET);
    return 2;
  }
  // The knobs of a host override its name's defaults.
  if (k->usb_packet > 0) {
    k->host = LINE_HOST_USB;
    k->host_size = k->usb_packet;
  }
  if (k->fifo_trigger >= 0) {
    k->host = LINE_HOST_UART;
    k->host_size = k->fifo_trigger;
  }
  if (k->usb_latency_ms < 0) {
    k->usb_latency_ms = 16;
  }
  if (k->baud < 0) {
    fprintf(stderr, "portvet-sim: --baud is 0 or more\n");
    return 2;
  }
  if (k->deaf_ms < 0 || k->window_ms < 0 || k->foreign_max < 0 ||
      k->print_baud < 0 || k->print_every_ms < 0) {
    fprintf(stderr,
            "portvet-sim: --deaf, --window, --foreign, --print-baud and "
            "--print-every are 0 or more\n");
    return 2;
  }
  return -1;
}
