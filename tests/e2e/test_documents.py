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

    def start(self, args=(), limit=None, env=None, cwd=None):
        with h.full_disk(limit) if limit is not None else contextlib.nullcontext():
            self.prog = h.Program("vorira", args, cwd=cwd or self.dir, extra_env=env)
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

    def settled(self, dlg):
        """Waits until the dialog has handled every button press posted so
        far: a selection posted after them shows in the name box."""
        box = h.wdrive("child", dlg.hwnd, NAME_BOX)[0]
        h.wdrive("sel", box, 0, 0)
        h.wdrive("post", box, 0xB1, 0, -1)  # EM_SETSEL
        h.wait_for(lambda: h.wdrive("getsel", box) == ["0 %d" % len(self.name_box(dlg).encode("cp1250"))],
                   what="the dialog to settle")

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
    def test_32000_bytes_load_and_more_are_refused_by_their_whole_size(self):
        # What a full edit box saves loads again.
        self.write("big.txt", b"a" * 31999 + b"\xf5")
        self.write("huge.txt", b"b" * 32001)
        # 4 GiB + 100 bytes, whose low 32 bits of size say 100.
        with open(self.write("giant.txt", b"c" * 100), "r+b") as f:
            f.truncate((1 << 32) + 100)
        self.start()
        self.open_file("big.txt")
        self.wait_title("Vorira - big.txt")
        self.assertEqual(len(self.text()), 32000)
        self.assertTrue(self.text().endswith("ő"))

        for name in ("huge.txt", "giant.txt"):
            self.open_file(name)
            b, text = self.message()
            self.assertEqual(text, "A fájl túl nagy: " + self.win(name))
            self.assertEqual(b.icon, "exclamation")
            self.assertEqual(set(b.buttons), {IDOK})
            self.answer(b, IDOK)
            # The refused file changes nothing: name, text and the clean state stay.
            self.assertEqual(self.title(), "Vorira - big.txt")
            self.assertEqual(len(self.text()), 32000)
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

    def test_a_file_with_a_zero_byte_is_refused_so_no_save_can_cut_it(self):
        zero = b"eleje\r\n\x00vege"
        self.write("zero.txt", zero)
        self.write("level.txt", b"eredeti")
        self.start(["level.txt"])
        self.wait_title("Vorira - level.txt")
        self.open_file("zero.txt")
        b, text = self.message()
        self.assertEqual(text, "A fájl nulla bájtot tartalmaz, nem tudom szövegként megnyitni: " + self.win("zero.txt"))
        self.answer(b, IDOK)
        self.assertEqual((self.title(), self.text()), ("Vorira - level.txt", "eredeti"))
        self.key("ctrl+s")
        h.wait_for(lambda: self.no_box(0.1), what="no box")
        self.assertEqual((self.read("zero.txt"), self.read("level.txt")), (zero, b"eredeti"))

    def test_a_file_that_cannot_be_read_whole_says_so_and_keeps_the_document(self):
        # A kernel attribute file reports 4096 bytes and delivers a few; a
        # process file reports none and delivers some.
        files = [f for f in ("/sys/devices/system/cpu/online", "/proc/version")
                 if os.path.exists(f) and (os.path.getsize(f) == 4096 or f.startswith("/proc"))]
        if not files:
            self.skipTest("no file here whose size and contents disagree")
        self.write("level.txt", b"eredeti")
        self.start(["level.txt"])
        self.wait_title("Vorira - level.txt")
        self.change("Ú")
        for partial in files:
            self.open_file(h.winpath(partial), changes=IDNO)
            b, text = self.message()
            self.assertEqual(text, "Nem tudom végig beolvasni a fájlt: " + h.winpath(partial))
            self.answer(b, IDOK)
            self.assertEqual(self.text(), "Úeredeti")
            self.assertEqual(self.title(), "Vorira - level.txt")
        # Still changed, still the old name: Save writes the user's text there.
        h.wdrive("close", self.prog.hwnd)
        b, text = self.message()
        self.assertEqual(text, "Mentsem az aktuális módosításokat: level.txt ?")
        self.answer(b, IDYES)
        self.assertIsNotNone(self.prog.wait_exit(10))
        self.assertEqual(self.read("level.txt"), "Úeredeti".encode("cp1250"))

    def test_a_missing_file_keeps_the_dialog_and_changes_nothing(self):
        self.write("level.txt", b"x")
        self.start(["level.txt"])
        self.wait_title("Vorira - level.txt")
        os.remove(self.path("level.txt"))
        # Open mode accepts only existing files: the dialog stays as it was
        # (the name typed, the folder listed), so a file that is there is
        # still chosen from it.
        self.command(CMD_OPEN)
        dlg = self.box(OPEN_CAPTION)
        self.type_name(dlg, "level.txt")
        self.settled(dlg)
        self.assertEqual(self.name_box(dlg), "level.txt")
        self.assertEqual(self.title(), "Vorira - level.txt")
        self.write("masik.txt", b"masik")
        self.type_name(dlg, "masik.txt")
        self.wait_title("Vorira - masik.txt")
        self.assertEqual(self.text(), "masik")


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

    def test_a_saved_file_stays_the_same_file(self):
        # Through a link, shared with a group (of another owner, where the
        # tests may give files away), private, and with a second name.
        for name in ("target.txt", "group.txt", "private.txt", "linked.txt"):
            self.write(name, b"regi")
        os.symlink("target.txt", self.path("link.txt"))
        os.chmod(self.path("group.txt"), 0o664)
        if os.geteuid() == 0:
            os.chown(self.path("group.txt"), 1234, 5678)
        os.chmod(self.path("private.txt"), 0o600)
        os.link(self.path("linked.txt"), self.path("alias.txt"))

        def identity():
            return {n: (st.st_ino, oct(st.st_mode), st.st_nlink, st.st_uid, st.st_gid)
                    for n, st in ((n, os.lstat(self.path(n))) for n in os.listdir(self.dir))}
        before = identity()
        self.start()
        saved = "Úregi".encode("cp1250")
        for name in ("link.txt", "group.txt", "private.txt", "linked.txt"):
            self.open_file(name)
            self.wait_title("Vorira - " + name)
            self.change("Ú")
            self.key("ctrl+s")
            h.wait_for(lambda: self.read(name) == saved and sorted(os.listdir(self.dir)) == sorted(before),
                       what=name + " saved")
        self.assertEqual((self.read("target.txt"), self.read("alias.txt")), (saved, saved))
        self.assertEqual(identity(), before)

    def test_a_save_killed_at_any_step_leaves_the_old_or_the_new_text_or_names_its_copy(self):
        old = "régi szöveg, hosszabb az újnál\r\n".encode("cp1250") * 30
        new = "új szöveg\r\n"
        marks = os.path.join(tempfile.mkdtemp(), "marks.txt")
        for step in ("save: backup begun", "save: backup made", "save: text written", "save: text flushed"):
            for f in os.listdir(self.dir):
                os.remove(self.path(f))
            self.write("level.txt", old)
            os.chmod(self.path("level.txt"), 0o600)
            self.start(["level.txt"], env={"VERBANOR_TIMING": h.winpath(marks), "VERBANOR_SAVE_STOP": step})
            self.wait_title("Vorira - level.txt")
            self.set_text(new)
            self.key("ctrl+s")
            h.wait_for(lambda: step.encode() in (h.read_bytes(marks) or b""), what="the save at " + step)
            copies = [f for f in os.listdir(self.dir) if f != "level.txt"]
            modes = [os.stat(self.path(f)).st_mode & 0o077 for f in copies]
            self.prog.proc.kill()
            self.prog.proc.wait(10)
            self.assertEqual(copies, ["level.txt.vorira.bak"], step)
            # The copy of a private file is no one else's to read, not even
            # its owner's group's.
            self.assertEqual(modes, [0], step)
            if self.read("level.txt") not in (old, new.encode("cp1250")):
                self.assertEqual(self.read(copies[0]), old, step)
            # The next time the file is opened, Vorira names the copy.
            self.start()
            self.open_file("level.txt")
            b, text = self.message()
            h.screenshot("vorira-backup-named")
            self.assertEqual(text, "Egy mentés félbeszakadt, a fájl előző változata itt maradt: " +
                             self.win("level.txt.vorira.bak"), step)
            self.answer(b, IDOK)
            self.wait_title("Vorira - level.txt")
            self.finish()

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


