// fwhost: runs real AVR firmware on an emulated AVR (simavr: an ATmega8,
// 168, 328P, 1280 or 2560, at the board's clock) with its first UART on a
// pseudo-terminal, so that portvet can talk to it as to a programmer or a
// board on a serial port.
//
//   fwhost [--mcu MCU] [--hz HZ] [--boot ADDR] [--board | --button]
//          [--app PROGRAM.hex] [--settle MS] FIRMWARE.elf|FIRMWARE.hex
//
// Runs the chip MS milliseconds of its own time (default 0), as a
// programmer boots after it is plugged in, then prints the path of the
// pty's slave side on the first line of standard output and runs the chip
// until it is ended (SIGTERM, SIGINT). Later lines log each reset: "reset
// external" (the port was opened) and "reset watchdog".
//
// Without --board the chip starts at address 0 and nothing resets it but
// its watchdog: a programmer on its own. --board plays an Arduino board: the
// chip starts in its boot section (ADDR, a byte address: by default where
// the firmware begins, a bootloader's own address; 0x7E00 for an image
// that begins at 0), as its BOOTRST fuse says, with the board's program
// at 0 (--app: another image loaded beside the firmware; the boards ship
// with one), powers up with the power-on flag set, and resets
// whenever a program opens the port, as the board's DTR line does through
// its auto-reset capacitor: held in reset for the 65 ms start-up delay of
// its fuses (SUT=11), then started with the external-reset flag set.
// --button plays the same board without auto-reset, its reset button
// pressed just before the tool opens the port: it starts in the bootloader
// with the external-reset flag set, and opening the port resets nothing.
//
// Between the pty and the chip lies the simulator's line model
// (sim/sim_line.h), both ways: the tool's bytes cross at the rate the tool
// set on the pty and reach the chip's UART at the rate its firmware set in
// UBRR and U2X at the chip's clock, and the other way back, a framing
// error included. The chip's receiver holds what an AVR's does: two bytes
// in its buffer and one in its shift register, where each new byte takes
// the place of the one waiting (an overrun); the rest is lost. A bootloader
// that blinks its LED before it reads finds those bytes.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <simavr/avr_uart.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_elf.h>
#include <simavr/sim_hex.h>
#include <simavr/sim_io.h>
#include <simavr/sim_irq.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "../../sim/sim_line.h"
#include "../../sim/sim_pty.h"

static volatile sig_atomic_t fwhost_stop = 0;

static void fwhost_on_signal(int) { fwhost_stop = 1; }

enum {
  FWHOST_BOOTRST = 0x7E00,  // an Uno's boot section (BOOTSZ: 256 words)
  FWHOST_MCUSR = 0x54,  // data-space address of MCUSR (MCUCSR on an ATmega8)
  FWHOST_PORF = 0x01,
  FWHOST_EXTRF = 0x02,
  FWHOST_WDRF = 0x08,
  FWHOST_HZ = 16000000,
  FWHOST_RESET_MS = 65,  // a board's start-up delay after a reset
  FWHOST_RX_BUFFER = 2,  // an AVR UART's receive buffer, in bytes
};

static uint64_t fwhost_now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

// The wall time, after chip_ns, of the chip's cycle.
static uint64_t fwhost_cycle_ns(const avr_t *avr, uint64_t chip_ns) {
  return chip_ns + (uint64_t)((double)avr->cycle * 1e9 / avr->frequency);
}

// simavr runs as fast as it can; a real chip at 16 MHz does not, and the
// firmware's timeouts (optiboot's watchdog) count on that. So the chip's
// clock is held to the wall clock: *chip_ns is the wall time its cycle 0
// stands for.
static void fwhost_keep_time(avr_t *avr, uint64_t chip_ns) {
  uint64_t at = fwhost_cycle_ns(avr, chip_ns);
  uint64_t now = fwhost_now_ns();
  if (at > now) {
    struct timespec wait = {(time_t)((at - now) / 1000000000u),
                            (long)((at - now) % 1000000000u)};
    nanosleep(&wait, NULL);
  }
}

// Loads an Intel HEX file into a flash of flash bytes; returns its lowest
// address, or -1.
static long fwhost_load_hex(avr_t *avr, const char *path, uint32_t flash) {
  ihex_chunk_p chunks = NULL;
  int count = read_ihex_chunks(path, &chunks);
  if (count <= 0) {
    return -1;
  }
  long lowest = -1;
  for (int i = 0; i < count; i++) {
    uint32_t base = chunks[i].baseaddr;
    uint32_t size = chunks[i].size;
    if (base == flash - 2 && size == 2) {
      continue;  // a bootloader's version word, not code
    }
    if (base + size > flash) {
      fprintf(stderr, "fwhost: %s: %u bytes at 0x%X run past the flash\n", path,
              size, base);
      free_ihex_chunks(chunks);
      return -1;
    }
    avr_loadcode(avr, chunks[i].data, size, base);
    if (lowest < 0 || (long)base < lowest) {
      lowest = base;
    }
  }
  free_ihex_chunks(chunks);
  return lowest;
}

