"""Signed update configurations end to end under Wine against the local
server. Releases are made by the maker's own tool, `./dev publish`, into the
server's update folder, signed with the test update keys that the Windows
test build makes at build time (testkey/: the current key, an offline
backup key, and the key a key roll makes current).

A launcher built with those keys (signed/) takes a release signed with the
current key, and plays every attack on the channel against it: a
configuration that is unsigned, changed after signing, signed with another
key, malformed, expired, for another product or channel; a download that is
not the signed file, longer than the signed size, or trickling; a replayed
older configuration and a reused publication number; a downgrade and another
file of the running version; a frozen channel; a key retired by a key roll
signed with the backup key. Each is refused with a line in the update log
beside the launcher, the game starts and the launcher stays as it was. A
launcher built without a key takes an unsigned configuration as it always did.

One Wine prefix carries the story; the cases run in the order of their names.
"""
import glob
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

sys.path.insert(0, os.path.join(harness.ROOT, "tools", "publish"))
import orlix_publish  # noqa: E402

DEV = os.path.join(harness.ROOT, "dev")
SIGNED = os.path.join(harness.BUILD_WIN, "signed", "Tavrel_Launcher.exe")              # 3.0.1.5
SIGNED_NEXT = os.path.join(harness.BUILD_WIN, "signed_next", "Tavrel_Launcher.exe")    # 3.0.1.10
SIGNED_ROLLED = os.path.join(harness.BUILD_WIN, "signed_rolled", "Tavrel_Launcher.exe")  # 3.0.1.11, rolled key
UNSIGNED = harness.launcher_exe()                                                       # 3.0.1.5, no key
UNSIGNED_NEXT = os.path.join(harness.BUILD_WIN, "next", "Tavrel_Launcher.exe")         # 3.0.1.10, no key
TEST_KEY = os.path.join(harness.BUILD_WIN, "testkey", "update_test_key.pem")
BACKUP_KEY = os.path.join(harness.BUILD_WIN, "testkey", "update_backup_key.pem")
ROLLED_KEY = os.path.join(harness.BUILD_WIN, "testkey", "update_rolled_key.pem")
CONFIG = "ConfigTavrel.htm"
SIGNATURE = CONFIG + ".sig"
CHANNEL_KEY = r"HKCU\Software\Orlix\GameLogin\Tavrel\Update"
FREEZE_DAYS = 14  # LAUNCHER_UPDATE_FREEZE_DAYS of the test builds (the default)
PASSPHRASE = {"ORLIX_KEY_PASSPHRASE": "test passphrase of the e2e maker"}
# The maker's tool, also used in this process, reads the passphrase from there.
os.environ.update(PASSPHRASE)


