"""Dalnoka end to end: the real dalnoka.exe under Wine against the stand-in
speech runtime, with another Wine process (clipput.exe) copying text and
pictures, checked through the runtime's journal, the clipboard's content, the
window's colour on screen, the foreground window and the registry."""
import os
import re
import subprocess
import tempfile
import time
import unittest

import harness as h

TITLE_RE = "^Dalnoka$"
KEY = r"HKLM\SOFTWARE\Kelvanit\Dalnoka"
CLIPPUT = os.path.join(h.BUILD, "tests", "e2e", "clipput.exe")
RED, BLUE = "FF0000", "004080"


def cp1250(s):
    return s.encode("cp1250")


def wine(*args):
    p = subprocess.run(["wine"] + list(args), env=h.wine_env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
    return p.stdout.decode("utf-8", "replace")


def clipput(*args):
    return wine(CLIPPUT, *args).strip()


def clip_text():
    """The clipboard's CF_TEXT bytes, or None when it holds no text."""
    out = clipput("get")
    return None if out == "none" else h.unescape(out)


def reg_reset(values=None):
    """Deletes Dalnoka's key, then stores the given REG_DWORD values."""
    wine("reg", "delete", KEY, h.REG_VIEW, "/f")
    for name, value in (values or {}).items():
        wine("reg", "add", KEY, "/v", name, "/t", "REG_DWORD", "/d", str(value), h.REG_VIEW, "/f")


def reg_values():
    """{name: (type, value)} of what Dalnoka's key holds."""
    out = {}
    for line in wine("reg", "query", KEY, h.REG_VIEW).splitlines():
        m = re.match(r"\s+(\S+)\s+(REG_\w+)\s+(\S+)", line)
        if m:
            out[m.group(1)] = (m.group(2), int(m.group(3), 16))
    return out


def audio_faults(entries):
    """What the journal shows going wrong with audio destinations: one destroyed
    while an engine still held it, destroyed twice, or left at the end."""
    live, held, faults = set(), {}, []
    for e in entries:
        method, f = e["method"], e["fields"]
        if method == "AudioDest.Create":
            live.add(f["audio"])
        elif method == "Central.Create":
            held[f["id"]] = f["audio"]
        elif method == "Central.Destroy":
            held.pop(f["id"], None)
        elif method == "AudioDest.Destroy":
            if f["audio"] not in live:
                faults.append("audio %s destroyed twice" % f["audio"])
            if f["audio"] in held.values():
                faults.append("audio %s destroyed under its engine" % f["audio"])
            live.discard(f["audio"])
    return faults + ["audio %s left" % a for a in live] + ["engine %s left" % i for i in held]


class Viewer:
    """A visible window of another process in the clipboard viewer chain."""

    def __init__(self, title, tmp):
        self.log = os.path.join(tmp, "viewer-%s.txt" % title)
        self.out = open(self.log, "w")
        self.proc = subprocess.Popen(["wine", CLIPPUT, "viewer", title], env=h.wine_env(),
                                     stdin=subprocess.DEVNULL, stdout=self.out, stderr=subprocess.DEVNULL)
        self.hwnd = h.wait_for(lambda: self._first("hwnd "), 20, 0.1, "viewer " + title)

    def lines(self):
        with open(self.log) as f:
            return [l.strip() for l in f if l.strip()]

    def _first(self, prefix):
        for l in self.lines():
            if l.startswith(prefix):
                return l[len(prefix):]
        return None

    def leave(self):
        h.wdrive("close", self.hwnd)
        self.proc.wait(15)

    def stop(self):
        if self.proc.poll() is None:
            self.leave()
        self.out.close()


class DalnokaTest(unittest.TestCase):
    """One Dalnoka per test, with the registry key set up by the test."""

    def setUp(self):
        clipput("empty")

    def start(self, settings=None, voice_loads=True):
        reg_reset(settings)
        self.prog = h.Program("dalnoka")
        self.addCleanup(self.prog.kill)
        self.prog.main_window(TITLE_RE)
        if voice_loads:
            h.wait_for(lambda: self.prog.journal.calls("Enum.Select"), what="voice selection")
        else:
            time.sleep(1.0)
        self.wid = h.x_window(TITLE_RE)
        return self.prog

    def viewer(self, title):
        v = Viewer(title, tempfile.mkdtemp(prefix="e2e-dalnoka-viewer-"))
        self.addCleanup(v.stop)
        return v

    def geometry(self):
        p = subprocess.run(["xdotool", "getwindowgeometry", "--shell", self.wid], stdout=subprocess.PIPE)
        g = dict(l.split("=") for l in p.stdout.decode().split())
        return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])

    def colour(self):
        """The background at the lower left of the client area, away from the picture."""
        x, y, w, hgt = self.geometry()
        return h.wdrive("pixel", x + 12, y + hgt - 8)[0]

    def wait_colour(self, rgb):
        return h.wait_for(lambda: self.colour() == rgb, 5, 0.1, "background " + rgb)

    def click_head(self):
        x, y, w, hgt = self.geometry()
        subprocess.run(["xdotool", "mousemove", str(x + 12), str(y + hgt - 8), "click", "1"], timeout=10)

    def texts(self):
        return self.prog.journal.texts()

    def wait_texts(self, n):
        return h.wait_for(lambda: len(self.texts()) >= n and self.texts(), 5, 0.05, "%d spoken texts" % n)

    def speech_calls(self):
        return [(e["method"], e["fields"].get("text")) for e in self.prog.journal.entries()
                if e["method"] in ("Central.AudioReset", "Central.TextData")]

    def exit(self):
        h.wdrive("close", self.prog.hwnd)
        self.assertEqual(0, self.prog.wait_exit(15))

    # ---------------------------------------------------------------------

    def test_read_on_copy_speaks_at_once_and_empties_the_clipboard(self):
        self.start({"ReadOnCopy": 1})
        clipput("text", "Jó reggelt, Dalnoka!")
        self.wait_texts(1)
        self.assertEqual([("Central.AudioReset", None),
                          ("Central.TextData", cp1250("Jó reggelt, Dalnoka!") + b"\0")], self.speech_calls())
        self.assertIsNone(clip_text())
        self.wait_colour(BLUE)

    def test_a_copy_from_an_x_program_is_read_once_although_wine_tells_twice(self):
        self.start({"ReadOnCopy": 1})
        # A program outside Wine owns the X clipboard: Wine announces the
        # change twice, the second time inside the first notice's handling.
        subprocess.run(["xclip", "-selection", "clipboard", "-i"], input="Árvíztűrő tükörfúrógép".encode("utf-8"),
                       timeout=10)
        self.wait_texts(1)
        time.sleep(1.0)
        self.assertEqual([("Central.AudioReset", None),
                          ("Central.TextData", cp1250("Árvíztűrő tükörfúrógép") + b"\0")], self.speech_calls())
        self.assertIsNone(clip_text())
        self.wait_colour(BLUE)

    def test_unicode_only_copy_is_spoken_in_full(self):
        self.start({"ReadOnCopy": 1})
        clipput("unicode", "árvíztűrő tükörfúrógép")
        self.assertEqual([cp1250("árvíztűrő tükörfúrógép") + b"\0"], self.wait_texts(1))

    def test_registered_text_without_terminator_is_read_within_its_block(self):
        self.start({"ReadOnCopy": 1})
        clipput("registered", "VERBANOR TEXT", "csak ennyi")
        # Not CF_TEXT: the copy only turns the window blue; "&Mondd" reads it.
        self.wait_colour(BLUE)
        h.wdrive("command", self.prog.hwnd, 100)
        self.assertEqual([b"csak ennyi\0"], self.wait_texts(1))

    def test_copy_with_read_on_copy_off_turns_red_and_a_click_reads(self):
        below = self.viewer("Alatta")
        self.start()
        clipput("text", "Kattintásra olvasom.")
        self.wait_colour(RED)
        h.screenshot("dalnoka-red")
        self.assertEqual([], self.texts())
        h.wdrive("keys", below.hwnd, "0x10")  # away from the head window
        self.click_head()
        self.assertEqual([cp1250("Kattintásra olvasom.") + b"\0"], self.wait_texts(1))
        self.assertEqual("Central.AudioReset", self.speech_calls()[0][0])
        h.wait_for(lambda: h.wdrive("foreground")[0] == below.hwnd, 5, 0.1, "the window below in front")
        self.assertIsNone(clip_text())
        self.wait_colour(BLUE)

    def test_a_picture_turns_blue_and_a_click_reads_nothing(self):
        below = self.viewer("Alatta")
        self.start()
        clipput("text", "előbb szöveg")
        self.wait_colour(RED)
        clipput("picture")
        self.wait_colour(BLUE)
        h.screenshot("dalnoka-blue")
        h.wdrive("keys", below.hwnd, "0x10")
        self.click_head()
        time.sleep(0.7)
        self.assertEqual([], self.texts())
        self.assertEqual(self.prog.hwnd, h.wdrive("foreground")[0])

    def test_the_first_activation_never_reads(self):
        below = self.viewer("Alatta")
        clipput("text", "már itt volt")
        self.start()
        self.wait_colour(RED)
        h.wdrive("keys", below.hwnd, "0x10")
        self.click_head()
        time.sleep(0.7)
        self.assertEqual([], self.texts())
        self.assertEqual(cp1250("már itt volt"), clip_text())

    def test_say_with_an_empty_clipboard_speaks_nothing_and_keeps_the_colour(self):
        self.start()
        self.wait_colour(BLUE)
        h.wdrive("command", self.prog.hwnd, 100)
        time.sleep(0.7)
        self.assertEqual([], self.speech_calls())
        self.assertEqual(BLUE, self.colour())

    def test_with_read_on_copy_the_next_viewer_sees_the_text_before_it_is_read(self):
        after = self.viewer("Utana")
        self.start({"ReadOnCopy": 1})  # chain: Dalnoka, Utana
        clipput("text", "előbb a többiek")
        self.wait_texts(1)
        h.wait_for(lambda: clip_text() is None, 5, 0.1, "the clipboard emptied")
        h.wait_for(lambda: after.lines()[-1:] == ["draw none"], 5, 0.1, "the emptying passed on")
        self.assertIn("draw text", after.lines())

    def test_leaving_at_the_end_hands_the_chain_on(self):
        back = self.viewer("Hatso")
        self.start()  # chain: Dalnoka, Hatso
        front = self.viewer("Elol")  # chain: Elol, Dalnoka, Hatso
        dalnoka = int(self.prog.hwnd, 16)
        self.exit()
        h.wait_for(lambda: any(l.split()[:2] == ["change", hex(dalnoka)] and int(l.split()[2], 16) == int(back.hwnd, 16)
                               for l in front.lines()), 5, 0.1, "Dalnoka's place handed to Hatso")
        clipput("text", "tovább")
        h.wait_for(lambda: "draw text" in back.lines(), 5, 0.1, "the copy reaching Hatso")

    def test_viewers_of_other_processes_stay_chained(self):
        back = self.viewer("Hatso")
        front = self.viewer("Elso")
        self.start()  # chain: Dalnoka, Elso, Hatso
        clipput("text", "egy")
        h.wait_for(lambda: "draw text" in front.lines(), 5, 0.1, "the notice passed on")
        back.leave()
        # Hatso left behind Elso: Dalnoka passes the chain change on to Elso.
        h.wait_for(lambda: any(l.startswith("change " + back.hwnd) for l in front.lines()), 5, 0.1,
                   "the chain change passed on")
        front.leave()
        # Elso was Dalnoka's next viewer: copies still reach Dalnoka alone.
        clipput("text", "kettő")
        self.wait_colour(RED)
        h.wdrive("command", self.prog.hwnd, 100)
        self.assertEqual([cp1250("kettő") + b"\0"], self.wait_texts(1))
        self.exit()

    def test_shortcut_toggles_speak_menu_toggles_do_not_and_all_is_saved(self):
        self.start()
        h.xkey(TITLE_RE, "ctrl+m")
        self.wait_texts(1)
        h.xkey(TITLE_RE, "ctrl+m")
        self.wait_texts(2)
        self.assertEqual([("Central.AudioReset", None),
                          ("Central.TextData", cp1250("Olvasás másoláskor bekapcsolva.") + b"\0"),
                          ("Central.AudioReset", None),
                          ("Central.TextData", cp1250("Olvasás másoláskor kikapcsolva.") + b"\0")],
                         self.speech_calls())
        h.wdrive("command", self.prog.hwnd, 102)   # "&Olvasás másoláskor" in the menu bar
        h.xkey(TITLE_RE, "alt+space", "r")         # "Vágóasztal ü&rítése olvasáskor" in the window menu
        time.sleep(0.7)
        self.assertEqual(2, len(self.texts()))
        self.exit()
        self.assertEqual({"ReadOnCopy": ("REG_DWORD", 1), "EmptyClipboardOnReading": ("REG_DWORD", 0),
                          "CurrentVoiceNum": ("REG_DWORD", 0)}, reg_values())

    def test_stored_voice_five_of_three_loads_nothing_and_is_kept(self):
        self.start({"CurrentVoiceNum": 5}, voice_loads=False)
        self.assertTrue(h.no_box())
        self.assertEqual([], self.prog.journal.calls("Enum.Select"))
        clipput("text", "senki sem hallja")
        h.wdrive("command", self.prog.hwnd, 100)
        # Without a voice the read still goes on and empties the clipboard.
        h.wait_for(lambda: clip_text() is None, 5, 0.1, "the clipboard emptied")
        self.assertEqual([], self.speech_calls())
        self.exit()
        self.assertEqual({"ReadOnCopy": ("REG_DWORD", 0), "EmptyClipboardOnReading": ("REG_DWORD", 1),
                          "CurrentVoiceNum": ("REG_DWORD", 5)}, reg_values())

    def test_about_box_speaks_its_message_and_closes_with_esc(self):
        self.start()
        h.wdrive("command", self.prog.hwnd, 104)
        box = h.wait_box("Verbanor Dalnoka névjegye")
        self.assertEqual(["Verbanor Dalnoka", "Verzió 1.2"], box.texts[1:3])
        self.wait_texts(1)
        h.xkey("^Verbanor Dalnoka", "Escape")
        self.assertTrue(h.wait_for(lambda: h.no_box("Verbanor Dalnoka névjegye", 0.1), 5, 0.1, "box closed"))


