// portvet-sim PERSONALITY [--link PATH] [--KNOB VALUE ...]
//
// Opens a pseudo-terminal, prints the path of its slave side on the first
// line of standard output (and symlinks it to PATH with --link), then plays
// the device on the master side until killed. Later lines log what the
// device received, for tests to read.
//
// Between the tool and the device lies the line (sim_line.h), both ways:
// what the tool writes crosses it at the rate the tool set and reaches the
// device's UART at the device's own rate; the device's answers go back the
// same way, through a USB bridge where the knobs put one. The personalities
// see only the bytes their UART received.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/select.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "sim.h"

static volatile sig_atomic_t sim_stop = 0;

static void sim_on_signal(int) { sim_stop = 1; }

// SIGTERM and SIGINT stay blocked but while the simulator waits (pselect,
// sigsuspend): one that comes between a look at sim_stop and the wait
// would otherwise be missed, and the wait never end.
static sigset_t sim_wait_mask;

static uint64_t sim_now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

// Writes what the port takes of the bytes. A port whose program reads
// nothing fills up, and then the rest is lost, as bytes that reach a full
// UART are (an overrun): a line never waits for its receiver. Returns 0
// on a failure.
static int sim_write_all(int fd, const unsigned char *buf, size_t len) {
  while (len > 0) {
    ssize_t w = write(fd, buf, len);
    if (w < 0) {
      if (errno == EINTR && !sim_stop) {
        continue;
      }
      return errno == EAGAIN;
    }
    buf += w;
    len -= (size_t)w;
  }
  return 1;
}

// The noise personality: 32 pseudo-random bytes (xorshift) every
// millisecond, whatever the tool sends, straight onto the pty.
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

// Both directions of the line, and how the device sends.
struct sim_link {
  line_wire to_device;
  line_wire to_tool;
  line_host host;     // between the tool's UART and the tool
  uint64_t hold_ns;   // the device sends nothing before this (pieces, pauses)
  long sent;          // bytes of the current reply sent (echo: of all passes)
  uint64_t late_ns;   // how late the last byte reached the tool
  uint64_t stall_ns;  // the longest stall yet
};

// Writes bytes due at due_ns to the tool. A byte that comes later after its
// time than the byte before came after its own leaves a gap on the line
// that a real line never has: the computer held the simulator up (on a
// virtual machine often for a millisecond or more). The longest such stall
// yet is logged as "stall MS", for tests to tell a stalled rig from a tool
// at fault.
static void sim_stalled(sim_link *l, uint64_t due_ns) {
  uint64_t now = sim_now_ns();
  uint64_t late = now > due_ns ? now - due_ns : 0;
  if (late > l->late_ns + l->stall_ns && late - l->late_ns > 100000) {
    l->stall_ns = late - l->late_ns;
    printf("stall %.3f ms\n", (double)l->stall_ns / 1e6);
    fflush(stdout);
  }
  l->late_ns = late;
}

static int sim_to_tool(int master, sim_link *l, const unsigned char *bytes,
                       size_t len, uint64_t due_ns) {
  sim_stalled(l, due_ns);
  return sim_write_all(master, bytes, len);
}

// Puts a reply of the device on the line toward the tool, from at_ns on, in
// pieces and with pauses where the knobs say.
static void sim_reply(sim_link *l, const sim_knobs *k, uint32_t rate,
                      const unsigned char *out, size_t len, uint64_t at_ns) {
  for (size_t i = 0; i < len; i++) {
    line_send(&l->to_tool, out[i], rate,
              at_ns > l->hold_ns ? at_ns : l->hold_ns);
    long n = ++l->sent;
    long wait_ms = 0;
    if (k->pause_after >= 0 && (n - 1) % 256 == k->pause_after) {
      wait_ms += k->pause_ms;
    }
    if (k->chunk > 0 && n % k->chunk == 0) {
      wait_ms += k->gap_ms;
    }
    if (wait_ms > 0) {
      l->hold_ns = line_busy_until(&l->to_tool) + (uint64_t)wait_ms * 1000000u;
    }
  }
}

