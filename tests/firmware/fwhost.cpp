// fwhost: runs real AVR firmware on an emulated ATmega328P (simavr) with
// its UART on a pseudo-terminal, so that portvet can talk to it as to a
// programmer on a serial port.
//
//   fwhost [--boot] [--settle MS] FIRMWARE.elf|FIRMWARE.hex
//
// Runs the chip MS milliseconds of its own time (default 0), as a
// programmer boots after it is plugged in, then prints the path of the
// pty's slave side on the first line of standard output and runs the chip
// until it is ended (SIGTERM, SIGINT). --boot starts the chip at the
// firmware's lowest address with the external-reset flag set, as a chip
// whose BOOTRST fuse points at a bootloader does after its reset button.
#include <signal.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_elf.h>
#include <simavr/sim_hex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

extern "C" {  // this header of simavr's has no C++ guard of its own
#include <simavr/parts/uart_pty.h>
}

static volatile sig_atomic_t fwhost_stop = 0;

static void fwhost_on_signal(int) { fwhost_stop = 1; }

enum {
  FWHOST_FLASH = 32 * 1024,  // ATmega328P
  FWHOST_MCUSR = 0x54,       // data-space address of MCUSR
  FWHOST_EXTRF = 0x02,
  FWHOST_WDRF = 0x08,
};

// simavr runs as fast as it can; a real chip at 16 MHz does not, and the
// firmware's timeouts (optiboot's watchdog) count on that. So the chip's
// clock is held to the wall clock, checked once per millisecond of its time.
static void fwhost_keep_time(avr_t *avr, const struct timespec *start) {
  static avr_cycle_count_t checked = 0;
  if (avr->cycle - checked < 16000) {
    return;
  }
  checked = avr->cycle;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  long long real_ns = (now.tv_sec - start->tv_sec) * 1000000000LL +
                      (now.tv_nsec - start->tv_nsec);
  long long chip_ns = (long long)(avr->cycle * 1000 / 16);
  if (chip_ns > real_ns) {
    struct timespec wait = {(time_t)((chip_ns - real_ns) / 1000000000LL),
                            (long)((chip_ns - real_ns) % 1000000000LL)};
    nanosleep(&wait, NULL);
  }
}

// Loads an Intel HEX file; returns its lowest address, or -1.
static long fwhost_load_hex(avr_t *avr, const char *path) {
  ihex_chunk_p chunks = NULL;
  int count = read_ihex_chunks(path, &chunks);
  if (count <= 0) {
    return -1;
  }
  long lowest = -1;
  for (int i = 0; i < count; i++) {
    uint32_t base = chunks[i].baseaddr;
    uint32_t size = chunks[i].size;
    if (base == 0x7FFE && size == 2) {
      continue;  // a bootloader's version word, not code
    }
    if (base + size > FWHOST_FLASH) {
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

int main(int argc, char **argv) {
  int boot = 0;
  long settle_ms = 0;
  int i = 1;
  for (; i < argc - 1; i++) {
    if (strcmp(argv[i], "--boot") == 0) {
      boot = 1;
    } else if (strcmp(argv[i], "--settle") == 0 && i + 2 < argc) {
      settle_ms = atol(argv[++i]);
    } else {
      break;
    }
  }
  if (i != argc - 1) {
    fprintf(stderr,
            "usage: fwhost [--boot] [--settle MS] FIRMWARE.elf|FIRMWARE.hex\n");
    return 2;
  }
  const char *path = argv[i];
  // simavr talks about what it loads and about the pty on standard output:
  // send that to standard error, so that the first line of standard output
  // is the path.
  int out = dup(1);
  dup2(2, 1);
  avr_t *avr = avr_make_mcu_by_name("atmega328p");
  if (avr == NULL || avr_init(avr) != 0) {
    fprintf(stderr, "fwhost: simavr has no atmega328p\n");
    return 1;
  }
  avr->frequency = 16000000;
  long base = 0;
  size_t len = strlen(path);
  if (len > 4 && strcmp(path + len - 4, ".hex") == 0) {
    base = fwhost_load_hex(avr, path);
  } else {
    elf_firmware_t fw;
    memset(&fw, 0, sizeof fw);
    if (elf_read_firmware(path, &fw) != 0) {
      base = -1;
    } else {
      fw.frequency = 16000000;
      avr_load_firmware(avr, &fw);
      base = fw.flashbase;
    }
  }
  if (base < 0) {
    fprintf(stderr, "fwhost: cannot load %s\n", path);
    return 1;
  }
  if (boot) {
    avr->pc = avr->reset_pc = (avr_flashaddr_t)base;
    avr->data[FWHOST_MCUSR] = FWHOST_EXTRF;
  }
  uart_pty_t pty;
  memset(&pty, 0, sizeof pty);
  uart_pty_init(avr, &pty);
  uart_pty_connect(&pty, '0');
  fflush(stdout);
  dup2(out, 1);
  close(out);
  long resets = 0;
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  avr_cycle_count_t settled = (avr_cycle_count_t)settle_ms * 16000;
  while (avr->cycle < settled) {
    int state = avr_run(avr);
    fwhost_keep_time(avr, &start);
    if (state == cpu_Done || state == cpu_Crashed) {
      break;
    }
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = fwhost_on_signal;
  sigaction(SIGTERM, &sa, NULL);
  sigaction(SIGINT, &sa, NULL);
  printf("%s\n", pty.port[0].slavename);
  fflush(stdout);
  while (!fwhost_stop) {
    int state = avr_run(avr);
    fwhost_keep_time(avr, &start);
    if (state == cpu_Done || state == cpu_Crashed) {
      // simavr stops where the watchdog fires (and where the code runs
      // into the weeds); a real chip resets with WDRF set and runs again.
      if (resets++ < 5) {
        fprintf(stderr, "fwhost: the chip stopped (state %d): reset\n", state);
      }
      avr_reset(avr);
      avr->pc = avr->reset_pc;
      avr->data[FWHOST_MCUSR] = FWHOST_WDRF;
    }
  }
  // Not uart_pty_stop(): it joins a thread that our own SIGINT handler
  // keeps from ending. Leaving ends the thread and closes the pty.
  _exit(0);
}
