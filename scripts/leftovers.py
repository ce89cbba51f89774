#!/usr/bin/env python3
"""After a stage's tests: no process a test started may still run. Lists
every process whose program lies in the build folder (portvet, the
simulator, the firmware host, the test programs), that runs a Windows
build of it under Wine, or that is the Wine server of the build's prefix,
ends them, and writes the outcome as a JUnit file
with one test case, for the test summary.

    leftovers.py BUILD_DIR STAGE OUT.xml
"""
import os
import signal
import sys
from xml.sax.saxutils import escape


def wine_server_of(pid, build):
    """A Wine server of the build's prefix: its program lies elsewhere."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            if b"wineserver" not in f.read().split(b"\0")[0]:
                return False
        with open(f"/proc/{pid}/environ", "rb") as f:
            env = f.read().split(b"\0")
    except OSError:
        return False
    want = b"WINEPREFIX=" + build.encode() + os.sep.encode()
    return any(e.startswith(want) for e in env)


def leftovers(build):
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            exe = os.path.realpath(f"/proc/{pid}/exe")
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue  # gone, or not ours to read
        if exe.startswith(build + os.sep) or (build + "/windows-") in cmdline \
                or wine_server_of(pid, build):
            found.append((int(pid), cmdline.strip()))
    return found


def main(build, stage, out):
    build = os.path.realpath(build)
    found = leftovers(build)
    for pid, _ in found:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    name = f"{stage}.processes.none-left"
    text = "".join(f"left running: {pid} {cmd}\n" for pid, cmd in found)
    failure = f'<failure message="processes left running"/>' if found else ""
    with open(out, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<testsuite>\n'
                f'<testcase name="{name}" status="{"fail" if found else "run"}">'
                f"{failure}<system-out>{escape(text)}</system-out>"
                "</testcase>\n</testsuite>\n")
    if found:
        print(text, end="")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