// The chip's first UART (simavr names it '0' on every chip).
static avr_uart_t *fwhost_uart(avr_t *avr) {
  for (avr_io_t *io = avr->io_port; io != NULL; io = io->next) {
    if (io->kind != NULL && strcmp(io->kind, "uart") == 0 &&
        ((avr_uart_t *)io)->name == '0') {
      return (avr_uart_t *)io;
    }
  }
  return NULL;
}

// The rate the firmware set its UART to: F_CPU / (8 or 16 (UBRR + 1)),
// from the chip's own registers (their addresses differ from chip to chip).
static uint32_t fwhost_uart_rate(avr_t *avr, const avr_uart_t *uart) {
  uint32_t high = avr_regbit_get(avr, uart->ubrrh);
  if (uart->ubrrh.reg == uart->r_ucsrc && (avr->data[uart->r_ucsrc] & 0x80)) {
    // An ATmega8's UBRRH and UCSRC share an address; simavr keeps the
    // last write there, and one with URSEL (bit 7) set was UCSRC. Firmware
    // sets UBRRH before UCSRC, and at the rates boards use it is 0.
    high = 0;
  }
  uint32_t ubrr = (uint32_t)avr_regbit_get(avr, uart->ubrrl) | (high & 0x0F)
                                                                   << 8;
  uint32_t divisor = avr_regbit_get(avr, uart->u2x) ? 8 : 16;
  return (avr->frequency + divisor * (ubrr + 1) / 2) / (divisor * (ubrr + 1));
}

// The two directions of the line, and the chip's receiver.
struct fwhost_link {
  line_wire to_chip;
  line_wire to_tool;
  avr_t *avr;
  avr_uart_t *uart;
  avr_irq_t *input;
  int waiting;       // the byte in the shift register, with UART_INPUT_FE; -1
  uint64_t chip_ns;  // the wall time the chip's cycle 0 stands for
};

// Bytes in the UART's buffer that the firmware has not read.
static unsigned fwhost_rx_held(const avr_uart_t *uart) {
  return (unsigned)((uart->input.write + uart_fifo_fifo_size) -
                    uart->input.read) &
         (uart_fifo_fifo_size - 1);
}

static uint32_t fwhost_uart_rate(avr_t *avr, const avr_uart_t *uart);

// A byte the chip's receiver completed: into the buffer when it has room,
// else into the shift register in place of the byte waiting there.
static void fwhost_receive(fwhost_link *l, int byte) {
  // simavr paces the bytes it hands the firmware at its idea of the rate,
  // which on an ATmega8 takes UCSRC for UBRRH: a byte every few ms. A
  // frame is ten bits at the rate the firmware set.
  uint32_t rate = fwhost_uart_rate(l->avr, l->uart);
  l->uart->cycles_per_byte = (avr_cycle_count_t)l->avr->frequency * 10 / rate;
  if (fwhost_rx_held(l->uart) < FWHOST_RX_BUFFER) {
    avr_raise_irq(l->input, (uint32_t)byte);
  } else {
    l->waiting = byte;
  }
}

// The firmware read the buffer: the byte waiting moves in.
static void fwhost_shift(fwhost_link *l) {
  if (l->waiting >= 0 && fwhost_rx_held(l->uart) < FWHOST_RX_BUFFER) {
    avr_raise_irq(l->input, (uint32_t)l->waiting);
    l->waiting = -1;
  }
}

// A byte the firmware sent: onto the line toward the tool.
static void fwhost_on_output(avr_irq_t *, uint32_t value, void *param) {
  fwhost_link *l = (fwhost_link *)param;
  line_send(&l->to_tool, (unsigned char)value,
            fwhost_uart_rate(l->avr, l->uart),
            fwhost_cycle_ns(l->avr, l->chip_ns));
}

// Runs the chip until its clock reaches at_ns (wall time), the firmware
// taking what its receiver holds as it reads; resets it with WDRF where
// its watchdog fires. Returns the resets so far.
static long fwhost_run_until(fwhost_link *l, uint64_t chip_ns, uint64_t at_ns,
                             long resets);

// Resets the chip with a reset flag set beside those MCUSR still holds
// (a reset sets its own flag and clears none).
static void fwhost_reset(avr_t *avr, uint8_t flag) {
  uint8_t held = avr->data[FWHOST_MCUSR];
  avr_reset(avr);
  avr->pc = avr->reset_pc;
  avr->data[FWHOST_MCUSR] = (uint8_t)(held | flag);
}

