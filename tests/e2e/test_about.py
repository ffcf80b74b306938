"""Vorira's About box end to end: it cuts off what is being read and speaks
the About message, stops it when it closes (OK, Esc, the close box), speaks
it anew from the start each time, and is silent without a voice. Checked
through the stand-in runtime's journal."""
import time

import harness as h
from test_documents import DocTest, IDOK, unesc

ABOUT_CAPTION = "Verbanor Vorira névjegye"
NO_VOICES = "[engine]\nMsPerByte=20\n"


class About(DocTest):
    def open_about(self):
        # Through the Help menu (Súgó), as a person would: "Vorira &névjegye".
        self.key("alt+s", "n")
        return self.box(ABOUT_CAPTION)

    def about_texts(self):
        return [t for t in self.prog.journal.texts() if t.startswith(b"A Verbanor Vorira")]

    def speaking(self, count):
        return h.wait_for(lambda: len(self.about_texts()) >= count, what="%d About messages" % count)

    def tail_after(self, method_index):
        return self.prog.journal.methods()[method_index:]

    def test_about_cuts_reading_off_speaks_its_message_and_ok_stops_it(self):
        self.start()
        self.set_text("hosszú szöveg, amit a program lassan olvas fel " * 20)
        self.key("alt+o", "e")
        h.wait_for(lambda: self.prog.journal.texts(), what="reading")
        mark = len(self.prog.journal.entries())
        box = self.open_about()
        self.speaking(1)
        methods = [m for m in self.tail_after(mark) if m in ("Central.AudioReset", "Central.TextData")]
        self.assertEqual(methods[:2], ["Central.AudioReset", "Central.TextData"])
        message = self.about_texts()[0]
        self.assertEqual(len(message), 199)
        self.assertEqual(message[-1:], b"\x00")
        self.assertNotIn(b"\x00", message[:-1])
        # The icon's static carries its resource name as its text.
        lines = [t for t in unesc(box.text).split("\n") if t != "READ"]
        self.assertEqual(lines[:2], ["Verbanor szövegfelolvasó", "Verzió 1.2"])
        self.assertEqual(len(lines), 8)
        self.assertEqual(set(box.buttons), {IDOK})
        time.sleep(0.3)
        h.screenshot("vorira-about")

        mark = len(self.prog.journal.entries())
        self.answer(box, IDOK)
        h.wait_for(lambda: "Central.AudioReset" in self.tail_after(mark), what="reset on OK")
        self.assertNotIn("Central.TextData", self.tail_after(mark))

    def test_twice_speaks_twice_from_the_start_and_esc_and_close_box_close_it(self):
        self.start()
        for closing in ("esc", "closebox"):
            count = len(self.about_texts())
            box = self.open_about()
            self.speaking(count + 1)
            mark = len(self.prog.journal.entries())
            if closing == "esc":
                h.wdrive("keys", box.hwnd, "0x1B")
            else:
                h.wdrive("close", box.hwnd)
            h.wait_for(lambda: not [b for b in h.boxes() if b.hwnd == box.hwnd], what="About closed")
            self.assertIn("Central.AudioReset", self.tail_after(mark))
        texts = self.about_texts()
        self.assertEqual(len(texts), 2)
        self.assertEqual(texts[0], texts[1])

    def test_the_engines_about_box_comes_from_the_help_menu(self):
        self.start()
        self.key("alt+s", "v")
        box = self.box("Verbanor 4 TTS névjegye")
        self.answer(box, IDOK)
        # The runtime notes the call once its box has closed.
        h.wait_for(lambda: self.prog.journal.calls("Central.AboutDlg"), what="the engine's About box")

    def test_without_a_voice_it_opens_and_closes_silently(self):
        self.prog = h.Program("vorira", cwd=self.dir, config=NO_VOICES)
        self.addCleanup(self.finish)
        # The no-voice message comes while the window is being made.
        error = h.wait_box("Error", timeout=20)
        self.pid = error.pid
        self.answer(error, IDOK)
        self.prog.main_window("^Vorira - ")
        mark = len(self.prog.journal.entries())
        box = self.open_about()
        time.sleep(0.8)
        self.answer(box, IDOK)
        time.sleep(0.3)
        self.assertEqual(self.tail_after(mark), [])


if __name__ == "__main__":
    h.main()
