#!/usr/bin/python3
"""The README's maker steps ("Publishing a signed update"), followed as
written with ./dev: make the current and the backup key, configure the
release tree (refused without a key), publish, re-sign with the line for a
scheduled job, and roll to a new key after a theft, signed with the backup
key.

Compiling a release tree takes minutes, so after configuring it the test
takes the Windows test build's keyed launchers as the builds: a copy whose
keys record (the text the build carries its keys in) holds the new keys
instead, byte for byte what a build with those settings carries.

Usage: test_maker_steps.py   (ORLIX_ROOT and ORLIX_BUILD_WIN default to this checkout)
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = os.environ.get("ORLIX_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD_WIN = os.environ.get("ORLIX_BUILD_WIN") or os.path.join(ROOT, "build", "x86_64")
DEV = os.path.join(ROOT, "dev")
NEXT = os.path.join(BUILD_WIN, "signed_next", "Tavrel_Launcher.exe")      # 3.0.1.10, current + backup key
ROLLED = os.path.join(BUILD_WIN, "signed_rolled", "Tavrel_Launcher.exe")  # 3.0.1.11, current + backup key

sys.path.insert(0, os.path.join(ROOT, "tools", "publish"))
import orlix_publish  # noqa: E402
from cryptography.hazmat.primitives import hashes  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import ec  # noqa: E402


class MakerSteps(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="orlix-maker-")
        self.dir = self.tmp.name
        self.passfile = os.path.join(self.dir, "orlix-key-pass")
        with open(self.passfile, "w") as f:
            f.write("the maker's own passphrase")
        self.env = dict(os.environ, HOME=self.dir)
        self.env.pop("ORLIX_KEY_PASSPHRASE", None)

    def tearDown(self):
        self.tmp.cleanup()

    def sh(self, line, ok=True):
        """Runs one line of the README in a shell, in the maker's home."""
        r = subprocess.run(["bash", "-c", line], cwd=self.dir, env=self.env, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True, timeout=300)
        if ok:
            self.assertEqual(0, r.returncode, "%s\n%s" % (line, r.stderr))
        return r

    def keygen(self, path):
        out = self.sh('ORLIX_KEY_PASSPHRASE="$(cat ~/orlix-key-pass)" %s keygen %s' % (DEV, path)).stdout
        return re.search(r"^LAUNCHER_UPDATE_PUBLIC_KEY=(04[0-9a-f]{128})$", out, re.M).group(1)

    def build_with(self, launcher, current, backup, name):
        """The stand-in for `./dev build` with these keys (see above)."""
        data = open(launcher, "rb").read()
        found = orlix_publish.launcher_keys(data)
        self.assertIsNotNone(found)
        old = orlix_publish.keys_record(found[0], found[1]).encode("utf-16-le")
        new = orlix_publish.keys_record(current, [backup]).encode("utf-16-le")
        self.assertEqual(1, data.count(old))
        path = os.path.join(self.dir, name, "Tavrel_Launcher.exe")
        os.makedirs(os.path.dirname(path))
        with open(path, "wb") as f:
            f.write(data.replace(old, new))
        return path

    def config(self):
        return dict(orlix_publish.read_config(os.path.join(self.dir, "release", "ConfigTavrel.htm")))

    def assert_signed_by(self, key_text):
        config = open(os.path.join(self.dir, "release", "ConfigTavrel.htm"), "rb").read()
        signature = open(os.path.join(self.dir, "release", "ConfigTavrel.htm.sig"), "rb").read()
        public = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), bytes.fromhex(key_text))
        public.verify(signature, config, ec.ECDSA(hashes.SHA256()))

    def test_the_readme_steps(self):
        # 1. The keys, encrypted with the passphrase.
        current = self.keygen("~/orlix-update-key.pem")
        backup = self.keygen("~/orlix-backup-1.pem")
        self.assertIn(b"ENCRYPTED", open(os.path.join(self.dir, "orlix-update-key.pem"), "rb").read())

        # 2. The release tree configures with the keys, and not without one.
        toolchain = os.path.join(ROOT, "cmake", "toolchain-i686-w64-mingw32.cmake")
        tree = os.path.join(self.dir, "i686")
        configure = "cmake -S %s -B %s -G Ninja -DCMAKE_TOOLCHAIN_FILE=%s -DCMAKE_BUILD_TYPE=Release " \
                    "-DBUILD_TESTING=OFF" % (ROOT, tree, toolchain)
        refused = self.sh(configure, ok=False)
        self.assertNotEqual(0, refused.returncode)
        self.assertIn("needs an update key", refused.stderr)
        self.assertIn("LAUNCHER_UPDATES_UNSIGNED_ACCEPT_ANY_PROGRAM", refused.stderr)
        self.sh(configure + " -DLAUNCHER_UPDATE_PUBLIC_KEY=%s -DLAUNCHER_UPDATE_BACKUP_KEYS=%s" % (current, backup))
        settings = open(os.path.join(tree, "generated", "product", "MakerSettings.h")).read()
        self.assertIn('L"%s"' % orlix_publish.keys_record(current, [backup]), settings)
        launcher = self.build_with(NEXT, current, backup, "build")

        # 3. Publish.
        published = self.sh('ORLIX_KEY_PASSPHRASE="$(cat ~/orlix-key-pass)" %s publish %s --key '
                            '~/orlix-update-key.pem --out release/ --url http://127.0.0.1/update/'
                            % (DEV, launcher)).stdout
        self.assertIn("Version=3.0.1.10", published)
        self.assert_signed_by(current)
        first = int(self.config()["Serial"])

        # 5. The scheduled job's line (without the copy to the server).
        self.sh('ORLIX_KEY_PASSPHRASE="$(cat ~/orlix-key-pass)" %s resign release/ --key ~/orlix-update-key.pem'
                % DEV)
        self.assertGreater(int(self.config()["Serial"]), first)
        self.assert_signed_by(current)

        # The current key is stolen: a new key, a release built with it, signed
        # with the backup key, naming the new key and retiring the stolen one.
        self.keygen("~/orlix-update-key-2.pem")
        new = self.sh('ORLIX_KEY_PASSPHRASE="$(cat ~/orlix-key-pass)" %s pubkey ~/orlix-update-key-2.pem'
                      % DEV).stdout.strip()
        rolled = self.build_with(ROLLED, new, backup, "build-2")
        self.sh('export ORLIX_KEY_PASSPHRASE="$(cat ~/orlix-key-pass)"; %s publish %s --key ~/orlix-backup-1.pem '
                '--out release/ --url http://127.0.0.1/update/ --new-current-key "$(%s pubkey '
                '~/orlix-update-key-2.pem)" --retire-key %s' % (DEV, rolled, DEV, current))
        values = self.config()
        self.assertEqual(new, values["CurrentKey"])
        self.assertEqual(current, values["RetireKeys"])
        self.assert_signed_by(backup)
        # From then on the new key signs; the stolen one no longer publishes it.
        thief = self.sh('ORLIX_KEY_PASSPHRASE="$(cat ~/orlix-key-pass)" %s publish %s --key ~/orlix-update-key.pem '
                        '--out release/ --url http://127.0.0.1/update/' % (DEV, rolled), ok=False)
        self.assertEqual(1, thief.returncode)
        self.assertIn("not the signing key", thief.stderr)


if __name__ == "__main__":
    unittest.main()
