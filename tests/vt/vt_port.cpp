#include "vt_port.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <deque>
#include <memory>

#include "../../sim/sim_line.h"
#include "../../src/serial/serial.h"
#include "../../src/serial/serial_deadline.h"
#include "../../src/serial/serial_interval.h"
#include "../../src/serial/serial_loop.h"

namespace {

const uint64_t kStartNs = 1000000000;  // the clock starts at 1 s

struct Vt {
  const VtLine *cfg = nullptr;
  uint64_t now = kStartNs;
  uint64_t opened = kStartNs;
  double closed_ms = 0;
  uint32_t rate = 0;
  std::unique_ptr<line_wire> back;  // from the loop to the tool's receiver
  line_host host;
  std::deque<unsigned char> in;  // what the port holds for the program
  double tx_burst = 0;           // the tool's transmitter: its burst's start
  uint64_t tx_index = 0;         // and the next frame's place in it
  uint64_t tx_free = 0;          // when the transmitter is idle
  uint64_t given = 0;            // bytes the tool sent since open
  uint64_t hold = 0;             // the loop sends nothing before this
  uint64_t stall_at = 0;         // the tool stops then; 0: not yet known
  bool stalled = false;          // and has stopped
  uint64_t received = 0;         // bytes the host took from the line
};

Vt vt;

bool Hit(int kind, uint64_t index) {
  const VtLine *c = vt.cfg;
  return c->fault == kind && index == (uint64_t)c->pass * 256 + c->position;
}

// Moves the model on to time until: bytes reach the host, the host hands
// them to the port.
void Advance(uint64_t until) {
  for (;;) {
    uint64_t next_byte = line_next_ns(vt.back.get(), vt.rate);
    uint64_t due = line_host_due(&vt.host);
    uint64_t e = next_byte < due ? next_byte : due;
    if (e > until) {
      return;
    }
    unsigned char out[LINE_PACKET];
    if (due <= next_byte) {
      uint32_t n = line_host_take(&vt.host, due, out);
      vt.in.insert(vt.in.end(), out, out + n);
      continue;
    }
    line_byte got;
    if (line_take(vt.back.get(), vt.rate, e, &got, 1) != 1) {
      continue;
    }
    if (!line_host_put(&vt.host, &got, vt.rate)) {
      uint32_t n = line_host_take(&vt.host, got.at_ns, out);
      vt.in.insert(vt.in.end(), out, out + n);
      line_host_put(&vt.host, &got, vt.rate);
    }
    // The stall's byte is known by the count the host received (the loop
    // drops none before it in the table's faults).
    if (Hit(VT_STALL, vt.received) && vt.stall_at == 0) {
      vt.stall_at = got.at_ns;
    }
    vt.received++;
  }
}

uint64_t VtNow(void *) { return vt.now; }

// The program waits: the clock runs to the first event that makes the port
// ready, or to the deadline; and past the tool's stall, when the wait would
// end in it.
int VtWait(void *, int writing, uint64_t deadline_ns) {
  if (!writing) {
    while (vt.in.empty() && vt.now < deadline_ns) {
      uint64_t next = line_next_ns(vt.back.get(), vt.rate);
      uint64_t due = line_host_due(&vt.host);
      uint64_t e = next < due ? next : due;
      e = e < deadline_ns ? e : deadline_ns;
      e = e > vt.now ? e : vt.now;
      Advance(e);
      vt.now = e;
    }
  }
  if (vt.stall_at != 0 && !vt.stalled && vt.now >= vt.stall_at) {
    vt.stalled = true;
    uint64_t resume = vt.stall_at + (uint64_t)vt.cfg->ms * 1000000;
    if (resume > vt.now) {
      Advance(resume);
      vt.now = resume;
    }
  }
  return writing || !vt.in.empty() ? 1 : 0;
}

long VtTake(void *, unsigned char *buf, uint32_t n) {
  Advance(vt.now);
  uint32_t k = 0;
  for (; k < n && !vt.in.empty(); k++) {
    buf[k] = vt.in.front();
    vt.in.pop_front();
  }
  return (long)k;
}

// The tool's UART sends each byte back to back after the one before, or
// now; the loop hands it back on the same frame (a wire), unless a fault
// drops or holds it.
long VtGive(void *, const unsigned char *buf, uint32_t n) {
  double bit_ns = 1e9 / vt.rate;
  for (uint32_t k = 0; k < n; k++) {
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
    line_send(vt.back.get(), buf[k], vt.rate, at > vt.hold ? at : vt.hold);
    if (Hit(VT_PAUSE, index)) {
      vt.hold = line_busy_until(vt.back.get()) + (uint64_t)vt.cfg->ms * 1000000;
    }
  }
  return (long)n;
}

const serial_io kIo = {nullptr, VtNow, VtWait, VtTake, VtGive};

}  // namespace

void VtUse(const VtLine *line) { vt.cfg = line; }

uint64_t VtSent(void) { return vt.given; }

double VtClosedMs(void) { return vt.closed_ms; }

int serial_open(serial_port *port, const char *name) {
  port->fd = -1;
  port->timeout_ms = 0;
  port->interval_ms = 0;
  port->refused = 0;
  port->why[0] = '\0';
  record_init(&port->record);
  snprintf(port->name, sizeof port->name, "%s", name);
  if (strcmp(name, "COM1") != 0 || vt.cfg == nullptr) {
    snprintf(port->why, sizeof port->why, "%s: no such port", name);
    return 0;
  }
  if (!vt.back) {
    vt.back.reset(new line_wire);
  }
  line_init(vt.back.get());
  vt.back->resync = vt.cfg->host == LINE_HOST_UART;
  line_host_init(&vt.host, vt.cfg->host, vt.cfg->host_size, vt.cfg->latency_ms);
  vt.opened = vt.now;
  vt.in.clear();
  vt.tx_free = 0;
  vt.given = 0;
  vt.hold = 0;
  vt.stall_at = 0;
  vt.stalled = false;
  vt.received = 0;
  port->host = vt.cfg->told;
  port->fd = 0;
  return 1;
}

void serial_close(serial_port *port) {
  if (port->fd >= 0) {
    vt.closed_ms = (double)(vt.now - vt.opened) / 1e6;
    port->fd = -1;
  }
}

void serial_setup(serial_port *port, uint32_t timeout_ms, int32_t baud) {
  port->timeout_ms = timeout_ms;
  port->interval_ms = serial_interval_ms(timeout_ms, baud, &port->host);
  vt.rate = (uint32_t)baud;
  record_setup(&port->record, baud, baud);
}

int serial_read(serial_port *port, unsigned char *buf, uint32_t n,
                uint32_t *got) {
  int ok = serial_read_loop(&kIo, serial_total_timeout_ms(port->timeout_ms, n),
                            port->interval_ms, buf, n, got);
  record_read(&port->record, buf, n, *got, ok, vt.now / 1000000u);
  return ok;
}

int serial_write(serial_port *port, const unsigned char *buf, uint32_t n,
                 uint32_t *put) {
  int ok = serial_write_loop(&kIo, serial_total_timeout_ms(port->timeout_ms, n),
                             buf, n, put);
  record_write(&port->record, buf, n, *put, ok, vt.now / 1000000u);
  return ok;
}

void serial_device_id(const char *name, char *id, size_t size) {
  snprintf(id, size, "%s", name);
}
