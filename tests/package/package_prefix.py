"""The Windows package as a person meets it: unpacked into a fresh Wine prefix
where no speech runtime is registered, each program says in its own
Hungarian box what is missing; with the project's runtime registered there
as the set-up registers it, Vorira from the package speaks.

Where 32-bit programs run, the package is the 32-bit zip that package_zip
made; elsewhere scripts/package.sh packages this 64-bit build into a test zip
the same way. The prefix and the zip live in the build folder and go at the
end. Environment as for the end-to-end tests.
"""
import os
import shutil
import subprocess
import sys
import time
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness as h  # noqa: E402

WORK = os.path.join(h.BUILD, "package-test")
PREFIX = os.path.join(WORK, "prefix")
ARCH = os.environ.get("VERBANOR_ARCH", "i686")


def scripts(command):
    """Runs COMMAND after the project's env.sh and prefix.sh, in the fresh prefix."""
    script = '. "$1/scripts/env.sh" && . "$1/scripts/prefix.sh" && export WINEPREFIX="$2" && ' + command
    return subprocess.run(["bash", "-c", script, "bash", h.ROOT, PREFIX], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=900)


def package_zip(version):
    if ARCH == "i686":
        return os.path.join(h.BUILD, "package-zip", "verbanor-%s-win32.zip" % version)
    p = subprocess.run([os.path.join(h.ROOT, "scripts", "package.sh"), "--from", h.BUILD, WORK],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    if p.returncode:
        raise AssertionError(p.stdout.decode("utf-8", "replace"))
    return os.path.join(WORK, "verbanor-%s-%s-test.zip" % (version, ARCH))


class FreshPrefix(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        # Also when the set-up fails half-way.
        cls.addClassCleanup(cls.remove_prefix)
        with open(os.path.join(h.BUILD, "version.txt")) as f:
            version = f.read().strip()
        zip_path = package_zip(version)
        started = time.time()
        made = scripts("verbanor_make_prefix test")
        if made.returncode:
            raise AssertionError(made.stdout.decode("utf-8", "replace"))
        print("fresh prefix made in %.1f s" % (time.time() - started), file=sys.stderr)
        target = os.path.join(PREFIX, "drive_c", "Verbanor")
        with zipfile.ZipFile(zip_path) as z:
            z.extractall(target)
        folder = os.path.join(target, "verbanor-" + version)
        # Every program and wdrive from here on runs in the fresh prefix.
        h.PREFIX = PREFIX
        for name in ("vorira", "dalnoka", "lexibar"):
            h.EXES[name] = os.path.join(folder, name + ".exe")

    @staticmethod
    def remove_prefix():
        env = h.wine_env({"WINEPREFIX": PREFIX})
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL, timeout=60)
        # Debian's Wine names the server's folder under /tmp in the prefix.
        try:
            with open(os.path.join(PREFIX, "wineserver")) as f:
                server = f.read().strip()
            if server.startswith("wine-") and "/" not in server:
                shutil.rmtree(os.path.join("/tmp", server), ignore_errors=True)
        except OSError:
            pass
        shutil.rmtree(WORK, ignore_errors=True)

    def start(self, name):
        p = h.Program(name)
        self.addCleanup(p.kill)
        return p

    def assert_box(self, p, caption, text, owner):
        box = p.wait_box(caption, timeout=30)
        self.assertEqual(box.text, text)
        self.assertEqual(box.buttons, {1: "OK"})
        self.assertFalse(box.has_icon)
        self.assertEqual(box.owner_title, owner)
        h.wdrive("click", box.hwnd, 1)

    def test_1_without_runtime_vorira_finds_no_voices_and_edits_on(self):
        p = self.start("vorira")
        self.assert_box(p, "Error", "Nem találok hangokat a beszédmotorhoz!", "Vorira - (névtelen)")
        p.main_window("^Vorira - ")
        self.assertTrue(p.no_box(settle=1.0), "a second message appeared")

    def test_2_without_runtime_dalnoka_finds_no_voices_and_opens(self):
        p = self.start("dalnoka")
        self.assert_box(p, "Error", "Nem találok hangokat a beszédmotorhoz!", "Dalnoka")
        p.main_window("^Dalnoka$")
        self.assertTrue(p.no_box(settle=1.0), "a second message appeared")

    def test_3_without_runtime_lexibar_cannot_load_the_engine_and_ends(self):
        p = self.start("lexibar")
        self.assert_box(p, "Hiba", "Nem tudom betölteni a Verbanor 4 TTS-t", "")
        self.assertIsNotNone(p.wait_exit(15), "Lexibar did not end after OK")

    def test_4_with_the_runtime_registered_vorira_speaks(self):
        registered = scripts('verbanor_register_runtime "$VERBANOR_BUILD/engine/speechrt.dll"')
        self.assertEqual(registered.returncode, 0, registered.stdout)
        p = self.start("vorira")
        p.main_window("^Vorira - ")
        h.wait_for(lambda: p.journal.calls("Enum.Select"), 30, what="voice selection")
        self.assertTrue(p.no_box())
        edit = h.wdrive("child", p.hwnd, 1)[0]
        h.wdrive("settext", edit, "Jó napot kívánok!")
        h.xkey("^Vorira - ", "F3")
        texts = h.wait_for(lambda: p.journal.texts(), what="TextData")
        self.assertEqual(texts, ["Jó napot kívánok!".encode("cp1250") + b"\x00"])


if __name__ == "__main__":
    h.main()
