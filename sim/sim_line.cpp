#include "sim_line.h"

#include <math.h>
#include <string.h>

// Exact products of times and rates (ns times baud) need more than 64 bits.
__extension__ typedef unsigned __int128 line_u128;

static const double LINE_NS = 1e9;

static const line_frame *line_at(const line_wire *w, uint64_t seq) {
  return &w->frames[seq % LINE_FRAMES];
}

// Whether frame f belongs to the burst that begins with frame s.
static int line_in_burst(const line_wire *w, uint64_t s, uint64_t f) {
  if (f < s || f >= w->end || s < w->first) {
    return 0;
  }
  const line_frame *a = line_at(w, s);
  const line_frame *b = line_at(w, f);
  return b->burst_ns == a->burst_ns && b->rate == a->rate && b->index == f - s;
}

// The first frame after the burst that begins with s.
static uint64_t line_burst_after(const line_wire *w, uint64_t s) {
  uint64_t f = s + 1;
  while (line_in_burst(w, s, f)) {
    f++;
  }
  return f;
}

// When the frame's stop bit ends, exactly.
static double line_frame_end(const line_frame *f) {
  if (f->rate == 0) {
    return (double)f->burst_ns;
  }
  return (double)f->burst_ns + (f->index + 1) * 10.0 * LINE_NS / f->rate;
}

// The level of bit b (counted from the start bit of the burst that begins
// with s): 0 or 1, or -1 when the burst has ended by then.
static int line_level(const line_wire *w, uint64_t s, uint64_t b) {
  uint64_t f = s + b / 10;
  if (!line_in_burst(w, s, f)) {
    return -1;
  }
  unsigned bit = (unsigned)(b % 10);
  if (bit == 0) {
    return 0;  // start bit
  }
  if (bit == 9) {
    return 1;  // stop bit
  }
  return (line_at(w, f)->byte >> (bit - 1)) & 1;
}

// The level at a time, from the bursts at or after frame s; the idle line
// is high.
static int line_level_at(const line_wire *w, uint64_t s, double ns) {
  while (s < w->end) {
    const line_frame *f = line_at(w, s);
    double start = (double)f->burst_ns;
    if (ns < start) {
      return 1;
    }
    uint64_t next = line_burst_after(w, s);
    if (ns < line_frame_end(line_at(w, next - 1))) {
      uint64_t b = (uint64_t)floor((ns - start) * f->rate / LINE_NS);
      int level = line_level(w, s, b);
      return level < 0 ? 1 : level;
    }
    s = next;
  }
  return 1;
}

void line_init(line_wire *w) {
  w->first = 0;
  w->end = 0;
  w->lost = 0;
  w->hunt.seq = 0;
  w->hunt.num = 0;
  w->hunt.den = 0;  // no exact point: the time alone counts
  w->hunt.ns = -1;
  w->hunt.resync_edge = 0;
  w->hunt.resync_k = 0;
  w->resync = 0;
}

int line_send(line_wire *w, unsigned char byte, uint32_t rate,
              uint64_t not_before_ns) {
  if (w->end - w->first >= LINE_FRAMES) {
    w->lost++;
    return 0;
  }
  line_frame frame = {not_before_ns, rate, 0, byte};
  if (w->end > w->first) {
    const line_frame *last = line_at(w, w->end - 1);
    if (rate != 0 && last->rate == rate &&
        (not_before_ns <= last->burst_ns ||
         (line_u128)(not_before_ns - last->burst_ns) * rate <=
             (line_u128)(last->index + 1) * 10 * 1000000000u)) {
      // The wire is still busy: back to back with the frame before.
      frame.burst_ns = last->burst_ns;
      frame.index = last->index + 1;
    } else {
      double busy = ceil(line_frame_end(last));
      if ((double)frame.burst_ns < busy) {
        frame.burst_ns = (uint64_t)busy;
      }
    }
  }
  w->frames[w->end % LINE_FRAMES] = frame;
  w->end++;
  return 1;
}

uint64_t line_busy_until(const line_wire *w) {
  if (w->end == w->first) {
    return 0;
  }
  return (uint64_t)ceil(line_frame_end(line_at(w, w->end - 1)));
}

