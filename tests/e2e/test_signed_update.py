"""Signed update configurations end to end under Wine against the local
server. Releases are made by the maker's own tool, `./dev publish`, into the
server's update folder, signed with the test update key that the x86_64 build
makes at build time.

A launcher built with that key (signed/) takes a release signed with it, and
refuses a configuration that is unsigned, changed after signing, signed with
another key or malformed, expired, or a downgrade, and a download that is not
the file the signature names: each refusal is written to the update log
beside the launcher, and the run goes on to the game. A launcher built
without a key takes an unsigned configuration as it always did.

One Wine prefix carries the story; the cases run in the order of their names.
"""
import glob
import hashlib
import os
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
CONFIG = "ConfigTavrel.htm"
SIGNATURE = CONFIG + ".sig"


def md5_file(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


class SignedUpdate(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("signed_update")
        cls.server = harness.LocalServer(os.path.join(cls.prefix.dir, "server"))
        cls.update_dir = os.path.join(cls.server.files, "update")
        cls.installed = cls.prefix.install_folder("Tavrel_Launcher.exe")
        cls.game_log = cls.prefix.install_folder("tavr_online.log")
        cls.work = os.path.join(cls.prefix.dir, "work")
        os.makedirs(cls.work, exist_ok=True)
        cls.other_key = os.path.join(cls.work, "other_key.pem")
        subprocess.run([DEV, "keygen", cls.other_key], check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()
        cls.server.stop()

    # ---- helpers -----------------------------------------------------------
    def publish(self, launcher, key=TEST_KEY, expires=30):
        """Empties the server's update folder and publishes |launcher| into it
        with ./dev publish; returns the download's path on the server."""
        shutil.rmtree(self.update_dir, ignore_errors=True)
        r = subprocess.run([DEV, "publish", launcher, "--key", key, "--out", self.update_dir,
                            "--url", self.server.url("/update/"), "--expires", str(expires)],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=300)
        self.assertEqual(0, r.returncode, r.stderr)
        downloads = [n for n in os.listdir(self.update_dir) if n.endswith(".exe")]
        self.assertEqual(1, len(downloads))
        return os.path.join(self.update_dir, downloads[0])

    def config_path(self):
        return os.path.join(self.update_dir, CONFIG)

    def game_starts(self):
        if not os.path.exists(self.game_log):
            return 0
        with open(self.game_log, encoding="utf-8") as f:
            return sum(1 for line in f if line.strip())

    def stop_game(self):
        self.prefix.run(["taskkill", "/f", "/im", "tavr_online.exe"], timeout=60)
        harness.wait_for(lambda: "tavr_online.exe" not in self.prefix.user_processes(), timeout=30)

    def update_log(self):
        lines = []
        for path in sorted(glob.glob(self.prefix.install_folder("Dump_*_Tavrel_update.log"))):
            with open(path, "rb") as f:
                lines += f.read().decode("latin-1").splitlines()
        return lines

    def update_pings(self):
        return len(self.server.pings("/update.htm"))

    def run_to_the_game(self, timeout=240):
        """Starts the installed launcher from its shortcut and waits for the
        game it starts (after an update, the new launcher starts it); returns
        the update log lines this run wrote."""
        log_before = len(self.update_log())
        games_before = self.game_starts()
        self.prefix.run([self.installed, "/TavrelD"], timeout=timeout, cwd=self.prefix.install_folder())
        started = harness.wait_for(lambda: self.game_starts() > games_before, timeout=timeout)
        self.assertTrue(started, "the game did not start; update log: %s" % self.update_log()[log_before:])
        self.stop_game()
        self.assertTrue(self.prefix.wait_idle(120))
        return self.update_log()[log_before:]

    def assert_refused(self, reason):
        """One run: the offer is refused with |reason| in the update log, the
        game starts, and the installed launcher stays as it was."""
        own = md5_file(self.installed)
        pings = self.update_pings()
        logged = self.run_to_the_game()
        self.assertTrue(any(reason in line for line in logged), "%r not in %s" % (reason, logged))
        self.assertEqual(own, md5_file(self.installed))
        self.assertEqual(pings, self.update_pings())
        for leftover in ("NewTavrel.exe", CONFIG, SIGNATURE):
            self.assertFalse(os.path.exists(self.prefix.install_folder(leftover)), leftover)

    # ---- the story ---------------------------------------------------------
    def test_1_install_the_launcher_with_the_key(self):
        for exe in (SIGNED, SIGNED_NEXT, UNSIGNED_NEXT, TEST_KEY):
            self.assertTrue(os.path.exists(exe), exe)
        downloads = self.prefix.user_dir("Downloads")
        os.makedirs(downloads, exist_ok=True)
        shutil.copy(SIGNED, os.path.join(downloads, "Tavrel_Launcher.exe"))
        games_before = self.game_starts()
        # Nothing published yet: no update is offered and nothing is refused.
        self.prefix.run([os.path.join(downloads, "Tavrel_Launcher.exe")], timeout=240, cwd=downloads)
        self.assertTrue(harness.wait_for(lambda: self.game_starts() > games_before, timeout=240))
        self.stop_game()
        self.assertEqual(md5_file(SIGNED), md5_file(self.installed))
        self.assertEqual([], self.update_log())

    def test_2_configurations_the_key_does_not_vouch_for_are_refused(self):
        def unsigned():
            os.remove(os.path.join(self.update_dir, SIGNATURE))

        def tampered():
            # One byte: a year later expiry, the sort of change worth forging.
            data = bytearray(open(self.config_path(), "rb").read())
            at = data.index(b"Expires=") + len(b"Expires=") + 3
            data[at] = ord("0") + (data[at] - ord("0") + 1) % 10
            open(self.config_path(), "wb").write(bytes(data))

        def other_key():
            self.publish(SIGNED_NEXT, key=self.other_key)

        def malformed():
            signature = os.path.join(self.update_dir, SIGNATURE)
            data = open(signature, "rb").read()
            open(signature, "wb").write(data[:-1])

        def expired():
            self.publish(SIGNED_NEXT, expires=-1)

        def redirected():
            # The signature is fetched under the configuration's redirect rules.
            self.server.fault("/update/" + SIGNATURE, "redirect", to="http://elsewhere.test/" + SIGNATURE)

        cases = [
            ("unsigned", unsigned, "has no signature"),
            ("one byte changed", tampered, "does not verify"),
            ("signed with another key", other_key, "does not verify"),
            ("signature cut short", malformed, "malformed"),
            ("expired", expired, "expired"),
            ("signature redirected away", redirected, "has no signature (the server redirected off the allow-list)"),
        ]
        for name, prepare, reason in cases:
            with self.subTest(name):
                self.publish(SIGNED_NEXT)
                prepare()
                try:
                    self.assert_refused(reason)
                finally:
                    self.server.clear_faults()

    def test_3_download_other_than_the_signed_file_is_refused(self):
        download = self.publish(SIGNED_NEXT)
        # A real launcher of the same version, but not the file that was signed.
        shutil.copy(UNSIGNED_NEXT, download)
        self.assert_refused("does not match the signed SHA-256")

    def test_4_published_release_is_taken(self):
        self.publish(SIGNED_NEXT)
        pings = self.update_pings()
        logged = self.run_to_the_game()
        self.assertEqual([], logged)
        self.assertEqual(md5_file(SIGNED_NEXT), md5_file(self.installed))
        self.assertEqual(pings + 1, self.update_pings())
        # Taken once: the new launcher finds its own key published and goes on.
        self.assertEqual([], self.run_to_the_game())
        self.assertEqual(pings + 1, self.update_pings())

    def test_5_older_signed_release_is_a_downgrade(self):
        # 3.0.1.5, signed and fresh, offered to the 3.0.1.10 now installed.
        self.publish(SIGNED)
        self.assert_refused("lower than the running one")

    def test_6_launcher_without_a_key_takes_what_it_always_took(self):
        shutil.copy(UNSIGNED, self.installed)
        self.publish(UNSIGNED_NEXT)
        os.remove(os.path.join(self.update_dir, SIGNATURE))
        pings = self.update_pings()
        self.assertEqual([], self.run_to_the_game())
        self.assertEqual(md5_file(UNSIGNED_NEXT), md5_file(self.installed))
        self.assertEqual(pings + 1, self.update_pings())


if __name__ == "__main__":
    unittest.main()
