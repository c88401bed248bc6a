#!/usr/bin/python3
"""The maker's publishing tool (tools/publish/orlix_publish.py) on the
launchers of the Windows test build: what `keygen`, `publish` and `resign`
write, and what they refuse to write.

Usage: test_publish.py   (ORLIX_ROOT and ORLIX_BUILD_WIN default to this checkout)
"""
import datetime
import hashlib
import os
import stat
import subprocess
import sys
import tempfile
import unittest

ROOT = os.environ.get("ORLIX_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD_WIN = os.environ.get("ORLIX_BUILD_WIN") or os.path.join(ROOT, "build", "x86_64")
TOOL = os.path.join(ROOT, "tools", "publish", "orlix_publish.py")
LAUNCHER = os.path.join(BUILD_WIN, "Tavrel_Launcher.exe")                  # 3.0.1.5, no key
SIGNED = os.path.join(BUILD_WIN, "signed", "Tavrel_Launcher.exe")          # 3.0.1.5, test key
NEXT = os.path.join(BUILD_WIN, "signed_next", "Tavrel_Launcher.exe")       # 3.0.1.10, test key
ROLLED = os.path.join(BUILD_WIN, "signed_rolled", "Tavrel_Launcher.exe")   # 3.0.1.11, rolled key
TEST_KEY = os.path.join(BUILD_WIN, "testkey", "update_test_key.pem")
BACKUP_KEY = os.path.join(BUILD_WIN, "testkey", "update_backup_key.pem")
ROLLED_KEY = os.path.join(BUILD_WIN, "testkey", "update_rolled_key.pem")
NO_VERSION = os.path.join(BUILD_WIN, "testtools", "emit_bytes.exe")
PASSPHRASE = "a maker's passphrase"

sys.path.insert(0, os.path.dirname(TOOL))
import orlix_publish  # noqa: E402
from cryptography.hazmat.primitives import hashes, serialization  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import ec, rsa  # noqa: E402


def run_tool(*args, passphrase=PASSPHRASE):
    env = dict(os.environ)
    env.pop("ORLIX_KEY_PASSPHRASE", None)
    if passphrase is not None:
        env["ORLIX_KEY_PASSPHRASE"] = passphrase
    return subprocess.run(["/usr/bin/python3", TOOL] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, text=True, timeout=120, env=env)


def key_text(path):
    return orlix_publish.public_key_text(orlix_publish.load_private_key(path).public_key())


class PublishTool(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="orlix-publish-")
        self.dir = self.tmp.name
        self.key = os.path.join(self.dir, "maker.pem")
        r = run_tool("keygen", self.key)
        self.assertEqual(0, r.returncode, r.stderr)
        self.keygen_output = r.stdout

    def tearDown(self):
        self.tmp.cleanup()

    def test_keygen_encrypts_prints_the_build_setting_and_never_overwrites(self):
        with open(self.key, "rb") as f:
            pem = f.read()
        self.assertIn(b"ENCRYPTED", pem)
        with self.assertRaises(TypeError):
            serialization.load_pem_private_key(pem, password=None)
        private = serialization.load_pem_private_key(pem, password=PASSPHRASE.encode())
        self.assertEqual("secp256r1", private.curve.name)
        self.assertEqual(0o600, stat.S_IMODE(os.stat(self.key).st_mode))
        point = private.public_key().public_bytes(serialization.Encoding.X962,
                                                  serialization.PublicFormat.UncompressedPoint)
        self.assertIn("LAUNCHER_UPDATE_PUBLIC_KEY=%s\n" % point.hex(), self.keygen_output)
        self.assertEqual(130, len(point.hex()))
        self.assertEqual(point.hex() + "\n", run_tool("pubkey", self.key).stdout)

        again = run_tool("keygen", self.key)
        self.assertNotEqual(0, again.returncode)
        self.assertIn("never overwritten", again.stderr)
        with open(self.key, "rb") as f:
            self.assertEqual(pem, f.read())
        # Without a passphrase (no terminal, no variable) or with a wrong one: nothing.
        for passphrase, message in ((None, "no passphrase"), ("wrong", "wrong passphrase")):
            r = run_tool("pubkey", self.key, passphrase=passphrase)
            self.assertEqual(1, r.returncode)
            self.assertIn(message, r.stderr)
        self.assertIn("at least 8", run_tool("keygen", self.key + "2", passphrase="short").stderr)

    def test_publish_writes_a_signed_configuration_of_the_launcher(self):
        out = os.path.join(self.dir, "release")
        now = datetime.datetime(2030, 1, 31, 12, 0, 0, tzinfo=datetime.timezone.utc)
        private = orlix_publish.load_private_key(TEST_KEY)
        done = orlix_publish.publish(NEXT, TEST_KEY, out, "http://cdn.orlixgame.test/launcher/", 5, now=now,
                                     channel="release")
        data = open(NEXT, "rb").read()
        md5 = hashlib.md5(data).hexdigest()
        self.assertEqual("3.0.1.10", done["version"])
        self.assertEqual(["ConfigTavrel.htm", "ConfigTavrel.htm.sig", "Tavrel_Launcher_3.0.1.10.exe"],
                         sorted(os.listdir(out)))
        self.assertEqual(data, open(os.path.join(out, "Tavrel_Launcher_3.0.1.10.exe"), "rb").read())
        config = open(os.path.join(out, "ConfigTavrel.htm"), "rb").read()
        self.assertEqual(("[VerKey]\r\n"
                          "Tavrel=%s30110\r\n"
                          "UpdAddr=http://cdn.orlixgame.test/launcher/Tavrel_Launcher_3.0.1.10.exe\r\n"
                          "Version=3.0.1.10\r\n"
                          "Sha256=%s\r\n"
                          "Expires=2030-02-05T12:00:00Z\r\n"
                          "Serial=%d\r\n"
                          "Product=Tavrel\r\n"
                          "Channel=release\r\n"
                          "Size=%d\r\n" % (md5[:27], hashlib.sha256(data).hexdigest(), int(now.timestamp()),
                                           len(data))).encode(), config)
        # The signature is DER over the exact bytes, with the launcher's key.
        signature = open(os.path.join(out, "ConfigTavrel.htm.sig"), "rb").read()
        private.public_key().verify(signature, config, ec.ECDSA(hashes.SHA256()))

        # Re-signed in the same second: the number still grows; the command
        # line says what it signed.
        r = run_tool("resign", out, "--key", TEST_KEY)
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertIn("published Tavrel 3.0.1.10", r.stdout)
        self.assertIn("Sha256=" + hashlib.sha256(data).hexdigest(), r.stdout)
        later = dict(orlix_publish.read_config(os.path.join(out, "ConfigTavrel.htm")))
        self.assertGreater(int(later["Serial"]), int(now.timestamp()))
        again = orlix_publish.resign(out, TEST_KEY, now=now)
        self.assertEqual(int(later["Serial"]) + 1, again["serial"])
        # Published from the command line, the release's symbols stay with
        # the maker, beside the release: the launcher's own symbol file, filed
        # under its debug identifier.
        out = os.path.join(self.dir, "shipped", "release")
        r = run_tool("publish", NEXT, "--key", TEST_KEY, "--out", out, "--url", "http://cdn.orlixgame.test/launcher/")
        self.assertEqual(0, r.returncode, r.stderr)
        store = os.path.join(self.dir, "shipped", "symbols")
        symbols = [os.path.join(d, n) for d, _, names in os.walk(store) for n in names]
        self.assertEqual(1, len(symbols), symbols)
        self.assertIn("  symbols    %s" % symbols[0], r.stdout)
        with open(symbols[0], encoding="utf-8") as f:
            module = f.readline().split()
        self.assertEqual(["MODULE", "windows"], module[:2])
        self.assertEqual(os.path.join(store, module[4], module[3], "Tavrel_Launcher.sym"), symbols[0])
        self.assertNotIn("symbols", os.listdir(out))

    def test_key_roll_is_signed_with_a_backup_key(self):
        out = os.path.join(self.dir, "roll")
        url = "http://127.0.0.1/update/"
        roll = ["--new-current-key", key_text(ROLLED_KEY), "--retire-key", key_text(TEST_KEY)]
        r = run_tool("publish", ROLLED, "--key", BACKUP_KEY, "--out", out, "--url", url, *roll)
        self.assertEqual(0, r.returncode, r.stderr)
        values = dict(orlix_publish.read_config(os.path.join(out, "ConfigTavrel.htm")))
        self.assertEqual(key_text(ROLLED_KEY), values["CurrentKey"])
        self.assertEqual(key_text(TEST_KEY), values["RetireKeys"])
        # resign keeps the roll.
        self.assertEqual(0, run_tool("resign", out, "--key", BACKUP_KEY).returncode)
        self.assertEqual(key_text(ROLLED_KEY),
                         dict(orlix_publish.read_config(os.path.join(out, "ConfigTavrel.htm")))["CurrentKey"])

    def test_publish_refuses_what_no_launcher_should_take(self):
        text = os.path.join(self.dir, "notes.exe")
        with open(text, "w") as f:
            f.write("not a program")
        # The version strings say 3.0.1.6, the numeric FILEVERSION 3.0.1.5.
        mixed = os.path.join(self.dir, "mixed.exe")
        with open(mixed, "wb") as f:
            f.write(open(SIGNED, "rb").read().replace("3.0.1.5".encode("utf-16-le"), "3.0.1.6".encode("utf-16-le")))
        rsa_key = os.path.join(self.dir, "rsa.pem")
        with open(rsa_key, "wb") as f:
            f.write(rsa.generate_private_key(65537, 2048).private_bytes(
                serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()))
        url = "http://127.0.0.1/update/"
        rolled, current = key_text(ROLLED_KEY), key_text(TEST_KEY)
        cases = [
            ("not a program", [text, "--key", TEST_KEY, "--url", url], "not a Windows program"),
            ("no version resource", [NO_VERSION, "--key", TEST_KEY, "--url", url], "no version resource"),
            ("two versions", [mixed, "--key", TEST_KEY, "--url", url], "differs from FILEVERSION"),
            ("an RSA key", [SIGNED, "--key", rsa_key, "--url", url], "not an ECDSA P-256 private key"),
            ("no key file", [SIGNED, "--key", os.path.join(self.dir, "none.pem"), "--url", url], "cannot read"),
            ("a launcher with another key", [SIGNED, "--key", self.key, "--url", url], "not the signing key"),
            ("a launcher without a key", [LAUNCHER, "--key", TEST_KEY, "--url", url], "carries no update key"),
            ("a roll not signed by a backup key",
             [ROLLED, "--key", TEST_KEY, "--url", url, "--new-current-key", rolled], "not one"),
            ("a roll to a key the launcher lacks",
             [NEXT, "--key", BACKUP_KEY, "--url", url, "--new-current-key", rolled], "not the new current key"),
            ("a roll retiring its signer",
             [ROLLED, "--key", BACKUP_KEY, "--url", url, "--new-current-key", rolled, "--retire-key",
              key_text(BACKUP_KEY)], "cannot retire itself"),
            ("a retirement without a roll", [SIGNED, "--key", TEST_KEY, "--url", url, "--retire-key", current],
             "goes with --new-current-key"),
            ("expiry of zero days", [SIGNED, "--key", TEST_KEY, "--url", url, "--expires", "0"], "1 to 31"),
            ("expired already", [SIGNED, "--key", TEST_KEY, "--url", url, "--expires", "-1"], "1 to 31"),
            ("a long expiry", [SIGNED, "--key", TEST_KEY, "--url", url, "--expires", "90"], "1 to 31"),
            ("another channel's name", [SIGNED, "--key", TEST_KEY, "--url", url, "--channel", "be ta"], "channel"),
            ("https", [SIGNED, "--key", TEST_KEY, "--url", "https://127.0.0.1/update/"], "plain http"),
            ("a blank in the URL", [SIGNED, "--key", TEST_KEY, "--url", "http://127.0.0.1/up date/"], "blanks"),
            ("no file name", [SIGNED, "--key", TEST_KEY, "--url", "http://127.0.0.1"], "file name"),
            ("a URL over 511 characters", [SIGNED, "--key", TEST_KEY, "--url", "http://127.0.0.1/" + "a" * 500 + "/"],
             "longer than 511"),
        ]
        for name, args, message in cases:
            with self.subTest(name):
                out = os.path.join(self.dir, "out-" + name.replace(" ", "-"))
                r = run_tool("publish", *args, "--out", out)
                self.assertEqual(1, r.returncode, r.stdout)
                self.assertIn(message, r.stderr)
                self.assertFalse(os.path.exists(out), "nothing is written")

    def test_versions_follow_the_release_before(self):
        out = os.path.join(self.dir, "release")
        url = "http://127.0.0.1/update/"
        orlix_publish.publish(NEXT, TEST_KEY, out, url)
        # Lower than the release before: refused; 3.0.1.10 -> 3.0.1.5.
        with self.assertRaisesRegex(orlix_publish.PublishError, "lower than 3.0.1.10"):
            orlix_publish.publish(SIGNED, TEST_KEY, out, url)
        # A jump: 3.0.1.10 after 3.0.0.? is fine by one part, but not by 11.
        orlix_publish.check_version_step("3.0.1.0", "3.0.1.10", False)
        with self.assertRaisesRegex(orlix_publish.PublishError, "implausible"):
            orlix_publish.check_version_step("3.0.1.10", "3.0.1.21", False)
        with self.assertRaisesRegex(orlix_publish.PublishError, "implausible"):
            orlix_publish.check_version_step("3.0.1.10", "30.0.1.10", False)
        orlix_publish.check_version_step("3.0.1.10", "30.0.1.10", True)
        orlix_publish.check_version_step("3.0.1.10", "3.1.0.0", False)


if __name__ == "__main__":
    unittest.main()
