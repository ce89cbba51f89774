#include "vt_port.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <math.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

#include "../../sim/sim.h"
#include "../../src/serial/serial_native.h"
#include "../../src/serial/serial_time.h"

namespace {

const uint64_t kStartNs = 1000000000;  // the clock starts at 1 s

struct Vt {
  const VtLine *cfg = nullptr;
  uint64_t now = kStartNs;
  // The pty the tool opens as COM1: the model writes what the host hands
  // over into its master side and reads there what the tool wrote; its
  // own slave descriptor keeps the line alive between the tool's opens and
  // shows the line's settings; inotify says when the tool opens the port.
  int master = -1;
  int slave = -1;
  int opened = -1;
  bool interrupted = false;            // the last poll ended in EINTR
  uint32_t rate = 0;                   // the tool's
  std::unique_ptr<line_wire> to_dev;   // from the tool to the device
  std::unique_ptr<line_wire> to_tool;  // from the far end to the tool
  line_host host;
  uint64_t delivered = 0;  // bytes the port handed the program
  std::vector<int> rates;  // every rate the tool set
  bool hung = false;       // the device hung up
  // The loopback.
  double tx_burst = 0;    // the tool's transmitter: its burst's start
  uint64_t tx_index = 0;  // and the next frame's place in it
  uint64_t tx_free = 0;   // when the transmitter is idle
  uint64_t given = 0;     // bytes the tool sent since open
  uint64_t hold = 0;      // the far end sends nothing before this
  uint64_t stall_at = 0;  // the tool stops then; 0: not yet known
  bool stalled = false;   // and has stopped
  uint64_t received = 0;  // bytes the host took from the line
  // The device.
  bool device = false;
  const VtLine *parsed = nullptr;  // the line whose device the knobs are
  int personality = 0;
  sim_knobs knobs;
  sim_state state;
  sim_board board;
  long sent = 0;  // bytes of the current reply sent (echo: of all passes)
  int opens = 0;  // COM1 opened since VtUse
};

Vt vt;

bool Hit(int kind, uint64_t index) {
  const VtLine *c = vt.cfg;
  return c->fault == kind && index == (uint64_t)c->pass * 256 + c->position;
}

uint32_t DeviceRate() {
  return vt.knobs.baud != 0 ? (uint32_t)vt.knobs.baud : vt.rate;
}

// A reply of the device onto the line toward the tool, from at_ns on, in
// pieces and with pauses where the knobs say (as sim_main.cpp does).
void DeviceReply(const unsigned char *out, size_t len, uint64_t at_ns) {
  const sim_knobs *k = &vt.knobs;
  uint32_t tx = k->pace ? DeviceRate() : 0;
  for (size_t i = 0; i < len; i++) {
    line_send(vt.to_tool.get(), out[i], tx, at_ns > vt.hold ? at_ns : vt.hold);
    long n = ++vt.sent;
    long wait_ms = 0;
    if (k->pause_after >= 0 && (n - 1) % 256 == k->pause_after) {
      wait_ms += k->pause_ms;
    }
    if (k->chunk > 0 && n % k->chunk == 0) {
      wait_ms += k->gap_ms;
    }
    if (wait_ms > 0) {
      vt.hold =
          line_busy_until(vt.to_tool.get()) + (uint64_t)wait_ms * 1000000u;
    }
  }
}

// The device hangs up, as the simulator does when it ends: the pty goes
// away, and the tool's port with it.
void HangUp() {
  vt.hung = true;
  close(vt.master);
  close(vt.slave);
  vt.master = -1;
  vt.slave = -1;
}

// The device's UART took a byte: its personality answers, through the
// board's rules.
void DeviceHears(const line_byte &got) {
  static unsigned char out[1024 * 8];
  size_t len = 0;
  sim_settings line = {(long)vt.rate, "8N1"};
  sim_action action = SIM_GO_ON;
  if (vt.personality == SIM_ECHO) {
    action = sim_echo(&vt.knobs, &vt.state, &got.byte, 1, out, &len);
  } else {
    long foreign = vt.state.foreign;
    action =
        vt.personality == SIM_STK500
            ? sim_stk500(&vt.knobs, &vt.state, &line, got.byte, out, &len)
        : vt.personality == SIM_STK500V2
            ? sim_stk500v2(&vt.knobs, &vt.state, &line, got.byte, out, &len)
            : sim_avr910(&vt.knobs, &vt.state, &line, got.byte, out, &len);
    if (sim_board_took(&vt.board, &vt.knobs, vt.state.foreign - foreign,
                       got.at_ns)) {
      len = 0;
    }
    if (len > 0) {
      memset(out + len, 0x5A, (size_t)vt.knobs.trailing);
      len += (size_t)vt.knobs.trailing;
      vt.sent = 0;  // pieces and pauses count from each reply
    }
  }
  if (action == SIM_HANG_UP) {
    HangUp();
    return;
  }
  DeviceReply(out, len, got.at_ns);
}

// The board moves on to at_ns: what its receiver kept goes to the firmware
// when it starts to read; its program prints.
void BoardTo(uint64_t at_ns) {
  line_byte held[SIM_BOARD_HELD];
  size_t n = sim_board_tick(&vt.board, &vt.knobs, at_ns, held);
  for (size_t i = 0; i < n && !vt.hung; i++) {
    DeviceHears(held[i]);
  }
  unsigned char text[64];
  uint32_t rate = 0;
  size_t printed = sim_board_print(&vt.board, &vt.knobs, at_ns, text, &rate);
  for (size_t i = 0; i < printed; i++) {
    line_send(vt.to_tool.get(), text[i], vt.knobs.pace ? rate : 0, at_ns);
  }
}

uint64_t NextEvent() {
  uint64_t e = line_next_ns(vt.to_tool.get(), vt.rate);
  uint64_t due = line_host_due(&vt.host);
  e = due < e ? due : e;
  if (vt.device) {
    uint64_t d = line_next_ns(vt.to_dev.get(), DeviceRate());
    e = d < e ? d : e;
    d = sim_board_next_ns(&vt.board, &vt.knobs);
    e = d < e ? d : e;
  }
  return e;
}

// The host hands bytes over: they reach the tool's port.
void HandOver(const unsigned char *out, uint32_t n) {
  if (vt.master < 0 || n == 0) {
    return;
  }
  ssize_t w = write(vt.master, out, n);
  vt.delivered += w > 0 ? (uint64_t)w : 0;
}

// Moves the model on to time until: bytes reach the device and the tool's
// UART, the host hands them to the port.
void Advance(uint64_t until) {
  while (!vt.hung) {
    uint64_t to_dev =
        vt.device ? line_next_ns(vt.to_dev.get(), DeviceRate()) : UINT64_MAX;
    uint64_t board =
        vt.device ? sim_board_next_ns(&vt.board, &vt.knobs) : UINT64_MAX;
    uint64_t to_tool = line_next_ns(vt.to_tool.get(), vt.rate);
    uint64_t due = line_host_due(&vt.host);
    uint64_t e = to_dev < to_tool ? to_dev : to_tool;
    e = due < e ? due : e;
    e = board < e ? board : e;
    if (e > until) {
      return;
    }
    unsigned char out[LINE_PACKET];
    line_byte got;
    if (board == e) {
      BoardTo(e);
    } else if (due == e) {
      HandOver(out, line_host_take(&vt.host, due, out));
    } else if (to_dev == e) {
      if (line_take(vt.to_dev.get(), DeviceRate(), e, &got, 1) == 1) {
        BoardTo(got.at_ns);
        if (sim_board_hear(&vt.board, &got)) {
          DeviceHears(got);
        }
      }
    } else if (line_take(vt.to_tool.get(), vt.rate, e, &got, 1) == 1) {
      if (!line_host_put(&vt.host, &got, vt.rate)) {
        HandOver(out, line_host_take(&vt.host, got.at_ns, out));
        line_host_put(&vt.host, &got, vt.rate);
      }
      if (!vt.device && Hit(VT_STALL, vt.received) && vt.stall_at == 0) {
        vt.stall_at = got.at_ns;
      }
      vt.received++;
    }
  }
}

// The tool's UART sends each byte back to back after the one before, or
// now. A device hears it at its own rate; a loopback hands it back on the
// same frame (a wire), unless a fault drops or holds it.
void Give(const unsigned char *buf, size_t n) {
  if (vt.device) {
    uint32_t tx = vt.knobs.pace ? vt.rate : 0;
    for (size_t k = 0; k < n; k++) {
      line_send(vt.to_dev.get(), buf[k], tx, vt.now);
    }
    return;
  }
  double bit_ns = 1e9 / vt.rate;
  for (size_t k = 0; k < n; k++) {
    if (vt.now >= vt.tx_free) {
      vt.tx_burst = (double)vt.now;
      vt.tx_index = 0;
    }
    double start = vt.tx_burst + (double)vt.tx_index * 10 * bit_ns;
    vt.tx_index++;
    vt.tx_free =
        (uint64_t)ceil(vt.tx_burst + (double)vt.tx_index * 10 * bit_ns);
    uint64_t index = vt.given++;
    if (Hit(VT_DROP, index)) {
      continue;
    }
    uint64_t at = (uint64_t)ceil(start);
    line_send(vt.to_tool.get(), buf[k], vt.rate, at > vt.hold ? at : vt.hold);
    if (Hit(VT_PAUSE, index)) {
      vt.hold =
          line_busy_until(vt.to_tool.get()) + (uint64_t)vt.cfg->ms * 1000000;
    }
  }
}

// The device's knobs from its command line, as portvet-sim reads them.
bool VtDevice(const std::vector<std::string> &args) {
  std::vector<std::string> all = {"portvet-sim"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : all) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const char *link = nullptr;
  return sim_parse((int)all.size(), argv.data(), &vt.knobs, &vt.personality,
                   &link) < 0;
}

void Drop(int fd) {
  unsigned char junk[4096];
  while (read(fd, junk, sizeof junk) > 0) {
  }
}

// The tool opened the port: a new line, a board that restarts; nothing of
// the last open is left in the port.
void Opened() {
  vt.opens++;
  line_init(vt.to_tool.get());
  line_init(vt.to_dev.get());
  int host = vt.cfg->host;
  uint32_t size = vt.cfg->host_size;
  uint32_t latency = vt.cfg->latency_ms;
  vt.device = !vt.cfg->device.empty();
  if (vt.device) {
    if (vt.parsed != vt.cfg) {
      // A device new to the line: as it was before any program opened it.
      if (!VtDevice(vt.cfg->device)) {
        ADD_FAILURE() << "the device's knobs";
      }
      vt.parsed = vt.cfg;
      sim_board_init(&vt.board, &vt.knobs, vt.now);
    }
    // A board restarts as the port opens.
    sim_board_open(&vt.board, &vt.knobs, vt.now);
    memset(&vt.state, 0, sizeof vt.state);
    host = (int)vt.knobs.host;
    size = (uint32_t)vt.knobs.host_size;
    latency = (uint32_t)vt.knobs.usb_latency_ms;
  }
  vt.to_tool->resync = host == LINE_HOST_UART;
  line_host_init(&vt.host, host, size, latency);
  vt.delivered = 0;
  vt.rates.clear();
  vt.rate = 0;
  vt.tx_free = 0;
  vt.given = 0;
  vt.hold = 0;
  vt.stall_at = 0;
  vt.stalled = false;
  vt.received = 0;
  vt.sent = 0;
  // Everything the master holds was written before this open: each
  // serial_write reads the clock, and so comes here, before it writes.
  Drop(vt.master);
  tcflush(vt.slave, TCIFLUSH);
  // A stuck line takes nothing the tool writes (its output stays stopped
  // through the tool's settings).
  tcflow(vt.slave, vt.device && vt.knobs.stuck ? TCOOFF : TCOON);
  // The open returns only now: the model noticed it at the tool's first
  // look at the clock after it, with the board's restart at its start.
  if (vt.cfg->open_ms > 0) {
    uint64_t at = vt.now + (uint64_t)vt.cfg->open_ms * 1000000;
    Advance(at);
    vt.now = at;
  }
}

// Catches up with what the tool did since the model last looked, at the
// same instant: its opens, the rate it set, the bytes it wrote.
void Sync() {
  if (vt.master < 0) {
    return;
  }
  alignas(inotify_event) char events[1024];
  ssize_t n;
  while ((n = read(vt.opened, events, sizeof events)) > 0) {
    for (char *p = events; p < events + n;) {
      const inotify_event *e = (const inotify_event *)p;
      if ((e->mask & IN_OPEN) != 0) {
        Opened();
      }
      p += sizeof *e + e->len;
    }
  }
  int32_t rate = serial_actual_baud(vt.slave);
  if (rate > 0 && (uint32_t)rate != vt.rate) {
    vt.rate = (uint32_t)rate;
    vt.rates.push_back(rate);
  }
  // A read of the master moves on what the kernel still holds of the
  // tool's writes first, so this takes every byte written so far.
  unsigned char buf[4096];
  ssize_t r;
  while ((r = read(vt.master, buf, sizeof buf)) > 0) {
    Give(buf, (size_t)r);
  }
}

void ClosePty() {
  if (vt.master >= 0) close(vt.master);
  if (vt.slave >= 0) close(vt.slave);
  if (vt.opened >= 0) close(vt.opened);
  vt.master = vt.slave = vt.opened = -1;
}

bool OpenPty() {
  vt.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  char path[128];
  if (vt.master < 0 || grantpt(vt.master) != 0 || unlockpt(vt.master) != 0 ||
      ptsname_r(vt.master, path, sizeof path) != 0) {
    return false;
  }
  vt.slave = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  vt.opened = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (vt.slave < 0 || vt.opened < 0 ||
      inotify_add_watch(vt.opened, path, IN_OPEN) < 0) {
    return false;
  }
  setenv("PORTVET_COM1", path, 1);
  return true;
}

}  // namespace

