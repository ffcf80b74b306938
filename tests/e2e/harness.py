"""Shared helpers of the end-to-end tests: run the real programs under the
build's Wine prefix on the test display, press keys as a person would, read
window texts and message boxes through wdrive.exe, and read what the stand-in
speech runtime received from its journal.

Environment: VERBANOR_BUILD (the build folder; CTest sets it), DISPLAY and
XAUTHORITY (scripts/test.sh starts a private Xvfb that only the holder of its
cookie can open; every X client here, xdotool and Wine included, finds the
cookie through XAUTHORITY). Screenshots go to
$VERBANOR_BUILD/artifacts, never into git. Every temporary folder of a test
script lives in the build folder and is removed when the script ends.
"""
import atexit
import contextlib
import functools
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
BUILD = os.environ.get("VERBANOR_BUILD", os.path.join(ROOT, "build"))
ARTIFACTS = os.path.join(BUILD, "artifacts")

EXES = {
    "vorira": os.path.join(BUILD, "olvaso", "vorira.exe"),
    "dalnoka": os.path.join(BUILD, "dalnoka", "dalnoka.exe"),
    "lexibar": os.path.join(BUILD, "lexibar", "lexibar.exe"),
}
WDRIVE = os.path.join(BUILD, "tests", "e2e", "wdrive.exe")
# The registry view the programs see: a 32-bit program's HKLM\SOFTWARE is the
# 32-bit view; a 64-bit test build (on a kernel without 32-bit support) uses
# the native one.
REG_VIEW = "/reg:64" if os.environ.get("VERBANOR_ARCH") == "x86_64" else "/reg:32"
# The tests' own prefix, apart from the one a person's programs run in.
PREFIX = os.path.join(BUILD, "test-prefix")

# The harness's and the tests' own tempfile folders all go here, and go when
# the script ends, so that no run leaves anything in /tmp.
_tmp_root = os.path.join(BUILD, "test-tmp")
os.makedirs(_tmp_root, exist_ok=True)
tempfile.tempdir = tempfile.mkdtemp(prefix="e2e-", dir=_tmp_root)
atexit.register(shutil.rmtree, tempfile.tempdir, True)

# Virtual-key codes used by the tests.
VK_RETURN, VK_ESCAPE, VK_CONTROL, VK_MENU = 0x0D, 0x1B, 0x11, 0x12
VK_F1, VK_F2, VK_F3 = 0x70, 0x71, 0x72


def wine_env(extra=None):
    # The runtime's settings of the shell running the tests (real speech, a
    # journal of one's own) must not leak into what a test checks.
    env = {k: v for k, v in os.environ.items() if not k.startswith("SPEECHRT_")}
    env["WINEPREFIX"] = PREFIX
    env.setdefault("WINEDEBUG", "-all")
    # No menu entries or file types written into anyone's home.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"
    # The build's wine wrapper (scripts/env.sh) picks the loader this build needs.
    wrappers = os.path.join(BUILD, "wine-bin")
    if os.path.isdir(wrappers) and wrappers not in env.get("PATH", "").split(os.pathsep):
        env["PATH"] = wrappers + os.pathsep + env.get("PATH", "")
    # The ANSI code page of every Wine process comes from the locale.
    env["LC_ALL"] = "hu_HU.UTF-8"
    if extra:
        env.update(extra)
    return env


def speech_env(server_env):
    """What a program needs of speech-server.sh's output to speak through
    it: the bridge's address and the secret it must prove (empty: silent)."""
    return {"SPEECHRT_SSIP": server_env.get("SPEECHRT_SSIP", ""),
            "SPEECHRT_SSIP_KEY": server_env.get("SPEECHRT_SSIP_KEY", "")}


def wait_for(predicate, timeout=10.0, interval=0.05, what="condition"):
    """Polls until predicate() is truthy; returns its value or fails."""
    deadline = time.time() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.time() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(interval)


