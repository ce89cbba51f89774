#!/usr/bin/env python3
"""Timing benchmark of portvet against portvet-sim on pseudo-terminals.

Run on demand (not a test):  python3 bench/timing.py [BUILD_DIR] [RUNS] [TEXT]

TEXT, if given, runs only the cases whose name holds it (as "identify").

For each case it runs portvet RUNS times (default 7) and prints the median
wall time against the ideal that the timeout arithmetic gives (a read of n
bytes with timeout t waits t*n + t ms on a silent line; the drain before
each AVR910 exchange and each stress-test pass waits 2t), the ratio, and the
CPU time portvet spent as a share of its wall time. Targets: every ratio
between 1.00 (a timeout must not end early) and 1.02 (the sweep of four
ports: 1.1 of one port's ideal), CPU under 1 % on the silent cases; a pass
through a host no longer than the line's transit and the host's last
hand-over.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 7
ONLY = sys.argv[3] if len(sys.argv) > 3 else ""
PORTVET = os.path.join(BUILD, "portvet")
SIM = os.path.join(BUILD, "portvet-sim")


def silent(attempts, t):
    # Presence: one 1-byte read (2t). AVR910: 4 rates x (attempts-1) x
    # (drain: 1-byte read, 2t; identifier: 7-byte read, 8t).
    return 2 * t + 4 * (attempts - 1) * (2 * t + 8 * t)


SILENT = ["stk500", "--silent-after", "0"]

# The stress test on a loopback paced at 115200: per pass the drain (2 ms)
# and the pattern's 2560 bit times on the line.
PASS_115200 = 2 + 2560 / 115200 * 1000


def pass_through(host, rate=115200):
    """One pass's ideal through a host: the drain (2 ms), then the pattern
    until the host hands its last byte over. Byte k is received 9.5 bit
    times after its start (its stop bit sampled); a UART's FIFO passes 8 on
    at once (4 character times after the last for a smaller tail); a USB
    bridge a packet when it is full or its latency timer runs out after its
    first byte."""
    c = 10 / rate * 1000  # ms a character
    came = [(k + 0.95) * c for k in range(256)]
    if host[0] == "uart":
        trigger = host[1]
        tail = 256 % trigger
        last = came[-1] + (4 * c if tail else 0)
    else:
        size, latency = host[1], host[2]
        first = 0
        for k in range(256):
            if k - first == size or came[k] > came[first] + latency:
                first = k
        last = min(came[first] + latency, came[first + size - 1]
                   if first + size <= 256 else float("inf"))
    return 2 + last

# The identify mode on an empty port: a first look for noise (40 ms) that
# ends in its first 1.25 s wait (round 1: the board's query at 150 ms,
# another at 1 s, answers awaited to 1.25 s), eight short queries (40 ms
# each: the programmers' rates, and jtag2updi's sign-on), a second reset
# and its wait (to 1.25 s again).
ID_EMPTY = 1250 + 8 * 40 + 1250

FIRMWARE = os.path.join(BUILD, "tests", "firmware")
FWHOST = os.path.join(FIRMWARE, "fwhost")
BOOTLOADERS = "/usr/share/arduino/hardware/arduino/avr/bootloaders"


def board(mcu, bootloader, hz="16000000", app="silent.hex"):
    """A board of arduino-core-avr on fwhost, with its program at 0."""
    return ["fwhost", "--board", "--mcu", mcu, "--hz", hz, "--app",
            os.path.join(FIRMWARE, app), bootloader]


CASES = [
    # name, simulators for COM1.., portvet arguments, ideal ms
    ("silent port -c1 -r2 -t20", [SILENT], ["-c1", "-r2", "-t20"],
     silent(2, 20)),
    ("silent port -c1 -r4 -t10", [SILENT], ["-c1", "-r4", "-t10"],
     silent(4, 10)),
    # The sweep checks its ports at the same time: four silent ports in the
    # time of one (one after another: four times that).
    ("sweep, four silent ports -c0 -r2 -t20", [SILENT] * 4,
     ["-c0", "-r2", "-t20"], silent(2, 20)),
    # Per pass: drain (2 ms) and a 256-byte read that runs out (257 ms).
    ("stress, open line -st -c1 -r3", [["echo", "--stop-after-passes", "0"]],
     ["-st", "-c1", "-r3"], 3 * 259),
    ("stress, paced loopback, direct -st -c1 -r20",
     [["echo", "--host", "direct"]], ["-st", "-c1", "-r20"], 20 * PASS_115200),
    # Through the hosts people own: never more than the line's transit and
    # the host's last hand-over (a FIFO's tail, a packet's latency timer).
    ("stress, via a PC's UART -st -c1 -r20", [["echo", "--host", "uart"]],
     ["-st", "-c1", "-r20"], 20 * pass_through(("uart", 8))),
    ("stress, via FTDI at defaults -st -c1 -r20", [["echo", "--host", "ftdi"]],
     ["-st", "-c1", "-r20"], 20 * pass_through(("usb", 62, 16))),
    ("stress, via FTDI at low latency -st -c1 -r20",
     [["echo", "--host", "ftdi-low"]], ["-st", "-c1", "-r20"],
     20 * pass_through(("usb", 62, 1))),
    ("stress, via a CH340 -st -c1 -r20", [["echo", "--host", "ch340"]],
     ["-st", "-c1", "-r20"], 20 * pass_through(("usb", 32, 1))),
    # The list of this computer's ports, from sysfs or the registry, none
    # opened (target: under 50 ms).
    ("identify, the list of every port -id", [], ["-id"], None),
    # The identify mode: an empty port, and four of them in the time of one.
    ("identify, empty port -id -c1", [SILENT], ["-id", "-c1"], ID_EMPTY),
    ("identify, four empty ports -id -c0", [SILENT] * 4, ["-id", "-c0"],
     ID_EMPTY),
    # Each family: the time to its line (no ideal: the queries before it
    # and its own answers' line time). A bootloader's line waits until the
    # board runs its program (1.5 s) and asks again.
    ("identify, STK500 v1 at 115200 -id -c1", [["stk500"]], ["-id", "-c1"],
     None),
    ("identify, STK500 v1 at 57600 -id -c1", [["stk500", "--baud", "57600"]],
     ["-id", "-c1"], None),
    ("identify, STK500 v2 at 115200 -id -c1", [["stk500v2"]], ["-id", "-c1"],
     None),
    ("identify, AVR910 at 19200 -id -c1", [["avr910"]], ["-id", "-c1"], None),
    ("identify, AVR910 at 9600 -id -c1", [["avr910", "--baud", "9600"]],
     ["-id", "-c1"], None),
    ("identify, AVR109 bootloader at 19200 -id -c1", [["avr109"]],
     ["-id", "-c1"], None),
    ("identify, loopback -id -c1", [["echo"]], ["-id", "-c1"], None),
    # The newer AVRs' programmers: a SerialUPDI adapter with a chip (its
    # echo at once, then the UPDI check), and jtag2updi (asked last).
    ("identify, SerialUPDI with a chip -id -c1", [["serialupdi"]],
     ["-id", "-c1"], None),
    ("identify, jtag2updi -id -c1", [["jtag2updi"]], ["-id", "-c1"], None),
    # Boards as the Arduino core ships them, on fwhost (when it is built):
    # the reset on open, the bootloader's wait, the program after it.
    ("identify, Uno (optiboot) -id -c1",
     [board("atmega328p", os.path.join(FIRMWARE, "optiboot_atmega328.hex"))],
     ["-id", "-c1"], None),
    ("identify, Uno running ArduinoISP -id -c1",
     [board("atmega328p", os.path.join(FIRMWARE, "optiboot_atmega328.hex"),
            app="ArduinoISP.hex")], ["-id", "-c1"], None),
    ("identify, old Nano (ATmegaBOOT, 57600) -id -c1",
     [board("atmega328p",
            os.path.join(BOOTLOADERS, "atmega/ATmegaBOOT_168_atmega328.hex"))],
     ["-id", "-c1"], None),
    ("identify, Diecimila (ATmegaBOOT, 19200) -id -c1",
     [board("atmega168",
            os.path.join(BOOTLOADERS, "atmega/ATmegaBOOT_168_diecimila.hex"))],
     ["-id", "-c1"], None),
    ("identify, Mini 168 (ATmegaBOOT, 19200, 8 s wait) -id -c1",
     [board("atmega168",
            os.path.join(BOOTLOADERS, "atmega/ATmegaBOOT_168_ng.hex"))],
     ["-id", "-c1"], None),
    ("identify, Mega 2560 (STK500 v2) -id -c1",
     [board("atmega2560",
            os.path.join(BOOTLOADERS, "stk500v2/stk500boot_v2_mega2560.hex"))],
     ["-id", "-c1"], None),
]


def run_once(args, ports):
    env = dict(os.environ)
    for n, port in enumerate(ports, 1):
        env[f"PORTVET_COM{n}"] = port
    start = time.monotonic()
    proc = subprocess.Popen([PORTVET] + args, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    return wall * 1000, (usage.ru_utime + usage.ru_stime) * 1000


def main():
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        for name, sims_args, args, ideal in CASES:
            if ONLY not in name:
                continue
            if any(a[0] == "fwhost" for a in sims_args) and \
                    not os.path.exists(FWHOST):
                continue  # the firmware checks are not built here
            sims, ports = [], []
            for n, sim_args in enumerate(sims_args, 1):
                if sim_args[0] == "fwhost":
                    sim = subprocess.Popen([FWHOST] + sim_args[1:],
                                           stdout=subprocess.PIPE,
                                           stderr=subprocess.DEVNULL)
                    path = sim.stdout.readline().decode().strip()
                else:
                    link = os.path.join(tmp, f"port{n}")
                    sim = subprocess.Popen([SIM] + sim_args + ["--link", link],
                                           stdout=subprocess.PIPE)
                    sim.stdout.readline()
                    path = link
                sims.append(sim)
                ports.append(path)
            ports += [os.path.join(tmp, "none")] * (4 - len(ports))
            walls, cpus = [], []
            for _ in range(RUNS):
                wall, cpu = run_once(args, ports)
                walls.append(wall)
                cpus.append(cpu / wall * 100)
            for sim in sims:
                sim.terminate()
                sim.wait()
            median = statistics.median(walls)
            rows.append((name, ideal, median,
                         median / ideal if ideal else None,
                         statistics.median(cpus)))
    print("| case | ideal ms | median ms | ratio | CPU % |")
    print("|---|---:|---:|---:|---:|")
    for name, ideal, median, ratio, cpu in rows:
        if ideal is None:
            print(f"| {name} | | {median:.1f} | | {cpu:.2f} |")
        else:
            print(f"| {name} | {ideal:.0f} | {median:.1f} | {ratio:.3f} "
                  f"| {cpu:.2f} |")


if __name__ == "__main__":
    main()
