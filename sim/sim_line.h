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
};

struct line_wire {
  line_frame frames[LINE_FRAMES];  // a ring, by sequence number
  uint64_t first;                  // the oldest frame still needed
  uint64_t end;                    // one past the newest frame
  uint64_t lost;                   // frames the full ring could not take
  line_point hunt;                 // edges after this start a byte
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

// A USB-serial bridge between the receiver and the computer: received
// bytes go out in packets of up to size bytes, when size have gathered or
// latency_ms after the packet's first byte (an FTDI chip: 62 bytes and its
// latency timer, 16 ms by default, 1 ms set low; a CH340: about 32 and 1).
// size 0: no bridge, every byte goes out as it comes.
struct line_usb {
  uint32_t size;
  uint32_t latency_ms;
  unsigned char bytes[LINE_PACKET];
  uint32_t count;     // bytes gathered for the next packet
  uint64_t first_ns;  // when its first byte came
  uint64_t full_ns;   // when it filled up; 0: not full
};

void line_usb_init(line_usb *u, uint32_t size, uint32_t latency_ms);

// Gathers a received byte. Returns 0 when the packet is full already (the
// caller sends it first).
int line_usb_put(line_usb *u, const line_byte *b);

// When the gathered packet goes out; UINT64_MAX when nothing is gathered.
uint64_t line_usb_due(const line_usb *u);

// Hands over the packet when it is due by now_ns: returns its length (0:
// not due) and copies it to out (LINE_PACKET bytes), emptying the bridge.
uint32_t line_usb_take(line_usb *u, uint64_t now_ns, unsigned char *out);

#endif
