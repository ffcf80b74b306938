#!/usr/bin/env python3
"""Start-up of Vorira and Dalnoka under Wine against a bare Win32 window.

    scripts/bench_startup.py [--runs N] [--against DIR] [--ssip ADDRESS]

With --ssip, a SPEECHRT_SSIP_KEY in the environment (what
scripts/speech-server.sh start prints) goes to the programs too, so that they
can reach a server that admits only the holder of its secret.

Run it through scripts/bench_startup.sh, which provides the build, the display
and a warm Wine server. Reports, from one run:
  - process start -> main window visible (median and worst) for the bare
    window program, Vorira and Dalnoka, measured in interleaved rounds (each
    round starts every program once, in an order that turns from round to
    round), and the ratio of each program's median to the bare window's;
  - in the same rounds, the bare window that also calls CoInitialize in its
    WM_CREATE, and one that also creates and releases the runtime's voice
    enumerator there: what any SAPI4 client that initialises COM and loads
    its engine before its window shows pays at least, under this Wine;
  - with --against DIR, the same for the vorira.exe, dalnoka.exe and
    speechrt.dll in DIR (e.g. a build of an older commit), in the same rounds;
  - where the time goes: the median of each start-up phase, from the marks the
    programs write when VERBANOR_TIMING names a file (separate rounds, so that
    the marks never slow down the figures above).

Each program is ended as soon as its window is seen; a Notepad started
first holds Wine's desktop process meanwhile. Each set of programs is copied into a folder of its own together with its
runtime, and the runtime's classes are registered by the DLL's bare name for
the duration, so that each program loads the runtime beside it; the build's
registration is restored at the end. No journal is written (a person's
programs write none), and without --ssip the runtime is silent.
"""
import argparse
import ctypes
import ctypes.util
import os
import re
import select
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness as h  # noqa: E402

CLASSES = ("{D67C0280-C743-11CD-80E5-00AA003E4B50}", "{CB96B400-C743-11CD-80E5-00AA003E4B50}")
TITLES = {"bare": "^Bare window$", "vorira": "^Vorira - ", "dalnoka": "^Dalnoka$"}
# The marks in the order they are written, and the phase each one ends.
PHASES = [
    ("process", "spawn -> process created (Wine starts the process)"),
    ("entry", "-> WinMain (loader, imported DLLs, C runtime)"),
    ("create", "-> WM_CREATE (class, window)"),
    ("window", "-> before CoInitialize (edit box / bitmap, title)"),
    ("com", "-> CoInitialize done"),
    ("enumerator", "-> first enumerator (runtime load)"),
    ("voices", "-> voice menu filled (enumeration)"),
    ("voice", "-> voice loaded (find, audio, select)"),
    ("visible", "-> mapped on the X display (ShowWindow)"),
    ("painted", "-> painted (UpdateWindow returned)"),
]


class MapWatch:
    """Sees top-level windows being mapped on the X display, as they happen:
    the X server tells this one client, which waits without polling, so the
    measurement takes no processor time from the programs it measures."""

    MAP_NOTIFY = 19
    SUBSTRUCTURE_NOTIFY_MASK = 1 << 19

    class MapEvent(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("event", ctypes.c_ulong), ("window", ctypes.c_ulong),
                    ("override_redirect", ctypes.c_int)]

    def __init__(self):
        self.x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        self.x.XPending.argtypes = [ctypes.c_void_p]
        self.x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        self.x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
        self.x.XConnectionNumber.argtypes = [ctypes.c_void_p]
        self.display = self.x.XOpenDisplay(None)
        if not self.display:
            raise RuntimeError("cannot open the X display")
        self.x.XSelectInput(self.display, self.x.XDefaultRootWindow(self.display), self.SUBSTRUCTURE_NOTIFY_MASK)
        self.fd = self.x.XConnectionNumber(self.display)
        self.buffer = (ctypes.c_long * 24)()

    def drain(self):
        while self.x.XPending(self.display):
            self.x.XNextEvent(self.display, self.buffer)

    def wait_mapped(self, title, timeout=60):
        """Time at which a window whose name matches `title` was mapped."""
        pattern = re.compile(title)
        deadline = time.time() + timeout
        while True:
            while self.x.XPending(self.display):
                self.x.XNextEvent(self.display, self.buffer)
                when = time.time()
                event = ctypes.cast(self.buffer, ctypes.POINTER(self.MapEvent)).contents
                if event.type != self.MAP_NOTIFY:
                    continue
                name = ctypes.c_char_p()
                if self.x.XFetchName(self.display, event.window, ctypes.byref(name)) and name.value is not None:
                    if pattern.search(name.value.decode("latin-1")):
                        return when
            left = deadline - time.time()
            if left <= 0:
                raise RuntimeError("no window " + title)
            select.select([self.fd], [], [], left)


