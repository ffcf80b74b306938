"""Lexibar end to end: the real lexibar.exe under Wine against the stand-in
speech runtime and its user dictionary, typed into as a person would, checked
through the runtime's journal, the dictionary file and the boxes on screen.
Every test has a dictionary file of its own (SPEECHRT_DICTIONARY)."""
import os
import re
import subprocess
import tempfile
import time
import unittest

import harness as h

TITLE = "Verbanor 4 szótár"
HEADER = "#speechrt-dictionary 1\n"
WORD, PRON, EXIT, MODIFY, DELETE, SAY = 1000, 1003, 1002, 1004, 1005, 1006
VK_TAB, VK_ALT = 0x09, 0x12

NO_KELVANIT = """
[mode0]
Maker=Lantos Hangművek
Product=Lantos TTS
ModeName=Lantos Dóra
[mode1]
Maker=kelvanit
Product=Verbanor 4 TTS
ModeName=Kisbetűs gyártó
"""

NO_DICTIONARY = """
[mode0]
Maker=Kelvanit
Product=Verbanor 4 TTS
ModeName=Szótár nélküli hang
NoDictionary=1
"""

STORE_FAILS_SECOND_TIME = """
[mode0]
Maker=Kelvanit
Product=Verbanor 4 TTS
ModeName=Verbanor Anna
[faults]
Lexicon.Add = hr=0x80040804 nth=2
"""


def cp(s):
    return s.encode("cp1250")


# Texts on screen come from wdrive with a line feed as the two characters \\n.
class LexibarTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="e2e-lexibar-dict-")
        self.dict_path = os.path.join(self.dir, "dictionary.txt")
        self.env = {"SPEECHRT_DICTIONARY": h.winpath(self.dict_path)}

    def store(self, *entries):
        with open(self.dict_path, "w", encoding="utf-8", newline="\n") as f:
            f.write(HEADER + "".join("%s\t%s\n" % e for e in entries))

    def stored(self):
        with open(self.dict_path, encoding="utf-8") as f:
            return f.read()

    def start(self, config=None, window=True):
        self.prog = h.Program("lexibar", config=config, extra_env=self.env)
        self.addCleanup(self.prog.kill)
        if window:
            box = self.prog.wait_box(TITLE, timeout=20)
            self.prog.hwnd, self.prog.pid = box.hwnd, box.pid
            self.dlg = box.hwnd
            self.word = h.wdrive("child", self.dlg, WORD)[0]
            self.pron = h.wdrive("child", self.dlg, PRON)[0]
        return self.prog

    def text(self, box):
        return h.wdrive("text", box)[0]

    def focus_id(self):
        return int(h.wdrive("focus", self.dlg)[0].split()[1])

    def sizing_gets(self):
        return [e for e in self.prog.journal.calls("Lexicon.Get") if e["fields"]["size"] == "0"]

    def keys(self, *vks):
        h.wdrive("keys", self.dlg, "+".join("0x%X" % k for k in vks))

    def ended(self, timeout=10):
        return self.prog.wait_exit(timeout) is not None

    def modify(self, word, shown, pronunciation):
        """Types the word, waits for the pronunciation stored for it, types a
        new one and presses Alt+M."""
        h.wdrive("type", self.word, word)
        h.wait_for(lambda: self.text(self.pron) == shown, what="the stored pronunciation")
        self.keys(VK_TAB)
        h.wdrive("type", self.pron, pronunciation)
        self.keys(VK_ALT, ord("M"))


class LookUpAsYouType(LexibarTest):
    def test_each_prefix_is_looked_up_and_the_box_fills_exactly_on_a_stored_word(self):
        self.store(("kés", "kéés"), ("kész", "kéész"))
        self.start()
        self.assertEqual(self.focus_id(), WORD, "the word box has the focus at start")
        shown, expected = [], ["", "", "kéés", "kéész"]
        for i, letter in enumerate("kész", 1):
            h.wdrive("type", self.word, letter)
            h.wait_for(lambda: len(self.sizing_gets()) >= i, what="lookup of prefix %d" % i)
            want = expected[i - 1]
            if want:
                h.wait_for(lambda: self.text(self.pron) == want, what="the pronunciation of prefix %d" % i)
            else:
                h.holds(lambda: self.text(self.pron) == "", 0.5)
            shown.append(self.text(self.pron))
        self.assertEqual(shown, expected)
        self.assertEqual([e["fields"]["word"] for e in self.sizing_gets()], [cp("k"), cp("ké"), cp("kés"), cp("kész")])
        h.screenshot("lexibar-dialog")


