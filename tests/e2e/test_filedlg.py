"""Vorira's directory-list file dialogs end to end: what they list, how typed
names, patterns and directories move them, the default extension rules of
each mode, the list's clicks and double-clicks, and that the path they hand
back names the file that was listed."""
import os
import subprocess

import harness as h
from test_documents import (CMD_OPEN, CMD_SAVE, CMD_SAVE_AS, DIR_LIST, IDCANCEL, IDOK, OPEN_CAPTION, PATH_LABEL,
                            SAVE_CAPTION, DocTest, unesc)


class DialogTest(DocTest):
    def setUp(self):
        super().setUp()
        for name in ("a.txt", "b.doc", "level.doc.txt", "sub/s.txt", "sub/s.doc", "sub/deep/d.txt",
                     "my.dir/m.txt"):
            self.write(name, name.encode())

    def items(self, dlg):
        return [unesc(i) for i in h.wdrive("listitems", dlg.hwnd, DIR_LIST)]

    def label(self, dlg):
        return unesc(h.wdrive("childtext", dlg.hwnd, PATH_LABEL)[0])

    def listed(self, dlg, *parts):
        """Waits until the path label names the folder's subdirectory `parts`."""
        want = h.winpath(self.path(*parts)).lower()
        return h.wait_for(lambda: self.label(dlg).lower() == want, what="listing of %r" % (parts,))

    def shows(self, dlg, name):
        return h.wait_for(lambda: self.name_box(dlg) == name, what="name box %r" % name)

    def open_dialog(self, cmd=CMD_OPEN, caption=OPEN_CAPTION):
        self.command(cmd)
        return self.box(caption)

    def index(self, dlg, item):
        return self.items(dlg).index(item)


class Listing(DialogTest):
    def test_start_state_and_typed_directories_and_patterns(self):
        self.start()
        dlg = self.open_dialog()
        self.assertEqual(self.name_box(dlg), "*.txt")
        self.listed(dlg)
        items = self.items(dlg)
        for item in ("a.txt", "level.doc.txt", "[..]", "[sub]", "[my.dir]", "[-c-]", "[-z-]"):
            self.assertIn(item, items)
        self.assertNotIn("b.doc", items)
        self.assertEqual(h.wdrive("enabled", dlg.hwnd, IDOK), ["1"])
        h.screenshot("vorira-open-dialog")

        self.type_name(dlg, "sub\\")
        self.listed(dlg, "sub")
        self.shows(dlg, "*.txt")
        self.assertIn("s.txt", self.items(dlg))
        self.assertNotIn("s.doc", self.items(dlg))

        self.type_name(dlg, "..\\")
        self.listed(dlg)
        self.shows(dlg, "*.txt")

        self.type_name(dlg, "*.*")
        h.wait_for(lambda: "b.doc" in self.items(dlg), what="every file listed")
        self.shows(dlg, "*.*")

        # A directory name without a backslash lists nothing: the name stays
        # and the pattern becomes "*.*", which a following backslash uses.
        self.type_name(dlg, "*.txt")
        self.shows(dlg, "*.txt")
        self.type_name(dlg, "sub")
        self.settled(dlg)
        self.assertEqual(self.name_box(dlg), "sub")
        self.listed(dlg)
        self.type_name(dlg, "sub\\")
        self.listed(dlg, "sub")
        self.assertIn("s.doc", self.items(dlg))
        self.shows(dlg, "*.*")

        # ".." moves up and names the directory that was left.
        self.type_name(dlg, "deep")
        self.shows(dlg, "deep")
        self.type_name(dlg, "..")
        self.shows(dlg, "sub")
        self.answer(dlg, IDCANCEL)

    def test_empty_name_disables_ok_and_a_name_that_matches_nothing_stays(self):
        self.start()
        dlg = self.open_dialog()
        self.type_name(dlg, "", ok=False)
        h.wait_for(lambda: h.wdrive("enabled", dlg.hwnd, IDOK) == ["0"], what="OK disabled")
        h.wdrive("type", h.wdrive("child", dlg.hwnd, 16)[0], "n")
        h.wait_for(lambda: h.wdrive("enabled", dlg.hwnd, IDOK) == ["1"], what="OK enabled")
        self.type_name(dlg, "nincs ilyen")
        self.settled(dlg)
        self.assertEqual(self.name_box(dlg), "nincs ilyen")
        self.assertTrue(self.box(OPEN_CAPTION))
        self.type_name(dlg, "nincs\\*.txt")
        self.settled(dlg)
        self.assertEqual(self.name_box(dlg), "nincs\\*.txt")
        self.listed(dlg)
        # Neither moved the dialog: a name of the folder still opens.
        self.type_name(dlg, "a.txt")
        self.wait_title("Vorira - a.txt")


