#!/usr/bin/env python3
"""Timing benchmark of portvet against portvet-sim on pseudo-terminals.

Run on demand (not a test):  python3 bench/timing.py [BUILD_DIR] [RUNS]

For each case it runs portvet RUNS times (default 7) and prints the median
wall time against the ideal that the timeout arithmetic gives (a read of n
bytes with timeout t waits t*n + t ms on a silent line; the drain before
each AVR910 exchange and each stress-test pass waits 2t), the ratio, and the
CPU time portvet spent as a share of its wall time. Targets: every ratio
between 1.00 (a timeout must not end early) and 1.02, CPU under 1 % on the
silent cases.
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


CASES = [
    # name, simulator, portvet arguments, ideal ms
    ("silent port -c1 -r2 -t20", ["stk500", "--silent-after", "0"],
     ["-c1", "-r2", "-t20"], silent(2, 20)),
    ("silent port -c1 -r4 -t10", ["stk500", "--silent-after", "0"],
     ["-c1", "-r4", "-t10"], silent(4, 10)),
    # Per pass: drain (2 ms) and a 256-byte read that runs out (257 ms).
    ("stress, open line -st -c1 -r3", ["echo", "--stop-after-passes", "0"],
     ["-st", "-c1", "-r3"], 3 * 259),
    # Per pass: the drain's 2 ms; the echo itself takes no time on a pty.
    ("stress, perfect echo -st -c1 -r200", ["echo"],
     ["-st", "-c1", "-r200"], 200 * 2),
]


def run_once(args, port):
    env = dict(os.environ, PORTVET_COM1=port)
    start = time.monotonic()
    proc = subprocess.Popen([PORTVET] + args, env=env,
                            stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    return wall * 1000, (usage.ru_utime + usage.ru_stime) * 1000


def main():
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        for name, sim_args, args, ideal in CASES:
            link = os.path.join(tmp, "port")
            sim = subprocess.Popen([SIM] + sim_args + ["--link", link],
                                   stdout=subprocess.PIPE)
            sim.stdout.readline()
            walls, cpus = [], []
            for _ in range(RUNS):
                wall, cpu = run_once(args, link)
                walls.append(wall)
                cpus.append(cpu / wall * 100)
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
