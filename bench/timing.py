#!/usr/bin/env python3
"""Timing benchmark of portvet against portvet-sim on pseudo-terminals.

Run on demand (not a test):  python3 bench/timing.py [BUILD_DIR] [RUNS]

For each case it runs portvet RUNS times (default 7) and prints the median
wall time against the ideal that the timeout arithmetic gives (a read of n
bytes with timeout t waits t*n + t ms on a silent line; the drain before
each AVR910 exchange and each stress-test pass waits 2t), the ratio, and the
CPU time portvet spent as a share of its wall time. Targets: every ratio
between 1.00 (a timeout must not end early) and 1.02 (the sweep of four
ports: 1.1 of one port's ideal), CPU under 1 % on the silent cases.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 7
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
    ("stress, paced loopback -st -c1 -r20", [["echo"]],
     ["-st", "-c1", "-r20"], 20 * PASS_115200),
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
            sims, ports = [], []
            for n, sim_args in enumerate(sims_args, 1):
                link = os.path.join(tmp, f"port{n}")
                sim = subprocess.Popen([SIM] + sim_args + ["--link", link],
                                       stdout=subprocess.PIPE)
                sim.stdout.readline()
                sims.append(sim)
                ports.append(link)
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
            rows.append((name, ideal, median, median / ideal,
                         statistics.median(cpus)))
    print("| case | ideal ms | median ms | ratio | CPU % |")
    print("|---|---:|---:|---:|---:|")
    for name, ideal, median, ratio, cpu in rows:
        print(f"| {name} | {ideal:.0f} | {median:.1f} | {ratio:.3f} | {cpu:.2f} |")


if __name__ == "__main__":
    main()