WATCH = None
STRIP = "%s-w64-mingw32-strip" % os.environ.get("VERBANOR_ARCH", "i686")


def start_once(exe, title, env, done=lambda: True):
    """Seconds from starting `exe` (a path, or a path and its arguments) to its window being mapped, the start
    time and the mapping time. The program is ended once `done()` holds too (at most 20 s later)."""
    WATCH.drain()
    t0 = time.time()
    command = ["wine"] + (exe if isinstance(exe, list) else [exe])
    proc = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    t1 = WATCH.wait_mapped(title)
    deadline = t1 + 20
    while not done() and time.time() < deadline:
        time.sleep(0.05)
    # Nothing of the programs' own ending is measured: they are ended at once
    # (the keeper holds Wine's desktop), and the next start waits until Wine
    # has let go of this one.
    time.sleep(0.3)
    proc.kill()
    proc.wait(30)
    time.sleep(0.3)
    return t1 - t0, t0, t1


def register(dll_value):
    for clsid in CLASSES:
        subprocess.run(["wine", "reg", "add", "HKCR\\CLSID\\%s\\InprocServer32" % clsid, "/ve", "/d", dll_value, "/f"],
                       env=h.wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)


def stage(name, source_dir, files):
    """Copies a set of programs and their runtime into a folder of their own."""
    folder = os.path.join(h.BUILD, "bench-startup", name)
    os.makedirs(folder, exist_ok=True)
    for f in files:
        copy = os.path.join(folder, os.path.basename(f))
        shutil.copy2(f, copy)
        # Measured as shipped: the build's debug information is megabytes
        # that Wine's loader reads in with the image.
        subprocess.run([STRIP, copy], check=True)
    return folder


def summary(xs):
    return "%7.0f %7.0f" % (statistics.median(xs) * 1000, max(xs) * 1000)


