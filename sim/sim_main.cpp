// portvet-sim PERSONALITY [--link PATH] [--KNOB VALUE ...]
//
// Opens a pseudo-terminal, prints the path of its slave side on the first
// line of standard output (and symlinks it to PATH with --link), then plays
// the device on the master side until killed. Later lines log what the
// device was sent, for tests to read.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "sim.h"

static volatile sig_atomic_t sim_stop = 0;

static void sim_on_signal(int) { sim_stop = 1; }

// Personalities, as bits for the knob table.
enum {
  SIM_STK500 = 1,
  SIM_AVR910 = 2,
  SIM_ECHO = 4,
  SIM_NOISE = 8,
  SIM_DEVICES = SIM_STK500 | SIM_AVR910 | SIM_ECHO,
};

static const struct {
  const char *name;
  int bit;
} sim_personalities[] = {
    {"stk500", SIM_STK500},
    {"avr910", SIM_AVR910},
    {"echo", SIM_ECHO},
    {"noise", SIM_NOISE},
};

// How a knob's value is read.
enum sim_kind {
  SIM_NUMBER,  // decimal, or hex with 0x
  SIM_TEXT,    // up to 63 characters
  SIM_CHAR,    // one character, stored as its code
  SIM_DIGITS,  // exactly two characters
  SIM_FRAME,   // data bits, parity, stop bits: "8N1", "7E2"
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
     "answer only at this rate, in baud; 0: any (stk500: 115200, avr910: "
     "19200, echo: 0)"},
    {"pace", SIM_DEVICES, SIM_NUMBER, SIM_AT(pace),
     "1: send each byte after ten bit times at the rate the tool set"},
    {"chunk", SIM_DEVICES, SIM_NUMBER, SIM_AT(chunk),
     "send replies in pieces of this many bytes; 0: whole"},
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
    {"hw-version", SIM_STK500, SIM_NUMBER, SIM_AT(hw),
     "parameter 0x80, a byte (default 0x02)"},
    {"sw-major", SIM_STK500, SIM_NUMBER, SIM_AT(sw_major),
     "parameter 0x81, a byte (default 0x01)"},
    {"sw-minor", SIM_STK500, SIM_NUMBER, SIM_AT(sw_minor),
     "parameter 0x82, a byte (default 0x12)"},
    {"id", SIM_STK500 | SIM_AVR910, SIM_TEXT, SIM_AT(id),
     "identifier (default \"AVR STK\" or \"AVR ISP\")"},
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
    {"fail-param", SIM_STK500, SIM_NUMBER, SIM_AT(fail_param),
     "answer this parameter with status 0x11; -1: none"},
    {"always", SIM_STK500, SIM_NUMBER, SIM_AT(always),
     "answer every command with this one byte; -1: off"},
    {"silent-after", SIM_STK500 | SIM_AVR910, SIM_NUMBER, SIM_AT(silent_after),
     "answer N commands, then none; -1: never silent"},
    {"hangup-after", SIM_STK500 | SIM_AVR910, SIM_NUMBER, SIM_AT(hangup_after),
     "answer N commands, then hang up at the next; -1: never"},
    {"sw-digits", SIM_AVR910, SIM_DIGITS, SIM_AT(sw),
     "software version, two characters (default 38)"},
    {"hw-digits", SIM_AVR910, SIM_DIGITS, SIM_AT(hwv),
     "hardware version, two characters (default 10)"},
    {"type", SIM_AVR910, SIM_CHAR, SIM_AT(type),
     "programmer type, one character (default S)"},
    {"garbage-first", SIM_AVR910, SIM_NUMBER, SIM_AT(garbage_first),
     "answer the first N queries with 0xA5 bytes"},
    {"short-first", SIM_AVR910, SIM_NUMBER, SIM_AT(short_first),
     "then answer N queries one byte short"},
    {"fault-cmd", SIM_AVR910, SIM_CHAR, SIM_AT(fault_cmd),
     "the query (S, V, v or p) those faults hit; default: any"},
    {"unknown", SIM_AVR910, SIM_NUMBER, SIM_AT(unknown),
     "reply byte to an unknown command (default '?'); -1: none"},
    {"corrupt", SIM_ECHO, SIM_NUMBER, SIM_AT(corrupt),
     "flip the byte at this position of each 256-byte pass; -1: none"},
    {"flip", SIM_ECHO, SIM_NUMBER, SIM_AT(flip),
     "xor mask for the corrupted byte (default 1)"},
    {"drop", SIM_ECHO, SIM_NUMBER, SIM_AT(drop),
     "do not echo the byte at this position of each pass; -1: none"},
    {"stop-after-passes", SIM_ECHO, SIM_NUMBER, SIM_AT(stop_after_passes),
     "echo N passes, then nothing; -1: never stop"},
    {"hangup-after-passes", SIM_ECHO, SIM_NUMBER, SIM_AT(hangup_after_passes),
     "echo N passes, then hang up; -1: never"},
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
          "usage: portvet-sim stk500|avr910|echo|noise [--link PATH] "
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
      ".BR stk500 | avr910 | echo | noise\n"
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
      "STK500 programmer, an AVR910 programmer, a TXD\\-RXD loopback, or "
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
    printf(" \" VALUE\"\n[%s] %s\n", personalities, d.help);
  }
  printf(".SH \"SEE ALSO\"\n.BR portvet (1)\n");
}