class Pasting(DocTest):
    def test_what_is_pasted_is_shown_as_it_will_be_saved_and_a_cut_is_told(self):
        # Characters code page 1250 has no place for, copied from a web page.
        subprocess.run(["wine", os.path.join(h.BUILD, "tests", "e2e", "clipput.exe"), "unicode", "→ õ û ✓ ő"],
                       env=h.wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=60)
        self.start()
        self.key("ctrl+v")
        h.wait_for(lambda: self.text().endswith("ő"), what="the paste")
        shown = unesc(h.wdrive("wtext", self.edit)[0])
        self.choose(CMD_SAVE_AS, SAVE_CAPTION, "beillesztett")
        self.wait_title("Vorira - beillesztett.txt")
        self.assertEqual(self.read("beillesztett.txt").decode("cp1250"), shown)
        # A paste that the edit box cannot take whole says so.
        self.set_text("a" * 31995)
        self.key("ctrl+End", "ctrl+v")
        b, text = self.message()
        h.screenshot("vorira-paste-cut")
        self.assertEqual(text, "A beillesztett szöveg nem fért el egészen: a szerkesztő doboz legfeljebb "
                               "32000 karaktert tárol.")
        self.answer(b, IDOK)
        self.assertEqual(self.text(), "a" * 31995 + shown[:5])


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