class QueuedCommandsTest(unittest.TestCase):
    """Two voice commands and a close that land in the queue together, as two
    quick menu choices and a click on the close box do: each takes effect
    after the one before, in Dalnoka and in Vorira alike, since both choose
    voices through the shared binding."""

    def choose_twice_and_close(self, name, title_re):
        prog = h.Program(name)
        self.addCleanup(prog.kill)
        prog.main_window(title_re)
        h.wait_for(lambda: prog.journal.calls("Enum.Select"), what="voice selection")
        clipput("post", prog.hwnd, "40101", "40102", "close")
        self.assertEqual(0, prog.wait_exit(15))
        chosen = [e["fields"]["mode"].split()[1].decode("cp1250") for e in prog.journal.calls("Enum.Select")]
        self.assertEqual(["Anna", "Bence", "Csilla"], chosen)
        self.assertEqual([], audio_faults(prog.journal.entries()))

    def test_dalnoka(self):
        reg_reset()
        self.choose_twice_and_close("dalnoka", TITLE_RE)
        self.assertEqual(("REG_DWORD", 2), reg_values()["CurrentVoiceNum"])

    def test_vorira(self):
        self.choose_twice_and_close("vorira", "^Vorira - ")


class ClosedInAWindowLoopTest(unittest.TestCase):
    """Alt+F4 while the window menu's Move or Size is going on: Wine's loop
    for it keeps the quit request for itself, yet every program must end
    (found by the soak, seed 202: Dalnoka stayed running with no window)."""

    def close_while_moving(self, name, title_re, keys):
        reg_reset()
        prog = h.Program(name)
        self.addCleanup(prog.kill)
        if name == "lexibar":
            prog.wait_box("Verbanor 4 szótár")
        else:
            prog.main_window(title_re)
            h.wait_for(lambda: prog.journal.calls("Enum.Select"), what="voice selection")
        h.xkey(title_re, "alt+space")
        time.sleep(0.5)
        h.xkey(title_re, *keys)  # the first item Dalnoka's window menu offers, the second the others'
        time.sleep(0.5)
        h.xkey(title_re, "alt+F4")
        self.assertEqual(0, prog.wait_exit(15))
        self.assertIn("AudioDest.Destroy", prog.journal.methods())

    def test_dalnoka(self):
        self.close_while_moving("dalnoka", TITLE_RE, ["Return"])

    def test_vorira(self):
        self.close_while_moving("vorira", "^Vorira - ", ["Down", "Return"])

    def test_lexibar(self):
        self.close_while_moving("lexibar", "^Verbanor 4 szótár$", ["Down", "Return"])


if __name__ == "__main__":
    h.main()