// Hands the tool what its UART has received by now, through the host
// (a PC UART's FIFO, a USB bridge). Returns 0 when a write failed.
static int sim_deliver(int master, sim_link *l, uint32_t rate, uint64_t now) {
  line_byte got[256];
  unsigned char out[LINE_PACKET];
  size_t n = 0;
  do {
    n = line_take(&l->to_tool, rate, now, got, 256);
    if (l->host.kind == LINE_HOST_DIRECT && n > 0) {
      // What is due goes out in one write: an ideal line's burst, or what
      // a stall held up, reaches the tool at once.
      unsigned char burst[256];
      for (size_t i = 0; i < n; i++) {
        burst[i] = got[i].byte;
      }
      if (!sim_to_tool(master, l, burst, n, got[0].at_ns)) {
        return 0;
      }
      continue;
    }
    for (size_t i = 0; i < n; i++) {
      // What was gathered before this byte went out when it was due.
      uint64_t due = line_host_due(&l->host);
      if (due <= got[i].at_ns) {
        uint32_t len = line_host_take(&l->host, got[i].at_ns, out);
        if (!sim_to_tool(master, l, out, len, due)) {
          return 0;
        }
      }
      if (!line_host_put(&l->host, &got[i], rate)) {
        // Full at the very moment it came: out it goes, then this byte.
        uint32_t len = line_host_take(&l->host, got[i].at_ns, out);
        if (!sim_to_tool(master, l, out, len, got[i].at_ns)) {
          return 0;
        }
        line_host_put(&l->host, &got[i], rate);
      }
    }
  } while (n == 256);
  uint64_t due = line_host_due(&l->host);
  uint32_t len = line_host_take(&l->host, now, out);
  return len == 0 || sim_to_tool(master, l, out, len, due);
}

// The port is closed (no program holds it) or opened anew: what a loopback
// plug or a cable holds between two opens is nothing. Bytes still on their
// way to the tool are gone (a closed port's UART takes nothing, an open one
// starts empty); the line is idle. Pieces and pauses count afresh, and the
// echo's passes from the first byte the next program sends.
static void sim_emptied(int slave, sim_link *l, sim_state *s) {
  int resync = l->to_tool.resync;
  line_init(&l->to_device);
  line_init(&l->to_tool);
  l->to_tool.resync = resync;
  line_host_init(&l->host, l->host.kind, l->host.size, l->host.latency_ms);
  l->hold_ns = 0;
  l->sent = 0;
  l->late_ns = 0;
  s->position = 0;
  tcflush(slave, TCIFLUSH);
}

// Waits for the tool's bytes, or a program opening the port (opens, -1:
// not watched), until deadline_ns (UINT64_MAX: no deadline). Returns 1 when
// there is either, 0 at the deadline, -1 on a failure.
static int sim_wait(int master, int opens, uint64_t deadline_ns) {
  for (;;) {
    fd_set in;
    FD_ZERO(&in);
    FD_SET(master, &in);
    if (opens >= 0) {
      FD_SET(opens, &in);
    }
    struct timespec wait = {0, 0};
    struct timespec *timeout = NULL;
    uint64_t now = sim_now_ns();
    if (deadline_ns != UINT64_MAX) {
      uint64_t left = deadline_ns > now ? deadline_ns - now : 0;
      wait.tv_sec = (time_t)(left / 1000000000u);
      wait.tv_nsec = (long)(left % 1000000000u);
      timeout = &wait;
    }
    int n = pselect((master > opens ? master : opens) + 1, &in, NULL, NULL,
                    timeout, &sim_wait_mask);
    if (n < 0) {
      return errno == EINTR ? 0 : -1;
    }
    if (n > 0) {
      return 1;
    }
    if (sim_stop || sim_now_ns() >= deadline_ns) {
      return 0;
    }
  }
}

static uint64_t sim_min(uint64_t a, uint64_t b) { return a < b ? a : b; }

