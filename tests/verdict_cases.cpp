#include "verdict_cases.h"

const char *const kVerdictWineHangUp =
    "Wine reads a hung-up pty as a successful read of no bytes (a timeout), "
    "where Windows fails the read of a vanished port";

namespace {

const char kLinkWorks[] =
    "an STK500 programmer (\"AVR STK\") answers at 115200 baud: the link works";

// Beside silence and garbage, a board; and, on a line of its own, the
// identify mode.
#define BOARD                                                             \
  "a board that restarts when its port opens (most Arduino boards): its " \
  "bootloader listens only after its start-up and leaves at the check's " \
  "other queries"
#define IDENTIFY                                                       \
  "\nportvet: COM1: portvet -id -c1 asks each family at its rate and " \
  "waits for a board's bootloader"

const char kNothing[] =
    "no byte came back at 115200, 38400, 19200, 9600 baud: nothing answers "
    "these queries: not connected, the wrong port, no power, a device "
    "that keeps silent to them (a programmer or bootloader that speaks "
    "STK500 v2, or STK500 v1 at a rate this check does not use, such as "
    "57600), or " BOARD IDENTIFY;

const char kSound[] =
    "every byte came back, in order, at 115200 baud: the line is sound";

}  // namespace

// Each verdict from the bytes a device sends, as the line model carries
// them (sim_line): at another rate they arrive as the receiving UART
// samples them.
std::vector<VerdictCase> CheckVerdicts() {
  return {
      {"StkFound", {"stk500"}, {"-c1"}, kLinkWorks, false, nullptr, ""},
      {"StkFoundOutOfSync",
       {"stk500", "--nosync-signon", "2"},
       {"-c1"},
       std::string(kLinkWorks) +
           ", but 2 replies were out of sync (0x15): bytes lost or garbled "
           "now and then",
       false,
       nullptr,
       ""},
      // Found on attempt 31 (the defaults allow 49): the out-of-sync
      // replies are the probe's count, not bytes of noise.
      {"FoundAfter30OutOfSync",
       {"stk500", "--nosync-signon", "30"},
       {"-c1"},
       std::string(kLinkWorks) +
           ", but 30 replies were out of sync (0x15): bytes lost or garbled "
           "now and then",
       false,
       nullptr,
       ""},
      // A software version 0x15 is a value, not an out-of-sync reply.
      {"SoftwareVersion0x15",
       {"stk500", "--sw-minor", "0x15"},
       {"-c1"},
       kLinkWorks,
       false,
       nullptr,
       ""},
      // Every version read answered out of sync: all 99 attempts.
      {"VersionReadAlwaysOutOfSync",
       {"stk500", "--nosync-param", "1000"},
       {"-c1", "-r2"},
       std::string(kLinkWorks) +
           ", but the STK500 hardware version read failed: every one of its "
           "99 replies was out of sync (0x15): the programmer does not take "
           "the command, or the line garbles it on the way",
       false,
       nullptr,
       ""},
      {"Avr910Found",
       {"avr910", "--baud", "38400", "--unknown", "-1"},
       {"-c1", "-r3"},
       "an AVR910 programmer (\"AVR ISP\") answers at 38400 baud: the link "
       "works",
       false,
       nullptr,
       ""},
      // A name this check does not know, in the protocol, at the right
      // rate: AVR109 bootloaders call themselves AVRBOOT.
      {"Avr910OtherName",
       {"avr910", "--baud", "115200", "--unknown", "-1", "--id", "AVRBOOT"},
       {"-c1", "-r2"},
       "an AVR910 programmer that calls itself AVRBOOT, not a type this check "
       "knows (\"AVR ISP\", \"AVR PPR\", \"AVR DEV\"): it answers at 115200 "
       "baud in the protocol (AVR109 bootloaders call themselves AVRBOOT)",
       false,
       nullptr,
       ""},
      {"Silence",
       {"stk500", "--silent-after", "0"},
       {"-c1", "-r2"},
       kNothing,
       false,
       nullptr,
       ""},
      // Every name a byte short: right for the protocol, cut short, and
      // not bytes that no programmer sends.
      {"Avr910NameCutShort",
       {"avr910", "--baud", "19200", "--unknown", "-1", "--short-first", "100"},
       {"-c1", "-r2"},
       "a reply cut short came at 19200 baud (41 56 52 20 49 53 \"AVR IS\"): "
       "the start "
       "of an AVR910 identifier (seven characters), and no more within the "
       "timeout: a programmer that answers in pieces further apart than the "
       "timeout allows (-t), or a line that loses bytes",
       false,
       nullptr,
       ""},
      // '?' from a programmer at 19200 reaches the tool as E0 00: the
      // tool can read nothing but E0 and 00 from a UART six times slower
      // (which of them, where two replies follow closely, depends on
      // when the tool's quick retries fall on them).
      {"NoiseFromAnotherRate",
       {"avr910", "--baud", "19200"},
       {"-c1", "-r2"},
       "bytes that no programmer sends came at 115200 baud "
       "\\(E0( (E0|00))*( \\.\\.\\.)?\\): something answers at another rate, "
       "or in another protocol, or a board that restarts when its port "
       "opens \\(most Arduino boards\\): its bootloader listens only after "
       "its start-up and leaves at the check's other queries" IDENTIFY,
       true,
       nullptr,
       ""},
      // An STK500 at 19200: its out-of-sync reply to the garbled sign-on
      // reaches the tool at 115200 as E0 E0 E0 00; at 19200 the AVR910
      // probe's queries get it clean.
      {"Stk500v1AtAnotherRate",
       {"stk500", "--baud", "19200"},
       {"-c1", "-r2"},
       "bytes that no programmer sends came at 115200 baud (E0 E0 E0 00): "
       "something answers at another rate, or in another protocol, or " BOARD
       "; STK500 v1 "
       "out-of-sync replies (0x15) came at 19200 baud: an STK500 v1 "
       "programmer at 19200 baud, such as a board running ArduinoISP; this "
       "check looks for STK500 only at 115200" IDENTIFY,
       false,
       nullptr,
       ""},
      {"OtherIdentity",
       {"stk500", "--id", "AVR ISP"},
       {"-c1", "-r3"},
       "an STK500 device signs on as \"AVR ISP\" at 115200 baud, not as "
       "\"AVR STK\", so the presence step counts no attempt: sync and the "
       "version reads work (ArduinoISP says \"AVR ISP\"): the link works",
       false,
       nullptr,
       ""},
      // A sign-on answered 14 10 and nothing more, as optiboot does.
      {"BootloaderAnswer",
       {"stk500", "--id", ""},
       {"-c1", "-r2"},
       "the sign-on is answered with 14 10 alone, as a bootloader (optiboot) "
       "answers any command: a board running its bootloader (it resets when "
       "the port opens, or its reset button was pressed), not a programmer",
       false,
       nullptr,
       ""},
      {"UnknownCommandAnswers",
       {"avr910", "--baud", "115200"},
       {"-c1", "-r2"},
       "'\\?' answers the STK500 sign-on at 115200 baud, as an AVR910 "
       "programmer answers a command it does not know: the sign-on got an "
       "answer, so this check does not try AVR910 here, and misses such a "
       "programmer",
       true,
       nullptr,
       ""},
      {"Echo",
       {"echo", "--pace", "0"},
       {"-c1", "-r2"},
       "what the tool sends comes back as it was sent: a loopback or an "
       "adapter that echoes, not a programmer",
       false,
       nullptr,
       ""},
      {"PortWentAway",
       {"stk500", "--hangup-after", "1"},
       {"-c1", "-r3", "-t200"},
       "the port failed (a read failed) during the STK500 get-sync at 115200 "
       "baud: unplugged, or a driver failure",
       false,
       kVerdictWineHangUp,
       ""},
      {"StuckLine",
       {"stk500", "--stuck", "1"},
       {"-c1", "-r3"},
       "the port did not send all of the STK500 sign-on at 115200 baud: the "
       "line does not move \\(flow control held, CTS low, or a stuck "
       "driver\\)",
       true,
       nullptr,
       ""},
  };
}

