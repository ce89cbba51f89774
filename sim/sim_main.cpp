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
#include <unistd.h>

#include "sim.h"

static volatile sig_atomic_t sim_stop = 0;

static void sim_on_signal(int) { sim_stop = 1; }

static void sim_usage(void) {
  fprintf(stderr,
          "usage: portvet-sim stk500|avr910|echo|noise [--link PATH]\n"
          "                   [--KNOB N]...\n"
          "  all:    --baud N (answer only at this rate; 0 = any)\n"
          "  stk500: --hw N --sw-major N --sw-minor N --id TEXT\n"
          "          --signon-end N --nosync-signon N --nosync-sync N\n"
          "          --nosync-param N --nosync-bytes N --fail-param ID\n"
          "          --always BYTE --silent-after N --hangup-after N\n"
          "  avr910: --id TEXT --sw DD --hw DD --type CHAR\n"
          "          --garbage-first N --short-first N --fault-cmd CHAR\n"
          "          --unknown BYTE (-1: none) --silent-after N\n"
          "          --hangup-after N\n"
          "  echo:   --corrupt K --flip MASK --drop K --stop-after-passes N\n"
          "          --hangup-after-passes N\n");
}

static void sim_defaults(sim_knobs *k, const char *personality) {
  memset(k, 0, sizeof *k);
  int avr910 = strcmp(personality, "avr910") == 0;
  k->baud = strcmp(personality, "echo") == 0 ? 0 : avr910 ? 19200 : 115200;
  k->hw = 0x02;
  k->sw_major = 0x01;
  k->sw_minor = 0x12;
  strcpy(k->id, avr910 ? "AVR ISP" : "AVR STK");
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

static int sim_knob(sim_knobs *k, const char *name, const char *value) {
  static const struct {
    const char *name;
    size_t offset;
  } numbers[] = {
      {"baud", offsetof(sim_knobs, baud)},
      {"hw", offsetof(sim_knobs, hw)},
      {"sw-major", offsetof(sim_knobs, sw_major)},
      {"sw-minor", offsetof(sim_knobs, sw_minor)},
      {"signon-end", offsetof(sim_knobs, signon_end)},
      {"nosync-signon", offsetof(sim_knobs, nosync_signon)},
      {"nosync-sync", offsetof(sim_knobs, nosync_sync)},
      {"nosync-param", offsetof(sim_knobs, nosync_param)},
      {"nosync-bytes", offsetof(sim_knobs, nosync_bytes)},
      {"fail-param", offsetof(sim_knobs, fail_param)},
      {"always", offsetof(sim_knobs, always)},
      {"silent-after", offsetof(sim_knobs, silent_after)},
      {"hangup-after", offsetof(sim_knobs, hangup_after)},
      {"type", offsetof(sim_knobs, type)},
      {"garbage-first", offsetof(sim_knobs, garbage_first)},
      {"short-first", offsetof(sim_knobs, short_first)},
      {"fault-cmd", offsetof(sim_knobs, fault_cmd)},
      {"unknown", offsetof(sim_knobs, unknown)},
      {"corrupt", offsetof(sim_knobs, corrupt)},
      {"flip", offsetof(sim_knobs, flip)},
      {"drop", offsetof(sim_knobs, drop)},
      {"stop-after-passes", offsetof(sim_knobs, stop_after_passes)},
      {"hangup-after-passes", offsetof(sim_knobs, hangup_after_passes)},
  };
  if (strcmp(name, "id") == 0) {
    k->id_len = strlen(value) < sizeof k->id ? strlen(value) : 0;
    memcpy(k->id, value, k->id_len);
    return 1;
  }
  if (strcmp(name, "sw") == 0 || strcmp(name, "hw") == 0) {
    if (strlen(value) == 2) {  // two characters: the AVR910 digits
      memcpy(name[0] == 's' ? k->sw : k->hwv, value, 3);
      return 1;
    }
  }
  if ((strcmp(name, "type") == 0 || strcmp(name, "fault-cmd") == 0) &&
      strlen(value) == 1) {
    *(name[0] == 't' ? &k->type : &k->fault_cmd) = (unsigned char)value[0];
    return 1;
  }
  for (const auto &n : numbers) {
    if (strcmp(name, n.name) == 0) {
      char *end = NULL;
      long v = strtol(value, &end, 0);
      if (*value == '\0' || *end != '\0') {
        return 0;
      }
      *(long *)((char *)k + n.offset) = v;
      return 1;
    }
  }
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
    printf(" %02x", bytes[i]);
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
  if (argc < 2 ||
      (strcmp(argv[1], "stk500") != 0 && strcmp(argv[1], "avr910") != 0 &&
       strcmp(argv[1], "echo") != 0 && strcmp(argv[1], "noise") != 0)) {
    sim_usage();
    return 2;
  }
  const char *personality = argv[1];
  sim_knobs knobs;
  sim_defaults(&knobs, personality);
  const char *link = NULL;
  for (int i = 2; i < argc; i += 2) {
    if (i + 1 >= argc || strncmp(argv[i], "--", 2) != 0) {
      sim_usage();
      return 2;
    }
    if (strcmp(argv[i], "--link") == 0) {
      link = argv[i + 1];
    } else if (!sim_knob(&knobs, argv[i] + 2, argv[i + 1])) {
      fprintf(stderr, "portvet-sim: bad knob %s %s\n", argv[i], argv[i + 1]);
      return 2;
    }
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
  printf("%s\n", slave_path);
  fflush(stdout);

  sim_state state;
  memset(&state, 0, sizeof state);
  int status = 0;
  int noise = strcmp(personality, "noise") == 0;
  if (noise) {
    // Never block on a tool that stops reading: surplus noise is dropped.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  }
  uint32_t seed = 0x9E3779B9u;
  while (!sim_stop) {
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
    if (strcmp(personality, "echo") == 0) {
      if (line.baud != state.logged.baud ||
          strcmp(line.frame, state.logged.frame) != 0) {
        sim_log("echo", NULL, 0, &line);  // the line as the tool set it
        state.logged = line;
      }
      action = sim_echo(&knobs, &state, in, (size_t)n, out, &out_len);
      if (!sim_write_all(master, out, out_len)) {
        status = 1;
        break;
      }
    } else {
      for (ssize_t i = 0; i < n && action == SIM_GO_ON; i++) {
        action = personality[0] == 's'
                     ? sim_stk500(&knobs, &state, &line, in[i], out, &out_len)
                     : sim_avr910(&knobs, &state, &line, in[i], out, &out_len);
        if (!sim_write_all(master, out, out_len)) {
          status = 1;
          break;
        }
      }
    }
    if (action == SIM_HANG_UP) {
      printf("hangup\n");
      fflush(stdout);
      break;
    }
  }
  // Closing the master hangs up every open slave descriptor.
  close(slave);
  close(master);
  if (link != NULL) {
    unlink(link);
  }
  return status;
}
