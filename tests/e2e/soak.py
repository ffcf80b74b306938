"""Seeded random input for the three programs: the real programs under Wine,
driven through the X server (xdotool) and Wine's own input (wdrive's
SendInput) with a reproducible sequence weighted toward what people do, and
checked after every step: alive or closed on request, no crash dialog, every
engine object of the journal released once, no file outside the sandbox
changed, every document old or new (never mixed, never emptied), the
dictionary file always parses, and the program's GDI, USER and kernel objects
do not grow past a small bound once it has warmed up.

Run through scripts/soak.sh; `--seed S` replays a run's sequence (timing on a
loaded machine can still differ). GetGuiResources is a stub under Wine: the
GDI and USER counts come from the runtime's census in the journal
(Handles.Count, SPEECHRT_HANDLE_CENSUS), the kernel ones from the Wine
process's open files.

--faults: a fault table of the runtime, drawn from the seed afresh for each
process, is on for the middle third of each program's run (the programs are
closed and started again at its ends); the failures' message boxes are
answered like any other. --speech-server: the programs speak through a
private speech-dispatcher which is killed mid-speech (and started again on
its port) or wedged (SIGSTOP, then SIGCONT) every 10-30 s; meanwhile the
window must answer a message within HANG_MS, and afterwards a text must be
spoken to its end through the server again."""
import argparse
import hashlib
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

import harness as h
from test_documents import DIR_LIST, IDCANCEL, NAME_BOX, OPEN_CAPTION, PATH_LABEL, SAVE_CAPTION, unesc

CLIPPUT = os.path.join(h.BUILD, "tests", "e2e", "clipput.exe")
SERVER = os.path.join(h.ROOT, "scripts", "speech-server.sh")
# A window must answer a message within this while the speech server is
# down or wedged; speech must be back this long after the server is.
HANG_MS = 10000
RECOVERY = 60
WORDS = ["alma", "körte", "árvíztűrő", "tükörfúrógép", "Őrség", "ünnep", "szó", "hang", "és", "Kelvanit",
         "Ütő", "3,14", "x", "hű", "ÁÉÍÓÖŐÚÜŰ"]
TITLES = {"vorira": "^Vorira - ", "dalnoka": "^Dalnoka$", "lexibar": "^Verbanor 4 szótár$"}
DICT_HEADER = b"#speechrt-dictionary 1"
# The built-in voices as a configuration, so that a run with fault switches
# still offers them (a file with [faults] alone offers none).
MODES = "".join("[mode%d]\nMaker=%s\nProduct=%s\nModeName=%s\nSpeaker=%s\nGender=%s\n%s\n" % m for m in (
    (0, "Lantos Hangművek", "Lantos TTS", "Lantos Dóra (magyar női hang)", "Dóra", "female", ""),
    (1, "Kelvanit", "Verbanor 4 TTS", "Verbanor Anna (magyar női hang)", "Anna", "female", ""),
    (2, "KELVANIT", "Verbanor 4 TTS", "Verbanor Ödön (magyar férfi hang)", "Ödön", "male", ""),
    (3, "Kelvanit", "Verbanor 4 TTS", "Verbanor Bence (magyar férfi hang)", "Bence", "male", ""),
    (4, "Kelvanit", "Verbanor 4 TTS", "Verbanor Csilla (magyar női hang, gyors)", "Csilla", "female",
     "Style=gyors")))
# Each method of the fault table: the failures it may be given.
FAULTS = {"Enum.Create": ["0x80004005", "0x8007000E"], "Enum.Next": ["0x80004005", "0x00000001"],
          "Enum.Find": ["0x80040206", "0x80004005"], "Enum.Select": ["0x80040206", "0x8007000E"],
          "Central.TextData": ["0x8004020A", "0x80004005"], "Central.AudioReset": ["0x80004005"],
          "Central.AboutDlg": ["0x80004005", "0x80004001"], "Lexicon.Get": ["0x80040809", "0x80004005"],
          "Lexicon.Add": ["0x80040804", "0x800705B4", "0x00040806"],
          "Lexicon.Remove": ["0x80040804", "0x800705B4", "0x80040803"]}
# Handle census: a sample a second; the first WARM_UP seconds and WARM_STEPS
# steps of each run of a program set its baseline (the window and its first
# drawing), and later samples taken with no box of the program open are
# judged: they may exceed it by at most BOUND objects of a kind. The bounds
# hold what Wine makes once, when a menu, dialog or control is first drawn,
# so a short warm-up leaves a short soak (a third of 45 s on a loaded
# machine, a step every 1-3 s) samples to judge.
CENSUS_MS = 1000
WARM_UP = 5
WARM_STEPS = 3
# Wine keeps a cache of window DCs (each with its clip region) that grows to
# the most ever in use at once: DCs and regions have a bound of their own.
# Dalnoka's About box alone fills it with 22 of each at its first opening,
# flat over every later one (seen in a 30-minute soak and by opening it six
# times).
# The first file dialog's list, combo box and scroll bars add up to 13 more
# (seen in a 30-minute soak of Vorira, then flat); a leak of one object a step
# still passes 20 within minutes.
BOUND = {"gdi": 20, "dc": 60, "user": 6, "kernel": 12}