// The next falling edge strictly after point p: the burst it lies in (its
// first frame) and the bit it begins. Returns 0 when there is none yet.
static int line_next_edge(const line_wire *w, const line_point *p,
                          uint64_t *burst, uint64_t *bit) {
  uint64_t s = w->first;
  while (s < w->end) {
    const line_frame *f = line_at(w, s);
    uint64_t next = line_burst_after(w, s);
    double start = (double)f->burst_ns;
    double end = line_frame_end(line_at(w, next - 1));
    if (end <= p->ns) {
      s = next;
      continue;
    }
    uint64_t b = 0;
    if (p->den != 0 && p->seq == s) {
      b = p->num / p->den + 1;  // exact: edges in the point's own burst
    } else if (start <= p->ns) {
      b = (uint64_t)floor((p->ns - start) * f->rate / LINE_NS) + 1;
    }
    if (b == 0) {
      *burst = s;  // a burst's first start bit follows the idle line
      *bit = 0;
      return 1;
    }
    for (int level = line_level(w, s, b); level >= 0;
         b++, level = line_level(w, s, b)) {
      if (level == 0 && line_level(w, s, b - 1) == 1) {
        *burst = s;
        *bit = b;
        return 1;
      }
    }
    s = next;
  }
  return 0;
}

// Samples the frame that a receiver at rx_rate begins at the edge: bit k of
// the receiver's frame (0: start, 1..8: data, 9: stop; a 16550's frames
// after a framing error go on counting: 9 the next start bit, 18 its stop)
// at its middle.
// Returns the level; *at is the sample's time and *point the sample as a
// point on the wire.
static int line_sample(const line_wire *w, uint64_t s, uint64_t edge,
                       uint32_t rx_rate, int k, double *at, line_point *point) {
  const line_frame *f = line_at(w, s);
  uint64_t tx = f->rate;
  uint64_t rx = rx_rate != 0 ? rx_rate : tx;
  // The sample lies (2k + 1) / (2 rx) seconds after the edge: in the
  // sender's bits, edge + (2k + 1) tx / (2 rx), exactly.
  uint64_t num = edge * 2 * rx + (uint64_t)(2 * k + 1) * tx;
  uint64_t den = 2 * rx;
  *at =
      (double)f->burst_ns + (double)num * LINE_NS / ((double)den * (double)tx);
  point->seq = s;
  point->num = num;
  point->den = den;
  point->ns = *at;
  point->resync_edge = 0;
  point->resync_k = 0;
  int level = line_level(w, s, num / den);
  return level >= 0 ? level : line_level_at(w, line_burst_after(w, s), *at);
}

// Receives the next byte after point p, if its stop bit is sampled by
// horizon_ns. Returns 1 with *out and the point after it; 0 when none is
// complete by then (*next_ns: when it will be, UINT64_MAX: no edge yet).
static int line_receive(const line_wire *w, line_point *p, uint32_t rx_rate,
                        uint64_t horizon_ns, line_byte *out,
                        uint64_t *next_ns) {
  for (;;) {
    uint64_t s = p->seq;
    uint64_t edge = p->resync_edge;
    int k0 = (int)p->resync_k;  // the frame's start bit, in samples
    if (k0 == 0) {
      if (!line_next_edge(w, p, &s, &edge)) {
        *next_ns = UINT64_MAX;
        return 0;
      }
      double at = 0;
      line_point start;
      int start_level = line_sample(w, s, edge, rx_rate, 0, &at, &start);
      if (at <= (double)horizon_ns && start_level != 0) {
        *p = start;  // high in the middle of the start bit: a spike
        continue;
      }
    }
    line_point stop;
    double stop_at = 0;
    line_sample(w, s, edge, rx_rate, k0 + 9, &stop_at, &stop);
    if (stop_at > (double)horizon_ns) {
      *next_ns = (uint64_t)ceil(stop_at);
      return 0;
    }
    unsigned byte = 0;
    double at = 0;
    for (int k = 1; k <= 8; k++) {
      line_point ignored;
      byte |= (unsigned)line_sample(w, s, edge, rx_rate, k0 + k, &at, &ignored)
              << (k - 1);
    }
    line_point ignored;
    int low_stop = line_sample(w, s, edge, rx_rate, k0 + 9, &at, &ignored) == 0;
    out->byte = (unsigned char)byte;
    out->framing_error = (unsigned char)low_stop;
    out->at_ns = (uint64_t)ceil(stop_at);
    *p = stop;
    if (w->resync && low_stop && byte != 0) {
      // The low stop bit is the next start bit, to a 16550 (a frame all
      // low is a break: it waits for the line to go high).
      p->resync_edge = edge;
      p->resync_k = (uint32_t)(k0 + 9);
    }
    return 1;
  }
}

