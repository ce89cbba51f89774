// The serial line between the tool and a simulated device, one direction at
// a time: a sender's UART puts frames on the wire at its own rate, and a
// receiver's UART at its own rate takes them off as a real one would.
//
// A frame is the waveform of one byte: idle high, a start bit (low), eight
// data bits LSB first, a stop bit (high), each 1/rate seconds long. Frames
// sent while the wire is still busy follow the previous one back to back,
// as from a UART's transmit buffer. The receiver waits for a falling edge,
// checks the start bit at its middle (a high level there is a noise spike:
// it waits for the next edge), samples the eight data bits and the stop bit
// at their middles at its own rate, and hands over the byte when it has
// sampled the stop bit. A low stop bit is a framing error; the byte is
// handed over all the same, as an AVR's UART and a tty without INPCK do.
// At equal rates every byte passes unchanged, ten bit times after its start
// bit began. A sample that falls exactly on an edge reads the new bit.
//
// After a framing error an AVR's receiver (and this model's by default)
// waits for the line to go high and fall again. A PC's UART (the 16550 and
// its kin; resync set) does not: it takes the low stop bit for the start
// bit of the next character, sampled a second time, and goes on sampling
// data bits from there. Only when every sample of a frame was low (the
// line held low a whole character: a break) does it hand over one zero
// byte and wait for the line to go high.
//
// A wire whose frames have rate 0 is an ideal line: no time, no rate; every
// byte passes unchanged at the moment it is sent.
//
// The personalities of the simulator never see any of this: the main loop
// (and fwhost for real firmware) feeds a wire what a side sends and gives
// the other side what its receiver takes off. Nothing here allocates.
#ifndef PORTVET_SIM_LINE_H
#define PORTVET_SIM_LINE_H

#include <stddef.h>
#include <stdint.h>

enum {
  LINE_FRAMES = 16384,  // frames a wire holds; more are lost, as in overrun
  LINE_PACKET = 512,    // bytes a USB packet holds at most
};

struct line_frame {
  uint64_t burst_ns;  // when the first start bit of its burst began
  uint32_t rate;      // the sender's baud rate; 0: an ideal line
  uint32_t index;     // its place in the burst (back-to-back frames)
  unsigned char byte;
};

// What a receiver took off the wire.
struct line_byte {
  unsigned char byte;
  unsigned char framing_error;  // the stop bit was low
  uint64_t at_ns;               // when the receiver sampled its stop bit
};

// A point on the wire, where the receiver's hunt for a falling edge goes on
// from: bits num/den after the start of the burst that begins with frame
// seq (exact, for edges in that burst), and the same point as a time in ns
// (for everything after that burst).
struct line_point {
  uint64_t seq;
  uint64_t num;
  uint64_t den;
  double ns;
  // A 16550 after a framing error: the next frame is already under way,
  // its start bit at sample resync_k of the frame whose start bit began at
  // bit resync_edge of burst seq; 0: none (the receiver hunts an edge).
  uint64_t resync_edge;
  uint32_t resync_k;
};

struct line_wire {
  line_frame frames[LINE_FRAMES];  // a ring, by sequence number
  uint64_t first;                  // the oldest frame still needed
  uint64_t end;                    // one past the newest frame
  uint64_t lost;                   // frames the full ring could not take
  line_point hunt;                 // edges after this start a byte
  int resync;  // the receiver is a PC's UART (16550), not an AVR's
};

// An empty, idle wire.
void line_init(line_wire *w);

// Puts a byte on the wire from a sender at rate (0: an ideal line), not
// before not_before_ns: right after the frame before it when the wire is
// still busy then, else at not_before_ns. Returns 0 when the wire is full.
int line_send(line_wire *w, unsigned char byte, uint32_t rate,
              uint64_t not_before_ns);

// When the wire's last stop bit ends (ns, rounded up); 0 for an empty wire.
uint64_t line_busy_until(const line_wire *w);

// Takes off what a receiver at rx_rate has received by horizon_ns: the
// bytes whose stop bit it sampled by then, at most max of them. rx_rate 0
// receives at each frame's own rate (a loopback, or a device that follows
// the sender). Frames sent later must not start before horizon_ns.
size_t line_take(line_wire *w, uint32_t rx_rate, uint64_t horizon_ns,
                 line_byte *out, size_t max);

// When the receiver will next hand over a byte, given the frames on the
// wire now; UINT64_MAX when none is coming.
uint64_t line_next_ns(const line_wire *w, uint32_t rx_rate);

// What lies between the tool's receiver and the program: how the bytes the
// port's UART received reach the computer.
enum line_host_kind {
  // Each byte as its stop bit is sampled (no buffering: a pty's own way).
  LINE_HOST_DIRECT,
  // A PC's UART (a 16550): received bytes wait in its FIFO until the
  // trigger level of them has gathered, or until no byte has come for four
  // character times (its receive timeout); then the driver takes them all.
  // size is the trigger level; 0 takes it as Linux's driver sets it: 8 from
  // 2400 baud up, 1 below. Windows' default is 14.
  LINE_HOST_UART,
  // A USB-serial bridge: received bytes go to the computer in packets of
  // up to size bytes, when size have gathered or latency_ms after the
  // packet's first byte (an FTDI chip: 62 bytes and its latency timer, 16
  // ms by default, 1 ms set low; a CH340: about 32 and 1).
  LINE_HOST_USB,
};

struct line_host {
  int kind;
  uint32_t size;        // UART: trigger level; USB: bytes per packet
  uint32_t latency_ms;  // USB: the latency timer
  uint32_t char_ns;     // UART: a character time at the rate of the last byte
  unsigned char bytes[LINE_PACKET];
  uint32_t count;     // bytes gathered for the next hand-over
  uint64_t first_ns;  // when its first byte came
  uint64_t last_ns;   // when its last byte came
  uint64_t full_ns;   // when it reached the size (the trigger)
  int full;           // it has
};

void line_host_init(line_host *h, int kind, uint32_t size, uint32_t latency_ms);

// The trigger level of a UART host at rate (its size, or Linux's choice).
uint32_t line_host_trigger(const line_host *h, uint32_t rate);

// Gathers a byte the receiver took at rate. Returns 0 when the batch is
// full already (the caller hands it over first).
int line_host_put(line_host *h, const line_byte *b, uint32_t rate);

// When the gathered bytes go to the computer; UINT64_MAX when nothing is
// gathered.
uint64_t line_host_due(const line_host *h);

// Hands over the batch when it is due by now_ns: returns its length (0:
// not due) and copies it to out (LINE_PACKET bytes), emptying the host.
uint32_t line_host_take(line_host *h, uint64_t now_ns, unsigned char *out);

#endif