def fault_table(rng):
    """A [faults] section drawn from the soak's generator: every method fails
    now and then with one of its codes, or answers slowly."""
    lines = ["[faults]"]
    for method, codes in FAULTS.items():
        if rng.random() < 0.2:
            lines.append("%s = delay=%d p=0.3 seed=%d" % (method, rng.choice([200, 800, 2500]), rng.randrange(1 << 30)))
        else:
            # Rarely at start-up (enumeration), or every process would end there.
            chances = [0.05, 0.1] if method.startswith("Enum.") else [0.1, 0.25, 0.5]
            lines.append("%s = hr=%s p=%.2f seed=%d" % (method, rng.choice(codes), rng.choice(chances),
                                                         rng.randrange(1 << 30)))
    return "\n".join(lines) + "\n"


class SpeechServer:
    """A private speech-dispatcher (null sink) that the soak kills, starts
    again on the same port, and wedges (SIGSTOP) and frees (SIGCONT)."""

    def __init__(self):
        self.state = tempfile.mkdtemp(prefix="soak-speech-")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.start()

    def run(self, *args):
        return subprocess.run([SERVER] + list(args) + ["--owner", str(os.getpid())], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, timeout=120, check=True).stdout.decode()

    def start(self):
        out = self.run("start", self.state, str(self.port), "--null-sink")
        self.env = dict(line.split("=", 1) for line in out.split())

    def pid(self):
        with open(os.path.join(self.state, "speech-dispatcher.pid")) as f:
            return int(f.read())

    def signal(self, sig):
        os.kill(self.pid(), sig)

    def stop(self):
        try:
            self.signal(signal.SIGCONT)
        except (OSError, ValueError):
            pass
        subprocess.run([SERVER, "stop", self.state, "--owner", str(os.getpid())], timeout=60)
        shutil.rmtree(self.state, ignore_errors=True)


def unix_pid(pid, name):
    """The Linux process of a program started as `pid` (Wine may exec on)."""
    kids = {}
    for d in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % d) as f:
                kids.setdefault(int(f.read().rsplit(")", 1)[1].split()[1]), []).append(int(d))
        except (OSError, ValueError, IndexError):
            pass
    todo = [pid]
    while todo:
        p = todo.pop()
        try:
            with open("/proc/%d/cmdline" % p, "rb") as f:
                if (name + ".exe").encode() in f.read().lower():
                    return p
        except OSError:
            pass
        todo += kids.get(p, [])
    return None


def sha(data):
    return hashlib.sha1(data).hexdigest()


def files_under(root, skip=None):
    """{path: (size, mtime, hash)} of the files under root, leaving out skip."""
    out = {}
    for d, dirs, names in os.walk(root):
        dirs[:] = [x for x in dirs if os.path.join(d, x) != skip]
        for n in names:
            p = os.path.join(d, n)
            try:
                with open(p, "rb") as f:
                    out[p] = sha(f.read())
            except OSError:
                out[p] = None
    return out


