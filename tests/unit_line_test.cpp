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
        ResampleCase{"TooShortToHear", {0x00}, 115200, 600, ""}),
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

// A bridge sends a packet when it is full or its latency timer runs out:
// 256 bytes at 115200 (one every 86.8 us) through 62-byte packets and a
// 16 ms timer leave in four full packets and the last 8 bytes 16 ms after
// the 249th came.
TEST(Line, UsbPackets) {
  line_usb u;
  line_usb_init(&u, 62, 16);
  std::vector<uint32_t> sizes;
  std::vector<uint64_t> times;
  unsigned char packet[LINE_PACKET];
  for (int i = 0; i < 256; i++) {
    line_byte b = {(unsigned char)i, 0, kStart + (uint64_t)i * 86806};
    if (line_usb_due(&u) <= b.at_ns) {
      times.push_back(line_usb_due(&u));
      sizes.push_back(line_usb_take(&u, b.at_ns, packet));
    }
    ASSERT_TRUE(line_usb_put(&u, &b));
  }
  EXPECT_EQ(line_usb_take(&u, kStart + 248 * 86806 + 15999999, packet), 0u);
  times.push_back(line_usb_due(&u));
  sizes.push_back(line_usb_take(&u, UINT64_MAX - 1, packet));
  EXPECT_EQ(sizes, (std::vector<uint32_t>{62, 62, 62, 62, 8}));
  EXPECT_EQ(times[0], kStart + 61 * 86806);
  EXPECT_EQ(times[4], kStart + 248 * 86806 + 16000000);
  EXPECT_EQ(packet[7], 255);
}

}  // namespace
