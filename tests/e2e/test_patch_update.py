"""Delta patches end to end under Wine against the local server: releases
made by the maker's own tool (`./dev publish --previous OLD.exe`), signed
with the test update key. A launcher that is the base of a published patch
downloads the patch instead of the whole launcher and ends with exactly
the published one; a patch that is missing, damaged, of another pair or
that applies but makes another launcher falls back to the whole launcher
in the same run; a launcher that is no
patch's base downloads the whole launcher at once.

One Wine prefix carries the cases; each puts the 3.0.1.5 launcher with the
test key back and publishes 3.0.1.10 anew.
"""
import glob
import hashlib
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

DEV = os.path.join(harness.ROOT, "dev")
SIGNED = os.path.join(harness.BUILD_WIN, "signed", "Tavrel_Launcher.exe")            # 3.0.1.5, test key
SIGNED_NEXT = os.path.join(harness.BUILD_WIN, "signed_next", "Tavrel_Launcher.exe")  # 3.0.1.10, test key
UNSIGNED = harness.launcher_exe()                                                     # 3.0.1.5, no key
UNSIGNED_NEXT = os.path.join(harness.BUILD_WIN, "next", "Tavrel_Launcher.exe")       # 3.0.1.10, no key
TEST_KEY = os.path.join(harness.BUILD_WIN, "testkey", "update_test_key.pem")
MAKEPATCH = os.path.join(harness.ROOT, "build", "native", "tools", "orlix_makepatch")
PATIENCE = 300


