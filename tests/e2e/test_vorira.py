"""Vorira end to end: the real vorira.exe under Wine against the stand-in
speech runtime, driven with xdotool as a person would, checked through the
runtime's journal, the window texts and the message boxes on screen."""
import os
import tempfile
import time
import unittest

import harness as h

TITLE_RE = "^Vorira - "
ANNA = b"Verbanor Anna (magyar n\xf5i hang)"
CSILLA = b"Verbanor Csilla (magyar n\xf5i hang, gyors)"

ONLY_OTHER_MAKERS = """
[mode0]
Maker=Lantos Hangművek
Product=Lantos TTS
ModeName=Lantos Dóra
[mode1]
Maker=kelvanit
Product=Verbanor 4 TTS
ModeName=Kisbetűs gyártó
[mode2]
Maker=Kelvanit
Product=Verbanor 4 tts
ModeName=Kisbetűs termék
"""

FIRST_VOICE_FAILS = """
[mode0]
Maker=Kelvanit
Product=Verbanor 4 TTS
ModeName=Hibás hang
FailSelect=1
[mode1]
Maker=Kelvanit
Product=Verbanor 4 TTS
ModeName=Jó hang
"""


def cp1250(s):
    return s.encode("cp1250")


class VoraTest(unittest.TestCase):
    """One Vorira per test; every test leaves no window behind."""

    def start(self, args=(), cwd=None, config=None, title=TITLE_RE, raw_args=None):
        self.prog = h.Program("vorira", args, cwd=cwd, config=config, raw_args=raw_args)
        self.addCleanup(self.prog.kill)
        if title:
            self.prog.main_window(title)
        return self.prog

    def ready(self, text=None):
        """Waits until the first voice is loaded; optionally puts text in the edit box."""
        h.wait_for(lambda: self.prog.journal.calls("Enum.Select"), what="voice selection")
        self.edit = h.wdrive("child", self.prog.hwnd, 1)[0]
        if text is not None:
            h.wdrive("settext", self.edit, text)

    def spoken(self, count, timeout=5):
        return h.wait_for(lambda: len(self.prog.journal.texts()) >= count and self.prog.journal.texts(),
                          timeout, what="%d TextData calls" % count)

    def key(self, *keys):
        h.xkey(TITLE_RE, *keys)