static void sim_defaults(sim_knobs *k, int personality) {
  memset(k, 0, sizeof *k);
  k->baud = personality == SIM_STK500   ? 115200
            : personality == SIM_AVR910 ? 19200
                                        : 0;
  k->pause_after = -1;
  k->hw = 0x02;
  k->sw_major = 0x01;
  k->sw_minor = 0x12;
  strcpy(k->id, personality == SIM_AVR910 ? "AVR ISP" : "AVR STK");
  k->id_len = 7;
  k->signon_end = 0x10;
  k->nosync_bytes = 1;
  k->fail_param = -1;
  k->always = -1;
  k->silent_after = -1;
  k->hangup_after = -1;
  strcpy(k->sw, "38");
  strcpy(k->hwv, "10");
  k->type = 'S';
  k->unknown = '?';
  k->corrupt = -1;
  k->flip = 1;
  k->drop = -1;
  k->stop_after_passes = -1;
  k->hangup_after_passes = -1;
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

static long sim_rate(speed_t speed) {
  static const struct {
    speed_t speed;
    long baud;
  } rates[] = {{B600, 600},      {B1200, 1200},   {B2400, 2400},
               {B4800, 4800},    {B9600, 9600},   {B19200, 19200},
               {B38400, 38400},  {B57600, 57600}, {B115200, 115200},
               {B230400, 230400}};
  for (const auto &r : rates) {
    if (r.speed == speed) {
      return r.baud;
    }
  }
  return 0;
}

// On Linux the master side reports the line settings of the slave side.
static void sim_read_line(int master, sim_line *line) {
  struct termios tio;
  line->baud = 0;
  strcpy(line->frame, "?");
  if (tcgetattr(master, &tio) != 0) {
    return;
  }
  line->baud = sim_rate(cfgetospeed(&tio));
  if (line->baud == 0) {
    line->baud = sim_custom_baud(master);
  }
  int bits = (tio.c_cflag & CSIZE) == CS8   ? 8
             : (tio.c_cflag & CSIZE) == CS7 ? 7
             : (tio.c_cflag & CSIZE) == CS6 ? 6
                                            : 5;
  char parity = (tio.c_cflag & PARENB) == 0 ? 'N'
                : (tio.c_cflag & PARODD)    ? 'O'
                                            : 'E';
  snprintf(line->frame, sizeof line->frame, "%d%c%d", bits, parity,
           (tio.c_cflag & CSTOPB) ? 2 : 1);
}

void sim_log(const char *who, const unsigned char *bytes, size_t len,
             const sim_line *line) {
  printf("%s", who);
  for (size_t i = 0; i < len; i++) {
    if (bytes[i] > 0x20 && bytes[i] < 0x7F) {
      printf(" %02x(%c)", bytes[i], bytes[i]);
    } else {
      printf(" %02x", bytes[i]);
    }
  }
  printf(" @%ld %s\n", line->baud, line->frame);
  fflush(stdout);
}

static int sim_write_all(int fd, const unsigned char *buf, size_t len) {
  while (len > 0) {
    ssize_t w = write(fd, buf, len);
    if (w < 0) {
      if (errno == EINTR || errno == EAGAIN) {
        continue;
      }
      return 0;
    }
    buf += w;
    len -= (size_t)w;
  }
  return 1;
}

static void sim_sleep_until(struct timespec *at) {
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, at, NULL) == EINTR) {
  }
}

