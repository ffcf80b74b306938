#!/usr/bin/env python3
"""Vorira's start-up and reading latency under Wine, on the test display.

    scripts/bench_vorira.py [RUNS]

It runs on the test bed (scripts/testbed.sh: the set-up, a private display and
the tests' prefix, in its turn with the test runs of this checkout). Reports:
  - process start -> reader window visible, against a bare Win32 window program
    under the same warm Wine (median, worst, and the ratio of the medians);
  - key press (xdotool F3) -> TextData in the speech runtime's journal, from
    the journal's timestamps (Wine's clock is the Linux clock).
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

if __name__ == "__main__":
    # Before the harness, which makes folders in the build: --help does nothing else.
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("runs", nargs="?", type=int, default=10, help="rounds of each measurement (default 10)")
    ARGS = parser.parse_args()
    if not os.environ.get("VERBANOR_TESTBED"):
        os.execvp("bash", ["bash", os.path.join(os.path.dirname(os.path.abspath(__file__)), "testbed.sh"),
                           sys.executable] + sys.argv)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness as h  # noqa: E402


def window_time(command, title, env):
    """Seconds from starting `command` to its window being visible."""
    t0 = time.time()
    proc = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    # xdotool's own --sync polls only twice a second: poll faster by hand.
    while subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title], stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL).returncode != 0:
        if time.time() - t0 > 60:
            raise RuntimeError("no window " + title)
        time.sleep(0.005)
    t1 = time.time()
    for w in h.windows():
        if w.title.startswith(title.strip("^$").split(" ")[0]):
            h.wdrive("close", w.hwnd)
    proc.wait(30)
    return t1 - t0


def summary(xs):
    return "median %.0f ms, worst %.0f ms" % (statistics.median(xs) * 1000, max(xs) * 1000)


def main():
    runs = ARGS.runs
    env = h.wine_env()
    # Not persistent for good: a later run in this prefix would wait for it.
    subprocess.run(["wineserver", "-p60"], env=env)
    subprocess.run(["wine", "cmd", "/c", "exit"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    bare = os.path.join(h.BUILD, "tests", "e2e", "barewnd.exe")
    journal = h.Journal(os.path.join(h.BUILD, "bench-journal.txt"))
    env_v = h.wine_env({"SPEECHRT_JOURNAL": h.winpath(journal.path)})
    # One warm-up each, so that both are measured with Wine's files cached.
    window_time(["wine", bare], "^Bare window$", env)
    window_time(["wine", h.EXES["vorira"]], "^Vorira - ", env_v)
    bare_t, vorira_t = [], []
    for _ in range(runs):
        bare_t.append(window_time(["wine", bare], "^Bare window$", env))
        vorira_t.append(window_time(["wine", h.EXES["vorira"]], "^Vorira - ", env_v))
    print("start-up, bare window:   " + summary(bare_t))
    print("start-up, Vorira:        " + summary(vorira_t))
    print("ratio of medians:        %.2f" % (statistics.median(vorira_t) / statistics.median(bare_t)))

    journal.clear()
    prog = subprocess.Popen(["wine", h.EXES["vorira"]], env=env_v, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    hwnd = None
    while hwnd is None:
        hwnd = next((w.hwnd for w in h.windows() if w.title.startswith("Vorira - ")), None)
        time.sleep(0.1)
    h.wait_for(lambda: journal.calls("Enum.Select"), 20)
    edit = h.wdrive("child", hwnd, 1)[0]
    h.wdrive("settext", edit, "Árvíztűrő tükörfúrógép")
    wid = h.x_window("^Vorira - ")
    subprocess.run(["xdotool", "windowfocus", "--sync", wid])
    lat = []
    for i in range(runs * 3):
        n = len(journal.calls("Central.TextData"))
        t0 = time.time()
        subprocess.run(["xdotool", "key", "F3"])
        e = h.wait_for(lambda: len(journal.calls("Central.TextData")) > n and journal.calls("Central.TextData"), 10)
        lat.append(e[n]["time"] - t0)
        subprocess.run(["xdotool", "key", "Escape"])
        time.sleep(0.05)
    print("F3 -> TextData:          " + summary(lat))
    h.wdrive("close", hwnd)
    prog.wait(30)


if __name__ == "__main__":
    main()