class StartupAndVoices(VoraTest):
    def test_lists_voices_and_loads_the_first_without_a_message(self):
        p = self.start()
        self.ready()
        j = p.journal
        # Only the maker and product of the system's engine are listed: the
        # enumeration is read to its end, then again for the three voices.
        finds = j.calls("Enum.Find")
        self.assertEqual(len(finds), 1)
        self.assertEqual(finds[0]["fields"]["maker"], b"Kelvanit")
        self.assertEqual(finds[0]["fields"]["product"], b"Verbanor 4 TTS")
        self.assertEqual(finds[0]["fields"]["modename"], ANNA)
        self.assertEqual([e["fields"]["mode"] for e in j.calls("Central.Create")], [ANNA])
        self.assertEqual(len(j.calls("AudioDest.Create")), 1)
        self.assertTrue(p.no_box())
        title = h.windows()
        self.assertIn("Vorira - (névtelen)", [w.title for w in title])

    def test_voice_menu_choice_releases_and_reloads(self):
        p = self.start()
        self.ready()
        self.key("alt+h")
        time.sleep(0.4)
        h.screenshot("vorira-voices-menu")
        self.key("Down", "Down", "Return")
        h.wait_for(lambda: len(p.journal.calls("Central.Create")) == 2, what="second voice")
        methods = [e["method"] for e in p.journal.entries()]
        # The old engine and its audio destination go before the new ones come.
        first_destroy = methods.index("Central.Destroy")
        self.assertLess(first_destroy, methods.index("AudioDest.Destroy"))
        self.assertLess(methods.index("AudioDest.Destroy"), len(methods) - 1 - methods[::-1].index("AudioDest.Create"))
        self.assertEqual(p.journal.calls("Central.Create")[-1]["fields"]["mode"], CSILLA)
        # Choosing the loaded voice again reloads it.
        self.key("alt+h", "Down", "Down", "Return")
        h.wait_for(lambda: len(p.journal.calls("Central.Create")) == 3, what="reload")
        self.assertEqual(p.journal.calls("Central.Create")[-1]["fields"]["mode"], CSILLA)
        self.key("F3")
        self.assertEqual(self.spoken(1)[-1], b"\x00")
        self.assertEqual(p.journal.calls("Central.TextData")[-1]["fields"]["mode"], CSILLA)

    def test_no_matching_voice_says_so_once_and_the_editor_works(self):
        p = self.start(config=ONLY_OTHER_MAKERS, title=None)
        box = p.wait_box("Error")
        self.assertEqual(box.text, "Nem találok hangokat a beszédmotorhoz!")
        self.assertEqual(box.buttons, {1: "OK"})
        self.assertFalse(box.has_icon)
        h.wdrive("click", box.hwnd, 1)
        p.main_window(TITLE_RE)
        self.assertTrue(p.no_box("Error", settle=1.0), "a second message appeared")
        self.assertEqual(p.journal.calls("Central.Create"), [])
        self.edit = h.wdrive("child", p.hwnd, 1)[0]
        self.key("a", "b", "c", "F3")
        h.wait_for(lambda: h.wdrive("text", self.edit) == ["abc"], what="the typed text")
        self.assertTrue(h.holds(lambda: p.journal.texts() == []), "F3 spoke without a voice")

    def test_a_voice_that_fails_to_load_is_reported(self):
        p = self.start(config=FIRST_VOICE_FAILS, title=None)
        box = p.wait_box("Error")
        self.assertEqual(box.text, "Nem tudtam betölteni a megadott hangot.")
        self.assertEqual(box.buttons, {1: "OK"})
        h.wdrive("click", box.hwnd, 1)
        p.main_window(TITLE_RE)
        self.assertEqual(p.journal.calls("Central.Create"), [])
        # The audio destination made for the failed load is not leaked.
        h.wait_for(lambda: p.journal.calls("AudioDest.Create"), what="audio destination")
        self.key("F3")
        self.assertTrue(h.holds(lambda: p.journal.texts() == []), "F3 spoke without a voice")
        # The second voice still loads from the menu.
        self.key("alt+h", "Down", "Return")
        h.wait_for(lambda: p.journal.calls("Central.Create"), what="second voice")
        self.assertEqual(p.journal.calls("Central.Create")[0]["fields"]["mode"], cp1250("Jó hang"))
        self.assertEqual(len(p.journal.calls("AudioDest.Destroy")), 1)


