// fwhost: runs real AVR firmware on an emulated ATmega328P or ATmega2560
// (simavr) with its UART on a pseudo-terminal, so that portvet can talk to
// it as to a programmer on a serial port.
//
//   fwhost [--mcu atmega328p|atmega2560] [--boot ADDR] [--board | --button]
//          [--settle MS] FIRMWARE.elf|FIRMWARE.hex
//
// Runs the chip MS milliseconds of its own time (default 0), as a
// programmer boots after it is plugged in, then prints the path of the
// pty's slave side on the first line of standard output and runs the chip
// until it is ended (SIGTERM, SIGINT). Later lines log each reset: "reset
// external" (the port was opened) and "reset watchdog".
//
// Without --board the chip starts at address 0 and nothing resets it but
// its watchdog: a programmer on its own. --board plays an Arduino board: the
// chip starts in its boot section (ADDR, a byte address: 0x7E00 by
// default, an Uno's 512-byte bootloader; 0x7800 for the 2 KB one of older
// boards; 0x3E000 for a Mega 2560's 8 KB), as its BOOTRST fuse says,
// powers up with the power-on flag set, and resets
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
// UBRR0 and U2X0, and the other way back, a framing error included.
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
#include <time.h>
#include <unistd.h>

#include "../../sim/sim_line.h"
#include "../../sim/sim_pty.h"

static volatile sig_atomic_t fwhost_stop = 0;

static void fwhost_on_signal(int) { fwhost_stop = 1; }

enum {
  FWHOST_BOOTRST = 0x7E00,  // an Uno's boot section (BOOTSZ: 256 words)
  FWHOST_MCUSR = 0x54,      // data-space address of MCUSR
  FWHOST_PORF = 0x01,
  FWHOST_EXTRF = 0x02,
  FWHOST_WDRF = 0x08,
  FWHOST_UCSR0A = 0xC0,
  FWHOST_U2X0 = 0x02,
  FWHOST_UBRR0L = 0xC4,
  FWHOST_UBRR0H = 0xC5,
  FWHOST_HZ = 16000000,
  FWHOST_RESET_MS = 65,  // the Uno's start-up delay after a reset
};

static uint64_t fwhost_now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