class ModifyDeleteSay(LexibarTest):
    def test_modify_stores_the_only_pronunciation_and_a_running_vorira_speaks_it(self):
        self.store(("Kelvanit", "egy"), ("Kelvanit", "kettő"), ("Kelvanit", "három"))
        vorira = h.Program("vorira", extra_env=self.env)
        self.addCleanup(vorira.kill)
        vorira.main_window("^Vorira - ")
        h.wait_for(lambda: vorira.journal.calls("Enum.Select"), what="Vorira's voice")
        # Vorira has read the dictionary before the change: it must be told.
        edit = h.wdrive("child", vorira.hwnd, 1)[0]
        h.wdrive("settext", edit, "A Kelvanit hangja.")
        h.wdrive("keys", edit, "0x%X" % h.VK_F3)
        texts = h.wait_for(lambda: vorira.journal.texts(), what="Vorira's first reading")
        self.assertEqual(texts, [cp("A egy hangja.") + b"\x00"])
        h.wdrive("keys", edit, "0x%X" % h.VK_ESCAPE)

        self.start()
        self.modify("Kelvanit", "egy", "kelvanyit")
        h.wait_for(lambda: len(self.prog.journal.calls("Lexicon.Add")) == 2, what="the second Add")
        calls = [(e["method"], e["result"]) for e in self.prog.journal.entries()
                 if e["method"] in ("Lexicon.Add", "Lexicon.Remove")]
        self.assertEqual(calls, [("Lexicon.Add", "0x00000000")] + [("Lexicon.Remove", "0x00000000")] * 4 +
                         [("Lexicon.Remove", "0x80040803"), ("Lexicon.Add", "0x00000000")])
        self.assertEqual(self.stored(), HEADER + "Kelvanit\tkelvanyit\n")
        h.wait_for(lambda: self.focus_id() == WORD, what="the focus back in the word box")
        self.assertEqual(h.wdrive("getsel", self.word), ["0 8"], "the word is selected")
        self.assertEqual(self.text(self.pron), "kelvanyit")

        # Vorira was running all along; its next reading uses the new entry.
        h.wdrive("keys", edit, "0x%X" % h.VK_F3)
        texts = h.wait_for(lambda: vorira.journal.texts()[1:], what="Vorira's second reading")
        self.assertEqual(texts, [cp("A kelvanyit hangja.") + b"\x00"])

    def test_a_refused_pronunciation_is_explained_and_nothing_is_lost(self):
        self.store(("kutya", "kutyus"))
        self.start()
        h.wdrive("type", self.word, "kutya")
        h.wait_for(lambda: self.text(self.pron) == "kutyus", what="the stored pronunciation")
        h.wdrive("settext", self.pron, "ku7ya")
        h.wdrive("click", self.dlg, MODIFY)
        box = self.prog.wait_box("Hiba")
        self.assertEqual(box.text, "Nem tudom hozzávenni a szót a szótárhoz. \\nA sztringben, amely a megadott szó "
                         "fonetikus vagy fonémikus leírását tartalmazza, egy érvénytelen karakter található.")
        self.assertEqual(list(box.buttons.values()), ["OK"])
        self.assertFalse(box.has_icon)
        self.assertEqual(box.owner_title, TITLE)
        h.wdrive("click", box.hwnd, list(box.buttons)[0])
        h.wait_for(lambda: self.prog.no_box("Hiba", settle=0.1), what="the box to close")
        self.assertEqual(self.focus_id(), PRON)
        self.assertEqual(self.stored(), HEADER + "kutya\tkutyus\n")
        self.assertEqual(self.prog.journal.calls("Lexicon.Remove"), [])

    def test_a_store_that_fails_half_way_is_explained_and_the_word_put_back(self):
        # The first Add goes in, the old senses go, then the disk is "full".
        self.store(("kutya", "kutyus"))
        self.start(config=STORE_FAILS_SECOND_TIME)
        h.wdrive("type", self.word, "kutya")
        h.wait_for(lambda: self.text(self.pron) == "kutyus", what="the stored pronunciation")
        self.keys(VK_TAB)
        h.wdrive("type", self.pron, "kutyuli")
        self.keys(VK_ALT, ord("M"))
        box = self.prog.wait_box("Hiba")
        self.assertEqual(box.text, "Nem tudom hozzávenni a szót a szótárhoz. \\nA lemezen nincs elég hely hogy "
                         "szótárhoz hozzáadandó információ elmentéséhez.")
        self.assertEqual([e["fields"]["call"] for e in self.prog.journal.calls("Fault.Injected")], ["2"])
        self.assertEqual(self.stored(), HEADER + "kutya\tkutyus\n", "the word has what it had")
        h.wdrive("click", box.hwnd, list(box.buttons)[0])
        h.wait_for(lambda: self.prog.no_box("Hiba", settle=0.1), what="the box to close")
        self.assertEqual(self.focus_id(), PRON)

    def test_delete_twice_removes_both_senses_then_explains(self):
        self.store(("tűz", "tüz"), ("tűz", "tűűz"))
        self.start()
        h.wdrive("type", self.word, "tűz")
        h.wait_for(lambda: self.text(self.pron) == "tüz", what="the first pronunciation")
        self.keys(VK_ALT, ord("T"))
        h.wait_for(lambda: self.text(self.pron) == "tűűz", what="the second pronunciation")
        self.assertEqual(self.stored(), HEADER + "tűz\ttűűz\n")
        self.keys(VK_ALT, ord("T"))
        h.wait_for(lambda: len(self.prog.journal.calls("Lexicon.Remove")) == 2, what="the second Delete")
        h.wait_for(lambda: self.text(self.pron) == "" and self.focus_id() == WORD, what="the emptied box")
        self.assertEqual(self.stored(), HEADER)
        self.assertTrue(self.prog.no_box("Hiba"))
        self.assertEqual(self.focus_id(), WORD)

        self.keys(VK_ALT, ord("T"))
        box = self.prog.wait_box("Hiba")
        self.assertEqual(box.text, "Nem tudom törölni a szót a szótárból. \\nA megadott szó nincs benne a szótárban.")

    def test_say_speaks_the_word_not_the_pronunciation_and_enter_at_start_says_nothing(self):
        self.start()
        self.keys(h.VK_RETURN)
        self.assertTrue(h.holds(lambda: self.prog.journal.texts() == []), "Enter with no word spoke")
        self.assertEqual(self.focus_id(), WORD)

        h.wdrive("type", self.word, "Győr")
        self.keys(VK_TAB)
        h.wdrive("type", self.pron, "valami más")
        self.keys(h.VK_RETURN)  # Say is the default button
        texts = h.wait_for(lambda: self.prog.journal.texts(), what="the word spoken")
        self.assertEqual(texts, [cp("Győr") + b"\x00"])
        self.assertEqual(self.prog.journal.calls("Central.TextData")[0]["fields"]["flags"], "0")
        self.assertEqual(self.focus_id(), PRON, "Say leaves the focus where it was")