class Reading(VoraTest):
    TEXT = "Első sor\r\nMásodik sor: árvíztűrő\r\nHarmadik"

    def test_f1_reads_the_caret_line_without_its_line_break(self):
        self.start()
        self.ready(self.TEXT)
        h.wdrive("sel", self.edit, 14, 14)
        self.key("F1")
        self.assertEqual(self.spoken(1), [cp1250("Második sor: árvíztűrő") + b"\x00"])

    def test_f1_on_the_last_line_and_on_an_empty_line(self):
        self.start()
        self.ready("egy\r\n\r\nutolsó")
        h.wdrive("sel", self.edit, 9, 9)
        self.key("F1")
        h.wdrive("sel", self.edit, 5, 5)
        self.key("F1")
        self.assertEqual(self.spoken(2), [cp1250("utolsó") + b"\x00", b"\x00"])

    def test_f2_reads_a_selection_over_lines_with_its_line_breaks(self):
        self.start()
        self.ready(self.TEXT)
        h.wdrive("sel", self.edit, 5, 17)
        self.key("F2")
        self.assertEqual(self.spoken(1), [cp1250("sor\r\nMásodik") + b"\x00"])

    def test_f2_with_an_empty_selection_queues_an_empty_text(self):
        self.start()
        self.ready(self.TEXT)
        h.wdrive("sel", self.edit, 3, 3)
        self.key("F2")
        self.assertEqual(self.spoken(1), [b"\x00"])

    def test_ctrl_a_then_f2_and_f3_read_everything(self):
        self.start()
        self.ready(self.TEXT)
        self.key("ctrl+a")
        self.assertEqual(h.wdrive("getsel", self.edit), ["0 %d" % len(cp1250(self.TEXT))])
        self.key("F2", "F3")
        whole = cp1250(self.TEXT) + b"\x00"
        self.assertEqual(self.spoken(2), [whole, whole])

    def test_typed_text_is_read(self):
        self.start()
        self.ready()
        self.key("H", "e", "l", "l", "o", "Return", "w", "o", "r", "l", "d", "F3")
        self.assertEqual(self.spoken(1), [b"Hello\r\nworld\x00"])

    def test_the_reading_and_edit_menus_and_the_edit_shortcuts(self):
        p = self.start()
        self.ready("alma\r\nkörte")
        text = lambda: h.wdrive("text", self.edit)[0]
        # Olvasás: Sor, Blokk, Egész olvasása, then Beszéd leállítása.
        h.wdrive("sel", self.edit, 2, 2)
        self.key("alt+o", "s")
        self.spoken(1)
        h.wdrive("sel", self.edit, 0, 4)
        self.key("alt+o", "b")
        self.spoken(2)
        self.key("alt+o", "e")
        self.assertEqual(self.spoken(3), [b"alma\x00", b"alma\x00", cp1250("alma\r\nkörte") + b"\x00"])
        self.key("alt+o", "l")
        h.wait_for(lambda: p.journal.calls("Central.AudioReset"), what="reset")
        # Szerkesztés: Mindet kijelöli, Törlés, Visszavonás, Kivágás,
        # Beillesztés, Másolás; then the same through the shortcuts.
        whole = "alma\\r\\nkörte"
        self.key("alt+z", "d")
        self.assertEqual(h.wdrive("getsel", self.edit), ["0 11"])
        self.key("alt+z", "l")
        h.wait_for(lambda: text() == "", what="deleted")
        self.key("alt+z", "v")
        h.wait_for(lambda: text() == whole, what="undone")
        self.key("alt+z", "d", "alt+z", "k")
        h.wait_for(lambda: text() == "", what="cut")
        self.key("alt+z", "b")
        h.wait_for(lambda: text() == whole, what="pasted")
        h.wdrive("sel", self.edit, 0, 4)
        self.key("alt+z", "m", "ctrl+End", "alt+z", "b")
        h.wait_for(lambda: text() == whole + "alma", what="copied")
        self.key("ctrl+a", "ctrl+x")
        h.wait_for(lambda: text() == "", what="ctrl+x")
        self.key("ctrl+z")
        h.wait_for(lambda: text() == whole + "alma", what="ctrl+z")
        h.wdrive("sel", self.edit, 6, 11)
        self.key("ctrl+c", "ctrl+End", "ctrl+v")
        h.wait_for(lambda: text() == whole + "almakörte", what="ctrl+c, ctrl+v")

    def test_two_reads_queue_and_esc_drops_everything(self):
        p = self.start()
        self.ready("x" * 200)
        self.key("F3", "F3")
        self.spoken(2)
        # The second text waits behind the first: nothing was reset.
        self.assertEqual(p.journal.calls("Central.AudioReset"), [])
        starts = h.wait_for(lambda: p.journal.calls("Speech.Start"), what="speech start")
        self.assertEqual(len(starts), 1, "the second text started before the first ended")
        self.key("Escape")
        resets = h.wait_for(lambda: p.journal.calls("Central.AudioReset"), what="reset")
        self.assertEqual(resets[0]["fields"]["dropped"], "1")
        h.wait_for(lambda: p.journal.calls("Speech.CutOff"), what="speech cut off")
        self.assertTrue(h.holds(lambda: len(p.journal.calls("Speech.Start")) == 1), "the dropped text was spoken")
        # Speech after a reset starts normally.
        h.wdrive("settext", self.edit, "újra")
        self.key("F3")
        h.wait_for(lambda: len(p.journal.calls("Speech.Start")) == 2, what="speech after reset")