// simavr runs as fast as it can; a real chip at 16 MHz does not, and the
// firmware's timeouts (optiboot's watchdog) count on that. So the chip's
// clock is held to the wall clock: *chip_ns is the wall time its cycle 0
// stands for.
static void fwhost_keep_time(avr_t *avr, uint64_t chip_ns) {
  uint64_t at = chip_ns + avr->cycle * 1000 / 16;
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

// The rate the firmware set its UART to: F_CPU / (8 or 16 (UBRR0 + 1)).
static uint32_t fwhost_uart_rate(avr_t *avr) {
  uint32_t ubrr = (uint32_t)(avr->data[FWHOST_UBRR0H] & 0x0F) << 8 |
                  avr->data[FWHOST_UBRR0L];
  uint32_t divisor = (avr->data[FWHOST_UCSR0A] & FWHOST_U2X0) ? 8 : 16;
  return (FWHOST_HZ + divisor * (ubrr + 1) / 2) / (divisor * (ubrr + 1));
}

// The two directions of the line, and what the chip's UART can take.
struct fwhost_link {
  line_wire to_chip;
  line_wire to_tool;
  avr_t *avr;
  avr_irq_t *input;
  int xoff;  // the chip's input FIFO is full
};

// A byte the firmware sent: onto the line toward the tool.
static void fwhost_on_output(avr_irq_t *, uint32_t value, void *param) {
  fwhost_link *l = (fwhost_link *)param;
  line_send(&l->to_tool, (unsigned char)value, fwhost_uart_rate(l->avr),
            fwhost_now_ns());
}

static void fwhost_on_xoff(avr_irq_t *, uint32_t, void *param) {
  ((fwhost_link *)param)->xoff = 1;
}

static void fwhost_on_xon(avr_irq_t *, uint32_t, void *param) {
  ((fwhost_link *)param)->xoff = 0;
}

// Resets the chip with a reset flag set beside those MCUSR still holds
// (a reset sets its own flag and clears none).
static void fwhost_reset(avr_t *avr, uint8_t flag) {
  uint8_t held = avr->data[FWHOST_MCUSR];
  avr_reset(avr);
  avr->pc = avr->reset_pc;
  avr->data[FWHOST_MCUSR] = (uint8_t)(held | flag);
}

int main(int argc, char **argv) {
  int board = 0;
  int button = 0;
  long settle_ms = 0;
  const char *mcu = "atmega328p";
  long boot = FWHOST_BOOTRST;
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
    } else if (strcmp(argv[i], "--boot") == 0 && i + 2 < argc) {
      boot = strtol(argv[++i], NULL, 0);
    } else {
      break;
    }
  }
  if (i != argc - 1 || (board && button)) {
    fprintf(stderr,
            "usage: fwhost [--mcu atmega328p|atmega2560] [--boot ADDR] "
            "[--board | --button] [--settle MS] FIRMWARE.elf|FIRMWARE.hex\n");
    return 2;
  }
  uint32_t flash = strcmp(mcu, "atmega2560") == 0 ? 256 * 1024 : 32 * 1024;
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
  avr->frequency = FWHOST_HZ;
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
      fw.frequency = FWHOST_HZ;
      avr_load_firmware(avr, &fw);
      base = fw.flashbase;
    }
  }
  if (base < 0) {
    fprintf(stderr, "fwhost: cannot load %s\n", path);
    return 1;
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
  link.xoff = 0;
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
  avr_irq_register_notify(
      avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XOFF),
      fwhost_on_xoff, &link);
  avr_irq_register_notify(
      avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XON),
      fwhost_on_xon, &link);

  int slave = -1;
  const char *slave_path = NULL;
  int master = sim_pty_open("fwhost", &slave, &slave_path);
  if (master < 0) {
    return 1;
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  // A program that opens the port resets a board (after our own open).
  int opens = -1;
  if (board) {
    opens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (opens < 0 || inotify_add_watch(opens, slave_path, IN_OPEN) < 0) {
      perror("fwhost: inotify");
      return 1;
    }
  }
  fflush(stdout);
  dup2(out, 1);
  close(out);

  long resets = 0;
  uint64_t chip_ns = fwhost_now_ns();
  avr_cycle_count_t settled = (avr_cycle_count_t)settle_ms * 16000;
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

  uint64_t held_until = 0;  // in reset until then
  while (!fwhost_stop) {
    uint64_t now = fwhost_now_ns();
    if (now >= held_until) {
      // A tenth of a millisecond of the chip's time, then the line.
      avr_cycle_count_t until = avr->cycle + 1600;
      while (avr->cycle < until) {
        int state = avr_run(avr);
        if (state == cpu_Done || state == cpu_Crashed) {
          // simavr stops where the watchdog fires (and where the code runs
          // into the weeds); a real chip resets with WDRF set and runs.
          if (resets++ < 5) {
            printf("reset watchdog\n");
            fflush(stdout);
          }
          fwhost_reset(avr, FWHOST_WDRF);
          break;
        }
      }
      fwhost_keep_time(avr, chip_ns);
    } else {
      struct timespec wait = {0, 100000};
      nanosleep(&wait, NULL);
    }
    now = fwhost_now_ns();

    alignas(struct inotify_event) char events[4096];
    if (opens >= 0 && read(opens, events, sizeof events) > 0) {
      // The chip's clock stands still in reset and starts at its end.
      printf("reset external\n");
      fflush(stdout);
      held_until = now + FWHOST_RESET_MS * 1000000u;
      fwhost_reset(avr, FWHOST_EXTRF);
      chip_ns = held_until - avr->cycle * 1000 / 16;
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
    size_t taken =
        line_take(&link.to_chip, fwhost_uart_rate(avr), now, got, 64);
    for (size_t k = 0; k < taken; k++) {
      // A chip in reset, or a full FIFO, loses the byte, as on a wire.
      if (now >= held_until && !link.xoff) {
        avr_raise_irq(link.input,
                      got[k].byte | (got[k].framing_error ? UART_INPUT_FE : 0));
      }
    }
    taken = line_take(&link.to_tool, tool_rate, now, got, 64);
    for (size_t k = 0; k < taken; k++) {
      if (write(master, &got[k].byte, 1) < 0 && errno != EAGAIN) {
        fwhost_stop = 1;
      }
    }
  }
  // Not uart_pty: nothing here runs a thread; leaving closes the pty.
  _exit(0);
}