def md5_file(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def sha256_file(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class PatchUpdate(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("patch_update")
        cls.server = harness.LocalServer(os.path.join(cls.prefix.dir, "server"))
        cls.update_dir = os.path.join(cls.server.files, "update")
        cls.installed = cls.prefix.install_folder("Tavrel_Launcher.exe")
        cls.game_log = cls.prefix.install_folder("tavr_online.log")
        downloads = cls.prefix.user_dir("Downloads")
        os.makedirs(downloads, exist_ok=True)
        shutil.copy(SIGNED, os.path.join(downloads, "Tavrel_Launcher.exe"))
        cls.prefix.run([os.path.join(downloads, "Tavrel_Launcher.exe")], timeout=240, cwd=downloads)
        if not harness.wait_for(lambda: os.path.exists(cls.game_log), timeout=240):
            raise AssertionError("the first run did not start the game")
        cls.stop_game()

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()
        cls.server.stop()

    def setUp(self):
        self.stop_game()
        self.assertTrue(self.prefix.wait_idle(120))
        shutil.copy(SIGNED, self.installed)
        self.log_before = self.update_log()

    def tearDown(self):
        self.server.clear_faults()
        self.stop_game()

    # ---- helpers -----------------------------------------------------------
    def publish(self, launcher, previous):
        """Publishes |launcher| with patches from |previous| into the server's
        update folder (emptied first); returns the URL paths of the launcher
        and of the patches."""
        shutil.rmtree(self.update_dir, ignore_errors=True)
        args = [DEV, "publish", launcher, "--key", TEST_KEY, "--out", self.update_dir,
                "--url", self.server.url("/update/")]
        for old in previous:
            args += ["--previous", old]
        r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=600)
        self.assertEqual(0, r.returncode, r.stderr)
        names = sorted(os.listdir(self.update_dir))
        exe = ["/update/" + n for n in names if n.endswith(".exe")]
        patches = ["/update/" + n for n in names if n.endswith(".patch")]
        self.assertEqual(1, len(exe))
        self.assertEqual(len(previous), len(patches))
        with open(os.path.join(self.update_dir, "ConfigTavrel.htm"), encoding="ascii", newline="") as f:
            config = f.read()
        for old in previous:
            self.assertIn("Base=%s\r\n" % sha256_file(old), config)
        return exe[0], patches

    def game_starts(self):
        return len(harness.game_starts(self.prefix))

    @classmethod
    def stop_game(cls):
        harness.stop_game(cls.prefix)

    def update_log(self):
        paths = glob.glob(self.prefix.install_folder("Dump_*_Tavrel_update.log"))
        text = ""
        for p in sorted(paths):
            with open(p, "rb") as f:
                text += f.read().decode("latin-1")
        return text

    def added_log(self):
        return self.update_log()[len(self.log_before):]

    def run_takes_the_update(self):
        """One start that ends with 3.0.1.10 installed and the game started;
        returns the paths the launcher asked the server for (update folder only)."""
        self.server.reset()
        before = self.game_starts()
        self.prefix.run([self.installed, "/TavrelD"], timeout=PATIENCE, cwd=self.prefix.install_folder())
        self.assertTrue(harness.wait_for(lambda: self.game_starts() > before, timeout=PATIENCE),
                        "the game did not start; update log: %s" % self.added_log())
        self.assertEqual(md5_file(SIGNED_NEXT), md5_file(self.installed))
        for leftover in ("NewTavrel.exe", "NewTavrel.patch", "NewTavrel.exe.resume"):
            self.assertFalse(os.path.exists(self.prefix.install_folder(leftover)), leftover)
        return [r["path"] for r in self.server.requests()
                if r["path"].endswith((".exe", ".patch"))]

    # ---- the cases -----------------------------------------------------------
    def test_1_launcher_one_release_behind_downloads_only_the_patch(self):
        exe, patches = self.publish(SIGNED_NEXT, [UNSIGNED, SIGNED])
        self.assertLess(os.path.getsize(os.path.join(self.server.files, patches[0].lstrip("/"))),
                        os.path.getsize(SIGNED_NEXT) // 4)
        asked = self.run_takes_the_update()
        own_patch = [p for p in patches if sha256_file(SIGNED)[:12] in p]
        self.assertEqual(own_patch, asked)
        self.assertEqual("", self.added_log())

    def test_2_refused_patches_fall_back_to_the_whole_launcher(self):
        def damaged(path):
            data = bytearray(open(path, "rb").read())
            data[len(data) // 2] ^= 0x55
            open(path, "wb").write(bytes(data))

        def missing(path):
            os.remove(path)

        def of_another_pair(path):
            # A real patch, from this launcher to the launcher without a key.
            other = os.path.join(self.prefix.dir, "other")
            shutil.rmtree(other, ignore_errors=True)
            subprocess.run([DEV, "publish", UNSIGNED_NEXT, "--key", TEST_KEY, "--out", other, "--url",
                            self.server.url("/update/"), "--previous", SIGNED, "--first-keyed-release"], check=True,
                           stdout=subprocess.DEVNULL, timeout=600)
            shutil.copy(glob.glob(os.path.join(other, "*.patch"))[0], path)

        def makes_another_launcher(path):
            # A real patch from this launcher, which applies, to a launcher of
            # the published size one byte off the published one; the
            # configuration names its size, signed anew (./dev resign keeps
            # the patch values it finds). The made file then fails its check.
            other = os.path.join(self.prefix.dir, "one_byte_off.exe")
            with open(SIGNED_NEXT, "rb") as f:
                data = bytearray(f.read())
            data[-1] ^= 0xFF
            with open(other, "wb") as f:
                f.write(bytes(data))
            subprocess.run([MAKEPATCH, "diff", SIGNED, other, path], check=True, timeout=600)
            config = os.path.join(self.update_dir, "ConfigTavrel.htm")
            with open(config, encoding="ascii", newline="") as f:
                text = f.read()
            text = re.sub(r"Patch1Size=\d+", "Patch1Size=%d" % os.path.getsize(path), text)
            with open(config, "w", encoding="ascii", newline="") as f:
                f.write(text)
            subprocess.run([DEV, "resign", self.update_dir, "--key", TEST_KEY], check=True,
                           stdout=subprocess.DEVNULL, timeout=600)

        cases = [
            ("damaged", damaged, "update patch refused: "),
            ("missing", missing, "update patch not downloaded: the server answered 404; downloading the whole"),
            ("of another pair", of_another_pair,
             "update patch not downloaded: the answer's declared length is not the expected size"),
            ("makes another launcher", makes_another_launcher,
             "update patch made a file that failed its check; downloading the whole launcher"),
        ]
        for what, spoil, logged in cases:
            with self.subTest(what):
                self.setUp()
                exe, patches = self.publish(SIGNED_NEXT, [SIGNED])
                spoil(os.path.join(self.server.files, patches[0].lstrip("/")))
                asked = self.run_takes_the_update()
                self.assertEqual([patches[0], exe], asked)
                self.assertIn(logged, self.added_log())
                self.assertIn("downloading the whole launcher", self.added_log())

    def test_3_launcher_that_is_no_patch_base_downloads_the_whole_launcher(self):
        exe, _ = self.publish(SIGNED_NEXT, [UNSIGNED])
        self.assertEqual([exe], self.run_takes_the_update())
        self.assertEqual("", self.added_log())


if __name__ == "__main__":
    unittest.main()
