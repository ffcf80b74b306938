"""Vorira's documents end to end: New, Open, Save, Save As, the close and
log-off checks and the file messages, on real files through the real file
dialogs, checked by what the files hold, the window title, the edit box and
the message boxes on screen."""
import contextlib
import os
import subprocess
import tempfile
import time
import unittest

import harness as h

TITLE_RE = "^Vorira - "
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
CMD_OPEN, CMD_NEW, CMD_SAVE, CMD_SAVE_AS = 103, 104, 105, 106
NAME_BOX, PATH_LABEL, DIR_LIST = 16, 17, 18
OPEN_CAPTION, SAVE_CAPTION = "Megnyitás", "Mentés másként"


def unesc(s):
    """Undoes wdrive's escaping of a window text (\\\\, \\r, \\n, \\t, \\xHH)."""
    out, i = [], 0
    while i < len(s):
        if s[i] == "\\" and i + 1 < len(s):
            n = s[i + 1]
            if n == "x":
                out.append(chr(int(s[i + 2:i + 4], 16)))
                i += 4
                continue
            out.append({"r": "\r", "n": "\n", "t": "\t"}.get(n, n))
            i += 2
            continue
        out.append(s[i])
        i += 1
    return "".join(out)


class DocTest(unittest.TestCase):
    """One Vorira per test in a fresh folder of its own."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="e2e-docs-")

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def win(self, *parts):
        """The Windows name the dialogs hand back for a file of the folder."""
        return h.winpath(self.path(*parts))

    def write(self, name, data):
        p = self.path(name)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)
        return p

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def start(self, args=(), limit=None):
        with h.full_disk(limit) if limit is not None else contextlib.nullcontext():
            self.prog = h.Program("vorira", args, cwd=self.dir)
        self.addCleanup(self.finish)
        self.pid = self.prog.main_window(TITLE_RE).pid
        h.wait_for(lambda: self.prog.journal.calls("Enum.Select"), what="voice selection")
        self.edit = h.wdrive("child", self.prog.hwnd, 1)[0]
        return self.prog

    def finish(self):
        """Closes the program, answering No to the save-changes question."""
        p = self.prog
        deadline = time.time() + 15
        while p.proc.poll() is None and time.time() < deadline:
            mine = [b for b in h.boxes() if b.pid == self.pid]
            for b in mine:
                h.wdrive("click", b.hwnd, IDNO if IDNO in b.buttons else IDCANCEL)
            if not mine:
                h.wdrive("close", p.hwnd)
            p.wait_exit(0.5)
        p.kill()

    # The window and the boxes.
    def title(self):
        return unesc(h.wdrive("text", self.prog.hwnd)[0])

    def text(self):
        return unesc(h.wdrive("text", self.edit)[0])

    def set_text(self, text):
        h.wdrive("settext", self.edit, text)

    def change(self, ch="x"):
        """Types into the edit box as a person would, so that it reports a change."""
        h.wdrive("keys", self.edit, "0x11+0x24")  # Ctrl+Home
        h.wdrive("type", self.edit, ch)
        h.wait_for(lambda: self.text().startswith(ch), what="typed text")

    def command(self, cmd):
        h.wdrive("command", self.prog.hwnd, cmd)

    def key(self, *keys):
        """Presses keys in the main window, as a person would: "ctrl+o", or
        "alt+f", "n" through the File menu (Új, Megnyitás, Mentés, Mentés
        má&sként, Kilépés: j, n, m, s, k)."""
        h.xkey(TITLE_RE, *keys)

    def box(self, caption, timeout=10):
        def find():
            for b in h.boxes():
                if b.pid == self.pid and b.caption == caption:
                    return b
            return None
        return h.wait_for(find, timeout, 0.1, "a box captioned %r" % caption)

    def no_box(self, settle=0.6):
        time.sleep(settle)
        return not [b for b in h.boxes() if b.pid == self.pid]

    def answer(self, box, button):
        h.wdrive("click", box.hwnd, button)
        h.wait_for(lambda: not [b for b in h.boxes() if b.hwnd == box.hwnd], what="box closed")

    def message(self):
        """The program's message box: its text, with the Vorira caption. A box
        listed before it was painted shows an icon of an unknown kind."""
        b = self.box("Vorira")
        if b.icon == "other":
            time.sleep(0.3)
            b = self.box("Vorira")
        return b, unesc(b.text)

    # The file dialogs.
    def name_box(self, dlg):
        return unesc(h.wdrive("childtext", dlg.hwnd, NAME_BOX)[0])

    def type_name(self, dlg, name, ok=True):
        h.wdrive("settext", h.wdrive("child", dlg.hwnd, NAME_BOX)[0], name)
        h.wait_for(lambda: self.name_box(dlg) == name, what="name typed")
        if ok:
            h.wdrive("click", dlg.hwnd, IDOK)

    def choose(self, cmd, caption, name):
        """Runs Open or Save As, types a name and confirms it."""
        self.command(cmd)
        dlg = self.box(caption)
        self.type_name(dlg, name)
        return dlg

    def wait_title(self, title):
        return h.wait_for(lambda: self.title() == title, what="title %r" % title)

    def open_file(self, name, changes=None):
        """Ctrl+O and a name; with `changes` the save-changes question comes
        first and gets that answer."""
        self.key("ctrl+o")
        if changes is not None:
            b, _ = self.message()
            self.answer(b, changes)
        self.type_name(self.box(OPEN_CAPTION), name)


class Loading(DocTest):
    def test_31999_bytes_load_and_32000_are_refused(self):
        self.write("big.txt", b"a" * 31998 + b"\xf5")
        self.write("huge.txt", b"b" * 32000)
        self.start()
        self.open_file("big.txt")
        self.wait_title("Vorira - big.txt")
        self.assertEqual(len(self.text()), 31999)
        self.assertTrue(self.text().endswith("ő"))

        self.open_file("huge.txt")
        b, text = self.message()
        self.assertEqual(text, "A fájl túl nagy: " + self.win("huge.txt"))
        self.assertEqual(b.icon, "exclamation")
        self.assertEqual(set(b.buttons), {IDOK})
        self.answer(b, IDOK)
        # The refused file changes nothing: name, text and the clean state stay.
        self.assertEqual(self.title(), "Vorira - big.txt")
        self.assertEqual(len(self.text()), 31999)
        self.command(CMD_NEW)
        self.wait_title("Vorira - (névtelen)")
        self.assertTrue(self.no_box())

    def test_an_empty_file_loads_named_and_clean(self):
        self.write("empty.txt", b"")
        self.start()
        # Typed, so that the text counts as changed (a WM_SETTEXT would not).
        self.change("e")
        self.open_file("empty.txt", changes=IDNO)
        self.wait_title("Vorira - empty.txt")
        self.assertEqual(self.text(), "")
        # Open made it clean: Exit asks nothing.
        self.key("alt+f", "k")
        self.assertIsNotNone(self.prog.wait_exit(10))

    def test_a_zero_byte_ends_the_text_and_save_writes_only_that_without_asking(self):
        self.write("zero.txt", b"eleje\r\n\x00vege")
        # Private, with one name: a rename would give it the folder's default mode.
        os.chmod(self.path("zero.txt"), 0o600)
        self.start()
        self.open_file("zero.txt")
        self.wait_title("Vorira - zero.txt")
        self.assertEqual(self.text(), "eleje\r\n")
        self.change("Ú")
        self.key("alt+f", "m")
        h.wait_for(lambda: self.read("zero.txt") == "Úeleje\r\n".encode("cp1250"), what="saved file")
        self.assertTrue(self.no_box())
        self.assertEqual(sorted(os.listdir(self.dir)), ["zero.txt"])
        self.assertEqual(oct(os.stat(self.path("zero.txt")).st_mode & 0o777), oct(0o600))

    def test_a_partial_read_keeps_the_document_the_user_had(self):
        # A kernel attribute file reports 4096 bytes and delivers a few.
        partial = "/sys/devices/system/cpu/online"
        self.assertEqual(os.path.getsize(partial), 4096)
        self.write("level.txt", b"eredeti")
        self.start(["level.txt"])
        self.wait_title("Vorira - level.txt")
        self.change("Ú")
        self.open_file(h.winpath(partial), changes=IDNO)
        self.assertTrue(self.no_box())
        self.assertEqual(self.text(), "Úeredeti")
        self.assertEqual(self.title(), "Vorira - level.txt")
        # Still changed, still the old name: Save writes the user's text there.
        h.wdrive("close", self.prog.hwnd)
        b, text = self.message()
        self.assertEqual(text, "Mentsem az aktuális módosításokat: level.txt ?")
        self.answer(b, IDYES)
        self.assertIsNotNone(self.prog.wait_exit(10))
        self.assertEqual(self.read("level.txt"), "Úeredeti".encode("cp1250"))

    def test_a_missing_file_names_it_and_changes_nothing(self):
        self.write("level.txt", b"x")
        self.start(["level.txt"])
        self.wait_title("Vorira - level.txt")
        os.remove(self.path("level.txt"))
        # Open mode accepts only existing files: the dialog stays.
        self.command(CMD_OPEN)
        dlg = self.box(OPEN_CAPTION)
        self.type_name(dlg, "level.txt")
        time.sleep(0.5)
        self.assertEqual(self.name_box(dlg), "level.txt")
        self.answer(dlg, IDCANCEL)
        self.assertEqual(self.title(), "Vorira - level.txt")


class Saving(DocTest):
    def test_text_saved_loads_back_byte_for_byte(self):
        text = "Árvíztűrő tükörfúrógép\r\n\tőŐűŰ \"idézet\" \\ vége\r\n\r\nutolsó sor"
        self.start()
        self.set_text(text)
        self.key("alt+f", "s")
        self.type_name(self.box(SAVE_CAPTION), "uj")
        self.wait_title("Vorira - uj.txt")
        self.assertEqual(self.read("uj.txt"), text.encode("cp1250"))
        self.command(CMD_NEW)
        self.wait_title("Vorira - (névtelen)")
        self.assertEqual(self.text(), "")
        self.open_file("uj.txt")
        self.wait_title("Vorira - uj.txt")
        self.assertEqual(self.text(), text)

    def test_save_as_onto_an_existing_file_asks_and_no_leaves_everything(self):
        self.write("a.txt", b"A tartalma")
        self.write("b.txt", b"B tartalma")
        self.start()
        self.open_file("a.txt")
        self.wait_title("Vorira - a.txt")
        self.change("Ú")
        self.choose(CMD_SAVE_AS, SAVE_CAPTION, "b.txt")
        b, text = self.message()
        self.assertEqual(text, "Lecseréljem a létező fájlt: " + self.win("b.txt") + " ?")
        self.assertEqual(b.icon, "question")
        self.assertEqual(set(b.buttons), {IDYES, IDNO})
        self.answer(b, IDNO)
        self.assertEqual(self.read("b.txt"), b"B tartalma")
        self.assertEqual(self.read("a.txt"), b"A tartalma")
        self.assertEqual(self.title(), "Vorira - a.txt")
        # Still changed: closing asks about the old name.
        h.wdrive("close", self.prog.hwnd)
        b, text = self.message()
        self.assertEqual(text, "Mentsem az aktuális módosításokat: " + self.win("a.txt") + " ?")
        self.answer(b, IDCANCEL)

        self.choose(CMD_SAVE_AS, SAVE_CAPTION, "b.txt")
        b, _ = self.message()
        self.answer(b, IDYES)
        self.wait_title("Vorira - b.txt")
        self.assertEqual(self.read("b.txt"), "ÚA tartalma".encode("cp1250"))
        self.assertEqual(sorted(os.listdir(self.dir)), ["a.txt", "b.txt"])

    def test_a_failing_write_leaves_the_old_file_whole(self):
        old = "régi, megőrzendő tartalom\r\n".encode("cp1250") * 4
        self.write("level.txt", old)
        # Private notes with a second name: the save must keep the file itself.
        os.chmod(self.path("level.txt"), 0o600)
        os.link(self.path("level.txt"), self.path("alias.txt"))
        self.start(["level.txt"], limit=24 * 1024)
        self.wait_title("Vorira - level.txt")
        self.set_text("ú" * 30000)
        self.key("ctrl+s")
        b, text = self.message()
        self.assertEqual(text, "Nem tudom lemezre írni a fájlt: level.txt")
        self.assertEqual(b.icon, "exclamation")
        self.answer(b, IDOK)
        self.assertEqual(self.read("level.txt"), old)
        self.assertEqual(self.read("alias.txt"), old)
        self.assertEqual(sorted(os.listdir(self.dir)), ["alias.txt", "level.txt"])
        # A text that fits is saved normally by the same program, into the
        # same file: both names, its mode.
        self.set_text("rövid")
        self.key("ctrl+s")
        h.wait_for(lambda: self.read("level.txt") == "rövid".encode("cp1250"), what="saved file")
        self.assertEqual(self.read("alias.txt"), "rövid".encode("cp1250"))
        st = os.stat(self.path("level.txt"))
        self.assertEqual((oct(st.st_mode & 0o777), st.st_nlink), (oct(0o600), 2))
        self.assertEqual(sorted(os.listdir(self.dir)), ["alias.txt", "level.txt"])

    def test_a_read_only_target_is_not_created_and_stays(self):
        self.write("ro.txt", b"vedett")
        os.chmod(self.path("ro.txt"), 0o444)
        self.start(["ro.txt"])
        self.wait_title("Vorira - ro.txt")
        self.change("x")
        self.command(CMD_SAVE)
        b, text = self.message()
        self.assertEqual(text, "Nem tudom létrehozni a fájlt: ro.txt")
        self.answer(b, IDOK)
        self.assertEqual(self.read("ro.txt"), b"vedett")
        self.assertEqual(sorted(os.listdir(self.dir)), ["ro.txt"])


class Questions(DocTest):
    def test_changed_text_new_open_and_close_ask_and_yes_then_cancelled_dialog_is_cancel(self):
        self.start()
        self.change("k")
        for action in ("new", "open", "close"):
            if action == "close":
                h.wdrive("close", self.prog.hwnd)
            else:
                self.command(CMD_NEW if action == "new" else CMD_OPEN)
            b, text = self.message()
            self.assertEqual(text, "Mentsem az aktuális módosításokat: (névtelen) ?", action)
            self.assertEqual(set(b.buttons), {IDYES, IDNO, IDCANCEL})
            self.answer(b, IDYES)
            dlg = self.box(SAVE_CAPTION)
            self.answer(dlg, IDCANCEL)
            # Acts as Cancel: no Open dialog follows, text and name stay.
            self.assertTrue(self.no_box(), action)
            self.assertEqual(self.text(), "k")
            self.assertEqual(self.title(), "Vorira - (névtelen)")
        self.assertEqual(os.listdir(self.dir), [])

    def test_yes_saves_then_new_clears(self):
        self.start()
        self.change("m")
        self.key("alt+f", "j")
        b, _ = self.message()
        self.answer(b, IDYES)
        dlg = self.box(SAVE_CAPTION)
        self.type_name(dlg, "mentett")
        self.wait_title("Vorira - (névtelen)")
        self.assertEqual(self.read("mentett.txt"), b"m")
        self.assertEqual(self.text(), "")

    def test_no_lets_open_go_ahead(self):
        self.write("a.txt", b"aaa")
        self.start()
        self.change("z")
        self.key("alt+f", "n")
        b, _ = self.message()
        self.answer(b, IDNO)
        dlg = self.box(OPEN_CAPTION)
        self.type_name(dlg, "a.txt")
        self.wait_title("Vorira - a.txt")
        self.assertEqual(self.text(), "aaa")

    def test_yes_on_a_named_document_saves_it_under_its_name(self):
        self.write("a.txt", b"aaa")
        self.start(["a.txt"])
        self.wait_title("Vorira - a.txt")
        self.change("Ő")
        self.key("ctrl+n")
        b, text = self.message()
        self.assertEqual(text, "Mentsem az aktuális módosításokat: a.txt ?")
        self.assertEqual(b.icon, "question")
        self.answer(b, IDYES)
        # Save, not Save As: no dialog, the file itself is written.
        self.wait_title("Vorira - (névtelen)")
        self.assertTrue(self.no_box())
        self.assertEqual(self.read("a.txt"), "Őaaa".encode("cp1250"))

    def query(self):
        return subprocess.Popen(["wine", h.WDRIVE, "query", self.prog.hwnd], env=h.wine_env(),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def test_log_off_query(self):
        self.start()
        # Clean: allowed without a question.
        self.assertEqual(h.wdrive("query", self.prog.hwnd), ["1"])
        self.change("q")
        q = self.query()
        b, text = self.message()
        self.assertEqual(text, "Mentsem az aktuális módosításokat: (névtelen) ?")
        self.answer(b, IDCANCEL)
        self.assertEqual(q.communicate(timeout=30)[0].split(), [b"0"])
        q = self.query()
        b, _ = self.message()
        self.answer(b, IDNO)
        self.assertEqual(q.communicate(timeout=30)[0].split(), [b"1"])
        # No saved nothing and the window is still there for the system to end.
        self.assertEqual(os.listdir(self.dir), [])
        self.assertIsNone(self.prog.proc.poll())


if __name__ == "__main__":
    h.main()