def read_bytes(path):
    """The file's bytes, or None while it is not there."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def holds(predicate, seconds=1.0, interval=0.1):
    """True when predicate() stays truthy for the whole time: a negative check
    watches for a while rather than looking once after a pause."""
    deadline = time.time() + seconds
    while predicate():
        if time.time() >= deadline:
            return True
        time.sleep(interval)
    return False


def unescape(s):
    """Reverses the journal's and wdrive's escaping into raw bytes."""
    out = bytearray()
    i = 0
    raw = s.encode("latin-1") if all(ord(c) < 256 for c in s) else s.encode("utf-8")
    while i < len(raw):
        c = raw[i]
        if c == 0x5C and i + 1 < len(raw):
            n = raw[i + 1]
            if n == ord("x"):
                out.append(int(raw[i + 2:i + 4], 16))
                i += 4
                continue
            out.append({ord("r"): 13, ord("n"): 10, ord("t"): 9}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return bytes(out)


def wdrive(*args, env=None):
    """Runs one wdrive command and returns its output lines."""
    p = subprocess.run(["wine", WDRIVE] + [str(a) for a in args], env=env or wine_env(),
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
    return p.stdout.decode("utf-8", "replace").splitlines()


class Window:
    def __init__(self, hwnd, cls, owner, pid, title):
        self.hwnd, self.cls, self.owner, self.pid, self.title = hwnd, cls, owner, pid, title

    def __repr__(self):
        return "Window(%s %r %r)" % (self.hwnd, self.cls, self.title)


class Box:
    """A dialog or message box (#32770) on screen."""

    def __init__(self, line):
        parts = line.split("\t")
        self.hwnd, self.owner_title, self.caption = parts[0], parts[1], parts[2]
        self.texts = parts[3].split("|") if parts[3] else []
        self.buttons = {}
        for b in parts[4].split("|") if parts[4] else []:
            bid, _, text = b.partition("=")
            self.buttons[int(bid)] = text
        self.pid = int(parts[5]) if len(parts) > 5 and parts[5] else 0
        # The kind of icon shown: "hand", "question", "exclamation", "asterisk", "other" or "".
        self.icon = parts[6] if len(parts) > 6 else ""

    @property
    def text(self):
        """The message text (the statics other than the icon), joined by newlines."""
        return "\n".join(t for t in self.texts if t != "<icon>")

    @property
    def has_icon(self):
        return "<icon>" in self.texts

    def __repr__(self):
        return "Box(%r, %r, %r)" % (self.caption, self.texts, self.buttons)


def windows():
    out = []
    for line in wdrive("windows"):
        parts = line.split("\t")
        if len(parts) >= 5:
            out.append(Window(parts[0], parts[1], parts[2], int(parts[3]), parts[4]))
    return out


def boxes():
    return [Box(line) for line in wdrive("boxes") if line.count("\t") >= 4]


class Journal:
    """What the stand-in speech runtime received, one parsed entry a line."""

    LINE = re.compile(r"^(\d+\.\d+) (\d+) (\S+)(.*?)(?: -> (0x[0-9A-Fa-f]{8}))?$")
    FIELD = re.compile(r'(\w+)=("(?:[^"\\]|\\.)*"|\S+)')

    def __init__(self, path):
        self.path = path

    def entries(self):
        if not os.path.exists(self.path):
            return []
        out = []
        with open(self.path, "r", encoding="latin-1") as f:
            for line in f:
                m = self.LINE.match(line.rstrip("\r\n"))
                if not m:
                    continue
                fields = {}
                for k, v in self.FIELD.findall(m.group(4)):
                    fields[k] = unescape(v[1:-1]) if v.startswith('"') else v
                out.append({"time": float(m.group(1)), "pid": int(m.group(2)), "method": m.group(3),
                            "fields": fields, "result": m.group(5)})
        return out

    def calls(self, method):
        return [e for e in self.entries() if e["method"] == method]

    def texts(self):
        """The exact bytes (with the terminating zero) of every TextData, in order."""
        return [e["fields"].get("text", b"") for e in self.calls("Central.TextData")]

    def methods(self):
        return [e["method"] for e in self.entries()]

    def clear(self):
        open(self.path, "w").close()


class Program:
    """One run of a program of the suite with its own journal and settings."""

    def __init__(self, name, args=(), cwd=None, config=None, extra_env=None, raw_args=None):
        self.tmp = tempfile.mkdtemp(prefix="e2e-" + name + "-")
        self.journal = Journal(os.path.join(self.tmp, "journal.txt"))
        # A dictionary of its own, so that words a person stored in the
        # prefix never change what a test hears.
        env = {"SPEECHRT_JOURNAL": winpath(self.journal.path),
               "SPEECHRT_DICTIONARY": winpath(os.path.join(self.tmp, "dictionary.txt"))}
        if config is not None:
            cfg = os.path.join(self.tmp, "engine.ini")
            with open(cfg, "w", encoding="utf-8") as f:
                f.write(config)
            env["SPEECHRT_CONFIG"] = winpath(cfg)
        if extra_env:
            env.update(extra_env)
        self.env = wine_env(env)
        # Windows that were there before belong to someone else.
        self.before = {w.hwnd for w in windows()}
        self.started = time.time()
        if raw_args is None:
            command = ["wine", EXES[name]] + list(args)
        else:
            # Wine re-quotes a Unix argv; a command line that must reach the
            # program byte for byte (quotes included) is started from inside.
            command = ["wine", WDRIVE, "launch", winpath(EXES[name]) + " " + raw_args]
        self.proc = subprocess.Popen(command, cwd=cwd or self.tmp, env=self.env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.hwnd = None
        self.pid = None

    def main_window(self, title_re, timeout=20):
        """Waits for the program's own top-level window whose title matches."""
        rx = re.compile(title_re)

        def find():
            for w in windows():
                if rx.search(w.title) and w.cls != "#32770" and w.hwnd not in self.before \
                        and (self.pid is None or w.pid == self.pid):
                    return w
            return None

        w = wait_for(find, timeout, 0.1, "window " + title_re)
        self.hwnd, self.pid = w.hwnd, w.pid
        return w

    def own_boxes(self):
        """Dialogs and message boxes of this program (all new ones before its
        window is known)."""
        return [b for b in boxes() if (b.pid == self.pid if self.pid else b.hwnd not in self.before)]

    def wait_box(self, caption=None, timeout=10):
        """Waits for a box of this program (optionally with the given caption)."""
        def find():
            for b in self.own_boxes():
                if caption is None or b.caption == caption:
                    return b
            return None
        return wait_for(find, timeout, 0.1, "a box captioned %r" % caption)

    def no_box(self, caption=None, settle=0.5):
        """True when this program shows no such box all through the settle time."""
        return holds(lambda: not any(caption is None or b.caption == caption for b in self.own_boxes()), settle)

    def alive(self):
        """Whether the program still has a window on screen."""
        return any(w.pid == self.pid for w in windows()) if self.pid else self.proc.poll() is None

    def wait_exit(self, timeout=15):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        """Ends the program whatever state a failed test left it in."""
        if self.pid is None:
            for b in self.own_boxes():
                self.pid = b.pid
        if self.pid is not None and self.alive():
            # Dialogs first, so that no modal loop keeps the program alive.
            for b in self.own_boxes():
                wdrive("close", b.hwnd)
            if self.hwnd:
                wdrive("close", self.hwnd)
            try:
                wait_for(lambda: not self.alive(), 5, 0.2, "the program to end")
            except AssertionError:
                wdrive("kill", self.pid)
        if self.wait_exit(5) is None:
            self.proc.kill()
            self.proc.wait(5)


def winpath(path):
    """The Windows name of a Linux path in the prefix (drive Z: is /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def x_window(title_re, timeout=10):
    """The X window id of a visible top-level window whose title matches."""
    def find():
        p = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title_re],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        ids = p.stdout.split()
        return ids[-1].decode() if ids else None
    return wait_for(find, timeout, 0.1, "X window " + title_re)


def xkey(title_re, *keys):
    """Focuses the X window whose title matches and presses keys with xdotool,
    as a person at the keyboard would (e.g. "F2", "ctrl+a", "Escape")."""
    wid = x_window(title_re)
    subprocess.run(["xdotool", "windowfocus", "--sync", wid], stderr=subprocess.DEVNULL, timeout=10)
    for k in keys:
        subprocess.run(["xdotool", "key", "--clearmodifiers", k], stderr=subprocess.DEVNULL, timeout=10)
        time.sleep(0.05)


def screenshot(name):
    os.makedirs(ARTIFACTS, exist_ok=True)
    path = os.path.join(ARTIFACTS, name + ".png")
    subprocess.run(["import", "-window", "root", path], stderr=subprocess.DEVNULL, timeout=30)
    return path


def wait_box(caption=None, timeout=10):
    """Waits for a dialog or message box (optionally with the given caption)."""
    def find():
        for b in boxes():
            if caption is None or b.caption == caption:
                return b
        return None
    return wait_for(find, timeout, 0.1, "a box captioned %r" % caption)


def no_box(caption=None, settle=0.5):
    """True when no such box is on screen all through the settle time."""
    return holds(lambda: not any(caption is None or b.caption == caption for b in boxes()), settle)


def main():
    """Runs the script's tests; exits 77 (CTest's "skipped") when every case was skipped."""
    result = unittest.main(verbosity=2, exit=False).result
    if result.wasSuccessful() and result.skipped and len(result.skipped) >= result.testsRun:
        sys.exit(77)
    sys.exit(0 if result.wasSuccessful() else 1)


@contextlib.contextmanager
def full_disk(limit):
    """Programs started inside get a disk that is full after `limit` bytes of
    any one file: a write past it comes back short instead of killing the
    process (the wineserver, started before, has no limit)."""
    def limited():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    popen = subprocess.Popen
    subprocess.Popen = functools.partial(popen, preexec_fn=limited)
    try:
        yield
    finally:
        subprocess.Popen = popen