class StartupFile(VoraTest):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="e2e-vorira-files-")
        with open(os.path.join(self.dir, "level.txt"), "wb") as f:
            f.write(cp1250("Kedves Péter!\r\nÜdvözlet"))

    def assertLoaded(self, p):
        p.main_window("^Vorira - level.txt$")
        edit = h.wdrive("child", p.hwnd, 1)[0]
        self.assertEqual(h.wdrive("text", p.hwnd), ["Vorira - level.txt"])
        self.assertEqual(h.wdrive("text", edit), ["Kedves Péter!\\r\\nÜdvözlet"])
        self.assertTrue(p.no_box("Vorira"))

    def test_full_path_loads_the_name_part_from_the_current_directory(self):
        p = self.start([r"D:\levelek\level.txt"], cwd=self.dir, title=None)
        self.assertLoaded(p)

    def test_bare_name(self):
        p = self.start(["level.txt"], cwd=self.dir, title=None)
        self.assertLoaded(p)

    def test_quoted_path_keeps_the_closing_quote_and_fails(self):
        p = self.start(cwd=self.dir, title=None, raw_args='"D:\\levelek\\level.txt"')
        box = p.wait_box("Vorira")
        self.assertEqual(box.text, 'Nem tudom megnyitni a fájlt: level.txt"')
        self.assertEqual(box.icon, "exclamation")
        self.assertEqual(box.buttons, {1: "OK"})
        h.wdrive("click", box.hwnd, 1)
        p.main_window("^Vorira - \\(névtelen\\)$")

    def test_missing_file_names_the_part_and_starts_untitled(self):
        p = self.start([r"D:\levelek\nincs.txt"], cwd=self.dir, title=None)
        box = p.wait_box("Vorira")
        self.assertEqual(box.text, "Nem tudom megnyitni a fájlt: nincs.txt")
        h.wdrive("click", box.hwnd, 1)
        p.main_window("^Vorira - \\(névtelen\\)$")
        edit = h.wdrive("child", p.hwnd, 1)[0]
        self.assertEqual(h.wdrive("text", edit), [""])

    def test_a_name_part_longer_than_the_name_buffer_is_refused(self):
        long_name = "n" * 300 + ".txt"
        p = self.start(["D:\\x\\" + long_name], cwd=self.dir, title=None)
        box = p.wait_box("Vorira")
        self.assertTrue(box.text.startswith("Nem tudom megnyitni a fájlt: nnn"))
        self.assertIn("...", box.text)
        self.assertTrue(box.text.endswith("nnn.txt"))
        self.assertLessEqual(len(cp1250(box.text)), 251)
        h.wdrive("click", box.hwnd, 1)
        p.main_window("^Vorira - \\(névtelen\\)$")


class Closing(VoraTest):
    def test_close_box_releases_the_engine_and_ends_the_program(self):
        p = self.start()
        self.ready("szöveg")
        self.key("F3")
        self.spoken(1)
        h.wdrive("close", p.hwnd)
        h.wait_for(lambda: not p.alive(), 15, 0.2, "the program to end")
        self.assertEqual(p.wait_exit(15), 0)
        methods = p.journal.methods()
        self.assertIn("Central.Destroy", methods)
        self.assertLess(methods.index("Central.Destroy"), methods.index("AudioDest.Destroy"))


if __name__ == "__main__":
    h.main()
