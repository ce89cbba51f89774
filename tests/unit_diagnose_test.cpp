// The verdicts from records built by hand, for what no run steers reliably:
// where in a run the drain takes the late bytes, and which of several
// failures came first; the drain's own bytes in the record; and how the
// evidence shows bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../src/diagnose/diagnose.h"
#include "../src/diagnose/diagnose_text.h"
#include "../src/record/record.h"
#include "../src/serial/serial.h"

namespace {

const ports_host kUsb = {PORTS_HOST_USB, 0, 16};

std::vector<unsigned char> Pattern(int from, int to) {
  std::vector<unsigned char> bytes;
  for (int b = from; b < to; b++) bytes.push_back((unsigned char)b);
  return bytes;
}

// A pass: the pattern written, and a read that brought `got` of it, each
// in its place.
void Pass(record_log *r, int got) {
  std::vector<unsigned char> sent = Pattern(0, 256);
  record_write(r, sent.data(), 256, 256, 1);
  std::vector<unsigned char> in = Pattern(0, got);
  in.resize(256);
  record_read(r, in.data(), 256, (uint32_t)got, 1);
  record_stress_pass(r, 256, (uint32_t)got, -1, 0, 0);
}

TEST(Diagnose, BytesTheDrainTookCameLate) {
  record_log r;
  record_init(&r);
  record_setup(&r, 115200, 115200);
  Pass(&r, 201);
  // The next pass's drain takes the 55 that came after the pause.
  record_drain(&r, 1);
  for (int b = 201; b < 256; b++) {
    unsigned char byte = (unsigned char)b;
    record_read(&r, &byte, 1, 1, 1);
  }
  unsigned char none = 0;
  record_read(&r, &none, 1, 0, 1);
  record_drain(&r, 0);
  Pass(&r, 256);
  char out[DIAGNOSE_SIZE];
  diagnose_stress(&r, "COM1", "", &kUsb, out, sizeof out);
  EXPECT_STREQ(out,
               "portvet: COM1: 1 of 2 passes at 115200 baud came back short, "
               "and later passes (or the drains before them) took the bytes "
               "that came after, in order: pauses on the line longer than the "
               "test's timeout, not lost bytes\n");
}

// Passes that each end after `counts` bytes of a loopback that hands every
// byte back in order, only late: each pass reads on where the last one
// stopped. Whole blocks (one pass ends after exactly one, the others after
// multiples of it, 8 bytes or more) are what a USB adapter hands over;
// other counts are pauses. Which one a run shows depends on where a busy
// machine stalls, so the counts are set here by hand.
struct BlockCase {
  const char *name;
  std::vector<int> counts;
  bool blocks;
  ports_host host;  // what the system says hands the bytes over
  const char *who;  // what the verdict says hands them over in blocks
};

void PrintTo(const BlockCase &c, std::ostream *os) { *os << c.name; }

class BlockTest : public testing::TestWithParam<BlockCase> {};

TEST_P(BlockTest, WholeBlocksOnly) {
  const BlockCase &c = GetParam();
  record_log r;
  record_init(&r);
  record_setup(&r, 115200, 115200);
  std::vector<unsigned char> sent = Pattern(0, 256);
  unsigned char next = 0;  // the stream: the next byte to come back
  for (int got : c.counts) {
    record_write(&r, sent.data(), 256, 256, 1);
    std::vector<unsigned char> in;
    int differs = -1;
    for (int k = 0; k < got; k++) {
      in.push_back(next);
      if (next != k && differs < 0) differs = k;
      next++;
    }
    record_read(&r, in.data(), 256, (uint32_t)got, 1);
    record_stress_pass(&r, 256, (uint32_t)got, differs,
                       differs < 0 ? 0 : sent[differs],
                       differs < 0 ? 0 : in[differs]);
  }
  char out[DIAGNOSE_SIZE];
  diagnose_stress(&r, "COM1", "", &c.host, out, sizeof out);
  EXPECT_EQ(std::string(out).find("whole blocks") != std::string::npos,
            c.blocks)
      << out;
  if (c.blocks) {
    EXPECT_NE(std::string(out).find(std::string("as ") + c.who + " hands"),
              std::string::npos)
        << out;
  }
  EXPECT_EQ(std::string(out).find("loses bytes"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockTest,
    testing::Values(
        BlockCase{"FtdiPackets", {62, 62, 62}, true, kUsb, "a USB adapter"},
        BlockCase{
            "TwoPacketsInOneRead", {62, 124, 62}, true, kUsb, "a USB adapter"},
        // A UART's 14-byte FIFO (Windows' trigger) at 1200 baud: the
        // blocks are its, not a USB adapter's.
        BlockCase{"UartFifoBlocks",
                  {14, 14, 28},
                  true,
                  {PORTS_HOST_UART, 14, 0},
                  "a UART's FIFO at its trigger level"},
        BlockCase{"BlocksOfAHostNotNamed",
                  {14, 14, 28},
                  true,
                  {PORTS_HOST_UNKNOWN, 14, 0},
                  "a USB adapter or a UART's FIFO"},
        BlockCase{"PausesAtFives", {10, 15, 20}, false, kUsb, ""},
        BlockCase{"NoPassOfOneBlock", {16, 24, 16 + 24}, false, kUsb, ""}),
    [](const testing::TestParamInfo<BlockCase> &p) {
      return std::string(p.param.name);
    });

TEST(Diagnose, TheFirstFailureNamesTheStep) {
  record_log r;
  record_init(&r);
  record_setup(&r, 115200, 115200);
  const unsigned char signon[] = {0x31, 0x20};
  const unsigned char reply[] = {0x14, 'A', 'V', 'R', ' ', 'S', 'T', 'K', 0x10};
  record_write(&r, signon, 2, 2, 1);
  record_read(&r, reply, 1, 1, 1);
  record_read(&r, reply + 1, 8, 8, 1);
  // The sync's write fails (the adapter went away), and so does every
  // write after it.
  const unsigned char sync[] = {0x30, 0x20};
  const unsigned char version[] = {0x41, 0x80, 0x20};
  record_write(&r, sync, 2, 0, 0);
  record_write(&r, version, 3, 0, 0);
  char out[DIAGNOSE_SIZE];
  diagnose_check(&r, "COM1", out, sizeof out);
  EXPECT_STREQ(out,
               "portvet: COM1: the port failed (a write failed) during the "
               "STK500 get-sync at 115200 baud: unplugged, or a driver "
               "failure\n");
}

}  // namespace

namespace {

// What the drain throws away is recorded as drained, not as a reply: on a
// real pty, through the serial layer.
TEST(Record, DrainedBytesAreMarked) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  setenv("PORTVET_COM1", ptsname(master), 1);
  serial_port port;
  ASSERT_EQ(serial_open(&port, "COM1"), 1) << port.why;
  serial_setup(&port, 20, 115200);
  const unsigned char late[] = {1, 2, 3, 4, 5};
  ASSERT_EQ(write(master, late, sizeof late), (ssize_t)sizeof late);
  serial_drain(&port);
  serial_close(&port);
  unsetenv("PORTVET_COM1");
  close(master);
  const record_segment &s = port.record.segments[0];
  EXPECT_EQ(s.drained, 5u);
  EXPECT_EQ(s.bytes_in, 5u);
  EXPECT_EQ(port.record.n_steps, 0u);
}

// Bytes in hex, with the text beside them where all of them are text and
// all are shown (noise, cut at eight, never reads as words).
TEST(Diagnose, HexShowsTextBesideIt) {
  const struct {
    std::string bytes;
    const char *hex;
  } cases[] = {
      {"AVR IS", "41 56 52 20 49 53 \"AVR IS\""},
      {"OK\r\n", "4F 4B 0D 0A \"OK\\r\\n\""},
      {"a\"b\\", "61 22 62 5C \"a\\\"b\\\\\""},
      {"A", "41"},
      {std::string("\xe0\xe0\xe0\x00", 4), "E0 E0 E0 00"},
      {"AV\x01R", "41 56 01 52"},
      {"Hello world", "48 65 6C 6C 6F 20 77 6F ..."},
  };
  for (const auto &c : cases) {
    char hex[64];
    diag_hex((const unsigned char *)c.bytes.data(), c.bytes.size(), 8, hex,
             sizeof hex);
    EXPECT_STREQ(hex, c.hex) << c.bytes;
  }
}

}  // namespace