static void sim_advance(struct timespec *at, long ns) {
  at->tv_nsec += ns;
  at->tv_sec += at->tv_nsec / 1000000000L;
  at->tv_nsec %= 1000000000L;
}

// Sends a reply as the knobs say it travels. *sent counts the bytes sent so
// far in this reply (echo: on the line), for the pause and the pieces.
// Bytes between two waits go out in one write, so that no scheduling
// hiccup of the simulator splits them. Returns 0 when a write failed.
static int sim_send(int master, const sim_knobs *k, const sim_line *line,
                    const unsigned char *out, size_t len, long *sent) {
  long byte_ns = k->pace && line->baud > 0 ? 10L * 1000000000L / line->baud : 0;
  struct timespec at;
  clock_gettime(CLOCK_MONOTONIC, &at);
  size_t from = 0;
  for (size_t i = 0; i < len; i++) {
    long n = ++*sent;
    long wait_ms = 0;
    if (k->pause_after >= 0 && (n - 1) % 256 == k->pause_after) {
      wait_ms += k->pause_ms;
    }
    if (k->chunk > 0 && n % k->chunk == 0) {
      wait_ms += k->gap_ms;
    }
    if (byte_ns > 0) {
      sim_advance(&at, byte_ns);  // the byte is on the wire this long
      sim_sleep_until(&at);
    }
    if (byte_ns == 0 && wait_ms == 0 && i + 1 < len) {
      continue;
    }
    if (!sim_write_all(master, out + from, i + 1 - from)) {
      return 0;
    }
    from = i + 1;
    if (wait_ms > 0) {
      clock_gettime(CLOCK_MONOTONIC, &at);
      sim_advance(&at, wait_ms * 1000000L);
      sim_sleep_until(&at);
    }
  }
  return 1;
}

// A stuck line: fills what the tool writes into until it takes no more,
// through the simulator's own hold on the slave side, and never reads it.
// Raw for the filling only: with output processing on, a pty refuses more
// input sooner than without, and the tool writes raw.
static void sim_fill(int slave) {
  struct termios saved;
  struct termios raw;
  tcgetattr(slave, &saved);
  raw = saved;
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  int flags = fcntl(slave, F_GETFL);
  fcntl(slave, F_SETFL, flags | O_NONBLOCK);
  static const unsigned char junk[256] = {0};
  // The kernel moves what was written on to the master side's line
  // discipline in the background, which frees room again: the line is full
  // only once it has taken nothing for a while.
  for (int quiet = 0; quiet < 10 && !sim_stop;) {
    if (write(slave, junk, sizeof junk) > 0) {
      quiet = 0;
    } else if (errno == EAGAIN) {
      quiet++;
      usleep(10000);
    } else if (errno != EINTR) {
      break;
    }
  }
  fcntl(slave, F_SETFL, flags);
  tcsetattr(slave, TCSANOW, &saved);
}

// Leaves the line in a framing such as "7E2", as another program may have.
static void sim_leave_framing(int slave, const char *framing) {
  static const tcflag_t sizes[4] = {CS5, CS6, CS7, CS8};
  struct termios tio;
  if (tcgetattr(slave, &tio) != 0) {
    return;
  }
  tio.c_cflag &= ~(tcflag_t)(CSIZE | PARENB | PARODD | CSTOPB);
  tio.c_cflag |= sizes[framing[0] - '5'];
  if (framing[1] != 'N') {
    tio.c_cflag |= PARENB | (framing[1] == 'O' ? PARODD : 0);
  }
  if (framing[2] == '2') {
    tio.c_cflag |= CSTOPB;
  }
  tcsetattr(slave, TCSANOW, &tio);
}

// The noise personality: 32 pseudo-random bytes (xorshift) every
// millisecond, whatever the tool sends.
static void sim_noise(int master, uint32_t *seed) {
  unsigned char out[32];
  for (unsigned char &b : out) {
    *seed ^= *seed << 13;
    *seed ^= *seed >> 17;
    *seed ^= *seed << 5;
    b = (unsigned char)*seed;
  }
  if (write(master, out, sizeof out) < 0) {
    return;  // a full buffer: the noise is lost, as on a wire
  }
}

