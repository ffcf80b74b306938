"""Disk faults end to end: a full disk, a read-only folder, a file another
program holds open without sharing, a file or folder deleted under Vorira or
its file dialog. Vorira's Save, Save As and Open and Lexibar's Modify and
Delete must say what went wrong, in Hungarian, and lose nothing: the bytes on
disk, the text in the editor and the dictionary's entries are checked."""
import os
import shutil
import subprocess

import harness as h
import test_documents as docs
import test_lexibar as lex

IDOK, IDCANCEL, IDYES, IDNO = docs.IDOK, docs.IDCANCEL, docs.IDYES, docs.IDNO
OLD = "régi, megőrzendő tartalom\r\n".encode("cp1250")
ADD_FAILED = "Nem tudom hozzávenni a szót a szótárhoz. \\n"
DELETE_FAILED = "Nem tudom törölni a szót a szótárból. \\n"
OUT_OF_DISK = "A lemezen nincs elég hely hogy szótárhoz hozzáadandó információ elmentéséhez."
IN_USE = "A fájlt egy másik program használja."


def read_only(test, folder):
    """Makes the folder read-only; for root, whom the mode bits do not stop,
    also immutable."""
    os.chmod(folder, 0o555)
    test.addCleanup(os.chmod, folder, 0o755)
    if os.geteuid() == 0:
        if subprocess.run(["chattr", "+i", folder], stderr=subprocess.DEVNULL).returncode:
            test.skipTest("root and no immutable folders here: nothing is read-only")
        test.addCleanup(subprocess.run, ["chattr", "-i", folder])


