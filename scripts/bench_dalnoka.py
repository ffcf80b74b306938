#!/usr/bin/env python3
"""Measures Dalnoka's clipboard change -> TextData latency: with ReadOnCopy
on, another Wine process copies a text N times; the latency of each copy is
the engine journal's TextData time minus the time the copying process closed
the clipboard. Runs on the test bed (scripts/testbed.sh: the set-up, a private
display and the tests' prefix, in its turn with the test runs of this checkout):
    scripts/bench_dalnoka.py [N]
Leaves Dalnoka's registry key deleted afterwards."""
import argparse
import os
import statistics
import sys
import time

if __name__ == "__main__":
    # Before the harness, which makes folders in the build: --help does nothing else.
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("copies", nargs="?", type=int, default=30, help="copies to measure (default 30)")
    ARGS = parser.parse_args()
    if not os.environ.get("VERBANOR_TESTBED"):
        os.execvp("bash", ["bash", os.path.join(os.path.dirname(os.path.abspath(__file__)), "testbed.sh"),
                           sys.executable] + sys.argv)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness as h  # noqa: E402
import test_dalnoka as t  # noqa: E402


def main():
    n = ARGS.copies
    t.clipput("empty")
    t.reg_reset({"ReadOnCopy": 1})
    prog = h.Program("dalnoka")
    try:
        prog.main_window(t.TITLE_RE)
        h.wait_for(lambda: prog.journal.calls("Enum.Select"), what="voice selection")
        latencies = []
        for i in range(n):
            text = "mérés %d" % i
            copied = float(t.clipput("text", text).split()[-1])
            want = t.cp1250(text) + b"\0"
            entry = h.wait_for(lambda: [e for e in prog.journal.calls("Central.TextData")
                                        if e["fields"].get("text") == want], 5, 0.01, text)[0]
            latencies.append((entry["time"] - copied) * 1000.0)
            time.sleep(0.05)
        latencies.sort()
        print("copies: %d" % n)
        print("clipboard closed -> TextData, ms: min %.1f  median %.1f  p90 %.1f  max %.1f" % (
            latencies[0], statistics.median(latencies), latencies[int(0.9 * (n - 1))], latencies[-1]))
    finally:
        prog.kill()
        t.reg_reset()


if __name__ == "__main__":
    main()