int main(int argc, char **argv) {
  if (argc >= 2 &&
      (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    sim_usage(stdout);
    return 0;
  }
  if (argc >= 2 && strcmp(argv[1], "--manual") == 0) {
    sim_manual();
    return 0;
  }
  int personality = 0;
  for (const auto &p : sim_personalities) {
    if (argc >= 2 && strcmp(argv[1], p.name) == 0) {
      personality = p.bit;
    }
  }
  if (personality == 0) {
    if (argc >= 2) {
      fprintf(stderr,
              "portvet-sim: unknown personality '%s' (stk500, avr910, echo "
              "or noise)\n",
              argv[1]);
    } else {
      sim_usage(stderr);
    }
    return 2;
  }
  const char *pname = argv[1];
  sim_knobs knobs;
  sim_defaults(&knobs, personality);
  const char *link = NULL;
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
      link = argv[i + 1];
    } else if (!sim_knob(&knobs, personality, pname, argv[i] + 2,
                         argv[i + 1])) {
      return 2;
    }
  }
  if (knobs.trailing < 0 || knobs.trailing > 64) {
    fprintf(stderr, "portvet-sim: --trailing is 0 to 64\n");
    return 2;
  }

  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    perror("portvet-sim: pty");
    return 1;
  }
  const char *slave_path = ptsname(master);
  // Hold the slave side open, so the master does not see a hang-up between
  // two runs of the tool. The line stays in its default (cooked) settings
  // until the tool sets it up: a tool that forgets raw mode shows it.
  int slave = open(slave_path, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    perror("portvet-sim: slave");
    return 1;
  }
  if (link != NULL) {
    unlink(link);
    if (symlink(slave_path, link) != 0) {
      perror("portvet-sim: link");
      return 1;
    }
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = sim_on_signal;
  sigaction(SIGTERM, &sa, NULL);
  sigaction(SIGINT, &sa, NULL);
  if (knobs.left[0] != '\0') {
    sim_leave_framing(slave, knobs.left);
  }
  if (knobs.stuck) {
    sim_fill(slave);
  }
  printf("%s\n", slave_path);
  fflush(stdout);

  sim_state state;
  memset(&state, 0, sizeof state);
  int status = 0;
  int noise = personality == SIM_NOISE;
  if (noise) {
    // Never block on a tool that stops reading: surplus noise is dropped.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  }
  uint32_t seed = 0x9E3779B9u;
  long echoed = 0;  // echo: bytes sent back, for the pause and the pieces
  while (!sim_stop && !knobs.stuck) {
    struct pollfd pfd = {master, POLLIN, 0};
    if (noise) {
      sim_noise(master, &seed);
    }
    if (poll(&pfd, 1, noise ? 1 : -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      status = 1;
      break;
    }
    if (noise && (pfd.revents & POLLIN) == 0) {
      continue;
    }
    unsigned char in[4096];
    ssize_t n = read(master, in, sizeof in);
    if (noise && n > 0) {
      continue;  // noise does not listen
    }
    if (n <= 0) {
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        continue;
      }
      status = 1;
      break;
    }
    sim_line line;
    sim_read_line(master, &line);
    static unsigned char out[1024 * 8];
    size_t out_len = 0;
    sim_action action = SIM_GO_ON;
    int sent_ok = 1;
    if (personality == SIM_ECHO) {
      if (line.baud != state.logged.baud ||
          strcmp(line.frame, state.logged.frame) != 0) {
        sim_log("echo", NULL, 0, &line);  // the line as the tool set it
        state.logged = line;
      }
      action = sim_echo(&knobs, &state, in, (size_t)n, out, &out_len);
      sent_ok = sim_send(master, &knobs, &line, out, out_len, &echoed);
    } else {
      for (ssize_t i = 0; i < n && action == SIM_GO_ON && sent_ok; i++) {
        action = personality == SIM_STK500
                     ? sim_stk500(&knobs, &state, &line, in[i], out, &out_len)
                     : sim_avr910(&knobs, &state, &line, in[i], out, &out_len);
        if (out_len > 0) {
          memset(out + out_len, 0x5A, (size_t)knobs.trailing);
          out_len += (size_t)knobs.trailing;
        }
        long sent = 0;
        sent_ok = sim_send(master, &knobs, &line, out, out_len, &sent);
      }
    }
    if (!sent_ok) {
      status = 1;
      break;
    }
    if (action == SIM_HANG_UP) {
      printf("hangup\n");
      fflush(stdout);
      break;
    }
  }
  while (!sim_stop && knobs.stuck) {
    pause();  // a stuck line takes nothing until the end
  }
  // Closing the master hangs up every open slave descriptor.
  close(slave);
  close(master);
  if (link != NULL) {
    unlink(link);
  }
  return status;
}