// Counts the programs that hold the port open (*holders; opens: an inotify
// descriptor watching the slave side for opens and closes, or -1). Returns
// 1 when the count went to 0 or up from 0 since the last look: the line
// starts empty.
static int sim_holders(int opens, int *holders) {
  int changed = 0;
  alignas(struct inotify_event) char events[4096];
  ssize_t n = 0;
  while (opens >= 0 && (n = read(opens, events, sizeof events)) > 0) {
    for (char *p = events; p < events + n;) {
      const struct inotify_event *e = (const struct inotify_event *)p;
      if ((e->mask & IN_OPEN) != 0) {
        changed |= *holders == 0;
        ++*holders;
      }
      if ((e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0 &&
          *holders > 0) {
        changed |= *holders == 1;
        --*holders;
      }
      p += sizeof *e + e->len;
    }
  }
  return changed;
}

// The device's firmware takes one byte its UART received at at_ns: the
// personality answers, through the board's rules (sim_board.h). Returns
// SIM_HANG_UP when the device hangs up.
static sim_action sim_hear(sim_link *l, const sim_knobs *k, sim_state *s,
                           sim_board *b, const sim_settings *line,
                           int personality, const line_byte *got) {
  static unsigned char out[1024 * 8];
  size_t out_len = 0;
  sim_action action = SIM_GO_ON;
  uint32_t device_rate = sim_device_rate(k, s, (uint32_t)line->baud);
  if (personality == SIM_ECHO) {
    action = sim_echo(k, s, &got->byte, 1, out, &out_len);
  } else if (personality == SIM_SERIALUPDI) {
    action = sim_serialupdi(k, s, line, got->byte, out, &out_len);
  } else if (personality == SIM_JTAG2UPDI) {
    action = sim_jtag2updi(k, s, line, got->byte, out, &out_len);
  } else {
    long foreign = s->foreign;
    action = personality == SIM_STK500
                 ? sim_stk500(k, s, line, got->byte, out, &out_len)
             : personality == SIM_STK500V2
                 ? sim_stk500v2(k, s, line, got->byte, out, &out_len)
                 : sim_avr910(k, s, line, got->byte, out, &out_len);
    if (sim_board_took(b, k, s->foreign - foreign, got->at_ns)) {
      out_len = 0;
    }
    if (out_len > 0) {
      memset(out + out_len, 0x5A, (size_t)k->trailing);
      out_len += (size_t)k->trailing;
      l->sent = 0;  // pieces and pauses count from each reply
    }
  }
  if (action == SIM_HANG_UP) {
    printf("hangup\n");
    fflush(stdout);
    return action;
  }
  sim_reply(l, k, k->pace ? device_rate : 0, out, out_len, got->at_ns);
  return SIM_GO_ON;
}

// Moves the board on to at_ns; the bytes its receiver kept go to the
// firmware when it starts to read. Returns SIM_HANG_UP when the device
// hangs up.
static sim_action sim_board_to(sim_link *l, const sim_knobs *k, sim_state *s,
                               sim_board *b, const sim_settings *line,
                               int personality, uint64_t at_ns) {
  line_byte held[SIM_BOARD_HELD];
  size_t n = sim_board_tick(b, k, at_ns, held);
  for (size_t i = 0; i < n; i++) {
    if (sim_hear(l, k, s, b, line, personality, &held[i]) == SIM_HANG_UP) {
      return SIM_HANG_UP;
    }
  }
  return SIM_GO_ON;
}

// Plays a device (stk500, stk500v2, avr910, avr109, echo) on the master
// side until the end;
// slave is the simulator's own hold on the slave side, opens an inotify
// descriptor that sees programs open it (-1: none). Returns the exit
// status.
static int sim_device(int master, int slave, int opens, int personality,
                      const sim_knobs *k) {
  static sim_link link;  // two wires: too large for the stack
  line_init(&link.to_device);
  line_init(&link.to_tool);
  line_host_init(&link.host, (int)k->host, (uint32_t)k->host_size,
                 (uint32_t)k->usb_latency_ms);
  // A PC's UART reads a wrong-rate burst as a 16550 does.
  link.to_tool.resync = k->host == LINE_HOST_UART;
  link.hold_ns = 0;
  link.sent = 0;
  link.late_ns = 0;
  link.stall_ns = 0;
  sim_state state;
  memset(&state, 0, sizeof state);
  sim_board board;
  sim_board_init(&board, k, sim_now_ns());
  sim_settings line;
  sim_read_settings(master, &line);
  int holders = 0;  // programs that hold the port (not the simulator)
  uint64_t hangup_ns = UINT64_MAX;
  for (;;) {
    // Each side sends at its own rate; a device at rate 0 follows the
    // tool. Unpaced, the line is ideal and has no rate.
    uint32_t tool_rate = (uint32_t)line.baud;
    uint32_t device_rate = sim_device_rate(k, &state, tool_rate);
    uint64_t next = sim_min(line_next_ns(&link.to_device, device_rate),
                            line_next_ns(&link.to_tool, tool_rate));
    next = sim_min(next, line_host_due(&link.host));
    next = sim_min(next, sim_board_next_ns(&board, k));
    next = sim_min(next, hangup_ns);
    int ready = sim_wait(master, opens, next);
    if (sim_stop) {
      // A stall that lasted to the end delivered nothing to show it.
      sim_stalled(&link, next);
      return 0;
    }
    if (ready < 0) {
      return 1;
    }
    uint64_t now = sim_now_ns();
    if (now >= hangup_ns) {
      printf("hangup\n");
      fflush(stdout);
      return 0;
    }
    unsigned char in[4096];
    ssize_t n_in = 0;
    if (ready > 0) {
      n_in = read(master, in, sizeof in);
      if (n_in == 0 || (n_in < 0 && errno != EINTR && errno != EAGAIN)) {
        return 1;
      }
      n_in = n_in < 0 ? 0 : n_in;
    }
    // After the bytes, the opens and closes: a program writes only after
    // its open, and the program before it flushed what it wrote (and
    // closed), so the bytes just read are all the new program's.
    if (sim_holders(opens, &holders)) {
      sim_emptied(slave, &link, &state);
      memset(&state.logged, 0, sizeof state.logged);
      if (holders > 0 && k->hangup_at_ms >= 0 && hangup_ns == UINT64_MAX) {
        hangup_ns = now + (uint64_t)k->hangup_at_ms * 1000000u;
      }
      if (holders > 0 && sim_board_open(&board, k, now)) {
        // A board restarts: its firmware starts from nothing.
        memset(&state, 0, sizeof state);
        printf("reset\n");
        fflush(stdout);
      }
    }
    // The line as the tool set it, read after its bytes: a program sets
    // the line up and then writes, so the bytes just read went out at the
    // rate it has now (read before them, a setup between the two would
    // give the bytes the rate of old).
    sim_read_settings(master, &line);
    tool_rate = (uint32_t)line.baud;
    device_rate = sim_device_rate(k, &state, tool_rate);
    uint32_t tool_tx = k->pace ? tool_rate : 0;
    if (n_in > 0) {
      ssize_t n = n_in;
      if (personality == SIM_ECHO &&
          (line.baud != state.logged.baud ||
           strcmp(line.frame, state.logged.frame) != 0)) {
        sim_log("echo", NULL, 0, &line);  // the line as the tool set it
        state.logged = line;
      }
      for (ssize_t i = 0; i < n && !k->stuck; i++) {
        line_send(&link.to_device, in[i], tool_tx, now);
      }
    }

    // What the device's UART has received by now, byte by byte, each
    // answered when it came (a board's firmware as it reads them).
    line_byte got[256];
    size_t n = 0;
    do {
      n = line_take(&link.to_device, device_rate, now, got, 256);
      for (size_t i = 0; i < n; i++) {
        if (sim_board_to(&link, k, &state, &board, &line, personality,
                         got[i].at_ns) == SIM_HANG_UP ||
            (sim_board_hear(&board, &got[i]) &&
             sim_hear(&link, k, &state, &board, &line, personality, &got[i]) ==
                 SIM_HANG_UP)) {
          return 0;
        }
      }
    } while (n == 256);
    if (sim_board_to(&link, k, &state, &board, &line, personality, now) ==
        SIM_HANG_UP) {
      return 0;
    }
    unsigned char text[64];
    uint32_t text_rate = 0;
    size_t printed = sim_board_print(&board, k, now, text, &text_rate);
    for (size_t i = 0; i < printed; i++) {
      line_send(&link.to_tool, text[i], k->pace ? text_rate : 0, now);
    }

    if (opens >= 0 && holders == 0) {
      // A closed port takes nothing (and a pty that nobody holds would
      // echo what it got back to the line, as its settings say).
      sim_emptied(slave, &link, &state);
    } else if (!sim_deliver(master, &link, tool_rate, now)) {
      return 1;
    }
  }
}

int main(int argc, char **argv) {
  sim_knobs knobs;
  int personality = 0;
  const char *link = NULL;
  int status = sim_parse(argc, argv, &knobs, &personality, &link);
  if (status >= 0) {
    return status;
  }

  // The line stays in its default (cooked) settings until the tool sets it
  // up: a tool that forgets raw mode shows it.
  int slave = -1;
  const char *slave_path = NULL;
  int master = sim_pty_open("portvet-sim", &slave, &slave_path);
  if (master < 0) {
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
  sigset_t ends;
  sigemptyset(&ends);
  sigaddset(&ends, SIGTERM);
  sigaddset(&ends, SIGINT);
  sigprocmask(SIG_BLOCK, &ends, &sim_wait_mask);
  // Writes wait in pselect, where the end can reach them.
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  if (knobs.left[0] != '\0') {
    sim_leave_framing(slave, knobs.left);
  }
  if (knobs.stuck) {
    sim_fill(slave, &sim_stop);
  }
  // Programs that open the port: each starts on an empty line. Watched
  // before the path is out, so that no program opens it unseen.
  int opens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (opens >= 0 &&
      inotify_add_watch(opens, slave_path,
                        IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
    close(opens);
    opens = -1;
  }
  printf("%s\n", slave_path);
  fflush(stdout);

  if (knobs.stuck) {
    while (!sim_stop) {
      sigsuspend(&sim_wait_mask);  // a stuck line takes nothing until the end
    }
  } else if (personality == SIM_NOISE) {
    // The master does not block: surplus noise is dropped.
    uint32_t seed = 0x9E3779B9u;
    while (!sim_stop) {
      sim_noise(master, &seed);
      unsigned char in[4096];
      if (sim_wait(master, -1, sim_now_ns() + 1000000) > 0 &&
          read(master, in, sizeof in) == 0) {
        break;  // noise does not listen
      }
    }
  } else {
    status = sim_device(master, slave, opens, personality, &knobs);
  }
  // Closing the master hangs up every open slave descriptor.
  close(slave);
  close(master);
  if (link != NULL) {
    unlink(link);
  }
  return status < 0 ? 0 : status;
}