// Forgets the bursts that ended before the receiver's point.
static void line_forget(line_wire *w) {
  while (w->first < w->end) {
    if (line_at(w, w->first)->rate == 0) {
      return;  // an ideal line's byte goes only when it is taken
    }
    uint64_t next = line_burst_after(w, w->first);
    if (w->hunt.resync_k != 0 && next > w->hunt.seq) {
      return;  // a 16550's next frame still samples this burst
    }
    if (line_frame_end(line_at(w, next - 1)) > w->hunt.ns) {
      return;
    }
    w->first = next;
  }
}

size_t line_take(line_wire *w, uint32_t rx_rate, uint64_t horizon_ns,
                 line_byte *out, size_t max) {
  size_t n = 0;
  while (n < max && w->first < w->end) {
    const line_frame *f = line_at(w, w->first);
    if (f->rate == 0) {
      // An ideal line: the byte arrives as it was sent.
      if (f->burst_ns > horizon_ns) {
        break;
      }
      out[n].byte = f->byte;
      out[n].framing_error = 0;
      out[n].at_ns = f->burst_ns;
      n++;
      w->first++;
      w->hunt.ns = (double)f->burst_ns;
      continue;
    }
    uint64_t next_ns = 0;
    if (!line_receive(w, &w->hunt, rx_rate, horizon_ns, &out[n], &next_ns)) {
      break;
    }
    n++;
    line_forget(w);
  }
  line_forget(w);
  return n;
}

uint64_t line_next_ns(const line_wire *w, uint32_t rx_rate) {
  if (w->first == w->end) {
    return UINT64_MAX;
  }
  const line_frame *f = line_at(w, w->first);
  if (f->rate == 0) {
    return f->burst_ns;
  }
  line_point p = w->hunt;
  line_byte ignored;
  uint64_t next_ns = UINT64_MAX;
  // Looks no further than the first byte that is not complete by now:
  // with the horizon at 0 that is the very next one.
  line_receive(w, &p, rx_rate, 0, &ignored, &next_ns);
  return next_ns;
}

void line_host_init(line_host *h, int kind, uint32_t size,
                    uint32_t latency_ms) {
  memset(h, 0, sizeof *h);
  h->kind = kind;
  h->size = size < (uint32_t)LINE_PACKET ? size : (uint32_t)LINE_PACKET;
  h->latency_ms = latency_ms;
}

uint32_t line_host_trigger(const line_host *h, uint32_t rate) {
  if (h->size != 0) {
    return h->size;
  }
  // Linux's 8250 driver: the FIFO interrupts at 8 bytes, but below 2400
  // baud at every byte (8 bytes would take too long to gather).
  return rate != 0 && rate < 2400 ? 1 : 8;
}

int line_host_put(line_host *h, const line_byte *b, uint32_t rate) {
  uint32_t size = h->kind == LINE_HOST_UART  ? line_host_trigger(h, rate)
                  : h->kind == LINE_HOST_USB ? h->size
                                             : (uint32_t)LINE_PACKET;
  if (h->count >= size || h->count >= (uint32_t)LINE_PACKET) {
    return 0;
  }
  if (h->count == 0) {
    h->first_ns = b->at_ns;
  }
  h->bytes[h->count++] = b->byte;
  h->last_ns = b->at_ns;
  h->char_ns = rate != 0 ? (uint32_t)(10000000000ull / rate) : 0;
  if (h->count == size) {
    h->full = 1;
    h->full_ns = b->at_ns;
  }
  return 1;
}

uint64_t line_host_due(const line_host *h) {
  if (h->count == 0) {
    return UINT64_MAX;
  }
  if (h->full) {
    return h->full_ns;
  }
  switch (h->kind) {
    case LINE_HOST_UART:
      // The receive timeout: four character times without a byte.
      return h->last_ns + 4 * (uint64_t)h->char_ns;
    case LINE_HOST_USB:
      return h->first_ns + (uint64_t)h->latency_ms * 1000000u;
    default:
      return h->first_ns;
  }
}

uint32_t line_host_take(line_host *h, uint64_t now_ns, unsigned char *out) {
  if (line_host_due(h) > now_ns) {
    return 0;
  }
  uint32_t n = h->count;
  memcpy(out, h->bytes, n);
  h->count = 0;
  h->full = 0;
  return n;
}