static long fwhost_run_until(fwhost_link *l, uint64_t chip_ns, uint64_t at_ns,
                             long resets) {
  avr_t *avr = l->avr;
  while (fwhost_cycle_ns(avr, chip_ns) < at_ns) {
    int state = avr_run(avr);
    if (state == cpu_Done || state == cpu_Crashed) {
      // simavr stops where the watchdog fires (and where the code runs
      // into the weeds); a real chip resets with WDRF set and runs.
      if (resets++ < 5) {
        printf("reset watchdog\n");
        fflush(stdout);
      }
      fwhost_reset(avr, FWHOST_WDRF);
      l->waiting = -1;
    }
    fwhost_shift(l);
  }
  return resets;
}

int main(int argc, char **argv) {
  int board = 0;
  int button = 0;
  long settle_ms = 0;
  long hz = FWHOST_HZ;
  const char *mcu = "atmega328p";
  long boot = -1;
  const char *app = NULL;
  int i = 1;
  for (; i < argc - 1; i++) {
    if (strcmp(argv[i], "--board") == 0) {
      board = 1;
    } else if (strcmp(argv[i], "--button") == 0) {
      button = 1;
    } else if (strcmp(argv[i], "--settle") == 0 && i + 2 < argc) {
      settle_ms = atol(argv[++i]);
    } else if (strcmp(argv[i], "--mcu") == 0 && i + 2 < argc) {
      mcu = argv[++i];
    } else if (strcmp(argv[i], "--hz") == 0 && i + 2 < argc) {
      hz = atol(argv[++i]);
    } else if (strcmp(argv[i], "--boot") == 0 && i + 2 < argc) {
      boot = strtol(argv[++i], NULL, 0);
    } else if (strcmp(argv[i], "--app") == 0 && i + 2 < argc) {
      app = argv[++i];
    } else {
      break;
    }
  }
  if (i != argc - 1 || (board && button) || hz <= 0) {
    fprintf(stderr,
            "usage: fwhost [--mcu MCU] [--hz HZ] [--boot ADDR] "
            "[--board | --button] [--app PROGRAM.hex] [--settle MS] "
            "FIRMWARE.elf|FIRMWARE.hex\n");
    return 2;
  }
  const char *path = argv[i];
  // simavr talks about what it loads on standard output: send that to
  // standard error, so that the first line of standard output is the path.
  int out = dup(1);
  dup2(2, 1);
  avr_t *avr = avr_make_mcu_by_name(mcu);
  if (avr == NULL || avr_init(avr) != 0) {
    fprintf(stderr, "fwhost: simavr has no %s\n", mcu);
    return 1;
  }
  avr->frequency = (uint32_t)hz;
  uint32_t flash = avr->flashend + 1;
  long base = 0;
  size_t len = strlen(path);
  if (len > 4 && strcmp(path + len - 4, ".hex") == 0) {
    base = fwhost_load_hex(avr, path, flash);
  } else {
    elf_firmware_t fw;
    memset(&fw, 0, sizeof fw);
    if (elf_read_firmware(path, &fw) != 0) {
      base = -1;
    } else {
      fw.frequency = (uint32_t)hz;
      avr_load_firmware(avr, &fw);
      base = fw.flashbase;
    }
  }
  if (base < 0) {
    fprintf(stderr, "fwhost: cannot load %s\n", path);
    return 1;
  }
  if (app != NULL && fwhost_load_hex(avr, app, flash) < 0) {
    fprintf(stderr, "fwhost: cannot load %s\n", app);
    return 1;
  }
  if (boot < 0) {
    boot = base > 0 ? base : (long)FWHOST_BOOTRST;
  }
  if (board || button) {
    avr->reset_pc = (avr_flashaddr_t)boot;
    avr->pc = avr->reset_pc;
    avr->data[FWHOST_MCUSR] = (uint8_t)(board ? FWHOST_PORF : FWHOST_EXTRF);
  }

  static fwhost_link link;  // two wires: too large for the stack
  line_init(&link.to_chip);
  line_init(&link.to_tool);
  link.avr = avr;
  link.uart = fwhost_uart(avr);
  link.waiting = -1;
  if (link.uart == NULL) {
    fprintf(stderr, "fwhost: %s has no UART 0\n", mcu);
    return 1;
  }
  // The UART talks to the line, not to the console; and it must not sleep
  // when the firmware polls it, or the chip's clock falls behind.
  uint32_t flags = 0;
  avr_ioctl(avr, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
  flags &= ~(uint32_t)(AVR_UART_FLAG_STDIO | AVR_UART_FLAG_POLL_SLEEP);
  avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
  link.input = avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
  avr_irq_t *output =
      avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT);
  // Every byte counts, also one the same as the byte before.
  avr_irq_set_flags(output, avr_irq_get_flags(output) & ~IRQ_FLAG_FILTERED);
  avr_irq_register_notify(output, fwhost_on_output, &link);

  int slave = -1;
  const char *slave_path = NULL;
  int master = sim_pty_open("fwhost", &slave, &slave_path);
  if (master < 0) {
    return 1;
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  // Programs that open and close the port (after our own open): an open
  // resets a board, and while no program holds the port, what the chip
  // sends is lost, as at a closed port's UART.
  int opens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (opens < 0 ||
      inotify_add_watch(opens, slave_path,
                        IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
    perror("fwhost: inotify");
    return 1;
  }
  int holders = 0;
  fflush(stdout);
  dup2(out, 1);
  close(out);

  long resets = 0;
  uint64_t chip_ns = fwhost_now_ns();
  avr_cycle_count_t settled =
      (avr_cycle_count_t)((double)settle_ms * (double)hz / 1000.0);
  while (avr->cycle < settled) {
    int state = avr_run(avr);
    fwhost_keep_time(avr, chip_ns);
    if (state == cpu_Done || state == cpu_Crashed) {
      break;
    }
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = fwhost_on_signal;
  sigaction(SIGTERM, &sa, NULL);
  sigaction(SIGINT, &sa, NULL);
  printf("%s\n", slave_path);
  fflush(stdout);

  // The chip's clock follows the wall clock a little behind it: every byte
  // of the tool's is on the wire before the chip's time reaches it, so the
  // firmware finds each when its stop bit was sampled, never a batch of
  // them at once (that would overrun its UART).
  uint64_t held_until = 0;  // in reset until then
  link.chip_ns = chip_ns;
  while (!fwhost_stop) {
    uint64_t now = fwhost_now_ns();
    alignas(struct inotify_event) char events[4096];
    ssize_t got_events = read(opens, events, sizeof events);
    int opened = 0;
    for (char *p = events; got_events > 0 && p < events + got_events;) {
      const struct inotify_event *e = (const struct inotify_event *)p;
      if ((e->mask & IN_OPEN) != 0) {
        opened = 1;
        holders++;
      } else if (holders > 0) {
        holders--;
      }
      p += sizeof *e + e->len;
    }
    if (opened && now >= held_until) {
      // The chip's time catches up with the open first.
      resets = fwhost_run_until(&link, link.chip_ns, now, resets);
    }
    if (opened) {
      // What came while nobody held the port is not there for the program
      // that opens it.
      tcflush(slave, TCIFLUSH);
      line_init(&link.to_tool);
    }
    if (opened && board) {
      // The chip's clock stands still in reset and starts at its end.
      printf("reset external\n");
      fflush(stdout);
      held_until = now + FWHOST_RESET_MS * 1000000u;
      fwhost_reset(avr, FWHOST_EXTRF);
      link.waiting = -1;
      link.chip_ns = held_until - (fwhost_cycle_ns(avr, 0));
    }

    // The tool's rate, read after its bytes: a program sets the line up
    // and then writes, so they went out at the rate it has now.
    unsigned char in[256];
    ssize_t n = read(master, in, sizeof in);
    uint32_t tool_rate = (uint32_t)sim_custom_baud(master);
    for (ssize_t k = 0; k < n; k++) {
      line_send(&link.to_chip, in[k], tool_rate, now);
    }
    line_byte got[64];
    size_t taken = line_take(&link.to_chip, fwhost_uart_rate(avr, link.uart),
                             now, got, 64);
    for (size_t k = 0; k < taken; k++) {
      // A chip in reset loses the byte, as on a wire. Else it comes when
      // its stop bit was sampled: the firmware has read the bytes before
      // it by then, if it reads at all.
      if (got[k].at_ns >= held_until) {
        resets = fwhost_run_until(&link, link.chip_ns, got[k].at_ns, resets);
        fwhost_receive(
            &link, got[k].byte | (got[k].framing_error ? UART_INPUT_FE : 0));
      }
    }
    if (now >= held_until) {
      resets = fwhost_run_until(&link, link.chip_ns, now, resets);
    }
    taken = line_take(&link.to_tool, tool_rate, now, got, 64);
    for (size_t k = 0; k < taken && holders > 0; k++) {
      if (write(master, &got[k].byte, 1) < 0 && errno != EAGAIN) {
        fwhost_stop = 1;
      }
    }
    // The wall clock moves on a tenth of a millisecond.
    struct timespec wait = {0, 100000};
    nanosleep(&wait, NULL);
  }
  // Not uart_pty: nothing here runs a thread; leaving closes the pty.
  _exit(0);
}