def hold(test, path):
    """Another program opens the file with no sharing and keeps it open."""
    p = subprocess.Popen(["wine", h.WDRIVE, "hold", h.winpath(path)], env=h.wine_env(), stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    test.assertEqual(p.stdout.readline().strip(), b"held")

    def release():
        p.stdin.close()
        p.wait(10)
        p.stdout.close()
    test.addCleanup(release)


class Vorira(docs.DocTest):
    def names(self):
        return sorted(os.listdir(self.dir))

    def assert_refused(self, message, title, text):
        b, shown = self.message()
        self.assertEqual(shown, message)
        self.assertEqual(b.icon, "exclamation")
        self.answer(b, IDOK)
        self.assertEqual(self.title(), title)
        self.assertEqual(self.text(), text)

    def test_a_full_disk_refuses_a_new_file_and_an_old_one_it_cannot_copy(self):
        big = OLD * 1000
        self.write("big.txt", big[:25000])
        with h.full_disk(24 * 1024):
            self.start()
        text = "ű" * 30000
        self.set_text(text)
        self.choose(docs.CMD_SAVE_AS, docs.SAVE_CAPTION, "uj")
        self.assert_refused("Nem tudom lemezre írni a fájlt: " + self.win("uj.txt"), "Vorira - (névtelen)", text)
        self.assertEqual(self.names(), ["big.txt"])
        # A file larger than the disk takes more of: no copy of its text can
        # be made, so it is not touched.
        self.open_file("big.txt")
        self.wait_title("Vorira - big.txt")
        self.change("Ú")
        self.key("ctrl+s")
        self.assert_refused("Nem tudok biztonsági másolatot készíteni, ezért nem mentettem: " + self.win("big.txt"),
                            "Vorira - big.txt", "Ú" + big[:25000].decode("cp1250"))
        self.assertEqual((self.names(), self.read("big.txt")), (["big.txt"], big[:25000]))

    def test_a_read_only_folder_rewrites_its_file_and_refuses_new_ones(self):
        self.write("a.txt", OLD)
        read_only(self, self.dir)
        self.start(["a.txt"])
        self.wait_title("Vorira - a.txt")
        self.change("Ú")
        self.key("ctrl+s")
        h.wait_for(lambda: self.read("a.txt") == "Ú".encode("cp1250") + OLD, what="saved in place")
        self.assertTrue(self.no_box())
        self.change("É")
        self.choose(docs.CMD_SAVE_AS, docs.SAVE_CAPTION, "uj")
        self.assert_refused("Nem tudom létrehozni a fájlt: " + self.win("uj.txt"), "Vorira - a.txt",
                            "ÉÚ" + OLD.decode("cp1250"))
        self.assertEqual(self.names(), ["a.txt"])

    def test_a_file_held_by_another_program_is_named_never_replaced_unasked(self):
        self.write("a.txt", OLD)
        self.write("b.txt", b"masik")
        self.start(["b.txt"])
        self.wait_title("Vorira - b.txt")
        hold(self, self.path("a.txt"))
        hold(self, self.path("b.txt"))
        # Open: the file is there, so it is named rather than beeped at.
        self.open_file("a.txt")
        self.assert_refused("Nem tudom megnyitni a fájlt: " + self.win("a.txt"), "Vorira - b.txt", "masik")
        # Save As onto it asks first, like onto any existing file.
        self.change("Ő")
        self.choose(docs.CMD_SAVE_AS, docs.SAVE_CAPTION, "a.txt")
        b, shown = self.message()
        self.assertEqual(shown, "Lecseréljem a létező fájlt: " + self.win("a.txt") + " ?")
        self.answer(b, IDYES)
        self.assert_refused("Nem tudom létrehozni a fájlt: " + self.win("a.txt"), "Vorira - b.txt", "Őmasik")
        # Save of the document itself.
        self.key("ctrl+s")
        self.assert_refused("Nem tudom létrehozni a fájlt: b.txt", "Vorira - b.txt", "Őmasik")
        self.assertEqual((self.read("a.txt"), self.read("b.txt")), (OLD, b"masik"))
        self.assertEqual(self.names(), ["a.txt", "b.txt"])

    def test_a_deleted_file_is_saved_again_and_a_deleted_folder_is_named(self):
        self.write("sub/a.txt", OLD)
        self.start()
        self.open_file("sub\\a.txt")
        self.wait_title("Vorira - a.txt")
        self.change("Ú")
        os.remove(self.path("sub", "a.txt"))
        self.key("ctrl+s")
        h.wait_for(lambda: os.path.exists(self.path("sub", "a.txt")), what="the file saved again")
        self.assertEqual(self.read("sub/a.txt"), "Ú".encode("cp1250") + OLD)
        self.assertTrue(self.no_box())
        self.change("É")
        shutil.rmtree(self.path("sub"))
        self.key("ctrl+s")
        text = "ÉÚ" + OLD.decode("cp1250")
        self.assert_refused("Nem tudom létrehozni a fájlt: " + self.win("sub", "a.txt"), "Vorira - a.txt", text)
        # Still changed: Save As elsewhere keeps the text.
        self.choose(docs.CMD_SAVE_AS, docs.SAVE_CAPTION, "mentett")
        self.wait_title("Vorira - mentett.txt")
        self.assertEqual(self.read("mentett.txt"), text.encode("cp1250"))

    def test_a_folder_deleted_while_the_dialog_lists_it(self):
        self.write("sub/b.txt", b"b")
        self.write("c.txt", b"ccc")
        self.start()
        self.key("ctrl+o")
        dlg = self.box(docs.OPEN_CAPTION)
        h.wdrive("lbdblclk", dlg.hwnd, docs.DIR_LIST, h.wdrive("listitems", dlg.hwnd, docs.DIR_LIST).index("[sub]"))
        h.wait_for(lambda: "b.txt" in h.wdrive("listitems", dlg.hwnd, docs.DIR_LIST), what="sub listed")
        shutil.rmtree(self.path("sub"))
        # The listed file and a new listing are gone: the dialog stays as it was.
        h.wdrive("lbdblclk", dlg.hwnd, docs.DIR_LIST, h.wdrive("listitems", dlg.hwnd, docs.DIR_LIST).index("b.txt"))
        self.type_name(dlg, "*.txt")
        self.settled(dlg)
        self.assertEqual(self.name_box(dlg), "*.txt")
        self.assertIn("b.txt", h.wdrive("listitems", dlg.hwnd, docs.DIR_LIST))
        # Up a level works, and a file there opens.
        self.type_name(dlg, "..\\c.txt")
        self.wait_title("Vorira - c.txt")
        self.assertEqual(self.text(), "ccc")
        # Save As into the gone folder names it; nothing is lost.
        self.write("sub/d.txt", b"d")
        self.command(docs.CMD_SAVE_AS)
        dlg = self.box(docs.SAVE_CAPTION)
        self.type_name(dlg, self.win("sub") + "\\")
        h.wait_for(lambda: "d.txt" in h.wdrive("listitems", dlg.hwnd, docs.DIR_LIST), what="sub listed")
        shutil.rmtree(self.path("sub"))
        self.type_name(dlg, "uj")
        self.assert_refused("Nem tudom létrehozni a fájlt: " + self.win("sub", "uj.txt"), "Vorira - c.txt", "ccc")
        self.assertEqual(self.names(), ["c.txt"])


def entries(n):
    # Pronunciations are letters only: digits spelled as letters.
    letters = str.maketrans("0123456789", "abcdefghij")
    return [("szó%04d" % i, "kiejtés" + ("%04d" % i).translate(letters)) for i in range(n)]


class Lexibar(lex.LexibarTest):
    def modify(self, word, pronunciation):
        h.wdrive("settext", self.word, "")
        h.wdrive("type", self.word, word)
        h.wait_for(lambda: self.sizing_gets() and self.sizing_gets()[-1]["fields"]["word"] == lex.cp(word),
                   what="the word looked up")
        self.keys(lex.VK_TAB)
        h.wdrive("type", self.pron, pronunciation)
        self.keys(lex.VK_ALT, ord("M"))

    def delete(self, word):
        h.wdrive("settext", self.word, word)
        self.keys(lex.VK_ALT, ord("T"))

    def failure(self, text):
        box = self.prog.wait_box("Hiba")
        self.assertEqual(box.text, text)
        h.wdrive("click", box.hwnd, list(box.buttons)[0])
        h.wait_for(lambda: self.prog.no_box("Hiba", settle=0.1), what="the box to close")

    def assert_kept(self, before):
        self.assertEqual(self.stored(), before)
        self.assertEqual(sorted(os.listdir(self.dir)), ["dictionary.txt"])

    def test_a_full_disk_keeps_the_dictionary_whole(self):
        self.store(*entries(1700))
        before = self.stored()
        self.assertGreater(len(before.encode()), 32 * 1024)
        with h.full_disk(24 * 1024):
            self.start()
        self.modify("Kelvanit", "kelvanyit")
        self.failure(ADD_FAILED + OUT_OF_DISK)
        self.assert_kept(before)
        self.delete("szó0007")
        self.failure(DELETE_FAILED + OUT_OF_DISK)
        self.assert_kept(before)

    def test_a_read_only_folder_keeps_the_dictionary(self):
        self.store(("kutya", "kutyus"))
        before = self.stored()
        read_only(self, self.dir)
        self.start()
        self.modify("kutya", "kutyuli")
        self.failure(ADD_FAILED + "Az attribútum csak olvasható.")
        self.delete("kutya")
        self.failure(DELETE_FAILED + "Az attribútum csak olvasható.")
        self.assert_kept(before)

    def test_a_read_only_dictionary_stays_as_it_is(self):
        self.store(("kutya", "kutyus"))
        os.chmod(self.dict_path, 0o444)
        before = self.stored()
        self.start()
        self.modify("cica", "cicus")
        self.failure(ADD_FAILED + "Az attribútum csak olvasható.")
        self.assert_kept(before)
        self.assertEqual(oct(os.stat(self.dict_path).st_mode & 0o777), oct(0o444))

    def test_a_dictionary_held_by_another_program_is_explained(self):
        self.store(("kutya", "kutyus"))
        before = self.stored()
        hold(self, self.dict_path)
        self.start()
        self.modify("kutya", "kutyuli")
        self.failure(ADD_FAILED + IN_USE)
        self.delete("kutya")
        self.failure(DELETE_FAILED + IN_USE)
        self.assert_kept(before)


if __name__ == "__main__":
    h.main()