def md5_file(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def public_key(path):
    return orlix_publish.public_key_text(orlix_publish.load_private_key(path).public_key())


class SignedUpdate(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("signed_update")
        cls.server = harness.LocalServer(os.path.join(cls.prefix.dir, "server"))
        cls.update_dir = os.path.join(cls.server.files, "update")
        cls.installed = cls.prefix.install_folder("Tavrel_Launcher.exe")
        cls.work = os.path.join(cls.prefix.dir, "work")
        os.makedirs(cls.work, exist_ok=True)
        cls.other_key = os.path.join(cls.work, "other_key.pem")
        subprocess.run([DEV, "keygen", cls.other_key], check=True, stdout=subprocess.DEVNULL,
                       env=dict(os.environ, **PASSPHRASE))

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()
        cls.server.stop()

    # ---- helpers -----------------------------------------------------------
    def publish(self, launcher, key=TEST_KEY, *extra, fresh=False):
        """Publishes |launcher| into the server's update folder with ./dev
        publish (over what is there, as a maker does, or into an emptied
        folder when |fresh|: the tool refuses to follow a release with a
        lower version); returns the download's path on the server."""
        for name in os.listdir(self.update_dir):
            if fresh or name.endswith(".exe"):
                os.remove(os.path.join(self.update_dir, name))
        r = subprocess.run([DEV, "publish", launcher, "--key", key, "--out", self.update_dir,
                            "--url", self.server.url("/update/")] + list(extra),
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=300,
                           env=dict(os.environ, **PASSPHRASE))
        self.assertEqual(0, r.returncode, r.stderr)
        downloads = [n for n in os.listdir(self.update_dir) if n.endswith(".exe")]
        self.assertEqual(1, len(downloads))
        return os.path.join(self.update_dir, downloads[0])

    def forge(self, key=TEST_KEY, **changes):
        """Rewrites values of the published configuration and signs it with
        |key|: what someone holding that key (or replaying its work) serves."""
        values = [(name, str(changes.pop(name, value))) for name, value in
                  orlix_publish.read_config(self.config_path())]
        values += [(name, str(value)) for name, value in changes.items()]
        config = orlix_publish.config_text(values)
        private = orlix_publish.load_private_key(key)
        with open(self.config_path(), "wb") as f:
            f.write(config)
        with open(os.path.join(self.update_dir, SIGNATURE), "wb") as f:
            f.write(orlix_publish.sign(private, config))

    def config_path(self):
        return os.path.join(self.update_dir, CONFIG)

    def config_value(self, name):
        return dict(orlix_publish.read_config(self.config_path()))[name]

    def game_starts(self):
        return len(harness.game_starts(self.prefix))

    def stop_game(self):
        harness.stop_game(self.prefix)

    def update_log(self):
        lines = []
        for path in sorted(glob.glob(self.prefix.install_folder("Dump_*_Tavrel_update.log"))):
            with open(path, "rb") as f:
                lines += f.read().decode("latin-1").splitlines()
        return lines

    def update_pings(self):
        return len(self.server.pings("/update.htm"))

    def channel_value(self, name):
        """A value of the launcher's per-user channel record (a number for
        REG_QWORD, else the text), read through `reg export`: Wine's
        `reg query` shows REG_QWORD values as "(null)"."""
        path = os.path.join(self.work, "channel.reg")
        if os.path.exists(path):
            os.remove(path)
        self.prefix.run(["reg", "export", CHANNEL_KEY, self.prefix.to_windows(path), "/y"], timeout=60)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            text = f.read().decode("utf-16").replace("\\\r\n", "").replace("\\\n", "")
        for line in text.splitlines():
            m = re.match(r'^"%s"=(.*)$' % re.escape(name), line.strip())
            if not m:
                continue
            value = m.group(1).replace(" ", "")
            if value.startswith("hex(b):"):
                return int.from_bytes(bytes(int(x, 16) for x in value[7:].split(",") if x), "little")
            return value
        return None

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

    def assert_refused(self, reason, config_taken=False, partial_kept=False):
        """One run: the offer is refused with |reason| in the update log, the
        game starts, and the installed launcher stays as it was. A refused
        configuration leaves the channel record as it was; one that was taken
        (|config_taken|: its download is what is refused) is recorded. A
        download cut off (|partial_kept|) may keep its bytes for the next run
        to continue, but only under the record that binds them to the release."""
        own = md5_file(self.installed)
        pings = self.update_pings()
        serial = self.channel_value("Serial")
        logged = self.run_to_the_game()
        self.assertTrue(any(reason in line for line in logged), "%r not in %s" % (reason, logged))
        self.assertEqual(own, md5_file(self.installed))
        self.assertEqual(pings, self.update_pings())
        if config_taken:
            self.assertEqual(int(self.config_value("Serial")), self.channel_value("Serial"))
        else:
            self.assertEqual(serial, self.channel_value("Serial"))
        for leftover in (CONFIG, SIGNATURE):
            self.assertFalse(os.path.exists(self.prefix.install_folder(leftover)), leftover)
        partial = os.path.exists(self.prefix.install_folder("NewTavrel.exe"))
        if partial and partial_kept:
            self.assertTrue(os.path.exists(self.prefix.install_folder("NewTavrel.exe.resume")),
                            "bytes kept without the record of their release")
        else:
            self.assertFalse(partial, "NewTavrel.exe")

    # ---- the story ---------------------------------------------------------
    def test_01_install_the_launcher_with_the_key(self):
        for exe in (SIGNED, SIGNED_NEXT, SIGNED_ROLLED, UNSIGNED_NEXT, TEST_KEY, BACKUP_KEY, ROLLED_KEY):
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

    def test_02_configurations_the_keys_do_not_vouch_for_are_refused(self):
        def unsigned():
            os.remove(os.path.join(self.update_dir, SIGNATURE))

        def tampered():
            # One byte: a year later expiry, the sort of change worth forging.
            data = bytearray(open(self.config_path(), "rb").read())
            at = data.index(b"Expires=") + len(b"Expires=") + 3
            data[at] = ord("0") + (data[at] - ord("0") + 1) % 10
            open(self.config_path(), "wb").write(bytes(data))

        def malformed():
            signature = os.path.join(self.update_dir, SIGNATURE)
            data = open(signature, "rb").read()
            open(signature, "wb").write(data[:-1])

        def redirected():
            # The signature is fetched under the configuration's redirect rules.
            self.server.fault("/update/" + SIGNATURE, "redirect", to="http://elsewhere.test/" + SIGNATURE)

        cases = [
            ("unsigned", unsigned, "has no signature"),
            ("one byte changed", tampered, "does not verify"),
            ("signed with another key", lambda: self.forge(key=self.other_key), "does not verify"),
            ("signature cut short", malformed, "malformed"),
            ("expired", lambda: self.forge(Expires="2020-01-01T00:00:00Z"), "expired"),
            ("another product", lambda: self.forge(Product="Fenwick"), "another product"),
            ("another channel", lambda: self.forge(Channel="beta"), "another channel"),
            ("no publication number", lambda: self.forge(Serial=""), "missing or malformed"),
            ("a key roll signed by the current key", lambda: self.forge(CurrentKey=public_key(ROLLED_KEY)),
             "not signed by a backup key"),
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

    def test_03_frozen_channel_is_reported(self):
        # Nothing valid for longer than the build's setting: the clock was
        # started by the first check without a configuration; moved back here.
        self.assertIsNotNone(self.channel_value("LastValid"))
        for name in os.listdir(self.update_dir):
            os.remove(os.path.join(self.update_dir, name))
        long_ago = int(time.time()) - (FREEZE_DAYS + 6) * 86400
        self.prefix.run(["reg", "add", CHANNEL_KEY, "/v", "LastValid", "/t", "REG_QWORD", "/d", str(long_ago),
                         "/f", "/reg:64"], timeout=60, check=True)
        activity = len(self.server.pings("/active.htm"))
        logged = self.run_to_the_game()
        self.assertTrue(any("no valid update configuration for %d days" % (FREEZE_DAYS + 6) in line
                            for line in logged), logged)
        self.assertTrue(harness.wait_for(lambda: len(self.server.pings("/active.htm")) > activity, timeout=60))
        query = self.server.pings("/active.htm")[-1]["query"]
        self.assertIn("&updfrozen=%d" % (FREEZE_DAYS + 6), query)

    def test_04_downloads_other_than_the_signed_file_are_refused(self):
        def other_file(download):
            # The signed size, but not the signed bytes: one byte changed in
            # the middle of the launcher.
            with open(download, "r+b") as f:
                f.seek(os.path.getsize(download) // 2)
                byte = f.read(1)
                f.seek(-1, os.SEEK_CUR)
                f.write(bytes([byte[0] ^ 0xFF]))

        def longer(download):
            with open(download, "ab") as f:
                f.write(b"\0" * 4096)

        def trickling(download):
            self.server.fault("/update/" + os.path.basename(download), "trickle")

        cases = [
            ("another file", other_file, "does not match the signed SHA-256", False),
            ("longer than signed", longer, "declared length is not the signed size", False),
            ("a trickle", trickling, "made no progress for too long", True),
        ]
        for name, prepare, reason, partial_kept in cases:
            with self.subTest(name):
                prepare(self.publish(SIGNED_NEXT))
                try:
                    self.assert_refused(reason, config_taken=True, partial_kept=partial_kept)
                finally:
                    self.server.clear_faults()

    def test_05_published_release_is_taken(self):
        self.publish(SIGNED_NEXT)
        pings = self.update_pings()
        logged = self.run_to_the_game()
        self.assertEqual([], logged)
        self.assertEqual(md5_file(SIGNED_NEXT), md5_file(self.installed))
        self.assertEqual(pings + 1, self.update_pings())
        self.assertEqual(int(self.config_value("Serial")), self.channel_value("Serial"))
        # Taken once: the new launcher finds its own release published and goes on.
        self.assertEqual([], self.run_to_the_game())
        self.assertEqual(pings + 1, self.update_pings())

    def test_06_replayed_configurations_are_refused(self):
        # The configuration taken above, kept by someone on the path.
        replay = {n: open(os.path.join(self.update_dir, n), "rb").read() for n in (CONFIG, SIGNATURE)}
        # The maker's scheduled re-signing: a higher number, accepted.
        time.sleep(1)  # the publication number is the signing second (made distinct)
        r = subprocess.run([DEV, "resign", self.update_dir, "--key", TEST_KEY], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True, timeout=300, env=dict(os.environ, **PASSPHRASE))
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual([], self.run_to_the_game())
        serial = int(self.config_value("Serial"))
        self.assertEqual(serial, self.channel_value("Serial"))

        resigned = {n: open(os.path.join(self.update_dir, n), "rb").read() for n in (CONFIG, SIGNATURE)}

        def serve(files):
            for name, data in files.items():
                open(os.path.join(self.update_dir, name), "wb").write(data)

        def reused_number():
            serve(resigned)
            self.forge(Expires="2099-01-01T00:00:00Z")

        cases = [
            ("an older configuration, still fresh", lambda: serve(replay), "below one accepted before"),
            ("the same number, other bytes", reused_number, "reuses an accepted publication number"),
        ]
        for name, prepare, reason in cases:
            with self.subTest(name):
                prepare()
                self.assert_refused(reason)

    def test_07_older_or_equal_versions_are_refused(self):
        # 3.0.1.5, signed and fresh, offered to the 3.0.1.10 now installed.
        self.publish(SIGNED, fresh=True)
        self.assert_refused("lower than the running one")
        # Another file of the running version, signed: no swapping back and forth.
        twin = os.path.join(self.work, "twin", "Tavrel_Launcher.exe")
        os.makedirs(os.path.dirname(twin), exist_ok=True)
        with open(SIGNED_NEXT, "rb") as f:
            data = f.read()
        with open(twin, "wb") as f:
            f.write(data + b"\0" * 16)
        self.publish(twin)
        self.assert_refused("another file of the running version")

    def test_08_key_roll_retires_the_stolen_key(self):
        # The maker's steps for a stolen current key (README): sign with the
        # offline backup key a release built with a new current key, naming it
        # and retiring the old one. This player does not update automatically
        # (autoUpd=0), yet the launcher takes the key roll.
        settings = self.prefix.install_folder("GsZuduviz.ini")
        with open(settings, "w") as f:
            f.write("[Update]\r\nautoUpd=0\r\n")
        roll = ["--new-current-key", public_key(ROLLED_KEY), "--retire-key", public_key(TEST_KEY)]
        self.publish(SIGNED_ROLLED, BACKUP_KEY, *roll)
        self.assertEqual([], self.run_to_the_game())
        self.assertEqual(md5_file(SIGNED_NEXT), md5_file(self.installed))
        # The thief's configuration, signed with the retired key that this
        # very launcher was built with: refused.
        self.publish(SIGNED_NEXT, fresh=True)
        self.assert_refused("does not verify")
        # Updates allowed again: the rolled release is taken, and its launcher
        # goes on with the new current key.
        os.remove(settings)
        self.publish(SIGNED_ROLLED, BACKUP_KEY, *roll)
        self.assertEqual([], self.run_to_the_game())
        self.assertEqual(md5_file(SIGNED_ROLLED), md5_file(self.installed))
        self.publish(SIGNED_ROLLED, ROLLED_KEY)
        self.assertEqual([], self.run_to_the_game())
        self.assertEqual(md5_file(SIGNED_ROLLED), md5_file(self.installed))

    def test_09_launcher_without_a_key_takes_what_it_always_took(self):
        shutil.copy(UNSIGNED, self.installed)
        self.publish(UNSIGNED_NEXT, TEST_KEY, "--first-keyed-release", fresh=True)
        os.remove(os.path.join(self.update_dir, SIGNATURE))
        pings = self.update_pings()
        self.assertEqual([], self.run_to_the_game())
        self.assertEqual(md5_file(UNSIGNED_NEXT), md5_file(self.installed))
        self.assertEqual(pings + 1, self.update_pings())


if __name__ == "__main__":
    unittest.main()
