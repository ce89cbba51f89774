#!/usr/bin/env python3
"""Reads the JUnit files of the test stages and prints, per stage, its
counts; every failed test with the end of its output; each reason for
skipped tests once, with how many it covers; and last the one line
"N passed, N failed, N skipped" across all stages.

    test_summary.py STAGE=JUNIT.xml [STAGE=JUNIT.xml ...] [--failed-stage NAME ...]
"""
import re
import sys
import xml.etree.ElementTree as ET
from collections import OrderedDict


def skip_reason(out):
    """The reason a skipped test gives: gtest's line after 'Skipped', or a
    script's 'SKIPPED: reason' line."""
    lines = out.splitlines()
    for i, line in enumerate(lines):
        if line.endswith(": Skipped") and i + 1 < len(lines):
            return lines[i + 1].strip()
        m = re.match(r"SKIPPED: (.*)", line)
        if m:
            return m.group(1).strip()
    return "no reason given"


def main(args):
    passed = failed = skipped = 0
    reasons = OrderedDict()
    failures = []
    for arg in args:
        if arg.startswith("--failed-stage="):
            stage = arg.split("=", 1)[1]
            print(f"{stage}: did not build (see above)")
            failed += 1
            continue
        stage, path = arg.split("=", 1)
        try:
            root = ET.parse(path).getroot()
        except (OSError, ET.ParseError) as err:
            print(f"{stage}: no test results ({err})")
            failed += 1
            continue
        counts = [0, 0, 0]
        for case in root.iter("testcase"):
            out = case.findtext("system-out") or ""
            status = case.get("status")
            if case.find("skipped") is not None or status in ("notrun", "disabled"):
                counts[2] += 1
                reason = skip_reason(out)
                reasons.setdefault(reason, []).append(case.get("name"))
            elif case.find("failure") is not None or status == "fail":
                counts[1] += 1
                failures.append((stage, case.get("name"), out))
            else:
                counts[0] += 1
        print(f"{stage}: {counts[0]} passed, {counts[1]} failed, {counts[2]} skipped")
        passed += counts[0]
        failed += counts[1]
        skipped += counts[2]
    for stage, name, out in failures:
        print(f"\nFAILED {stage}: {name}")
        print("\n".join(out.splitlines()[-60:]))
    if reasons:
        print("\nSkipped, by reason:")
        for reason, names in reasons.items():
            example = names[0] if len(names) == 1 else f"{names[0]} and {len(names) - 1} more"
            print(f"  {len(names)}: {reason} ({example})")
    print(f"\n{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