// The stress test's verdicts, on an instant loopback (as in e2e_st_test:
// these check what the bytes say, not the line's pace).
std::vector<VerdictCase> StressVerdicts() {
  const std::string kLate =
      " came back short, and later passes \\(or the drains before them\\) "
      "took the bytes that came after, in order: pauses on the line longer "
      "than the test's timeout, not lost bytes";
  const std::string kLost =
      " came back short, and the bytes that came skip some of the pattern: "
      "the line loses bytes";
  const std::string kBlocks =
      " ended after whole blocks of 62 bytes, and later passes took the bytes "
      "that came late: bytes come in blocks with pauses longer than the "
      "test's timeout between them, as a USB adapter or a UART's FIFO hands "
      "them over \\(or "
      "the line stalls at the same places\\); no sign of a lost byte";
  const std::string kGarbles =
      ": the line garbles bytes (noise, a loose contact, or a rate slightly "
      "off)";
  const std::string kQuiet =
      ": the loop stopped answering (a contact that came loose, or a device "
      "at the far end that stopped)";
  return {
      {"Sound",
       {"echo", "--pace", "0"},
       {"-st", "-c1", "-r2"},
       kSound,
       false,
       nullptr,
       ""},
      {"NothingBack",
       {"echo", "--stop-after-passes", "0"},
       {"-st", "-c1", "-r2"},
       "no byte came back in 2 passes at 115200 baud: TXD and RXD are not "
       "joined (nothing echoes), or the port does not send",
       false,
       nullptr,
       "no byte came back in 10 passes at 115200 baud: TXD and RXD are not "
       "joined (nothing echoes), or the port does not send"},
      // A pause of 200 ms: past the gap the tool allows on a pty (68 ms)
      // by far more than a loaded machine holds the first bytes up, and
      // over before the next pass's read (257 ms) gives up on its first.
      {"LateNotLost",
       {"echo", "--pace", "0", "--pause-after", "100", "--pause", "200"},
       {"-st", "-c1", "-r2"},
       "1 of 2 passes at 115200 baud" + kLate,
       true,
       nullptr,
       "\\d+ of 10 passes at 115200 baud" + kLate},
      {"Lost",
       {"echo", "--pace", "0", "--drop", "100"},
       {"-st", "-c1", "-r2"},
       "2 of 2 passes at 115200 baud" + kLost,
       false,
       nullptr,
       "10 of 10 passes at 115200 baud" + kLost},
      // One byte lost in pass 28 of 30: the record holds every pass.
      {"LostInOnePass",
       {"echo", "--pace", "0", "--drop", "100", "--fault-pass", "27"},
       {"-st", "-c1", "-r30"},
       "1 of 30 passes at 115200 baud" + kLost,
       false,
       nullptr,
       kSound},
      // The loop goes dead after the first 100 bytes (values 0 to 99):
      // what came back has no high bit, yet it is no seven-bit line.
      {"DeadAfterLowBytes",
       {"echo", "--pace", "0", "--pause-after", "100", "--pause", "5000"},
       {"-st", "-c1", "-r2"},
       "the first 1 of 2 passes at 115200 baud brought bytes, the last 1 "
       "none" +
           kQuiet,
       false,
       nullptr,
       "the first 1 of 10 passes at 115200 baud brought bytes, the last 9 "
       "none" +
           kQuiet},
      {"StopsAfter40Passes",
       {"echo", "--pace", "0", "--stop-after-passes", "40"},
       {"-st", "-c1", "-r60"},
       "the first 40 of 60 passes at 115200 baud brought bytes, the last 20 "
       "none" +
           kQuiet,
       false,
       nullptr,
       kSound},
      // Blocks of 62 bytes 100 ms apart, further than any common host
      // hands its batches (on a pty the tool allows the slowest, an FTDI
      // adapter's 16 ms, and a busy computer's 50): a stall of this
      // program longer than the gap may join two blocks in one read, so
      // the count of short passes is a bound.
      {"Blocks",
       {"echo", "--pace", "0", "--chunk", "62", "--gap", "100"},
       {"-st", "-c1", "-r3"},
       "[23] of 3 passes at 115200 baud" + kBlocks,
       true,
       nullptr,
       "\\d+ of 10 passes at 115200 baud" + kBlocks},
      {"XonXoff",
       {"echo", "--pace", "0", "--xonxoff", "1"},
       {"-st", "-c1", "-r2"},
       "0x11 and 0x13 never came back, every other byte did, at 115200 baud: "
       "XON/XOFF flow control on the line (another program's setting, or the "
       "adapter's)",
       false,
       nullptr,
       ""},
      {"SevenBits",
       {"echo", "--pace", "0", "--seven-bits", "1"},
       {"-st", "-c1", "-r2"},
       "no byte came back with bit 7 set at 115200 baud: the line carries "
       "seven data bits (another program's setting, or the adapter's)",
       false,
       nullptr,
       ""},
      {"Twice",
       {"echo", "--pace", "0", "--twice", "1"},
       {"-st", "-c1", "-r2"},
       "every byte came back twice at 115200 baud: an echo on top of the "
       "loopback (the adapter or a device on the line echoes too)",
       false,
       nullptr,
       ""},
      {"Garbled",
       {"echo", "--pace", "0", "--corrupt", "201"},
       {"-st", "-c1", "-r2"},
       "every pass brought all its bytes at 115200 baud, 2 of 2 with bytes "
       "out of place (first: pass 1, byte 201: 0xC9 came back as 0xC8)" +
           kGarbles,
       false,
       nullptr,
       "every pass brought all its bytes at 115200 baud, 10 of 10 with bytes "
       "out of place (first: pass 1, byte 201: 0xC9 came back as 0xC8)" +
           kGarbles},
      // One byte garbled in pass 7 of 10: not a sound line.
      {"GarbledOnce",
       {"echo", "--pace", "0", "--corrupt", "137", "--fault-pass", "6"},
       {"-st", "-c1", "-r10"},
       "every pass brought all its bytes at 115200 baud, 1 of 10 with bytes "
       "out of place (first: pass 7, byte 137: 0x89 came back as 0x88)" +
           kGarbles,
       false,
       nullptr,
       ""},
      {"WentAway",
       {"echo", "--pace", "0", "--hangup-after-passes", "1"},
       {"-st", "-c1", "-r3"},
       "the port failed (a read failed) in pass 2 at 115200 baud: unplugged, "
       "or a driver failure",
       false,
       kVerdictWineHangUp,
       ""},
  };
}