// The personalities log what they heard; nobody reads it here.
void sim_log(const char *, const unsigned char *, size_t,
             const sim_settings *) {}

void VtUse(const VtLine *line) {
  ClosePty();
  // No other port opens; COM1 while no line is in use neither.
  for (int i = 1; i <= 9; i++) {
    setenv(("PORTVET_COM" + std::to_string(i)).c_str(),
           "/nonexistent/portvet-vt", 1);
  }
  vt.cfg = line;
  vt.parsed = nullptr;
  vt.opens = 0;
  vt.hung = false;
  if (!vt.to_tool) {
    vt.to_tool.reset(new line_wire);
    vt.to_dev.reset(new line_wire);
  }
  if (line != nullptr && !OpenPty()) {
    ADD_FAILURE() << "no pty: " << strerror(errno);
    ClosePty();
  }
}

int VtOpens(void) { return vt.opens; }

uint64_t VtDelivered(void) { return vt.delivered; }

std::vector<int> VtRates(void) { return vt.rates; }

// The clock: the model's.
uint64_t serial_now_ns(void) {
  Sync();
  return vt.now;
}

// poll(): the clock runs to the first event that makes the port ready, or
// to the timeout; and past the tool's stall, when the wait would end in
// it. What the port is, the kernel says: the tool's descriptor is the real
// one, polled without waiting.
int serial_poll_one(struct pollfd *pfd, int timeout_ms) {
  Sync();
  uint64_t ms = timeout_ms < 0 ? UINT64_MAX / 1000000 : (uint64_t)timeout_ms;
  if (vt.cfg != nullptr && vt.cfg->eintr && !vt.interrupted) {
    // A signal comes a millisecond into the wait, or half way.
    vt.interrupted = true;
    uint64_t at = vt.now + (ms >= 2 ? 1000000 : ms * 500000);
    Advance(at);
    vt.now = at;
    errno = EINTR;
    return -1;
  }
  vt.interrupted = false;
  uint64_t until = vt.now + ms * 1000000;
  int ready;
  while ((ready = poll(pfd, 1, 0)) == 0 && vt.now < until && !vt.hung) {
    uint64_t e = NextEvent();
    e = e < until ? e : until;
    e = e > vt.now ? e : vt.now;
    Advance(e);
    vt.now = e;
  }
  if (vt.stall_at != 0 && !vt.stalled && vt.now >= vt.stall_at) {
    vt.stalled = true;
    uint64_t resume = vt.stall_at + (uint64_t)vt.cfg->ms * 1000000;
    if (resume > vt.now) {
      Advance(resume);
      vt.now = resume;
    }
    ready = poll(pfd, 1, 0);
  }
  return ready;
}

// What stands behind the port: what the line says the system says.
void ports_host_of(const char *, ports_host *host) {
  ports_host none = {PORTS_HOST_UNKNOWN, 0, 0};
  *host = vt.cfg != nullptr ? vt.cfg->told : none;
}
