// The simulator's line model against cases worked out by hand from the
// waveform: idle high, start bit low, data bits LSB first, stop bit high, at
// the sender's rate; the receiver at its own rate starts at a falling edge,
// rejects a start bit that is high at its middle, and samples the middle of
// each bit. Offsets below are in the sender's bit times from the edge: the
// receiver's sample k lies at (2k + 1) * tx / (2 * rx) of them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../sim/sim_line.h"

namespace {

const uint64_t kStart = 1000000000;  // 1 s: any time will do

struct ResampleCase {
  const char *name;
  std::vector<unsigned char> sent;  // back to back from kStart
  uint32_t tx, rx;
  std::string heard;  // "E0 00!": hex, ! after a framing error
  int pc = 0;         // the receiver is a PC's UART (16550), not an AVR's
};

void PrintTo(const ResampleCase &c, std::ostream *os) { *os << c.name; }

std::string Heard(line_wire *w, uint32_t rx) {
  line_byte got[64];
  size_t n = line_take(w, rx, UINT64_MAX - 1, got, 64);
  std::string s;
  for (size_t i = 0; i < n; i++) {
    char hex[8];
    snprintf(hex, sizeof hex, "%s%02X%s", i ? " " : "", got[i].byte,
             got[i].framing_error ? "!" : "");
    s += hex;
  }
  return s;
}

class ResampleTest : public testing::TestWithParam<ResampleCase> {};

TEST_P(ResampleTest, AsTheWaveformSays) {
  const ResampleCase &c = GetParam();
  auto w = std::make_unique<line_wire>();
  line_init(w.get());
  w->resync = c.pc;
  for (unsigned char b : c.sent)
    ASSERT_TRUE(line_send(w.get(), b, c.tx, kStart));
  EXPECT_EQ(Heard(w.get(), c.rx), c.heard);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResampleTest,
    testing::Values(
        // Equal rates: every sample lies in the middle of its own bit.
        ResampleCase{"EqualRatesUnchanged",
                     {0x31, 0x20, 0x00, 0xFF, 0x15},
                     115200,
                     115200,
                     "31 20 00 FF 15"},
        ResampleCase{"FollowTheSender", {0x53, 0x11}, 19200, 0, "53 11"},
        // STK_NOSYNC 0x15 at 19200 read at 115200 (samples at 1/12, 3/12,
        // ... 19/12): bits start 0, 1 0 1 0 1 0 0 0, stop 1. The edge at 0
        // reads 0 for k = 0..5 and the 1 of bit 1 for k = 6..9: E0, stop
        // high. The next edges are the 1-0 steps at bits 2 and 4: E0, E0.
        // The last starts at bit 6: bits 6..8 are 0 and all ten samples
        // fall there: 00 with a low stop bit.
        ResampleCase{
            "NoSyncAt19200ReadAt115200", {0x15}, 19200, 115200, "E0 E0 E0 00!"},
        // '?' 0x3F at 19200 read at 115200: bits 1..6 high, 7..8 low. Edge
        // at 0: E0; next edge at 7, samples in bits 7..8: 00, stop low.
        ResampleCase{
            "UnknownAt19200ReadAt115200", {0x3F}, 19200, 115200, "E0 00!"},
        // '?' at 38400 read at 115200 (samples at 1/6, 3/6, ...): k = 0..2
        // in the start bit, k = 3..9 in bits 1..3 (high): FC. Next edge at
        // 7: k = 0..5 in bits 7..8 (low), k = 6..9 in the stop bit and the
        // idle line: E0.
        ResampleCase{
            "UnknownAt38400ReadAt115200", {0x3F}, 38400, 115200, "FC E0"},
        // The sign-on 0x31 0x20 at 115200 read at 19200 (samples at 3, 9,
        // 15, 21, ...): start at bit 3 (0x31's bit 2: 0), d0 at 9 (stop:
        // 1), d1 at 15 (0x20's bit 4: 0), d2..d7 and the stop bit on the
        // idle line: FD.
        ResampleCase{
            "SignOnAt115200ReadAt19200", {0x31, 0x20}, 115200, 19200, "FD"},
        // 'S' 0x53 alone at 115200 read at 19200: the start sample finds
        // bit 3 (0x53's bit 2: 0), then everything is past the frame: FF.
        ResampleCase{"CommandAt115200ReadAt19200", {0x53}, 115200, 19200, "FF"},
        // The sign-on at 115200 read at 38400 (samples 1.5, 4.5, 7.5, ...
        // after the edge): the start sample at 1.5 finds 0x31's bit 0 high:
        // a spike. The next edge is the 1-0 step at bit 2: samples at 3.5,
        // 6.5, 9.5, 12.5, 15.5, 18.5 read 0 | 1 1 0 0 0 (0x31's bits 2 and
        // 5, its stop bit, 0x20's bits 1, 4 and 7), then the idle line:
        // E3, stop high.
        ResampleCase{"SpikeThenGarbage", {0x31, 0x20}, 115200, 38400, "E3"},
        // 0x00 at 9600 read at 19200: low for nine of the sender's bits,
        // eighteen of the receiver's; the stop sample at 4.75 is low.
        ResampleCase{"LongLowIsFramingError", {0x00}, 9600, 19200, "00!"},
        // A receiver far slower than the sender: the start sample of a
        // lone byte at 115200 read at 600 lies 96 bits on, on the idle
        // line: a spike, no byte.
        ResampleCase{"TooShortToHear", {0x00}, 115200, 600, ""},
        // A 16550 after a framing error takes the low stop bit for the next
        // start bit. 0x01 at 9600 read at 19200 (samples at 1/4, 3/4, ...
        // of the sender's bits): 0 | 0 1 1 0 0 0 0 0 | stop at 4.75 in bit
        // 4, low: 06 with a framing error. An AVR then waits for a falling
        // edge, and the line only rises (the stop bit at 9): nothing more.
        // The 16550 samples on from 4.75: data at 5.25 .. 8.75 (bits 5 to
        // 8, all low), stop at 9.25 (the stop bit): 00, one byte more.
        ResampleCase{"AvrAfterFramingError", {0x01}, 9600, 19200, "06!"},
        ResampleCase{"PcResyncsOnLowStop", {0x01}, 9600, 19200, "06! 00", 1},
        // 0x55 the same way: 0 | 0 1 1 0 0 1 1 0 | 0 at 4.75: 66, framing
        // error. The AVR's next edge is the fall into bit 6: samples at
        // 6.25 .. 10.75 read 0 | 0 1 1 0 0 1 1 1 | 1 (the stop bit and the
        // idle line from 9): E6. The 16550 samples 5.25 .. 8.75 (bits 5 to
        // 8: 1 1 0 0 1 1 0 0) and stops at 9.25 (high): 33.
        ResampleCase{"AvrNextEdge", {0x55}, 9600, 19200, "66! E6"},
        ResampleCase{"PcNextSample", {0x55}, 9600, 19200, "66! 33", 1},
        // Every sample low, the stop bit too: a break. The 16550 hands over
        // one zero byte and waits for the line to go high, as the AVR does.
        ResampleCase{"PcBreak", {0x00}, 9600, 19200, "00!", 1},
        // So STK_NOSYNC at 19200 ends in a break at 115200 too: a PC's UART
        // hears it as the AVR does.
        ResampleCase{
            "PcNoSyncAt19200", {0x15}, 19200, 115200, "E0 E0 E0 00!", 1}),
    [](const testing::TestParamInfo<ResampleCase> &p) {
      return std::string(p.param.name);
    });

// A byte is handed over when its stop bit is sampled, 9.5 bit times after
// its start bit began, never sooner; the next byte follows back to back.
TEST(Line, PacedAsTheRateSays) {
  auto w = std::make_unique<line_wire>();
  line_init(w.get());
  line_send(w.get(), 0x31, 115200, kStart);
  line_send(w.get(), 0x20, 115200, kStart);  // the wire is busy: after it
  // 9.5 / 115200 s = 82465.3 ns; 19.5 / 115200 s = 169270.8 ns.
  EXPECT_EQ(line_next_ns(w.get(), 115200), kStart + 82466);
  line_byte got[4];
  EXPECT_EQ(line_take(w.get(), 115200, kStart + 82465, got, 4), 0u);
  ASSERT_EQ(line_take(w.get(), 115200, kStart + 82466, got, 4), 1u);
  EXPECT_EQ(got[0].byte, 0x31);
  EXPECT_EQ(line_next_ns(w.get(), 115200), kStart + 169271);
  ASSERT_EQ(line_take(w.get(), 115200, kStart + 200000, got, 4), 1u);
  EXPECT_EQ(got[0].byte, 0x20);
  EXPECT_EQ(got[0].at_ns, kStart + 169271);
  EXPECT_EQ(line_next_ns(w.get(), 115200), UINT64_MAX);
  // Ten bits after the last start: the wire is free at 2 * 86805.6 ns.
  EXPECT_EQ(line_busy_until(w.get()), kStart + 173612);
  // A byte sent later starts when it is sent.
  line_send(w.get(), 0x41, 115200, kStart + 5000000);
  EXPECT_EQ(line_next_ns(w.get(), 115200), kStart + 5000000 + 82466);
}

// An ideal line passes every byte unchanged when it is sent.
TEST(Line, IdealLineHasNoTime) {
  auto w = std::make_unique<line_wire>();
  line_init(w.get());
  line_send(w.get(), 0x15, 0, kStart);
  line_send(w.get(), 0x3F, 0, kStart + 10);
  line_byte got[4];
  ASSERT_EQ(line_take(w.get(), 19200, kStart + 10, got, 4), 2u);
  EXPECT_EQ(got[0].byte, 0x15);
  EXPECT_EQ(got[1].byte, 0x3F);
  EXPECT_EQ(got[1].at_ns, kStart + 10);
}

// What hands the tool its bytes: a stream of `bytes` bytes reaches the
// host back to back at `rate`, one every character time c (the k-th at
// kStart + k c), and the host hands them on in batches, each when it is
// due: the sizes and the times (after kStart, in character times and ms).
struct HostCase {
  const char *name;
  int kind;
  uint32_t size, latency_ms, rate;
  int bytes;
  std::vector<uint32_t> sizes;
  std::vector<uint64_t> due_ns;  // after kStart
};

void PrintTo(const HostCase &c, std::ostream *os) { *os << c.name; }

class HostTest : public testing::TestWithParam<HostCase> {};

TEST_P(HostTest, HandsOverAsTheHostDoes) {
  const HostCase &c = GetParam();
  line_host h;
  line_host_init(&h, c.kind, c.size, c.latency_ms);
  uint64_t char_ns = 10000000000ull / c.rate;
  std::vector<uint32_t> sizes;
  std::vector<uint64_t> times;
  unsigned char out[LINE_PACKET];
  for (int i = 0; i < c.bytes; i++) {
    line_byte b = {(unsigned char)i, 0, kStart + (uint64_t)i * char_ns};
    if (line_host_due(&h) <= b.at_ns) {
      times.push_back(line_host_due(&h) - kStart);
      sizes.push_back(line_host_take(&h, b.at_ns, out));
    }
    ASSERT_TRUE(line_host_put(&h, &b, c.rate));
    // Never due before the byte that makes it due came.
    EXPECT_GE(line_host_due(&h), b.at_ns);
  }
  uint64_t last = line_host_due(&h);
  EXPECT_EQ(line_host_take(&h, last - 1, out), 0u) << "handed over early";
  times.push_back(last - kStart);
  sizes.push_back(line_host_take(&h, last, out));
  EXPECT_EQ(out[sizes.back() - 1], (unsigned char)(c.bytes - 1));
  EXPECT_EQ(sizes, c.sizes);
  EXPECT_EQ(times, c.due_ns);
}

// c at 115200 is 86805 ns, at 9600 1041666 ns, at 1200 8333333 ns.
INSTANTIATE_TEST_SUITE_P(
    Cases, HostTest,
    testing::Values(
        // Linux's 16550 from 2400 baud up: 8 bytes at a time, each batch
        // when its 8th byte came (bytes 7 and 15); the last 4 four
        // character times after the 20th (byte 19): 23 c.
        HostCase{"LinuxUartAt115200",
                 LINE_HOST_UART,
                 0,
                 0,
                 115200,
                 20,
                 {8, 8, 4},
                 {7 * 86805, 15 * 86805, 23 * 86805}},
        // Below 2400 Linux sets the trigger to one byte: each as it comes.
        HostCase{"LinuxUartAt1200",
                 LINE_HOST_UART,
                 0,
                 0,
                 1200,
                 3,
                 {1, 1, 1},
                 {0, 8333333, 2 * 8333333}},
        // Windows' default trigger, 14: bytes 13 and 27, then 2 more four
        // character times after byte 29.
        HostCase{"WindowsUartAt9600",
                 LINE_HOST_UART,
                 14,
                 0,
                 9600,
                 30,
                 {14, 14, 2},
                 {13 * 1041666, 27 * 1041666, 33 * 1041666}},
        // FTDI at its defaults, 256 bytes at 115200 (the stress test's
        // pass): four full packets (bytes 61, 123, 185, 247), the last 8
        // 16 ms after the first of them (byte 248) came.
        HostCase{"FtdiAt115200",
                 LINE_HOST_USB,
                 62,
                 16,
                 115200,
                 256,
                 {62, 62, 62, 62, 8},
                 {61 * 86805, 123 * 86805, 185 * 86805, 247 * 86805,
                  248 * 86805 + 16000000}},
        // At 9600 the timer runs out first: 16 ms after byte 0, bytes 0 to
        // 15 have come (byte 15 at 15.6 ms); then 16 ms after byte 16.
        HostCase{"FtdiAt9600",
                 LINE_HOST_USB,
                 62,
                 16,
                 9600,
                 20,
                 {16, 4},
                 {16000000, 16 * 1041666 + 16000000}},
        // A pty's own way: every byte at the moment it came.
        HostCase{
            "Direct", LINE_HOST_DIRECT, 0, 0, 115200, 2, {1, 1}, {0, 86805}}),
    [](const testing::TestParamInfo<HostCase> &p) {
      return std::string(p.param.name);
    });

}  // namespace