def phases(exe, title, env, runs, marks_path):
    table = {p: [] for p, _ in PHASES}
    table["total"] = []
    for _ in range(runs):
        if os.path.exists(marks_path):
            os.remove(marks_path)
        def read():
            marks = {}
            if os.path.exists(marks_path):
                with open(marks_path) as f:
                    for line in f:
                        if line.endswith("\n"):
                            when, _pid, what = line.split()
                            marks.setdefault(what, float(when))  # the first of each kind
            return marks
        _, t0, t1 = start_once(exe, title, env, lambda: "painted" in read())
        marks = read()
        marks["visible"] = t1
        table["total"].append(t1 - t0)
        last = t0
        for p, _ in PHASES:
            if p in marks:
                table[p].append(marks[p] - last)
                last = marks[p]
    return table


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=15, help="interleaved rounds (default 15)")
    parser.add_argument("--against", help="a folder with an older vorira.exe, dalnoka.exe and speechrt.dll")
    parser.add_argument("--ssip", help="SPEECHRT_SSIP for the programs (default: none, silent runtime)")
    args = parser.parse_args()

    built = {"vorira": h.EXES["vorira"], "dalnoka": h.EXES["dalnoka"],
             "speechrt": os.path.join(h.BUILD, "engine", "speechrt.dll")}
    # The second yardstick sits beside the runtime, which it loads by name.
    yardstick = os.path.join(h.BUILD, "tests", "e2e", "barecom.exe")
    sets = {"": stage("new", None, list(built.values()) + [yardstick])}
    if args.against:
        sets["old "] = stage("old", None, [os.path.join(args.against, n)
                                           for n in ("vorira.exe", "dalnoka.exe", "speechrt.dll")])
    extra = {"SPEECHRT_SSIP": args.ssip} if args.ssip else {}
    if args.ssip and os.environ.get("SPEECHRT_SSIP_KEY"):
        extra["SPEECHRT_SSIP_KEY"] = os.environ["SPEECHRT_SSIP_KEY"]
    env = h.wine_env(extra)
    bare = os.path.join(stage("bare", None, [os.path.join(h.BUILD, "tests", "e2e", "barewnd.exe")]), "barewnd.exe")
    barecom = os.path.join(sets[""], "barecom.exe")
    entries = [("bare window", bare, TITLES["bare"]),
               ("+ CoInitialize", barecom, TITLES["bare"]),
               ("+ runtime loaded", [barecom, "runtime"], TITLES["bare"])]
    for label, folder in sets.items():
        for prog in ("vorira", "dalnoka"):
            entries.append((label + prog.capitalize(), os.path.join(folder, prog + ".exe"), TITLES[prog]))

    global WATCH
    WATCH = MapWatch()
    register("speechrt.dll")
    # Wine's desktop process ends soon after the last program: a keeper
    # holds it, so that every start finds the same warm Wine.
    keeper = subprocess.Popen(["wine", "notepad.exe"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        WATCH.wait_mapped(".")  # its title is in the prefix's language
        time.sleep(1)
        # One warm-up each, so that all are measured with Wine's files cached.
        for _, exe, title in entries:
            start_once(exe, title, env)
        times = {name: [] for name, _, _ in entries}
        for r in range(args.runs):
            turn = r % len(entries)
            for name, exe, title in entries[turn:] + entries[:turn]:
                times[name].append(start_once(exe, title, env)[0])

        marks_path = os.path.join(h.BUILD, "bench-startup", "marks.txt")
        timed_env = h.wine_env(dict(extra, VERBANOR_TIMING=h.winpath(marks_path)))
        table = {prog: phases(os.path.join(sets[""], prog + ".exe"), TITLES[prog], timed_env, args.runs, marks_path)
                 for prog in ("vorira", "dalnoka")}
    finally:
        keeper.kill()
        keeper.wait(30)
        subprocess.run(["wine", "regsvr32", "/s", built["speechrt"]], env=h.wine_env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    bare_median = statistics.median(times["bare window"])
    print("process start -> window visible, %d interleaved rounds%s" % (
        args.runs, ", SPEECHRT_SSIP=" + args.ssip if args.ssip else ""))
    print("%-22s %7s %7s %7s" % ("program (ms)", "median", "worst", "ratio"))
    for name, _, _ in entries:
        print("%-22s %s %7.2f" % (name, summary(times[name]), statistics.median(times[name]) / bare_median))
    print()
    print("where the time goes (medians of %d separate rounds with VERBANOR_TIMING, ms)" % args.runs)
    print("%-52s %8s %8s" % ("phase", "Vorira", "Dalnoka"))
    for p, text in PHASES:
        cells = []
        for prog in ("vorira", "dalnoka"):
            xs = table[prog][p]
            cells.append("%8.1f" % (statistics.median(xs) * 1000) if len(xs) == args.runs else "%8s" % "-")
        print("%-52s %s" % (text, " ".join(cells)))
    totals = ["%8.1f" % (statistics.median(table[prog]["total"]) * 1000) for prog in ("vorira", "dalnoka")]
    print("%-52s %s" % ("start -> mapped, in these rounds", " ".join(totals)))


if __name__ == "__main__":
    main()