class TheFileStaysTheUsers(LexibarTest):
    def modify_in_lexibar(self, path):
        """Kelvanit (stored as egy) modified to kelvanyit, typed into Lexibar
        with the dictionary at `path`: an Add, the Removes, an Add."""
        self.env = {"SPEECHRT_DICTIONARY": h.winpath(path)}
        self.start()
        self.modify("Kelvanit", "egy", "kelvanyit")
        h.wait_for(lambda: self.focus_id() == WORD, what="the Modify to end")
        self.assertEqual(len(self.prog.journal.calls("Lexicon.Add")), 2)
        self.keys(h.VK_ESCAPE)
        self.assertTrue(self.ended(), "Lexibar did not end")

    def test_mode_owner_and_links_are_kept_by_a_modify(self):
        stored = HEADER + "Kelvanit\tegy\nkutya\tkutyus\n"
        changed = HEADER + "Kelvanit\tkelvanyit\nkutya\tkutyus\n"
        for kind in ("0600", "0664", "symlink", "hardlink"):
            with self.subTest(kind):
                folder = tempfile.mkdtemp(prefix="e2e-lexibar-" + kind + "-")
                path = os.path.join(folder, "dictionary.txt")
                target, other = path, None
                if kind == "symlink":  # a dictionary kept in a synced folder
                    target = os.path.join(tempfile.mkdtemp(prefix="e2e-lexibar-synced-"), "dictionary.txt")
                    os.symlink(target, path)
                with open(target, "w", encoding="utf-8", newline="\n") as f:
                    f.write(stored)
                os.chmod(target, 0o664 if kind == "0664" else 0o600)
                if kind == "hardlink":
                    other = os.path.join(tempfile.mkdtemp(prefix="e2e-lexibar-other-"), "szotar.txt")
                    os.link(target, other)
                if os.geteuid() == 0:
                    os.chown(target, 4321, 4321)
                before = os.stat(target)
                self.modify_in_lexibar(path)
                after = os.stat(target)
                with open(target, encoding="utf-8") as f:
                    self.assertEqual(f.read(), changed)
                self.assertEqual((oct(after.st_mode), after.st_uid, after.st_gid, after.st_ino, after.st_nlink),
                                 (oct(before.st_mode), before.st_uid, before.st_gid, before.st_ino, before.st_nlink))
                if kind == "symlink":
                    self.assertEqual(os.readlink(path), target, "still a link to the synced file")
                if other:
                    with open(other, encoding="utf-8") as f:
                        self.assertEqual(f.read(), changed, "the other name sees the change")
                self.assertEqual(os.listdir(folder), ["dictionary.txt"], "no copy is left beside it")