class CurrentDirectory(DialogTest):
    def test_a_listing_never_moves_where_relative_names_are_saved(self):
        # The folder Vorira starts in has a name code page 1250 cannot spell,
        # and is later renamed.
        home = self.path("ŵork")
        os.mkdir(home)
        with open(os.path.join(home, "level.txt"), "wb") as f:
            f.write(b"otthon")
        self.write("sub/level.txt", b"masik")
        self.start(["level.txt"], cwd=home)
        self.wait_title("Vorira - level.txt")

        def list_elsewhere_then_save(change):
            dlg = self.open_dialog()
            self.type_name(dlg, self.win("sub") + "\\")
            self.listed(dlg, "sub")
            self.answer(dlg, IDCANCEL)
            self.change(change)
            self.key("ctrl+s")
        list_elsewhere_then_save("Ú")
        h.wait_for(lambda: h.read_bytes(os.path.join(home, "level.txt")) == "Úotthon".encode("cp1250"),
                   what="level.txt saved where it came from")
        # Gone from under its name: saved nowhere else.
        os.rename(home, self.path("elkoltozott"))
        list_elsewhere_then_save("É")
        b, text = self.message()
        self.assertEqual(text, "Nem tudom létrehozni a fájlt: level.txt")
        self.answer(b, IDOK)
        self.assertEqual(self.read("sub/level.txt"), b"masik")

    def test_a_save_dialog_inside_an_open_dialog_leaves_it_as_it_was(self):
        self.write("sub/a.txt", b"sub/a.txt")
        self.start()
        self.change("k")
        self.command(CMD_OPEN)
        b, _ = self.message()
        self.answer(b, 7)
        dlg = self.box(OPEN_CAPTION)
        self.listed(dlg)
        # Logging off asks to save; Yes brings the Save dialog over the Open one.
        q = subprocess.Popen(["wine", h.WDRIVE, "query", self.prog.hwnd], env=h.wine_env(),
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        b, _ = self.message()
        self.answer(b, 6)
        inner = self.box(SAVE_CAPTION)
        self.type_name(inner, "sub\\")
        self.listed(inner, "sub")
        self.type_name(inner, "mentett")
        self.assertEqual(q.communicate(timeout=30)[0].split(), [b"1"])
        self.assertEqual(self.read("sub/mentett.txt"), b"k")
        # The Open dialog still opens files, from where it listed.
        self.type_name(dlg, "a.txt")
        self.wait_title("Vorira - a.txt")
        self.assertEqual(self.text(), "a.txt")


class OpenMode(DialogTest):
    def test_default_extension_is_tried_after_the_name_as_typed(self):
        self.write("level", b"bare")
        self.write("level.txt", b"with extension")
        self.start()
        for typed, opened, text in (("level", "level", "bare"), ("level.doc", "level.doc.txt", "level.doc.txt")):
            dlg = self.open_dialog()
            self.type_name(dlg, typed)
            self.wait_title("Vorira - " + opened)
            self.assertEqual(self.text(), text)
        os.remove(self.path("level"))
        dlg = self.open_dialog()
        self.type_name(dlg, "level")
        self.wait_title("Vorira - level.txt")

    def test_double_clicks_enter_directories_and_choose_the_listed_file(self):
        self.write("start.txt", b"start")
        self.start(["start.txt"])
        self.wait_title("Vorira - start.txt")
        # The listing never moves the process's current directory: after a
        # dialog wandered off and was cancelled, Save of the start-up name
        # (stored relative) still writes the file it came from.
        dlg = self.open_dialog()
        h.wdrive("lbdblclk", dlg.hwnd, DIR_LIST, self.index(dlg, "[my.dir]"))
        self.listed(dlg, "my.dir")
        self.answer(dlg, IDCANCEL)
        self.change("Ú")
        self.command(CMD_SAVE)
        h.wait_for(lambda: self.read("start.txt") == "Ústart".encode("cp1250"), what="start.txt saved")
        self.assertFalse(os.path.exists(self.path("my.dir", "start.txt")))

        # The next dialog, of either kind, opens where the last one listed.
        dlg = self.open_dialog(CMD_SAVE_AS, SAVE_CAPTION)
        self.listed(dlg, "my.dir")
        self.answer(dlg, IDCANCEL)
        dlg = self.open_dialog()
        self.listed(dlg, "my.dir")
        h.wdrive("lbdblclk", dlg.hwnd, DIR_LIST, self.index(dlg, "[..]"))
        self.listed(dlg)
        # A single click on a directory offers it with the name part.
        h.wdrive("lbselect", dlg.hwnd, DIR_LIST, self.index(dlg, "[sub]"))
        self.shows(dlg, "sub\\*.txt")
        h.wdrive("lbdblclk", dlg.hwnd, DIR_LIST, self.index(dlg, "[sub]"))
        self.listed(dlg, "sub")
        self.shows(dlg, "*.txt")
        self.type_name(dlg, "deep\\")
        self.listed(dlg, "sub", "deep")
        h.wdrive("lbdblclk", dlg.hwnd, DIR_LIST, self.index(dlg, "[..]"))
        self.listed(dlg, "sub")
        # A typed directory moves the remembered directory, not the list: the
        # list's entries still name what it shows.
        self.type_name(dlg, "..")
        self.shows(dlg, "sub")
        self.listed(dlg, "sub")
        h.wdrive("lbdblclk", dlg.hwnd, DIR_LIST, self.index(dlg, "s.txt"))
        self.wait_title("Vorira - s.txt")
        self.assertEqual(self.text(), "sub/s.txt")


    def test_a_listed_name_longer_than_79_characters_is_taken_whole(self):
        long_name = "hosszu-" * 13 + "nev.txt"
        self.write(long_name, b"long")
        self.write(long_name[:79], b"cut")
        self.start()
        dlg = self.open_dialog()
        h.wdrive("lbdblclk", dlg.hwnd, DIR_LIST, self.index(dlg, long_name))
        self.wait_title("Vorira - " + long_name)
        self.assertEqual(self.text(), "long")


class SaveMode(DialogTest):
    def test_default_extension_rules_and_existence(self):
        self.start()
        for typed, saved in (("level", "level.txt"), ("level.doc", "level.doc"),
                             ("my.dir\\level", os.path.join("my.dir", "level.txt"))):
            self.set_text(typed)
            dlg = self.open_dialog(CMD_SAVE_AS, SAVE_CAPTION)
            if typed == "level":
                self.listed(dlg)
                self.assertEqual(self.name_box(dlg), "*.txt")
                h.screenshot("vorira-save-dialog")
            self.type_name(dlg, typed)
            self.wait_title("Vorira - " + os.path.basename(saved))
            self.assertEqual(self.read(saved), typed.encode())
        # An existing file is reported (the question), a new one is not.
        dlg = self.open_dialog(CMD_SAVE_AS, SAVE_CAPTION)
        self.type_name(dlg, "a")
        b, text = self.message()
        self.assertEqual(text, "Lecseréljem a létező fájlt: " + self.win("a.txt") + " ?")
        self.answer(b, 7)
        self.assertEqual(self.read("a.txt"), b"a.txt")

    def test_device_names_are_refused(self):
        self.start()
        self.set_text("szöveg")
        dlg = self.open_dialog(CMD_SAVE_AS, SAVE_CAPTION)
        for device in ("nul", "con", "COM1.txt", "lpt1.txt", "aux"):
            self.type_name(dlg, device)
            self.settled(dlg)
            self.assertEqual(self.name_box(dlg), device)
            self.assertEqual(self.title(), "Vorira - (névtelen)")
        self.type_name(dlg, "nulla")
        self.wait_title("Vorira - nulla.txt")
        self.assertEqual(self.read("nulla.txt"), "szöveg".encode("cp1250"))

    def test_an_extensionless_listed_file_is_the_file_saved(self):
        self.write("level", b"bare")
        self.start()
        self.set_text("új")
        dlg = self.open_dialog(CMD_SAVE_AS, SAVE_CAPTION)
        self.type_name(dlg, "*.*")
        h.wait_for(lambda: "level" in self.items(dlg), what="every file listed")
        h.wdrive("lbdblclk", dlg.hwnd, DIR_LIST, self.index(dlg, "level"))
        b, text = self.message()
        self.assertTrue(text.startswith("Lecseréljem a létező fájlt: " + self.win("level")), text)
        self.answer(b, 6)
        h.wait_for(lambda: self.read("level") == "új".encode("cp1250"), what="level saved")
        self.assertFalse(os.path.exists(self.path("level.txt")))

    def test_double_click_on_a_file_chooses_it(self):
        self.start()
        self.set_text("új")
        dlg = self.open_dialog(CMD_SAVE_AS, SAVE_CAPTION)
        h.wdrive("lbdblclk", dlg.hwnd, DIR_LIST, self.index(dlg, "[sub]"))
        self.listed(dlg, "sub")
        h.wdrive("lbdblclk", dlg.hwnd, DIR_LIST, self.index(dlg, "s.txt"))
        b, text = self.message()
        self.assertEqual(text, "Lecseréljem a létező fájlt: " + self.win("sub", "s.txt") + " ?")
        self.answer(b, 6)
        self.wait_title("Vorira - s.txt")
        self.assertEqual(self.read(os.path.join("sub", "s.txt")), "új".encode("cp1250"))


if __name__ == "__main__":
    h.main()
