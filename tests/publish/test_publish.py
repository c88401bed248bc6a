#!/usr/bin/python3
"""The maker's publishing tool (tools/publish/orlix_publish.py) on the
launchers of the x86_64 build: what `keygen` and `publish` write, and what
they refuse to write.

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
LAUNCHER = os.path.join(BUILD_WIN, "Tavrel_Launcher.exe")
NEXT = os.path.join(BUILD_WIN, "next", "Tavrel_Launcher.exe")
NO_VERSION = os.path.join(BUILD_WIN, "testtools", "emit_bytes.exe")

sys.path.insert(0, os.path.dirname(TOOL))
import orlix_publish  # noqa: E402
from cryptography.hazmat.primitives import hashes, serialization  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import ec, rsa  # noqa: E402


def run_tool(*args):
    return subprocess.run(["/usr/bin/python3", TOOL] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, timeout=120)


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

    def test_keygen_prints_the_build_setting_and_never_overwrites(self):
        with open(self.key, "rb") as f:
            pem = f.read()
        private = serialization.load_pem_private_key(pem, password=None)
        self.assertEqual("secp256r1", private.curve.name)
        self.assertEqual(0o600, stat.S_IMODE(os.stat(self.key).st_mode))
        point = private.public_key().public_bytes(serialization.Encoding.X962,
                                                  serialization.PublicFormat.UncompressedPoint)
        self.assertIn("LAUNCHER_UPDATE_PUBLIC_KEY=%s\n" % point.hex(), self.keygen_output)
        self.assertEqual(130, len(point.hex()))

        again = run_tool("keygen", self.key)
        self.assertNotEqual(0, again.returncode)
        self.assertIn("never overwritten", again.stderr)
        with open(self.key, "rb") as f:
            self.assertEqual(pem, f.read())

    def test_publish_writes_a_signed_configuration_of_the_launcher(self):
        out = os.path.join(self.dir, "release")
        now = datetime.datetime(2030, 1, 31, 12, 0, 0, tzinfo=datetime.timezone.utc)
        done = orlix_publish.publish(NEXT, self.key, out, "http://cdn.orlixgame.test/launcher/", 45, now=now)
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
                          "Expires=2030-03-17T12:00:00Z\r\n" % (md5[:27], hashlib.sha256(data).hexdigest())).encode(),
                         config)
        # The signature is DER over the exact bytes, with the key keygen printed.
        public = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), bytes.fromhex(done["public_key"]))
        self.assertIn(done["public_key"], self.keygen_output)
        signature = open(os.path.join(out, "ConfigTavrel.htm.sig"), "rb").read()
        public.verify(signature, config, ec.ECDSA(hashes.SHA256()))

        # A full file URL keeps its own name; the command line says what it did.
        r = run_tool("publish", LAUNCHER, "--key", self.key, "--out", out,
                     "--url", "http://127.0.0.1:8080/update/Tavrel_Launcher.exe")
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertIn("published Tavrel 3.0.1.5", r.stdout)
        self.assertTrue(os.path.exists(os.path.join(out, "Tavrel_Launcher.exe")))
        self.assertIn(b"Tavrel=%s3015\r\n" % hashlib.md5(open(LAUNCHER, "rb").read()).hexdigest()[:28].encode(),
                      open(os.path.join(out, "ConfigTavrel.htm"), "rb").read())
        # The release's symbols stay with the maker, beside the release: the
        # launcher's own symbol file, filed under its debug identifier.
        store = os.path.join(self.dir, "symbols")
        symbols = [os.path.join(d, n) for d, _, names in os.walk(store) for n in names]
        self.assertEqual(1, len(symbols), symbols)
        self.assertIn("  symbols    %s" % symbols[0], r.stdout)
        with open(symbols[0], encoding="utf-8") as f:
            module = f.readline().split()
        self.assertEqual(["MODULE", "windows"], module[:2])
        self.assertEqual(os.path.join(store, module[4], module[3], "Tavrel_Launcher.sym"), symbols[0])
        self.assertNotIn("symbols", os.listdir(out))

    def test_publish_refuses_what_no_launcher_could_take(self):
        text = os.path.join(self.dir, "notes.exe")
        with open(text, "w") as f:
            f.write("not a program")
        # The version strings say 3.0.1.6, the numeric FILEVERSION 3.0.1.5.
        mixed = os.path.join(self.dir, "mixed.exe")
        with open(mixed, "wb") as f:
            f.write(open(LAUNCHER, "rb").read().replace("3.0.1.5".encode("utf-16-le"), "3.0.1.6".encode("utf-16-le")))
        rsa_key = os.path.join(self.dir, "rsa.pem")
        with open(rsa_key, "wb") as f:
            f.write(rsa.generate_private_key(65537, 2048).private_bytes(
                serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()))
        url = "http://127.0.0.1/update/"
        cases = [
            ("not a program", [text, "--key", self.key, "--url", url], "not a Windows program"),
            ("no version resource", [NO_VERSION, "--key", self.key, "--url", url], "no version resource"),
            ("two versions", [mixed, "--key", self.key, "--url", url], "differs from FILEVERSION"),
            ("an RSA key", [LAUNCHER, "--key", rsa_key, "--url", url], "not an ECDSA P-256 private key"),
            ("no key file", [LAUNCHER, "--key", os.path.join(self.dir, "none.pem"), "--url", url], "cannot read"),
            ("https", [LAUNCHER, "--key", self.key, "--url", "https://127.0.0.1/update/"], "plain http"),
            ("a blank in the URL", [LAUNCHER, "--key", self.key, "--url", "http://127.0.0.1/up date/"], "blanks"),
            ("no file name", [LAUNCHER, "--key", self.key, "--url", "http://127.0.0.1"], "file name"),
            ("a URL over 511 characters", [LAUNCHER, "--key", self.key, "--url", "http://127.0.0.1/" + "a" * 500 + "/"],
             "longer than 511"),
        ]
        for name, args, message in cases:
            with self.subTest(name):
                out = os.path.join(self.dir, "out-" + name.replace(" ", "-"))
                r = run_tool("publish", *args, "--out", out)
                self.assertEqual(1, r.returncode, r.stdout)
                self.assertIn(message, r.stderr)
                self.assertFalse(os.path.exists(out), "nothing is written")


if __name__ == "__main__":
    unittest.main()