class Ending(LexibarTest):
    def assert_ended_cleanly(self):
        self.assertTrue(self.ended(), "Lexibar did not end")
        methods = self.prog.journal.methods()
        # The dictionary goes before the engine, the engine before its audio.
        self.assertLess(methods.index("Lexicon.Destroy"), methods.index("Central.Destroy"))
        self.assertLess(methods.index("Central.Destroy"), methods.index("AudioDest.Destroy"))
        self.assertEqual(self.prog.journal.texts(), [])

    def test_escape_ends_without_a_question(self):
        self.start()
        self.keys(h.VK_ESCAPE)
        self.assert_ended_cleanly()

    def test_exit_button_ends_without_a_question(self):
        self.start()
        self.keys(VK_ALT, ord("K"))
        self.assert_ended_cleanly()

    def test_the_close_box_ends_without_a_question(self):
        self.start()
        wid = h.x_window("^" + TITLE + "$")
        geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", wid], stdout=subprocess.PIPE,
                                  text=True).stdout
        g = dict(line.split("=") for line in geometry.split())
        x, y, w = int(g["X"]), int(g["Y"]), int(g["WIDTH"])
        # The close box sits at the right end of the caption Wine draws.
        subprocess.run(["xdotool", "mousemove", "--sync", str(x + w - 14), str(y + 11), "click", "1"])
        self.assert_ended_cleanly()


class StartUpFailures(LexibarTest):
    def test_no_engine_shows_the_message_and_ends(self):
        p = self.start(config=NO_KELVANIT, window=False)
        box = p.wait_box("Hiba")
        self.assertEqual(box.text, "Nem tudom betölteni a Verbanor 4 TTS-t")
        self.assertFalse(box.has_icon)
        self.assertEqual(list(box.buttons.values()), ["OK"])
        self.assertEqual(box.owner_title, "")
        self.assertFalse([b for b in p.own_boxes() if b.caption == TITLE])
        h.wdrive("click", box.hwnd, list(box.buttons)[0])
        self.assertTrue(self.ended(), "Lexibar did not end after OK")
        self.assertEqual(p.journal.calls("Central.Create"), [])

    def test_an_engine_without_dictionary_ends_silently(self):
        self.store(("kutya", "kutyus"))
        before = os.stat(self.dict_path)
        p = self.start(config=NO_DICTIONARY, window=False)
        self.assertTrue(self.ended(), "Lexibar did not end")
        qi = p.journal.calls("Central.QueryInterface")
        self.assertEqual([(e["fields"]["iid"], e["result"]) for e in qi], [("ILexPronounceA", "0x80004002")])
        self.assertEqual(len(p.journal.calls("Central.Destroy")), 1)
        self.assertEqual([e for e in p.journal.entries() if e["method"].startswith("Lexicon.")], [])
        self.assertEqual(self.stored(), HEADER + "kutya\tkutyus\n")
        self.assertEqual(os.stat(self.dict_path).st_mtime_ns, before.st_mtime_ns, "the dictionary is not touched")


if __name__ == "__main__":
    h.main()
