#!/usr/bin/env python3
"""Mutation check: puts realistic faults into a scratch copy of the sources,
one at a time, rebuilds, runs the native test suite, and says whether a test
caught each fault (killed) or none did (survived).

    python3 scripts/mutants.py [--keep] [--only ID[,ID...]] [--wine] [--all]
                               [--tests REGEX]

Each fault replaces exact pieces of text, each of which must occur exactly
once, in one file or more.
Faults in the Windows backend need the Wine suite: they run only with
--wine (MinGW-w64 and Wine installed), and are listed as not run otherwise.
A fault marked equivalent is listed with the reason no test can see it and
not run (--all runs them too, to see that they still survive). --tests
runs only the tests whose names match REGEX (ctest -R), for a quick look at
a few faults: a fault that survives it may still be killed by the whole
suite. Closes with "killed K of N" over the faults that ran.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

POSIX = "src/serial/serial_posix.cpp"
TERMIOS = "src/serial/serial_termios.cpp"
WAIT = "src/serial/serial_wait_posix.cpp"
LOOP = "src/serial/serial_loop.cpp"
INTERVAL = "src/serial/serial_interval.cpp"
LINE = "sim/sim_line.cpp"
WIN32 = "src/serial/serial_win32.cpp"
DCB = "src/serial/serial_dcb.cpp"

# A hang-up shows on a pty in more than one way; the backend checks each.
HANGUP_READ_0 = ("    if (r == 0) {\n      return -1;  // readable yet no data",
                 "    if (r == 0) {\n      return 0;  // readable yet no data")
HANGUP_EIO = ("    if (errno != EINTR) {\n      return -1;\n    }\n  }\n}\n\nstatic long serial_io_give",
              "    if (errno != EINTR) {\n      return 0;\n    }\n  }\n}\n\nstatic long serial_io_give")
HANGUP_POLL = ("    if ((pfd.revents & (POLLERR | POLLNVAL)) != 0 ||\n        (pfd.revents & events) == 0) {",
               "    if ((pfd.revents & (POLLERR | POLLNVAL)) != 0) {")
HANGUP_POLLERR = ("    if ((pfd.revents & (POLLERR | POLLNVAL)) != 0 ||",
                  "    if ((pfd.revents & POLLNVAL) != 0 ||")
HANGUP_REDUNDANT = ("a Linux pty's hang-up trips more than one of the checks "
                    "(poll's POLLERR and missing POLLIN, read() of 0, read()'s "
                    "EIO), so one alone changes nothing a pty can show; "
                    "hangup-never-seen drops them all")
PTY_8N = ("a Linux pty is always 8 data bits without parity: tcsetattr turns "
          "CS7 into CS8 and drops PARENB, so no pty can show it")

# (id, file, old text, new text, what the fault is[, equivalent: reason]);
# old may be a list of (old, new) pairs, all applied (new is then None).
MUTANTS = [
    # Serial layer: timeouts.
    ("interval-missing", LOOP,
     "deadline = interval < total ? interval : total;", "deadline = total;",
     "a read ignores the inter-byte timeout"),
    ("interval-4x", LOOP,
     "serial_deadline_after(now, interval_ms);",
     "serial_deadline_after(now, 4 * (uint64_t)interval_ms);",
     "the inter-byte timeout is four times too long"),
    ("interval-half", LOOP,
     "serial_deadline_after(now, interval_ms);",
     "serial_deadline_after(now, interval_ms / 2);",
     "the inter-byte timeout ends early"),
    # The gap allowed between bytes, after the host.
    ("interval-ignores-host", INTERVAL,
     "  return t > host_ms ? t : (uint32_t)host_ms;",
     "  return t + 0 * (uint32_t)host_ms;",
     "the gap allowed between bytes is the timeout alone, whatever hands "
     "the bytes over"),
    ("interval-no-busy-room", INTERVAL,
     "  uint64_t host_ms = gap_ms + SERIAL_BUSY_MS;",
     "  uint64_t host_ms = gap_ms + 1;",
     "no room for the time a busy computer adds"),
    ("interval-usb-latency-forgotten", INTERVAL,
     "  return (uint64_t)latency_ms * 1000 + char_us + SERIAL_USB_FRAME_US;",
     "  return char_us + SERIAL_USB_FRAME_US + 0 * latency_ms;",
     "a USB bridge's latency timer is forgotten"),
    ("interval-uart-tail-forgotten", INTERVAL,
     "  return trigger <= 1 ? char_us : (trigger + 3) * char_us;",
     "  return trigger * char_us;",
     "a UART's tail, four characters after its last byte, is forgotten"),
    ("interval-unknown-is-uart", INTERVAL,
     "      gap = uart > usb ? uart : usb;",
     "      gap = uart + 0 * usb;",
     "a port the system says nothing of is taken for a UART, not the slowest "
     "common host"),
    ("interval-slow-uart-keeps-trigger", INTERVAL,
     "      (host->kind == PORTS_HOST_UART && baud > 0 && baud < 2400)) {",
     "      (0 && baud > 0 && baud < 2400)) {",
     "a UART below 2400 baud keeps the trigger sysfs reports (8): the gap "
     "allowed hides a 100 ms pause at 600"),
    ("interval-sysfs-trigger-ignored", "src/ports/ports_linux.cpp",
     "  long trigger = atol(value);",
     "  long trigger = 0 * atol(value);",
     "a UART's rx_trig_bytes in sysfs is not read"),
    ("interval-sysfs-latency-ignored", "src/ports/ports_linux.cpp",
     "    host->latency_ms = ms > 0 && ms <= 255 ? (uint32_t)ms : 16;",
     "    host->latency_ms = 16 + 0 * ms;",
     "an FTDI adapter's latency timer in sysfs is not read"),
    ("interval-windows-vcp-unknown", "src/ports/ports_win32.cpp",
     "  if (_strnicmp(device, \"\\\\Device\\\\VCP\", 11) == 0) {",
     "  if (0) {",
     "Windows: FTDI's driver is not known by its name"),
    ("total-constant-only", "src/serial/serial_deadline.cpp",
     "return (uint64_t)t * ((uint64_t)n + 1);", "return (uint64_t)t;",
     "a read's total timeout forgets the per-byte part"),
    ("total-20x", "src/serial/serial_deadline.cpp",
     "return (uint64_t)t * ((uint64_t)n + 1);",
     "return 20 * (uint64_t)t * ((uint64_t)n + 1);",
     "a read's total timeout is twenty times too long"),
    ("poll-rounds-down", "src/serial/serial_deadline.cpp",
     "left / NS_PER_MS + (left % NS_PER_MS != 0)", "left / NS_PER_MS",
     "a wait rounds its deadline down and ends early"),
    ("read-total-forgotten", LOOP,
     "    deadline = interval < total ? interval : total;",
     "    deadline = interval;",
     "a read whose bytes keep coming inside the gap allowed never ends at "
     "its total"),
    ("write-never-gives-up", LOOP,
     "    if (last) {\n      break;\n    }\n", "",
     "a write into a stuck line never gives up"),
    ("write-short-is-failure", LOOP,
     "    if (last) {\n      break;\n    }\n",
     "    if (last) {\n      return 0;\n    }\n",
     "a write that runs out of time is a port failure, not a short write"),
    # Serial layer: hang-up.
    ("hangup-is-timeout", POSIX, HANGUP_READ_0[0], HANGUP_READ_0[1],
     "a read of nothing after poll said readable is taken as a timeout",
     HANGUP_REDUNDANT),
    ("read-error-is-timeout", POSIX, HANGUP_EIO[0], HANGUP_EIO[1],
     "a read error (EIO after a hang-up) is taken as a timeout",
     HANGUP_REDUNDANT),
    ("pollhup-ignored", WAIT, HANGUP_POLL[0], HANGUP_POLL[1],
     "poll's hang-up without data is not a failure", HANGUP_REDUNDANT),
    ("pollerr-ignored", WAIT, HANGUP_POLLERR[0], HANGUP_POLLERR[1],
     "poll's error flag is not a failure", HANGUP_REDUNDANT),
    ("hangup-never-seen", [(POSIX, [HANGUP_READ_0, HANGUP_EIO]),
                           (WAIT, [(HANGUP_POLL[0], "    if (0) {")])],
     None, None, "a hang-up is taken as a timeout: none of its checks"),
    # Serial layer: the last look, the rate read back, the port as found.
    ("no-last-look", LOOP,
     "    long r = io->take(io->port, buf + *got, n - *got);",
     "    long r = ready == 0 ? 0 : io->take(io->port, buf + *got, n - *got);",
     "a read ends on its deadline without taking what the port holds",
     "Linux's poll() looks at the port once more after its timeout, before "
     "it returns, so without the last look a read misses only bytes that come "
     "in the microseconds between poll() returning and the deadline check; "
     "no test can place a byte there (the tool stopped mid-pass is "
     "LineStop, which passes either way)"),
    ("rate-not-read-back", POSIX,
     "  if (runs > 0 && runs != baud && port->refused != baud) {",
     "  if (0) {", "a rate the port refused is not said"),
    ("not-restored-at-close", POSIX,
     "  serial_put_back(port->fd, port->saved);\n  interrupt_forget(port->fd);",
     "  tcflush(port->fd, TCIOFLUSH);\n  ioctl(port->fd, TIOCNXCL);\n"
     "  interrupt_forget(port->fd);",
     "close leaves the port as the tool set it"),
    ("not-restored-on-interrupt", "src/interrupt/interrupt_posix.cpp",
     "      s.restore(port, s.saved);\n", "",
     "Ctrl-C leaves the port as the tool set it"),
    ("interrupt-no-wait", "src/interrupt/interrupt_posix.cpp",
     "  for (int i = 0; i < INTERRUPT_WAIT_MS && interrupt_busy.load() > 0; i++) {",
     "  for (int i = 0; i < 0; i++) {",
     "an interrupt puts the ports back while other threads still change "
     "theirs"),
    ("interrupt-section-ignores-stop", "src/interrupt/interrupt_posix.cpp",
     "  if (interrupt_stopping.load() != 0) {\n    // Putting",
     "  if (0) {\n    // Putting",
     "a thread changes its port's settings after an interrupt put them back"),
    ("interrupt-no-sighup", "src/interrupt/interrupt_posix.cpp",
     "    SIGHUP,    SIGINT,  SIGQUIT,", "    SIGINT,  SIGQUIT,",
     "closing the terminal (SIGHUP) puts no port back"),
    ("interrupt-no-sigquit", "src/interrupt/interrupt_posix.cpp",
     "    SIGHUP,    SIGINT,  SIGQUIT,", "    SIGHUP,    SIGINT,",
     "Ctrl-\\ puts no port back"),
    ("interrupt-no-sigpipe", "src/interrupt/interrupt_posix.cpp",
     "SIGUSR2, SIGPIPE, SIGALRM,", "SIGUSR2, SIGALRM,",
     "standard output that goes away (portvet ... | head) puts no port back"),
    ("interrupt-ignored-sigpipe-stays", "src/interrupt/interrupt_posix.cpp",
     "(old.sa_handler == SIG_IGN && sig != SIGPIPE)",
     "(old.sa_handler == SIG_IGN)",
     "started with SIGPIPE ignored, the tool writes its report to nowhere "
     "to the end"),
    ("interrupt-nohup-ignored", "src/interrupt/interrupt_posix.cpp",
     "(old.sa_handler == SIG_IGN && sig != SIGPIPE)", "(0)",
     "a run started under nohup ends when the terminal closes"),
    ("interrupt-second-ends-at-once", "src/interrupt/interrupt_posix.cpp",
     "    for (;;) {\n      pause();\n    }\n  }\n  // The sections", "    _exit(128 + sig);\n  }\n  // The sections",
     "a second Ctrl-C ends the program before every port is back"),
    ("interrupt-faults-blocked", "src/interrupt/interrupt_posix.cpp",
     "    if (!fault) {\n      sigaddset(&block, sig);", "    if (1) {\n      sigaddset(&block, sig);",
     "a section blocks the faults too: a crash in it ends the program with "
     "the ports as the tool set them",
     "only a crash inside a section shows it, and the tool has none to "
     "plant; a fault signal sent from outside waits for the section's end "
     "either way"),
    ("poll-eintr-is-failure", WAIT,
     "    int n = serial_poll_one(&pfd, timeout);\n    if (n < 0) {\n      if (errno == EINTR) {",
     "    int n = serial_poll_one(&pfd, timeout);\n    if (n < 0) {\n      if (0) {",
     "a signal in the middle of a wait is a port failure"),
    ("harness-children-outlive-tests", "tests/harness.cpp",
     "    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {",
     "    if (0 && getppid() != parent) {",
     "the rig's programs outlive a test that is killed"),
    ("interrupt-not-watched", POSIX,
     "  interrupt_watch(fd, port->saved, sizeof port->saved, serial_put_back);\n", "",
     "an open port is not put back on Ctrl-C"),
    ("select-never-ready", WAIT,
     "    if (n > 0) {\n      // A hang-up shows as ready;",
     "    if (n > 0 && 0) {\n      // A hang-up shows as ready;",
     "the select() wait (macOS) never sees a port ready"),
    # Serial layer: exclusive open.
    ("no-flock", POSIX,
     "if (flock(fd, LOCK_EX | LOCK_NB) != 0) {", "if (0) {",
     "the port is not locked against a second portvet"),
    ("no-tiocexcl", POSIX,
     "  ioctl(fd, TIOCEXCL);\n  port->fd = fd;", "  port->fd = fd;",
     "another program may open the port while portvet holds it"),
    ("tty-check-missing", POSIX,
     "  if (!isatty(fd) || !serial_line_save(fd, port->saved, sizeof port->saved)) {",
     "  if (0) {",
     "a path that is no serial port is used as one"),
    ("no-close", POSIX,
     "  interrupt_forget(port->fd);\n  close(port->fd);",
     "  interrupt_forget(port->fd);",
     "close leaves the descriptor open"),
    ("no-flush-on-close", POSIX,
     "  tcflush((int)fd, TCIOFLUSH);\n  serial_line_restore", "  serial_line_restore",
     "close keeps unsent output",
     "a pty's close never waits for unsent output, so no pty can show it; "
     "the flush is for serial drivers that wait at close"),
    ("noctty-missing", POSIX,
     "O_RDWR | O_NOCTTY | O_NONBLOCK", "O_RDWR | O_NONBLOCK",
     "a port may become portvet's controlling terminal"),
    # Serial layer: line settings.
    ("ixon-kept", TERMIOS,
     "ICRNL | IXON | IXOFF", "ICRNL | IXOFF",
     "XON/XOFF flow control is left on"),
    ("icanon-kept", TERMIOS,
     "ECHO | ECHONL | ICANON | ISIG | IEXTEN", "ECHO | ECHONL | ISIG | IEXTEN",
     "canonical mode is left on"),
    ("icrnl-kept", TERMIOS,
     "IGNCR | ICRNL |", "IGNCR |", "CR is turned into LF on input"),
    ("seven-bits", TERMIOS,
     "want->c_cflag |= CS8 | CREAD | CLOCAL;",
     "want->c_cflag |= CS7 | CREAD | CLOCAL;",
     "7-bit framing instead of 8N1"),
    ("parity-kept", TERMIOS,
     "~(tcflag_t)(CSIZE | PARENB | CSTOPB)", "~(tcflag_t)(CSIZE | CSTOPB)",
     "parity another program set is kept"),
    ("two-stop-bits-kept", TERMIOS,
     "~(tcflag_t)(CSIZE | PARENB | CSTOPB)", "~(tcflag_t)(CSIZE | PARENB)",
     "two stop bits another program set are kept"),
    ("rtscts-kept", TERMIOS,
     "  want->c_cflag &= ~(tcflag_t)CRTSCTS;\n", "",
     "RTS/CTS flow control another program set is kept"),
    ("ixany-kept", TERMIOS,
     "IXON | IXOFF | IXANY | INPCK", "IXON | IXOFF | INPCK",
     "IXANY another program set is kept"),
    ("clocal-missing", TERMIOS,
     "CS8 | CREAD | CLOCAL;", "CS8 | CREAD;",
     "the modem lines are not ignored (a port without carrier blocks)"),
    ("output-rate-not-set", TERMIOS,
     "      cfsetospeed(want, rate.speed);\n", "",
     "only the input rate is set",
     "glibc's cfsetispeed sets the one rate field Linux has for both"),
    ("rate-not-set", TERMIOS,
     "      cfsetispeed(want, rate.speed);\n      cfsetospeed(want, rate.speed);\n",
     "", "the baud rate is not set"),
    ("custom-rate-not-set", POSIX,
     "    serial_set_custom_baud(port->fd, baud);", "",
     "a rate without a Bnnn constant is not set"),
    # Serial layer: the drain.
    ("drain-one-byte", "src/serial/serial_drain.cpp",
     "i < 100", "i < 1", "the drain reads one byte at most"),
    ("drain-nothing", "src/serial/serial_drain.cpp",
     "  for (int i = 0; i < 100; i++) {", "  for (int i = 0; i < 0; i++) {",
     "the drain reads nothing"),
    # STK500 probe.
    ("stk500-attempt-too-many", "src/stk500/stk500.cpp",
     "int stk500_CheckPresent(serial_port *port, int attempts, int *noSync) {\n"
     "  static const unsigned char cmd[] = {STK_GET_SIGN_ON, STK_CRC_EOP};\n"
     "  *noSync = 0;\n  for (int attempt = 1; attempt < attempts;",
     "int stk500_CheckPresent(serial_port *port, int attempts, int *noSync) {\n"
     "  static const unsigned char cmd[] = {STK_GET_SIGN_ON, STK_CRC_EOP};\n"
     "  *noSync = 0;\n  for (int attempt = 1; attempt <= attempts;",
     "the sign-on makes one attempt more than the count allows"),
    ("stk500-param-limit", "src/stk500/stk500.cpp",
     "STK500_PARAMETER_ATTEMPTS = 100;", "STK500_PARAMETER_ATTEMPTS = 50;",
     "the version reads use 49 attempts instead of 99"),
    ("stk500-nosync-uncounted", "src/stk500/stk500.cpp",
     "    ++*noSync;\n", "",
     "out-of-sync replies are not counted"),
    ("stk500-eighth-byte", "src/stk500/stk500.cpp",
     "id[7] == STK_OK && ", "",
     "the sign-on's closing byte is not checked"),
    ("stk500-failed-status", "src/stk500/stk500.cpp",
     "    if (status == STK_FAILED) {\n      return STK500_PARAM_FAILED;\n    }\n",
     "", "a parameter read answered 0x11 is retried instead of reported"),
    ("stk500-sync-error-kept", "src/stk500/stk500.cpp",
     "  record_step_end(record, result, noSync);\n"
     "  if (!stk500_CheckMessage(result, attempts, noSync)) {\n    error = 1;\n  }\n\n  for",
     "  record_step_end(record, result, noSync);\n"
     "  if (!stk500_CheckMessage(result, attempts, noSync)) {\n    error = 0;\n  }\n\n  for",
     "a failed sync step does not mark the report"),
    ("stk500-timeout-not-read", "src/stk500/stk500.cpp",
     "stk500_ComInit(port, timeout);\n\n", "stk500_ComInit(port, 20);\n\n",
     "the -t value does not reach the STK500 probe's line"),
    # AVR910 probe.
    ("avr910-rate-order", "src/avr910/avr910.cpp",
     "{115200, 38400, 19200, 9600}", "{115200, 19200, 38400, 9600}",
     "the rates are tried in the wrong order"),
    ("avr910-short-id", "src/avr910/avr910.cpp",
     "    if (n != 7) {", "    if (n < 6) {",
     "a six-byte identifier is compared as if whole",
     "the seventh byte is then whatever the fresh buffer of that attempt "
     "held, which matches only by chance of stale stack contents"),
    ("avr910-empty-write", "src/avr910/avr910.cpp",
     "|| put == 0) {", ") {",
     "a command byte that was not written is not a port failure"),
    ("avr910-unsigned-digits", "src/avr910/avr910.cpp",
     "int high = (signed char)major - '0';", "int high = major - '0';",
     "version digits are taken as unsigned bytes"),
    ("avr910-flush-empty", "src/avr910/avr910.cpp",
     "void avr910_flush(serial_port *port) { serial_drain(port); }",
     "void avr910_flush(serial_port *) {}",
     "the AVR910 probe does not drain before each command"),
    ("avr910-timeout-not-read", "src/avr910/avr910.cpp",
     "avr910_ComInit(port, timeout, baud);", "avr910_ComInit(port, 20, baud);",
     "the -t value does not reach the AVR910 probe's line"),
    ("avr910-goes-on-after-found", "src/avr910/avr910.cpp",
     "        report_out(\"-> Unknown programmer (or read error)\\n\");\n      }\n    }\n    return 0;",
     "        report_out(\"-> Unknown programmer (or read error)\\n\");\n      }\n    }\n    continue;",
     "the probe tries the other rates after a programmer answered"),
    # Options.
    ("r1-not-two", "src/main/options.cpp",
     "value < 2 ? 2 : value", "value < 1 ? 2 : value",
     "-r1 makes no attempt instead of one"),
    ("t0-accepted", "src/main/options.cpp",
     "        if (value <= 0) {\n          return arg;\n        }\n        options->timeout = value;",
     "        options->timeout = value;",
     "-t0 and a negative -t are accepted (-t-1 waits 49 days)"),
    ("port-four-refused", "src/main/main.cpp",
     "options.port <= 4", "options.port < 4", "-c4 is refused"),
    ("st-baud-range", "src/st/st.cpp",
     "value < 600 || value > 256000", "value < 600 || value >= 256000",
     "-b256000 is refused"),
    # Stress test.
    ("st-timeout-20", "src/st/st.cpp",
     "  return t < 1 ? 1 : t;", "  return t <= 1 ? 20 : t;",
     "the stress test's timeouts are 20 ms instead of 1 ms"),
    ("st-timeout-always-1", "src/st/st.cpp",
     "  return t < 1 ? 1 : t;", "  return 1;",
     "the stress test keeps 1 ms timeouts at 9600 baud and below"),
    ("st-first-byte-skipped", "src/st/st.cpp",
     "for (uint32_t k = 0; k < got; k++)", "for (uint32_t k = 1; k < got; k++)",
     "a wrong byte at position 0 is not counted"),
    ("st-short-write-uncounted", "src/st/st.cpp",
     "    errors++;\n    printf(\"Only %d of %d bytes written\\n\"",
     "    printf(\"Only %d of %d bytes written\\n\"",
     "a short write is reported but not counted"),
    ("st-flush-empty", "src/st/st.cpp",
     "void st_flush(serial_port *port) { serial_drain(port); }",
     "void st_flush(serial_port *) {}",
     "the stress test does not drain before each pass"),
    ("st-loops-one-short", "src/st/st.cpp",
     "loop < options.loops", "loop + 1 < options.loops",
     "the stress test runs one loop less than asked"),
    # The simulator's line model (the rig itself: a fault here makes every
    # test that runs on it less honest).
    ("line-no-spike-check", "sim/sim_line.cpp",
     "    if (at <= (double)horizon_ns && start_level != 0) {",
     "    if (0) {",
     "a receiver takes a high start bit for a byte, not for a spike"),
    ("line-samples-at-bit-start", "sim/sim_line.cpp",
     "uint64_t num = edge * 2 * rx + (uint64_t)(2 * k + 1) * tx;",
     "uint64_t num = edge * 2 * rx + (uint64_t)(2 * k) * tx;",
     "a receiver samples each bit where it begins, not in its middle"),
    ("line-no-framing-error", "sim/sim_line.cpp",
     "    int low_stop = line_sample(w, s, edge, rx_rate, k0 + 9, &at, &ignored) == 0;",
     "    int low_stop = 0;", "a low stop bit is no framing error"),
    ("line-unpaced", "sim/sim_line.cpp",
     "  *at =\n      (double)f->burst_ns + (double)num * LINE_NS / ((double)den * (double)tx);",
     "  *at = (double)f->burst_ns + 0 * (double)num * (double)den;",
     "a byte is handed over as its start bit begins, not after ten bits"),
    ("line-usb-timer-ignored", LINE,
     "      return h->first_ns + (uint64_t)h->latency_ms * 1000000u;",
     "      return UINT64_MAX;",
     "a USB bridge sends a packet only when it is full"),
    ("line-fifo-no-timeout", LINE,
     "      return h->last_ns + 4 * (uint64_t)h->char_ns;",
     "      return UINT64_MAX;",
     "a PC's UART keeps a tail shorter than its trigger in its FIFO for "
     "good"),
    ("line-fifo-linux-trigger", LINE,
     "  return rate != 0 && rate < 2400 ? 1 : 8;", "  return 8;",
     "a PC's UART under Linux keeps its trigger of 8 below 2400 baud"),
    ("line-16550-no-resync", LINE,
     "    if (w->resync && low_stop && byte != 0) {", "    if (0) {",
     "a PC's UART waits for an edge after a framing error, as an AVR's does"),
    ("line-16550-break-resyncs", LINE,
     "    if (w->resync && low_stop && byte != 0) {",
     "    if (w->resync && low_stop) {",
     "a PC's UART takes a break for a framing error and samples on"),
    ("sim-no-reset-on-open", "sim/sim_main.cpp",
     "    if (sim_holders(opens, &holders)) {",
     "    if (sim_holders(opens, &holders) && 0) {",
     "the simulator keeps what the run before left in flight when a program "
     "opens the port",
     "equivalent: while nobody holds the port the loop empties the line at "
     "every turn, so the reset on open matters only where one program's "
     "close and the next one's open fall into one turn of the loop, which "
     "no test can time; sim-keeps-in-flight removes both"),
    ("sim-keeps-in-flight", "sim/sim_main.cpp",
     [("    if (sim_holders(opens, &holders)) {",
       "    if (sim_holders(opens, &holders) && 0) {"),
      ("    if (opens >= 0 && holders == 0) {",
       "    if (opens >= 0 && holders == 0 && 0) {")],
     None,
     "what one run left in flight reaches the next program to open the "
     "port"),
    # The record of what crossed the line, and the verdicts.
    ("record-last-failure", "src/record/record.cpp",
     "  if (!ok && !s->failed) {", "  if (!ok) {",
     "the step named for a port failure is the last one tried, not the first "
     "that failed"),
    ("record-drain-unmarked", "src/serial/serial_drain.cpp",
     "  record_drain(&port->record, 1);\n", "",
     "bytes the drain throws away count as a pass's bytes"),
    ("diag-cut-short-unseen", "src/diagnose/diagnose_check.cpp",
     "  if (reply->got == 0 || reply->n < reply->got) {\n    return NULL;  // nothing came",
     "  if (1) {\n    return NULL;  // nothing came",
     "a reply cut short is called bytes no programmer sends"),
    ("diag-no-echo", "src/diagnose/diagnose_check.cpp",
     "  return with_bytes > 0;", "  return false;",
     "an echo is not recognised"),
    ("diag-last-noise", "src/diagnose/diagnose_check.cpp",
     "  for (int i = 0; i < n && noise < 0; i++) {",
     "  for (int i = 0; i < n; i++) {",
     "the noise named is the last rate's, not the first's"),
    ("diag-no-bootloader", "src/diagnose/diagnose_check.cpp",
     "  bool bare = stk->first.got == 2 && stk->first.bytes[0] == STK_INSYNC &&\n              stk->first.bytes[1] == STK_OK;",
     "  bool bare = stk->first.got == 2 && stk->first.bytes[0] == STK_INSYNC &&\n              stk->first.bytes[1] == STK_FAILED;",
     "a bootloader's 14 10 is not recognised"),
    # The verdicts' reading of the record: where the bytes stand.
    ("diag-nosync-by-value", "src/diagnose/diagnose_check.cpp",
     "      n += s->no_sync;", "      n += record_seen(s->values, 0x15);",
     "any 0x15 in a reply is taken for an out-of-sync reply, not the probe's "
     "count"),
    ("diag-found-from-first-reply", "src/diagnose/diagnose_check.cpp",
     "  if (stk->result > 0) {",
     "  if (stk->result > 0 && stk->first.bytes[0] == STK_INSYNC) {",
     "a programmer found after out-of-sync sign-ons is read from the first "
     "reply"),
    ("diag-failed-step-ignored", "src/diagnose/diagnose_check.cpp",
     "  const record_step *failed = diag_first_failed(r, from, to);\n"
     "  if (failed != NULL) {",
     "  const record_step *failed = diag_first_failed(r, from, to);\n"
     "  if (failed != NULL && failed->no_sync == 0) {",
     "a step whose every reply was out of sync is taken for out-of-sync "
     "replies now and then"),
    ("diag-other-name-is-noise", "src/diagnose/diagnose_check.cpp",
     "        (diag_name_reply(&s->last, id) || diag_name_reply(&s->first, id))) {",
     "        (diag_name_reply(&s->last, id) && 0)) {",
     "an AVR910 programmer of a name the check does not know is taken for "
     "noise"),
    ("diag-other-id-sync-ignored", "src/diagnose/diagnose_check.cpp",
     "  bool sync_works = sync != NULL && sync->result > 0;",
     "  bool sync_works = false && sync != NULL;",
     "a device that signs on with another name is called another make though "
     "its get-sync works"),
    ("diag-silence-asked-rates", "src/diagnose/diagnose_check.cpp",
     "  return s->runs > 0 ? s->runs : s->baud;",
     "  return s->baud + 0 * s->runs;",
     "the connection check's verdict names the rates asked for, not those the "
     "port ran at"),
    ("diag-sound-by-values", "src/diagnose/diagnose_stress.cpp",
     "  if (st->sound == st->passes) {",
     "  if (memcmp(s->seen_in, s->seen_out, sizeof s->seen_in) == 0) {",
     "a stress test is called sound when every value came back, wherever"),
    ("diag-all-bytes-with-shorts", "src/diagnose/diagnose_stress.cpp",
     "  if (shorts > 0) {\n    diag_append(out, size,\n"
     "                \"%lu of %lu passes at %s came back short, and the bytes",
     "  if (shorts > 0 && 0) {\n    diag_append(out, size,\n"
     "                \"%lu of %lu passes at %s came back short, and the bytes",
     "passes that came back short with bytes lost are called garbled"),
    ("diag-blocks-by-gcd", "src/diagnose/diagnose_stress.cpp",
     "      st->short_min == st->short_gcd) {", "      1) {",
     "short passes are called whole blocks when their counts only share a "
     "factor"),
    ("diag-quiet-loop-missed", "src/diagnose/diagnose_stress.cpp",
     "  if (st->last_with_bytes > 0 && st->last_with_bytes < st->passes) {",
     "  if (0) {",
     "a loop that stopped answering is taken for lost bytes"),
    ("diag-order-ignored", "src/diagnose/diagnose_stress.cpp",
     "  bool in_order = r->stream_breaks == 0;", "  bool in_order = true;",
     "bytes that came late are taken for all of them, though some never "
     "came"),
    ("record-pass-uncounted", "src/st/st.cpp",
     "  record_stress_pass(&port->record, put, got, differs,",
     "  record_stress_pass(&port->record, put, got, -1,",
     "the record takes every pass that brought all its bytes for a sound one"),
    ("sweep-note-straight", "src/serial/serial_posix.cpp",
     "    report_err(", "    fprintf(stderr,",
     "a sweep's note of a refused rate goes straight to standard error, into "
     "another port's block"),
    ("diag-asked-rate", "src/diagnose/diagnose_stress.cpp",
     "  if (s->runs > 0 && s->runs != s->baud) {", "  if (0) {",
     "the stress verdict gives the rate asked, not the one the port ran at"),
    ("diag-late-as-lost", "src/diagnose/diagnose_stress.cpp",
     "  bool late = s->drained > 0 || st->late_starts > 0;",
     "  bool late = false;",
     "bytes a drain took count as never come"),
    ("diag-seven-bits-on-prefix", "src/diagnose/diagnose_stress.cpp",
     "        !record_seen(s->seen_in, (unsigned char)(b & 0x7F))) {",
     "        0) {",
     "a short pass that read only low values is called seven data bits"),
    ("ports-asked-when-set", "src/ports/ports_hint.cpp",
     "  int set = env != NULL && env[0] != '\\0';",
     "  int set = 0 && env != NULL;",
     "the hint asks for PORTVET_COMn where it is set already"),
    # The sweep: ports at the same time, output in port order.
    ("sweep-no-turn", "src/report/report_order.cpp",
     "  if (index == out->turn) {", "  if (1) {",
     "every port writes straight to the streams: a later port's lines come "
     "before an earlier port is done"),
    ("sweep-all-buffered", "src/report/report_order.cpp",
     "  if (index == out->turn) {", "  if (index == out->turn && out->done[index]) {",
     "the first port's lines wait in its buffer instead of showing as they "
     "happen"),
    ("sweep-one-after-another", "src/sweep/sweep.cpp",
     "    started[j] = thread_start(&jobs[j].thread, sweep_run, &jobs[j]);",
     "    started[j] = 0;",
     "the ports are checked one after another, not at the same time"),
    ("sweep-same-device-at-once", "src/sweep/sweep.cpp",
     "      if (strcmp(ids[k], ids[i]) == 0) {", "      if (0) {",
     "two COMn of one device are checked at the same time"),
    ("sweep-buffer-not-printed", "src/report/report_order.cpp",
     "    if (out->turn < out->count) {\n      report_order_print_buffer(out, out->turn);",
     "    if (0) {\n      report_order_print_buffer(out, out->turn);",
     "a later port's lines written before its turn are lost"),
    # The identify mode.
    ("id-v2-sum-unchecked", "src/identify/identify_stk500v2.cpp",
     "  return sum == frame[body_len + 5] ? (int)body_len : -1;",
     "  return sum == frame[body_len + 5] || 1 ? (int)body_len : -1;",
     "an STK500 v2 answer with a wrong checksum is taken"),
    ("id-0x93-ignored", "src/identify/identify_stk500v1.cpp",
     "    bool isp = kind == 'S';", "    bool isp = kind >= 0;",
     "a bootloader that answers ArduinoISP's parameter is called ArduinoISP"),
    ("id-no-board-wait", "src/identify/identify_plan.cpp",
     "  if (id_listen(s, ID_BOARD_MS) < 0) {", "  if (id_listen(s, 0) < 0) {",
     "a bootloader's second is not waited out before asking for the program "
     "the board runs after it"),
    ("id-after-taken-as-same", "src/identify/identify.cpp",
     "              strcmp(after.found.decided, boot.decided) == 0 &&",
     "              1 &&",
     "the program a board runs after its bootloader is not named"),
    ("id-noise-unheard", "src/identify/identify.cpp",
     "  } else if (s.unasked.count[0] == first_look) {", "  } else if (1) {",
     "a port that streams bytes without a query is not called noise"),
    ("id-nosync-not-ended", "src/identify/identify_stk500v1.cpp",
     "    if (attempt > 0 && n > 0 && reply[0] == STK_NOSYNC) {",
     "    if (0) {",
     "an STK500 v1 device out of sync is asked again without ending the "
     "command it holds"),
    ("id-enters-program-mode", "src/identify/identify_avr910.cpp",
     "  n = id_ask(s, 'p', ID_WAIT_MS, reply, 1);",
     "  n = id_ask(s, 'P', ID_WAIT_MS, reply, 1);",
     "the AVR910 type query becomes enter-programming-mode"),
    ("id-timeout-long", "src/identify/identify_query.h",
     "enum { ID_TIMEOUT_MS = 20 };", "enum { ID_TIMEOUT_MS = 200 };",
     "the identify mode waits ten times too long on a silent port"),
    ("id-timeout-short", "src/identify/identify_query.h",
     "enum { ID_TIMEOUT_MS = 20 };", "enum { ID_TIMEOUT_MS = 2 };",
     "the identify mode gives a slow device a tenth of its time"),
    ("id-unasked-believed", "src/identify/identify_plan.cpp",
     "  if (found->outcome != ID_FOUND || !found->with_unasked) {",
     "  if (1) {",
     "an answer with bytes that came unasked around it is believed at once "
     "(a sketch that prints is taken for an AVR910 programmer)"),
    # The plan's waits, resets and order.
    ("id-knock-in-reset", "src/identify/identify_plan.cpp",
     "const uint32_t ID_STARTUP_MS = 150;", "const uint32_t ID_STARTUP_MS = 0;",
     "the query for a board goes out in its start-up, and is lost"),
    ("id-deaf-wait-short", "src/identify/identify_plan.cpp",
     "const uint32_t ID_DEAF_MAX_MS = 1250;",
     "const uint32_t ID_DEAF_MAX_MS = 700;",
     "the wait for a deaf bootloader ends at 0.7 s, not 1.25"),
    ("id-deaf-wait-long", "src/identify/identify_plan.cpp",
     "const uint32_t ID_DEAF_MAX_MS = 1250;",
     "const uint32_t ID_DEAF_MAX_MS = 1650;",
     "the wait for a deaf bootloader is 0.4 s longer than needed: an empty "
     "port takes more than 3 s"),
    ("id-v1-wait-short", "src/identify/identify_plan.cpp",
     "const uint32_t ID_V1_UNTIL_MS = 1000;",
     "const uint32_t ID_V1_UNTIL_MS = 300;",
     "the first knock at 115200 waits alone until 0.3 s: optiboot (0.44 s) "
     "finds the STK500 v2 message behind it"),
    ("id-57600-wait-short", "src/identify/identify_plan.cpp",
     "const uint32_t ID_57600_UNTIL_MS = 560;",
     "const uint32_t ID_57600_UNTIL_MS = 200;",
     "round 2 leaves 57600 before ATmegaBOOT (0.265 s) answers"),
    ("id-deaf-evidence-ignored", "src/identify/identify_plan.cpp",
     "const uint32_t ID_DEAF_MS = 50;", "const uint32_t ID_DEAF_MS = 5000;",
     "a device that answered only a while after the query is not taken for "
     "a board that restarted"),
    ("id-no-second-reset", "src/identify/identify_plan.cpp",
     "    // them (the 57600 query costs ATmegaBOOT at 19200 one stray byte; its\n"
     "    // own query waits in its UART if it is deaf still).\n"
     "    {ID_REOPEN, 0, 0, 0, 0},\n",
     "    // them (the 57600 query costs ATmegaBOOT at 19200 one stray byte; its\n"
     "    // own query waits in its UART if it is deaf still).\n",
     "round 2 runs without a reset of its own"),
    ("id-round2-order", "src/identify/identify_plan.cpp",
     [("    {ID_KNOCK, 57600, ID_V1, ID_STARTUP_MS, ID_57600_UNTIL_MS},\n"
       "    {ID_KNOCK, 19200, ID_V1, 0, ID_DEAF_MAX_MS},",
       "    {ID_KNOCK, 19200, ID_V1, ID_STARTUP_MS, ID_57600_UNTIL_MS},\n"
       "    {ID_KNOCK, 57600, ID_V1, 0, ID_DEAF_MAX_MS},")],
     None, "round 2 gives 19200 the first bytes and 57600 the long wait"),
    ("id-no-evidence-round", "src/identify/identify_plan.cpp",
     "  if (run->found.outcome == ID_SILENT && run->other.n_other > 0) {",
     "  if (0) {",
     "where something answered late at 57600, no third reset waits for it"),
    ("id-no-restart-test", "src/identify/identify.cpp",
     "    int restarts = id_plan_restarts(s, run->baud);",
     "    int restarts = 0 * id_plan_restarts(s, run->baud);",
     "a device that says \"AVR ISP\" is not tested for a restart"),
    ("id-asks-after-reset", "src/identify/identify_plan.cpp",
     "    {ID_ASK, 115200, ID_V1, 0, ID_IN_RESET_MS},",
     "    {ID_ASK, 115200, ID_V1, 0, 0},",
     "after a slow open the query at once goes out when a board's reset is "
     "over, waits in optiboot's UART and drives it off"),
    # A bootloader's chip.
    ("id-chip-asks-programmer", "src/identify/identify.cpp",
     "  if (boot.role == ID_BOOTLOADER && !boot.once) {",
     "  if (!boot.once) {",
     "a device that may be a programmer is asked for a signature, which "
     "needs programming mode"),
    ("id-chip-asks-gone", "src/identify/identify.cpp",
     "  if (boot.role == ID_BOOTLOADER && !boot.once) {",
     "  if (boot.role == ID_BOOTLOADER) {",
     "a bootloader that answered once and left is asked for its chip",
     "equivalent: it has left for its program by then, so the read goes "
     "unanswered and the line is the same; it costs one query's wait (40 ms), "
     "well inside the plan's time bounds"),
    # The newer AVRs' programmers: jtag2updi's CRC, the UPDI check.
    ("id-mkii-crc-half", "src/identify/identify_jtagmkii.cpp",
     "  if (b[n - 2] != (crc & 0xFF) || b[n - 1] != (crc >> 8)) {",
     "  if (b[n - 2] != (crc & 0xFF)) {",
     "a JTAGICE mkII answer is believed with half its CRC wrong"),
    ("id-mkii-once", "src/identify/identify_jtagmkii.cpp",
     "attempt < 2 && n == 0", "attempt < 1 && n == 0",
     "jtag2updi is asked its sign-on once: a parser that lost it to the "
     "garbage before is taken for nothing"),
    ("id-mkii-crc-poly", "src/identify/identify_jtagmkii.cpp",
     "(uint16_t)((crc >> 1) ^ 0x8408)", "(uint16_t)((crc >> 1) ^ 0x1021)",
     "the CRC with CCITT's polynomial unreflected"),
    ("id-mkii-crc-init", "src/identify/identify_jtagmkii.cpp",
     "  uint16_t crc = 0xFFFF;", "  uint16_t crc = 0;",
     "the CRC starts from 0, not FFFF"),
    ("id-updi-echo-unchecked", "src/identify/identify_updi.cpp",
     "  return memcmp(back, id_updi_pattern, sizeof back) == 0 ? ID_ECHO_WHOLE",
     "  return memcmp(back, id_updi_pattern, 0) == 0 ? ID_ECHO_WHOLE",
     "an echo that came back changed is called whole"),
    ("id-updi-one-break", "src/identify/identify_updi.cpp",
     "breaks <= 2 && !r->answered", "breaks <= 1 && !r->answered",
     "a chip that wants a double break is never asked after one"),
    ("id-updi-revision", "src/identify/identify_updi.cpp",
     "(unsigned)(r->statusa >> 4)", "(unsigned)(r->statusa & 0x0F)",
     "the UPDI revision read from STATUSA's low nibble"),
    ("id-updi-family-padded", "src/identify/identify_updi.cpp",
     "  while (from < 7 && sib[from] == ' ') {",
     "  while (from < 7 && sib[from] == '\\0') {",
     "an AVR Dx's family keeps the SIB's padding"),
    ("id-updi-8n1", "src/identify/identify_updi.cpp",
     "  serial_setup_framed(s->port, ID_TIMEOUT_MS, baud, framing);",
     "  serial_setup(s->port, ID_TIMEOUT_MS, baud);",
     "the UPDI check talks 8N1, not UPDI's 8E2",
     "equivalent on the rigs: " + PTY_8N + "; the framing it asks for is "
     "proven on the termios and DCB fields (termios-no-parity, dcb-odd)"),
    ("termios-no-parity", TERMIOS,
     "    want->c_cflag |= PARENB;", "",
     "UPDI's framing goes out without parity"),
    ("termios-odd-kept", TERMIOS,
     "CSIZE | PARENB | PARODD | CSTOPB", "CSIZE | PARENB | CSTOPB",
     "odd parity another program left turns UPDI's even parity odd"),
    ("dcb-odd", DCB,
     "NOPARITY : EVENPARITY", "NOPARITY : ODDPARITY",
     "UPDI's framing goes out with odd parity on Windows"),
    ("id-chip-109-order", "src/identify/identify_avr910.cpp",
     "    found->chip[0] = reply[2];", "    found->chip[0] = reply[0];",
     "AVR109's signature is read first byte first, not last"),
    ("id-chip-v1-no-ok", "src/identify/identify_stk500v1.cpp",
     "  if (n == 5 && reply[0] == STK_INSYNC && reply[4] == STK_OK) {",
     "  if (n >= 4 && reply[0] == STK_INSYNC) {",
     "a cut or failed signature answer names a chip",
     "equivalent: every STK500 v1 bootloader the rigs hold (optiboot and "
     "ATmegaBOOT as built, the simulator's) answers the read whole, and the "
     "line model garbles whole exchanges at a wrong rate, never one reply "
     "at the right one"),
    ("id-chip-v2-index", "src/identify/identify_stk500v2.cpp",
     "    const unsigned char body[] = {ID_V2_READ_SIGNATURE, 4, 0x30, 0x00, i,",
     "    const unsigned char body[] = {ID_V2_READ_SIGNATURE, 4, 0x30, 0x00, 0,",
     "the STK500 v2 signature read asks byte 0 three times"),
    ("id-chip-table", "src/identify/identify_chip.cpp",
     "    if (c.sig[0] == s[0] && c.sig[1] == s[1] && c.sig[2] == s[2]) {",
     "    if (c.sig[0] == s[0] && c.sig[1] == s[1]) {",
     "a chip is named by two of its three signature bytes"),
    ("nosync-by-last-byte", "src/stk500/stk500.cpp",
     "  if (r == STK500_RECEIVED && reply[0] == STK_NOSYNC) {",
     "  if (r == STK500_RECEIVED && reply[n - 1] == STK_NOSYNC) {",
     "an out-of-sync reply is known by its last byte, not its first"),
    ("record-pass-wraps", "src/record/record.cpp",
     "  pass.pass = st->passes;", "  pass.pass = (uint8_t)st->passes;",
     "a pass past the 255th is recorded under a wrapped number"),
    ("record-passes-wrap", "src/record/record.cpp",
     "  st->passes = record_add(st->passes, 1);",
     "  st->passes = (uint8_t)record_add(st->passes, 1);",
     "the count of passes wraps at 256"),
    # Every port and what is behind it.
    ("usb-vendor-alone", "src/ports/ports_usb.cpp",
     "    if (k.vid == vid && k.pid == pid) {", "    if (k.vid == vid) {",
     "a USB device is named by its vendor alone (every Arduino an Uno)"),
    ("every-empty-uart-listed", "src/ports/ports_every_linux.cpp",
     "    if (strcmp(type, \"0\") == 0) {", "    if (0) {",
     "an 8250 slot without a UART is listed as a port"),
    ("every-usb-near-only", "src/ports/ports_every_linux.cpp",
     "  for (int up = 0; up < 4; up++) {", "  for (int up = 0; up < 2; up++) {",
     "a bridge's USB device (two levels above its port) is not found"),
    ("every-text-order", "src/ports/ports_every_linux.cpp",
     "  int c = strncmp(x, y, nx < ny ? nx : ny);",
     "  return strcmp(x, y);\n  int c = strncmp(x, y, nx < ny ? nx : ny);",
     "ports in text order (ttyUSB10 before ttyUSB2)"),
    ("entry-resolved-only", "src/ports/ports_every_linux.cpp",
     "  return ports_read_tty(cls, resolved, entry) ||\n         (strcmp(",
     "  return ports_read_tty(cls, resolved, entry) ||\n         (0 && strcmp(",
     "a tty that is a link in /dev is not found by its own name"),
    ("sweep-four-at-once", "src/sweep/sweep.h",
     "enum { SWEEP_PORTS = 16 };", "enum { SWEEP_PORTS = 4 };",
     "more than four ports are identified four at a time"),
    ("upload-always-arduino", "src/identify/identify_upload.cpp",
     "    programmer = board ? \"arduino\" : \"stk500v1\";",
     "    programmer = \"arduino\";",
     "a programmer is given a board's bootloader's settings"),
    ("upload-wiring-for-programmers", "src/identify/identify_upload.cpp",
     "    programmer = board ? \"wiring\" : \"stk500v2\";",
     "    programmer = \"wiring\";",
     "an STK500 v2 programmer is given the Mega's bootloader's settings"),
    ("check-name-note-missing", "src/main/main.cpp",
     "  if (options.port == 0) {\n    diagnose_port_name(",
     "  if (0) {\n    diagnose_port_name(",
     "-c with a device's name reads as -c0 unsaid"),
    ("check-implicit-port-unsaid", "src/check/check_port.cpp",
     "  if (verdict[0] != '\\0' && serial_implicit_path(name, path, sizeof path)) {",
     "  if (0 && serial_implicit_path(name, path, sizeof path)) {",
     "a failed check of COM1 without PORTVET_COM1 does not say it was /dev/ttyS0"),
    ("implicit-though-set", POSIX,
     "  return name[0] != '/' && (env == NULL || env[0] == '\\0') &&",
     "  return name[0] != '/' && (env != NULL || env == NULL) &&",
     "a COMn the user set is said to be /dev/ttyS<n-1>"),
    ("win-ftdi-channel-kept", "src/ports/ports_every_win32.cpp",
     "(int)strlen(ftdi) - 2, ftdi + 1);", "(int)strlen(ftdi) - 1, ftdi + 1);",
     "Windows: an FTDI adapter's serial number keeps its channel's letter"),
    # Windows backend (with --wine).
    ("win-not-overlapped", WIN32,
     "OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);",
     "OPEN_EXISTING, 0, NULL);",
     "Windows: the port is opened without overlapped I/O, so the console "
     "handler waits behind a read in flight",
     "Wine runs a port's calls side by side whether the handle is "
     "overlapped or not; only Windows holds the handler up"),
    ("win-at-once-read-pends", WIN32,
     "  if (ms == 0) {\n    // What has come, at once: as many bytes",
     "  if (0) {\n    // What has come, at once: as many bytes",
     "Windows: a read of what has come, at once, asks for n bytes with "
     "timeouts that Wine leaves pending on an overlapped handle"),
    ("win-xon-kept", DCB, "  want->fOutX = FALSE;\n", "",
     "Windows: XON/XOFF on output is kept as another program left it"),
    ("win-xoff-kept", DCB, "  want->fInX = FALSE;\n", "",
     "Windows: XON/XOFF on input is kept as another program left it"),
    ("win-seven-bits", DCB, "want->ByteSize = 8;", "want->ByteSize = 7;",
     "Windows: 7-bit framing"),
    ("win-parity-kept", DCB, "  want->Parity = NOPARITY;\n", "",
     "Windows: parity another program set is kept"),
    ("win-dtr-changed", DCB, "  want->fDsrSensitivity = FALSE;\n",
     "  want->fDsrSensitivity = FALSE;\n  want->fDtrControl = DTR_CONTROL_ENABLE;\n",
     "Windows: the DTR line's control is changed (a programmer may reset on it)"),
    ("win-not-restored-at-close", WIN32,
     "  serial_put_back((interrupt_port)port->handle, port->saved);\n",
     "",
     "Windows: close leaves the port as the tool set it"),
    ("win-not-restored-on-interrupt", "src/interrupt/interrupt_win32.cpp",
     "      s.restore(port, s.saved);\n", "",
     "Windows: Ctrl-C leaves the port as the tool set it"),
    ("win-rate-not-read-back", WIN32,
     "  if (known && now.BaudRate != (DWORD)baud && port->refused != baud) {",
     "  if (0) {",
     "Windows: a rate the port refused is not said"),
    ("win-bare-com-past-4", WIN32,
     "n = snprintf(path, size, \"\\\\\\\\.\\\\%s\", env);",
     "n = snprintf(path, size, \"%s\", env);",
     "Windows: COMk from PORTVET_COMn opened without \\\\.\\"),
    ("win-no-comm-state-check", WIN32,
     "  if (!GetCommState(port->handle, &dcb) ||\n      !GetCommTimeouts(port->handle, &timeouts)) {",
     "  if (0) {",
     "Windows: a file that is no serial port is used as one"),
]


def windows(path):
    """Whether a fault in this file shows only in the Windows build."""
    return path in (WIN32, DCB) or path.endswith("_win32.cpp")


def run(cmd, cwd, log, timeout=None):
    with open(log, "a") as out:
        return subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                              timeout=timeout).returncode


def main(argv):
    keep = "--keep" in argv
    wine = "--wine" in argv
    run_all = "--all" in argv
    only = None
    if "--only" in argv:
        only = set(argv[argv.index("--only") + 1].split(","))
    tests = []
    if "--tests" in argv:
        tests = ["-R", argv[argv.index("--tests") + 1]]
    scratch = tempfile.mkdtemp(prefix="portvet-mutants-")
    os.chmod(scratch, 0o755)  # some tests run portvet as nobody
    src = os.path.join(scratch, "src")
    build = os.path.join(scratch, "build")
    log = os.path.join(scratch, "log.txt")
    files = subprocess.run(["git", "ls-files"], cwd=ROOT, capture_output=True,
                           text=True, check=True).stdout.split()
    for f in files:
        os.makedirs(os.path.dirname(os.path.join(src, f)) or src, exist_ok=True)
        shutil.copy2(os.path.join(ROOT, f), os.path.join(src, f))
    print(f"scratch copy: {scratch}", flush=True)
    configure = ["cmake", "-S", src, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                 f"-DPORTVET_WINE_TESTS={'ON' if wine else 'OFF'}"]
    # The format check and the packaging say nothing about behaviour.
    ctest = ["ctest", "--test-dir", build, "-j4", "--timeout", "120",
             "--output-on-failure",
             "--stop-on-failure", "-E", "^(format|install|package)\\."] + tests
    # A fault runs the quick suites first (unit, virtual time, end to end),
    # the slow real-time ones (the firmware's 40 s sweep among them) only
    # if those pass: most faults are caught in seconds.
    slow = "^(timing|line|firmware|select|wine)$"
    phases = [ctest + ["-LE", slow], ctest + ["-L", slow]]
    if run(configure, scratch, log) != 0 or \
            run(["cmake", "--build", build, "-j2"], scratch, log) != 0:
        print(f"the unchanged sources do not build: see {log}")
        return 2
    if run(ctest, scratch, log) != 0:
        print(f"the suite fails on the unchanged sources: see {log}")
        return 2
    killed = ran = 0
    survivors = []
    for m in MUTANTS:
        ident, path, old, new, what = m[:5]
        if only and ident not in only:
            continue
        if len(m) > 5 and not run_all:
            print(f"equivalent  {ident}: {what} ({m[5]})", flush=True)
            continue
        # The edits: [(file, [(old, new), ...]), ...].
        if isinstance(path, list):
            edits = path
        else:
            edits = [(path, old if isinstance(old, list) else [(old, new)])]
        if any(windows(f) for f, _ in edits) and not wine:
            print(f"not run     {ident}: {what} (needs --wine)", flush=True)
            continue
        originals = {}
        missing = []
        for f, pairs in edits:
            full = os.path.join(src, f)
            with open(full) as fh:
                originals[full] = fh.read()
            missing += [f for o, _ in pairs if originals[full].count(o) != 1]
        if missing:
            print(f"NOT APPLIED {ident}: its text does not occur once in "
                  f"{', '.join(missing)}")
            survivors.append(ident)
            ran += 1
            continue
        for f, pairs in edits:
            full = os.path.join(src, f)
            mutated = originals[full]
            for o, n in pairs:
                mutated = mutated.replace(o, n)
            with open(full, "w") as fh:
                fh.write(mutated)
        start = time.time()
        try:
            if run(["cmake", "--build", build, "-j2"], scratch, log) != 0:
                verdict = "NOT BUILT  "
                survivors.append(ident)
            else:
                status = 0
                for phase in phases:
                    status = run(phase, scratch, log, timeout=900)
                    if status != 0:
                        break
                if status != 0:
                    verdict = "killed     "
                    killed += 1
                else:
                    verdict = "SURVIVED   "
                    survivors.append(ident)
        finally:
            for full, text in originals.items():
                with open(full, "w") as fh:
                    fh.write(text)
        ran += 1
        print(f"{verdict} {ident}: {what} ({time.time() - start:.0f} s)", flush=True)
    # Leave the scratch build as the sources are.
    run(["cmake", "--build", build, "-j2"], scratch, log)
    if survivors:
        print("survivors: " + ", ".join(survivors))
    print(f"killed {killed} of {ran}")
    # A phase stopped at its first failure skips the fixture that stops the
    # Wine server, which would outlive the scratch copy: the test command's
    # leftover check ends it.
    subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "leftovers.py"),
                    build, "mutants", os.devnull], stdout=subprocess.DEVNULL)
    if not keep:
        shutil.rmtree(scratch, ignore_errors=True)
    return 0 if not survivors else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