class Soak:
    def __init__(self, name, seed, ini=None, faults=False, server=None):
        self.name, self.seed, self.ini, self.plain_ini = name, seed, ini, ini
        # With a speech server: kills, restarts and wedges of it during the run.
        self.server, self.outage = server, None
        # With faults, the middle third of the run has the fault table on.
        self.faults, self.faulty = faults, False
        self.rng = random.Random("%s-%s" % (seed, name))
        self.title = TITLES[name]
        # The sandbox is box/; the folder around it holds a file nobody may touch.
        self.root = tempfile.mkdtemp(prefix="soak-%s-" % name)
        self.logs = tempfile.mkdtemp(prefix="soak-%s-logs-" % name)
        self.box = os.path.join(self.root, "box")
        os.makedirs(os.path.join(self.box, "sub"))
        self.known = set()
        for rel, data in (("../keep-out.txt", b"not yours"), ("a.txt", "első\r\nmásodik sor".encode("cp1250")),
                          ("b.txt", b"b" * 5000), ("sub/c.txt", b"c\r\n")):
            with open(os.path.join(self.box, rel), "wb") as f:
                f.write(data)
            self.known.add(sha(data))
        self.dictionary = os.path.join(self.box, "dictionary.txt")
        self.outside = files_under(self.root, skip=self.box)
        self.counts = {"actions": 0, "crashes": 0, "leaked": 0, "lost": 0, "growth": 0, "judged": 0}
        self.failed = []
        self.history = []
        self.prog = None
        self.step = 0

    # Running the program.
    def start(self, attempt=1):
        if self.faulty:
            # Fresh draws for every process: the switches count per process.
            self.ini = (self.plain_ini or MODES) + fault_table(self.rng)
        self.log = os.path.join(self.logs, "program-%d.log" % self.step)
        log = open(self.log, "wb")
        popen = h.subprocess.Popen
        h.subprocess.Popen = lambda *a, **k: popen(*a, **dict(k, stderr=log))
        try:
            # The engine's fault switches come in here: --engine-ini hands an INI to the runtime.
            self.prog = h.Program(self.name, cwd=self.box, config=self.ini,
                                  extra_env={"SPEECHRT_DICTIONARY": h.winpath(self.dictionary),
                                             "SPEECHRT_HANDLE_CENSUS": str(CENSUS_MS),
                                             **h.speech_env(self.server.env if self.server else {}),
                                             "WINEDEBUG": "-all,err+seh"})
        finally:
            h.subprocess.Popen = popen
        log.close()
        self.closing = 0.0
        # A failure at start (engine faults) may show a box first: answered
        # as a person would, with its first button.
        deadline = time.time() + 30
        while time.time() < deadline:
            try:
                if self.name == "lexibar":
                    b = self.prog.wait_box("Verbanor 4 szótár", timeout=3)
                    self.prog.hwnd, self.prog.pid = b.hwnd, b.pid
                else:
                    self.prog.main_window(self.title, timeout=3)
                break
            except AssertionError:
                for b in self.prog.own_boxes():
                    self.history.append("%d at start, box %r: %s" % (self.step, b.caption, b.text[:60]))
                    h.wdrive("click", b.hwnd, min(b.buttons) if b.buttons else 1)
                if self.prog.proc.poll() is not None:
                    break
        if self.prog.proc.poll() is not None or not self.prog.hwnd:
            # Ending after its message when the engine cannot be had is the
            # program's answer; a silent end or no window at all is not.
            shown = any(" at start, box " in x for x in self.history[-3:])
            self.history.append("%d the program ended at start (exit %s)" % (self.step, self.prog.proc.poll()))
            if not shown or attempt >= 5:
                self.counts["crashes"] += 1
                self.fail("the program showed no window (exit %s)" % self.prog.proc.poll())
            self.prog.kill()
            if attempt >= 5:
                raise SystemExit("%s cannot be started" % self.name)
            return self.start(attempt + 1)
        self.edit = h.wdrive("child", self.prog.hwnd, 1)[0] if self.name == "vorira" else None
        self.census = {"pos": 0, "pending": [], "clear": False, "asked": time.time(), "step": self.step,
                       "base": None, "peak": None, "samples": 0, "judged": 0,
                       "unix": unix_pid(self.prog.proc.pid, self.name)}

    def sample_handles(self, box_open, asked):
        """Takes the census lines written since the last check, with the
        program's open files as kernel handles, and fails a run whose objects
        grew past the bound. A dialog has objects of its own, so a line counts
        only when the checks before and after it (boxes asked for at `asked`)
        saw no box of the program; later lines wait for the next check."""
        c = self.census
        try:
            with open(self.prog.journal.path, "rb") as f:
                f.seek(c["pos"])
                data = f.read()
        except OSError:
            return
        end = data.rfind(b"\n") + 1
        c["pos"] += end
        c["pending"] += [line for line in data[:end].decode("latin-1").splitlines() if " Handles.Count " in line]
        clear, after = not box_open and c["clear"], c["asked"]
        c["clear"], c["asked"] = not box_open, asked
        try:
            kernel = len(os.listdir("/proc/%d/fd" % c["unix"])) if c["unix"] else 0
        except OSError:
            kernel = 0
        later = []
        for line in c["pending"]:
            stamp = float(line.split(" ", 1)[0])
            if stamp > asked:
                later.append(line)
            if stamp > asked or not clear or stamp <= after:
                continue
            fields = dict(w.split("=", 1) for w in line.split() if "=" in w and w[0] != "-")
            dc = int(fields["dc"]) + int(fields["region"])
            counts = {"gdi": int(fields["gdi"]) - dc, "dc": dc, "user": int(fields["user"]), "kernel": kernel}
            c["samples"] += 1
            kinds = " ".join(w for w in line.split()[3:-2] if not w.startswith("gr_"))
            if stamp - self.prog.started < WARM_UP or self.step - c["step"] < WARM_STEPS or c["base"] is None:
                c["base"] = {k: max(v, (c["base"] or {}).get(k, 0)) for k, v in counts.items()}
                c["base_kinds"] = kinds
                continue
            c["judged"] += 1
            self.counts["judged"] += 1
            if c["peak"] is None or sum(counts.values()) > sum(c["peak"].values()):
                c["peak_kinds"] = kinds
            c["peak"] = {k: max(v, (c["peak"] or {}).get(k, 0)) for k, v in counts.items()}
            grown = {k: counts[k] - c["base"][k] for k in counts if counts[k] - c["base"][k] > BOUND[k]}
            # A menu still closing when the sample was taken has windows of
            # its own for a moment; a leak is still there at the next sample.
            grown, c["over"] = (grown if c.get("over") else {}), bool(grown)
            if grown and not c.get("failed"):
                c["failed"] = True
                self.counts["growth"] += sum(grown.values())
                self.fail("handles grew past the bound: %s (baseline %s; %s)" % (grown, c["base"], line))
        c["pending"] = later

    def handles_summary(self):
        c = self.census
        if c["base"] is None:
            return "handles: no sample"
        return "handles (gdi/dc/user/kernel) %s -> peak %s over %d samples, %d judged\n    warm: %s\n    peak: %s" % (
            "/".join(str(c["base"][k]) for k in BOUND),
            "/".join(str((c["peak"] or c["base"])[k]) for k in BOUND), c["samples"], c["judged"],
            c.get("base_kinds"), c.get("peak_kinds"))

    def fail(self, what, evidence=()):
        """Leaves the evidence under the artifacts folder and goes on with a fresh program."""
        tag = "soak-%s-%s-%d" % (self.name, self.seed, self.step)
        where = os.path.join(h.ARTIFACTS, tag)
        os.makedirs(where, exist_ok=True)
        h.screenshot(os.path.join(tag, "screen"))
        for src in (self.prog.journal.path, self.log, self.dictionary) + tuple(evidence):
            if os.path.exists(src):
                shutil.copy(src, where)
        with open(os.path.join(where, "steps.txt"), "w") as f:
            f.write("%s\n%s\n" % (what, "\n".join(self.history[-30:])))
        print("FAIL %s seed %s step %d: %s (evidence in %s)" % (self.name, self.seed, self.step, what, where),
              flush=True)
        self.failed.append("%s:%s@%d" % (self.name, self.seed, self.step))

    def leaked_refs(self):
        """Engine objects, audio destinations and enumerators created and not
        destroyed exactly once, from the journal of the run that ended."""
        live, bad = {}, 0
        for e in self.prog.journal.entries():
            kind, _, what = e["method"].partition(".")
            key = (kind, e["fields"].get("audio" if kind == "AudioDest" else "id"))
            if kind in ("Central", "AudioDest", "Enum") and what == "Create" and e["result"] in (None, "0x00000000"):
                live[key] = live.get(key, 0) + 1
            elif kind in ("Central", "AudioDest", "Enum") and what == "Destroy":
                live[key] = live.get(key, 0) - 1
        for key, n in live.items():
            if n:
                bad += abs(n)
                print("  %s %s: created - destroyed = %d" % (key[0], key[1], n), flush=True)
        return bad

    def finish(self):
        """Closes the program as a person would, answering No to keeping changes."""
        self.closing = time.time()
        p, deadline = self.prog, time.time() + 30
        while p.proc.poll() is None and time.time() < deadline:
            mine = [b for b in p.own_boxes() if b.hwnd != p.hwnd]
            for b in mine:
                h.wdrive("click", b.hwnd, 7 if 7 in b.buttons else IDCANCEL if IDCANCEL in b.buttons else 1)
            if not mine:
                h.wdrive("close", p.hwnd)
            p.wait_exit(1)
        if p.proc.poll() is None:
            self.counts["crashes"] += 1
            self.fail("the program did not close within 30 s", [self.backtrace()])
            p.kill()
        else:
            self.end_run(crashed=False)

    def backtrace(self):
        """Where every thread of a program that does not end or answer is: a file for the evidence."""
        path = os.path.join(self.logs, "threads-%d.txt" % self.step)
        try:
            # winedbg walks every process of the Wine session; the program's
            # threads are among them, named by its path.
            out = subprocess.run(["wine", "winedbg", "--command", "bt all"], env=h.wine_env(),
                                 stdin=subprocess.DEVNULL, capture_output=True, timeout=120).stdout
        except subprocess.SubprocessError as e:
            out = str(e).encode()
        with open(path, "wb") as f:
            f.write(out)
        return path

    def end_run(self, crashed):
        seen = {}
        for m in self.prog.journal.methods():
            seen[m] = seen.get(m, 0) + 1
        print("  run ended at step %d: %s; %s" % (self.step, ", ".join(
            "%s %d" % (m, seen.get(m, 0)) for m in ("Central.Create", "Central.TextData", "Central.AudioReset",
                                                    "Lexicon.Add", "Lexicon.Remove", "Fault.Injected")), self.handles_summary()),
              flush=True)
        if crashed:
            self.counts["crashes"] += 1
            self.fail("the program ended without being asked (exit %s)" % self.prog.proc.poll())
        else:
            leaked = self.leaked_refs()
            if leaked:
                self.counts["leaked"] += leaked
                self.fail("%d references not released exactly once" % leaked)
        self.prog.kill()
        shutil.rmtree(self.prog.tmp, ignore_errors=True)

    # The checks after every step.
    def check(self):
        p = self.prog
        if p.proc.poll() is not None:
            self.end_run(crashed=not self.closing)
            self.start()
            return []
        asked = time.time()
        boxes = h.boxes()
        strangers = [b for b in boxes if b.pid != p.pid and b.hwnd not in p.before]
        if strangers:
            self.counts["crashes"] += 1
            self.fail("a box of another process: %r" % strangers)
            for b in strangers:
                h.wdrive("kill", b.pid)
            p.kill()
            self.start()
            return []
        if self.closing and time.time() - self.closing > 5 and not [b for b in boxes if b.pid == p.pid]:
            self.closing = 0.0  # the close was cancelled
        if self.edit:
            text = unesc(h.wdrive("text", self.edit)[0]) if p.proc.poll() is None else None
            if text is not None:
                self.known.add(sha(text.encode("cp1250", "replace")))
        for path, digest in files_under(self.box).items():
            if path == self.dictionary:
                with open(path, "rb") as f:
                    lines = f.read().split(b"\n")
                if lines[0].rstrip(b"\r") != DICT_HEADER or any(l and b"\t" not in l for l in lines[1:]):
                    self.counts["lost"] += 1
                    self.fail("the dictionary file does not parse: %r" % lines[:3])
            elif digest not in self.known:
                self.counts["lost"] += 1
                self.fail("%s holds neither an old nor a new content" % path, [path])
                with open(path, "rb") as f:
                    self.known.add(sha(f.read()))
        if files_under(self.root, skip=self.box) != self.outside:
            self.counts["lost"] += 1
            self.fail("a file outside the sandbox changed")
            self.outside = files_under(self.root, skip=self.box)
        mine = [b for b in boxes if b.pid == p.pid]
        self.sample_handles([b for b in mine if b.hwnd != p.hwnd], asked)
        return mine

    # Hands.
    def key(self, *keys):
        try:
            h.xkey(self.title, *keys)
        except AssertionError:
            pass  # the window went away meanwhile (a close, a modal box)

    def press(self, keys, closing=False):
        if closing:
            self.closing = time.time()
        self.key(*keys)
        return " ".join(keys)

    def type(self, target, text):
        h.wdrive("type", target, text)
        if target == self.edit:
            self.settle()
        return "type %r" % text[:40]

    def settle(self, timeout=10):
        """Waits until typed input has all arrived in the edit box: a text the
        driver never saw must not be taken for a mixture on disk."""
        last, deadline = None, time.time() + timeout
        while time.time() < deadline and self.prog.proc.poll() is None:
            text = h.wdrive("text", self.edit)[0]
            self.known.add(sha(unesc(text).encode("cp1250", "replace")))
            if text == last:
                return
            last = text
            time.sleep(0.3)

    def words(self, lo=1, hi=6):
        return " ".join(self.rng.choice(WORDS) for _ in range(self.rng.randint(lo, hi)))

    def close(self):
        self.closing = time.time()
        how = self.rng.choice(["alt+F4", "wm_close", "alt+F4"])
        if how == "wm_close":
            h.wdrive("close", self.prog.hwnd)
            return how
        self.key(how)
        return how

    def paste(self):
        """Another program's text up to and past the edit box's limit, pasted."""
        n = self.rng.choice([1000, 20000, 31999, 40000])
        subprocess.run(["wine", CLIPPUT, "big", str(n)], env=h.wine_env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        self.key("ctrl+v")
        return "paste %d" % n

    def voices(self):
        """One voice choice, or several queued at once while it may be speaking."""
        keys = ["F3"] if self.rng.random() < 0.5 else []
        for _ in range(1 if self.rng.random() < 0.6 else self.rng.randint(2, 4)):
            keys += ["alt+h"] + ["Down"] * self.rng.randint(0, 3) + ["Return"]
        self.key(*keys)
        return " ".join(keys)

    def clip(self):
        kind = self.rng.choice(["text", "unicode", "oem", "big", "picture", "registered", "unterminated", "empty"])
        args = {"text": [self.words()], "unicode": [self.words() + " Ωπ 日本 €"], "oem": [self.words()],
                "big": [str(self.rng.choice([1, 30000, 65536, 1 << 20]))], "picture": [],
                "registered": ["Verbanor Soak", self.words()], "unterminated": [self.words()], "empty": []}[kind]
        subprocess.run(["wine", CLIPPUT, kind] + args, env=h.wine_env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        return "clip %s %s" % (kind, " ".join(a[:20] for a in args))

    # The answers to whatever box the program shows.
    def answer(self, b):
        r = self.rng.random()
        if b.caption in (OPEN_CAPTION, SAVE_CAPTION):
            # The dialog may have closed since the check saw it (a late key).
            label = h.wdrive("childtext", b.hwnd, PATH_LABEL)
            if not label:
                return "dialog gone before its answer"
            at_top = unesc(label[0]).lower() == h.winpath(self.box).lower()
            if r < 0.5:
                names = ["a.txt", "b.txt", "uj.txt", "sub", "sub\\c.txt", "*.txt", "nincs.txt", "ék ő.txt", ""]
                name = self.rng.choice(names + ([] if at_top else [".."]))
                found = h.wdrive("child", b.hwnd, NAME_BOX)
                if not found:
                    return "dialog gone before its answer"
                name_box = found[0]
                h.wdrive("keys", name_box, "0x24")
                h.wdrive("keys", name_box, "0x10+0x23")  # Home, Shift+End: the old name goes
                if name:
                    self.type(name_box, name)
                h.wdrive("keys", name_box, "0x0D")
                return "dialog %r + Enter" % name
            if r < 0.7:
                items = [i for i in h.wdrive("listitems", b.hwnd, DIR_LIST) if not (at_top and i == "[..]")]
                if items:
                    i = self.rng.randrange(len(items))
                    h.wdrive("lbdblclk", b.hwnd, DIR_LIST, h.wdrive("listitems", b.hwnd, DIR_LIST).index(items[i]))
                    return "dialog double-click %r" % items[i]
            if r < 0.85:
                h.wdrive("keys", b.hwnd, "0x1B")
                return "dialog Esc"
            h.wdrive("click", b.hwnd, IDCANCEL)
            return "dialog Cancel"
        if self.name == "lexibar" and b.hwnd == self.prog.hwnd:
            return None
        buttons = sorted(b.buttons)
        if buttons and r < 0.7:
            bid = self.rng.choice(buttons)
            h.wdrive("click", b.hwnd, bid)
            return "box %r: %s" % (b.caption, b.buttons[bid])
        h.wdrive("keys", b.hwnd, "0x1B" if r < 0.85 else "0x0D")
        return "box %r: %s" % (b.caption, "Esc" if r < 0.85 else "Enter")

    # What people do, weighted.
    def vorira_actions(self):
        r = self.rng
        return [
            (25, lambda: self.type(self.edit, self.words())),
            (6, lambda: self.press(["Return"] * r.randint(1, 2))),
            (4, lambda: self.type(self.edit, "".join(r.choice(WORDS) for _ in range(60)))),
            (18, lambda: self.press([r.choice(["F1", "F2", "F3", "Escape", "ctrl+a", "ctrl+a", "ctrl+z", "ctrl+c",
                                               "ctrl+x", "ctrl+v", "shift+Home", "Home", "ctrl+End", "BackSpace",
                                               "shift+Up"])])),
            (10, self.voices),
            (3, self.paste),
            (4, lambda: self.press(r.choice([["ctrl+n"], ["alt+f", "j"]]))),
            (5, lambda: self.press(r.choice([["ctrl+o"], ["alt+f", "n"]]))),
            (5, lambda: self.press(r.choice([["ctrl+s"], ["alt+f", "m"]]))),
            (4, lambda: self.press(["alt+f", "s"])),
            (1, lambda: self.press(["alt+s", "n"])),
            (2, self.close),
            (1, lambda: self.press(["alt+f", "k"], closing=True)),
        ]

    def dalnoka_actions(self):
        r = self.rng
        return [
            (35, lambda: "; ".join(self.clip() for _ in range(r.randint(1, 5)))),
            (10, self.click_head),
            (8, lambda: self.press(r.choice([["ctrl+m"], ["ctrl+v"], ["alt+b", "o"], ["alt+b", "v"]]))),
            (8, lambda: self.press([r.choice(["alt+m", "alt+l"])])),
            (8, self.voices),
            (1, lambda: self.press(["alt+s", r.choice(["v", "n"])])),
            (2, self.close),
        ]

    def click_head(self):
        wid = h.x_window(self.title)
        button = self.rng.choice(["1", "1", "1", "3"])
        subprocess.run(["xdotool", "mousemove", "--window", wid, str(self.rng.randint(5, 120)),
                        str(self.rng.randint(5, 80)), "click", button], stderr=subprocess.DEVNULL, timeout=10)
        if button == "3":
            time.sleep(0.3)
            self.key("Escape")
        return "click head %s" % button

    def lexibar_actions(self):
        r = self.rng

        def field(mnemonic, what):
            text = r.choice([self.words(1, 1), self.words(1, 1), self.words(2, 3), "x" * r.choice([60, 250, 300]),
                             "", "a\x01b", "ő\tő"])
            self.key(mnemonic, "Home", "shift+End")
            if text:
                self.type(self.prog.hwnd, text)
            return "%s %r" % (what, text[:30])
        return [
            (25, lambda: field("alt+s", "word")),
            (15, lambda: field("alt+e", "pronunciation")),
            (15, lambda: self.press(["alt+m"])),  # Modify
            (10, lambda: self.press(["alt+t"])),  # Delete
            (10, lambda: self.press(["alt+b"])),  # Say
            (2, lambda: self.press([r.choice(["Escape", "alt+k"])], closing=True)),
            (1, self.close),
        ]

    def set_phase(self, faulty):
        """Closes the program and starts it again with or without the fault table."""
        self.finish()
        self.faulty, self.ini = faulty, self.plain_ini
        print("  step %d: engine faults %s" % (self.step, "on" if faulty else "off"), flush=True)
        self.history.append("%d faults %s" % (self.step, "on" if faulty else "off"))
        self.start()
        if faulty:
            print("    " + self.ini.split("[faults]\n")[1].replace("\n", "\n    ").rstrip(), flush=True)

    # The speech server's troubles.
    def speak(self):
        """Something short the program speaks at once."""
        if self.name == "vorira":
            # Esc first: a long reading (F3 of a big file) would keep the
            # text queued behind it. Typed over everything: an edit box filled
            # to its limit by a paste takes nothing more, and F1 would read
            # that long line instead.
            self.press(["Escape", "ctrl+a"])
            self.type(self.edit, self.words(3, 6))
            return self.press(["F1"])
        if self.name == "dalnoka":
            subprocess.run(["wine", CLIPPUT, "text", self.words(3, 6)], env=h.wine_env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
            return self.press(["alt+m"])
        self.key("alt+s", "Home", "shift+End")
        self.type(self.prog.hwnd, self.words(1, 1))
        return self.press(["alt+b"])

    def speech_back(self, since):
        """Speaks and waits for a text started after `since` to be spoken to
        its end through the server: the last server state is `connected`."""
        for b in self.prog.own_boxes():
            if b.hwnd != self.prog.hwnd:
                h.wdrive("click", b.hwnd, IDCANCEL if IDCANCEL in b.buttons else 7 if 7 in b.buttons else 1)
        time.sleep(0.5)
        self.history.append("%d speak; %s" % (self.step, self.speak()))
        deadline = time.time() + RECOVERY
        while time.time() < deadline and self.prog.proc.poll() is None:
            entries = self.prog.journal.entries()
            started = {e["fields"].get("text_id") for e in entries
                       if e["method"] == "Speech.Start" and e["time"] > since}
            states = [e["fields"].get("state") for e in entries if e["method"] == "Speech.Server"]
            if states and states[-1] == "connected" and any(
                    e["method"] == "Speech.Finish" and e["time"] > since and e["fields"].get("text_id") in started
                    for e in entries):
                return True
            self.ping()
            time.sleep(1)
        return self.prog.proc.poll() is not None  # a run that ended meanwhile is judged by check()

    def ping(self):
        """Whether the program's window answered within HANG_MS; a hang fails the run."""
        if self.prog.proc.poll() is not None or not self.prog.hwnd:
            return True
        answer = h.wdrive("ping", self.prog.hwnd, HANG_MS)
        if answer not in (["0"], ["1"]):
            # The driver said nothing, not even "0", so it ended before
            # asking the window (seen once in a speech-server soak): it
            # asks again, and a window that hangs still fails.
            answer += h.wdrive("ping", self.prog.hwnd, HANG_MS)
        if answer[-1:] == ["1"] or self.prog.proc.poll() is not None:
            return True
        self.counts["crashes"] += 1
        self.fail("the window did not answer within %d ms (%r)" % (HANG_MS, answer), [self.backtrace()])
        self.prog.kill()
        self.start()
        return False

    def server_trouble(self):
        """Starts and ends the server's outages: a kill mid-speech (started
        again later on the same port) or a wedge (SIGSTOP, later SIGCONT).
        While one lasts the program's window must answer within HANG_MS;
        once the server is back, speech must come back within RECOVERY."""
        now = time.time()
        if self.outage is None and now >= self.next_trouble:
            self.history.append("%d speak; %s" % (self.step, self.speak()))
            time.sleep(self.rng.uniform(0.2, 1.5))
            kind = self.rng.choice(["kill", "wedge"])
            self.server.signal(signal.SIGKILL if kind == "kill" else signal.SIGSTOP)
            self.outage = (kind, now + self.rng.uniform(3, 20))
            self.history.append("%d speech server %s" % (self.step, kind))
            print("  step %d: speech server %s for %.0f s" % (self.step, "killed" if kind == "kill" else "wedged",
                                                              self.outage[1] - now), flush=True)
        elif self.outage and now >= self.outage[1]:
            self.server_back()
            since = time.time()
            if self.speech_back(since):
                print("  step %d: speech back %.1f s after the server" % (self.step, time.time() - since), flush=True)
            else:
                self.fail("speech did not come back within %d s of the server" % RECOVERY)
            self.next_trouble = time.time() + self.rng.uniform(10, 30)
        if self.outage:
            self.ping()

    def server_back(self):
        if self.outage[0] == "kill":
            self.server.start()
        else:
            self.server.signal(signal.SIGCONT)
        self.history.append("%d speech server back after %s" % (self.step, self.outage[0]))
        self.outage = None

    def run(self, seconds):
        self.next_trouble = time.time() + 15
        self.start()
        table = getattr(self, self.name + "_actions")()
        weights = [w for w, _ in table]
        began = time.time()
        deadline = began + seconds
        phases = [(began + seconds / 3, True), (began + 2 * seconds / 3, False)] if self.faults else []
        mine = []
        while time.time() < deadline:
            if phases and time.time() >= phases[0][0]:
                self.set_phase(phases.pop(0)[1])
                mine = []
            self.step += 1
            action = None
            if mine:
                action = self.answer(mine[self.rng.randrange(len(mine))])
            if action is None:
                try:
                    action = self.rng.choices(table, weights)[0][1]()
                except (AssertionError, subprocess.SubprocessError) as e:
                    # A window that does not come (or a hand that hangs) is
                    # the program's fault until the evidence says otherwise;
                    # the run goes on, and the check below sees a crash.
                    action = "(could not: %s)" % e
                    self.fail("the driver could not act: %s" % e)
            self.history.append("%d %s" % (self.step, action))
            self.counts["actions"] += 1
            time.sleep(0.2)
            mine = self.check()
            if self.server:
                self.server_trouble()
        if self.outage:
            self.server_back()
        self.finish()
        for d in (self.root, self.logs):
            shutil.rmtree(d, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--seed", default=None,
                    help="the seed, or several separated by commas, each run in turn; `new`: a fresh one")
    ap.add_argument("--program", choices=["vorira", "dalnoka", "lexibar", "all"], default="all")
    # The place for the engine's fault switches: an INI handed to the runtime as is.
    ap.add_argument("--engine-ini", default=None, help="engine configuration (SPEECHRT_CONFIG) for every run")
    ap.add_argument("--faults", action="store_true", help="engine faults on for the middle third of each program's run")
    ap.add_argument("--speech-server", action="store_true",
                    help="speak through a private speech-dispatcher that is killed, restarted and wedged meanwhile")
    ap.add_argument("--min-judged", type=int, default=0,
                    help="fail a program whose handle samples after the warm-up were fewer, per seed")
    a = ap.parse_args()
    seeds = [int(x) if x != "new" else random.SystemRandom().randrange(1, 10 ** 6)
             for x in (a.seed or "new").split(",")]
    ini = open(a.engine_ini, encoding="utf-8").read() if a.engine_ini else None
    totals = {"actions": 0, "crashes": 0, "leaked": 0, "lost": 0, "growth": 0, "judged": 0}
    failed = []
    for seed in seeds:
        for name in (["vorira", "dalnoka", "lexibar"] if a.program == "all" else [a.program]):
            print("soak %s seed %d for %g s%s%s" % (name, seed, a.seconds, ", engine faults for a third" if a.faults
                                                  else "", ", speech server in trouble" if a.speech_server else ""),
                  flush=True)
            server = SpeechServer() if a.speech_server else None
            s = Soak(name, seed, ini, a.faults, server)
            try:
                s.run(a.seconds)
            finally:
                if server:
                    server.stop()
            if s.counts["judged"] < a.min_judged:
                # A leak check that saw nothing must not pass as one that saw no leak.
                print("FAIL %s seed %s: %d handle samples judged after the warm-up, %d wanted"
                      % (name, seed, s.counts["judged"], a.min_judged), flush=True)
                s.failed.append("%s:%s@judged" % (name, seed))
            for k in totals:
                totals[k] += s.counts[k]
            failed += s.failed
    print("actions %d, crashes %d, leaked refs %d, handle growth %d over %d samples judged, data lost %d, "
          "seeds failed: %s" % (totals["actions"], totals["crashes"], totals["leaked"], totals["growth"],
                                totals["judged"], totals["lost"], " ".join(failed) or "none"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
