"""The launcher's ZIP reader on archives made by other tools (Info-ZIP zip and
Python's zipfile), through the zipx tool under Wine: listing, extraction with
contents, attributes and times, and the refusals."""
import calendar
import os
import shutil
import stat
import subprocess
import sys
import time
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

MTIME = calendar.timegm((2024, 3, 9, 17, 25, 42))  # even seconds: DOS times agree too
ZIPX = harness.tool_exe("zipx.exe")


def write(path, data, mode=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (MTIME, MTIME))
    if mode is not None:
        os.chmod(path, mode)


class Zipx(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("zipx")
        cls.work = os.path.join(cls.prefix.dir, "work")
        os.makedirs(cls.work)
        # A small game-like tree, zipped by Info-ZIP (Unix attributes, "UT"
        # times, stored .png, deflated rest).
        cls.src = os.path.join(cls.work, "src")
        rnd = os.urandom(70000)
        cls.files = {
            "tavr_online.exe": b"MZ" + b"\x90" * 50000 + rnd[:1000],
            "BugReport.exe": b"MZ" + rnd[:20000],
            "data/maps/zone1.map": b"0123" * 30000,
            "data/textures/ui.png": rnd,
            "data/empty.dat": b"",
            "readonly.txt": b"do not touch",
            "\u4e2d\u6587/\u8bf4\u660e.txt": "说明".encode("utf-8"),
        }
        for name, data in cls.files.items():
            write(os.path.join(cls.src, name), data, 0o444 if name == "readonly.txt" else None)
        for folder in ("data/maps", "data/textures", "data", "\u4e2d\u6587"):
            os.utime(os.path.join(cls.src, folder), (MTIME, MTIME))
        cls.archive = os.path.join(cls.work, "pkg.zip")
        subprocess.run(["zip", "-q", "-r", "-n", ".png", cls.archive, "."], cwd=cls.src, check=True)

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def zipx(self, *args):
        r = self.prefix.run([ZIPX] + [self.prefix.to_windows(a) if os.path.isabs(a) else a for a in args],
                            timeout=120)
        return r.returncode, r.stdout.decode("utf-8", "replace").splitlines()

    def fresh(self, name):
        path = os.path.join(self.work, name)
        if os.path.exists(path):
            for dirpath, _, files in os.walk(path):
                for f in files:
                    os.chmod(os.path.join(dirpath, f), 0o644)
            shutil.rmtree(path)
        return path

    def test_list_matches_the_archive(self):
        code, lines = self.zipx("list", self.archive)
        self.assertEqual(0, code, lines)
        with zipfile.ZipFile(self.archive) as z:
            infos = z.infolist()
        self.assertEqual(len(infos), len(lines))
        for i, (info, line) in enumerate(zip(infos, lines)):
            index, attributes, csize, usize, when, name = line.split("\t")
            self.assertEqual(str(i), index)
            # zipfile reads names without the UTF-8 flag as code page 437;
            # the reader takes any name that is valid UTF-8 as UTF-8.
            raw = info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
            self.assertEqual(raw.decode("utf-8"), name)
            self.assertEqual(info.compress_size, int(csize))
            self.assertEqual(info.file_size, int(usize))
            self.assertEqual(time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(MTIME)), when, name)
            expected = 0x30 if info.is_dir() else 0x21 if name == "readonly.txt" else 0x20
            self.assertEqual(expected, int(attributes, 16), name)

    def test_extract_gives_files_attributes_and_times(self):
        out = self.fresh("out")
        code, lines = self.zipx("extract", self.archive, out)
        self.assertEqual(0, code, lines)
        self.assertEqual(["result 0x0"], lines)
        for name, data in self.files.items():
            path = os.path.join(out, name)
            with open(path, "rb") as f:
                self.assertEqual(data, f.read(), name)
            self.assertEqual(MTIME, int(os.stat(path).st_mtime), name)
        # Read-only on Windows is a file without write permission under Wine.
        self.assertFalse(os.stat(os.path.join(out, "readonly.txt")).st_mode & stat.S_IWUSR)
        self.assertTrue(os.stat(os.path.join(out, "tavr_online.exe")).st_mode & stat.S_IWUSR)

        # A second extraction over the first stops at the read-only file.
        code, lines = self.zipx("extract", self.archive, out)
        self.assertEqual(1, code)
        self.assertRegex(lines[-1], r"^result 0x200 entry \d+ readonly\.txt$")

    def test_archive_behind_other_data(self):
        bundled = os.path.join(self.work, "bundled.exe")
        with open(bundled, "wb") as f:
            f.write(b"MZ" + os.urandom(100000))
            with open(self.archive, "rb") as z:
                f.write(z.read())
        out = self.fresh("bundled-out")
        code, lines = self.zipx("extract", bundled, out)
        self.assertEqual((0, ["result 0x0"]), (code, lines))
        with open(os.path.join(out, "data", "maps", "zone1.map"), "rb") as f:
            self.assertEqual(self.files["data/maps/zone1.map"], f.read())

    def test_refusals(self):
        enc = os.path.join(self.work, "enc.zip")
        subprocess.run(["zip", "-q", "-P", "secret", enc, "BugReport.exe"], cwd=self.src, check=True)
        evil = os.path.join(self.work, "evil.zip")
        with zipfile.ZipFile(evil, "w") as z:
            z.writestr("ok.txt", b"fine")
            z.writestr("../evil.txt", b"outside")
        not_zip = os.path.join(self.work, "not.zip")
        with open(not_zip, "wb") as f:
            f.write(b"just text " * 100)
        cases = [
            # The wrong (empty) password fails at the check byte, or, when
            # Info-ZIP's random header happens to match it (1 in 256), at the
            # data.
            ("encrypted", enc, r"^result 0x(1000|5000000) entry 0 BugReport\.exe$"),
            ("traversal", evil, r"^result 0x700 entry 1 $"),
            ("not an archive", not_zip, r"^result open failed"),
        ]
        for what, archive, pattern in cases:
            out = self.fresh("refused-" + what.replace(" ", "-"))
            code, lines = self.zipx("extract", archive, out)
            self.assertEqual(1, code, what)
            self.assertRegex(lines[-1], pattern, what)
        self.assertFalse(os.path.exists(os.path.join(self.work, "evil.txt")))
        self.assertTrue(os.path.exists(os.path.join(self.work, "refused-traversal", "ok.txt")))

        code, lines = self.zipx("list", evil)
        self.assertEqual(1, code)
        self.assertEqual("1\tresult 0x700", lines[1])


if __name__ == "__main__":
    unittest.main()
