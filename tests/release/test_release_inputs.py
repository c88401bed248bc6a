"""./dev release as a maker runs it, with inputs it must refuse: each gives
one line on stderr naming the offender, and nothing is written (no upload
folder, no package, no build). And the package it packs: the same folder
gives the same bytes, with every folder (empty ones too) and nothing else.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.environ.get("ORLIX_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD_WIN = os.environ.get("ORLIX_BUILD_WIN") or os.path.join(ROOT, "build", "x86_64")
DEV = os.path.join(ROOT, "dev")
sys.path.insert(0, os.path.join(ROOT, "tools", "release"))
import orlix_release  # noqa: E402

EXAMPLE = os.path.join(ROOT, "tools", "release", "maker-settings.example")
OLD_LAUNCHER = os.path.join(BUILD_WIN, "Tavrel_Launcher.exe")  # 3.0.1.5
KEY_TEXT = None
OTHER_KEY_TEXT = None


def write(path, data=b"x"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def settings_text(**changes):
    values = {"server_host": "tj.orlixgame.com", "probe_url": "http://www.baidu.com/",
              "allowed_domains": "orlixgame.com orlix.cn orlixcdn.com", "help_host": "bbs.orlixgame.com",
              "update_key": KEY_TEXT}
    values.update(changes)
    return "".join("%s = %s\n" % (k, v) for k, v in values.items() if v is not None)


def tree_state(path):
    """Every path under |path| with its size and modification time."""
    state = {}
    for folder, dirs, files in os.walk(path):
        for name in dirs + files:
            p = os.path.join(folder, name)
            st = os.lstat(p)
            state[p] = (st.st_size, st.st_mtime_ns)
    return state


class ReleaseInputs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        global KEY_TEXT, OTHER_KEY_TEXT
        cls.work = tempfile.mkdtemp(prefix="release_inputs.")
        cls.key = os.path.join(cls.work, "key.pem")
        # The maker's keys are encrypted; a scheduled job gives the passphrase
        # in the environment, as every command below inherits it.
        os.environ["ORLIX_KEY_PASSPHRASE"] = "release inputs passphrase"
        r = subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "tools", "publish", "orlix_publish.py"),
                            "keygen", cls.key], stdout=subprocess.PIPE, text=True, check=True)
        KEY_TEXT = r.stdout.split("LAUNCHER_UPDATE_PUBLIC_KEY=", 1)[1].strip()
        other = subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "tools", "publish", "orlix_publish.py"),
                                "keygen", os.path.join(cls.work, "other.pem")], stdout=subprocess.PIPE, text=True,
                               check=True)
        OTHER_KEY_TEXT = other.stdout.split("LAUNCHER_UPDATE_PUBLIC_KEY=", 1)[1].strip()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def game_folder(self, name):
        game = os.path.join(self.work, name)
        shutil.rmtree(game, ignore_errors=True)
        write(os.path.join(game, "tavr_online.exe"), b"MZgame")
        write(os.path.join(game, "BugReport.exe"), b"MZuploader")
        write(os.path.join(game, "data", "maps", "a.map"), b"map")
        os.makedirs(os.path.join(game, "logs"))
        return game

    def release(self, game, settings, version="3.0.2.0", previous=()):
        """Runs ./dev release into a fresh parent folder; returns (code,
        stderr lines, what the parent holds afterwards)."""
        parent = tempfile.mkdtemp(dir=self.work)
        settings_file = os.path.join(self.work, "settings.txt")
        with open(settings_file, "w", encoding="utf-8") as f:
            f.write(settings)
        command = [DEV, "release", "--game", game, "--version", version, "--settings", settings_file,
                   "--key", self.key, "--out", os.path.join(parent, "out")]
        for old in previous:
            command += ["--previous", old]
        r = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=600)
        lines = [line for line in r.stderr.splitlines() if line.strip()]
        return r.returncode, lines, os.listdir(parent)

    def test_bad_inputs_give_one_line_and_write_nothing(self):
        def missing_program(game):
            os.remove(os.path.join(game, "BugReport.exe"))

        def name(bad):
            return lambda game: write(os.path.join(game, "data", bad))

        def long_name(game):
            write(os.path.join(game, "data", "d" * 120, "f" * 80 + ".txt"))

        def case_twins(game):
            write(os.path.join(game, "data", "Readme.txt"))
            write(os.path.join(game, "data", "README.TXT"))

        def link(game):
            os.symlink("/etc/passwd", os.path.join(game, "data", "passwd"))

        key = KEY_TEXT
        cases = [
            # (what, change to the folder, settings, version, previous, words of the one line)
            ("missing uploader", missing_program, {}, "3.0.2.0", (), ["BugReport.exe", "missing"]),
            ("device name", name("con.txt"), {}, "3.0.2.0", (), ["con.txt", "device name"]),
            ("colon", name("a:b.txt"), {}, "3.0.2.0", (), ["a:b.txt", "does not allow"]),
            ("backslash", name("a\\b.txt"), {}, "3.0.2.0", (), ["a\\b.txt", "does not allow"]),
            ("trailing dot", name("notes."), {}, "3.0.2.0", (), ["notes.", "dot or blank"]),
            ("path too long", long_name, {}, "3.0.2.0", (), ["f" * 80 + ".txt", "too long"]),
            ("case twins", case_twins, {}, "3.0.2.0", (), ["Readme.txt", "README.TXT", "case"]),
            ("symbolic link", link, {}, "3.0.2.0", (), ["passwd", "symbolic link"]),
            ("host with scheme", None, {"server_host": "http://tj.orlixgame.com"}, "3.0.2.0", (),
             ["server_host", "http://tj.orlixgame.com", "not a host"]),
            ("host with a path", None, {"help_host": "bbs.orlixgame.com/help"}, "3.0.2.0", (),
             ["help_host", "not a host"]),
            ("probe not http", None, {"probe_url": "https://www.baidu.com/"}, "3.0.2.0", (),
             ["probe_url", "not a plain http://"]),
            ("wildcard domain", None, {"allowed_domains": "*"}, "3.0.2.0", (), ["allowed_domains", "'*'"]),
            ("top-level domain", None, {"allowed_domains": "com"}, "3.0.2.0", (),
             ["allowed_domains", "'com'", "every host"]),
            ("server not allowed", None, {"allowed_domains": "orlix.cn"}, "3.0.2.0", (),
             ["allowed_domains", "tj.orlixgame.com"]),
            ("missing key", None, {"update_key": None}, "3.0.2.0", (), ["update_key", "missing"]),
            ("short key", None, {"update_key": key[:-2]}, "3.0.2.0", (), ["update_key", "not a public key"]),
            ("not a point", None, {"update_key": "04" + "1" * 128}, "3.0.2.0", (), ["update_key", "P-256"]),
            ("backup is the update key", None, {"backup_keys": key}, "3.0.2.0", (), ["backup_keys", "update_key"]),
            ("key not the launcher's", None, {"update_key": OTHER_KEY_TEXT}, "3.0.2.0", (),
             ["--key", "neither the settings' update_key nor a backup key"]),
            ("unknown setting", None, {"server": "x"}, "3.0.2.0", (), ["unknown setting", "'server'"]),
            ("malformed version", None, {}, "3.0.2", (), ["--version", "'3.0.2'"]),
            ("version too large", None, {}, "3.0.70000.0", (), ["--version", "'3.0.70000.0'"]),
            ("version equal to previous", None, {}, "3.0.1.5", (OLD_LAUNCHER,),
             ["--version 3.0.1.5", "not above 3.0.1.5", "Tavrel_Launcher.exe"]),
            ("version below previous", None, {}, "2.9.9.9", (OLD_LAUNCHER,), ["not above 3.0.1.5"]),
        ]
        build_before = tree_state(os.path.join(ROOT, "build", "release-i686"))
        for what, change, settings, version, previous, words in cases:
            with self.subTest(what):
                game = self.game_folder("game")
                if change:
                    change(game)
                code, lines, left = self.release(game, settings_text(**settings), version, previous)
                self.assertEqual(1, code, lines)
                self.assertEqual(1, len(lines), lines)
                self.assertTrue(lines[0].startswith("./dev release: "), lines)
                for word in words:
                    self.assertIn(word, lines[0])
                self.assertEqual([], left)
        with self.subTest("upload folder inside the game folder"):
            game = self.game_folder("game")
            with open(os.path.join(self.work, "settings.txt"), "w", encoding="utf-8") as f:
                f.write(settings_text())
            r = subprocess.run([DEV, "release", "--game", game, "--version", "3.0.2.0", "--settings",
                                os.path.join(self.work, "settings.txt"), "--key", self.key,
                                "--out", os.path.join(game, "release")],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=600)
            self.assertEqual(1, r.returncode)
            self.assertRegex(r.stderr.strip(), r"^\./dev release: --out \S+/game/release: inside --game")
            self.assertFalse(os.path.exists(os.path.join(game, "release")))
        self.assertEqual(build_before, tree_state(os.path.join(ROOT, "build", "release-i686")))

    def test_example_settings_read_once_a_key_is_added(self):
        with open(EXAMPLE, encoding="utf-8") as f:
            example = f.read()
        path = os.path.join(self.work, "example.txt")
        with open(path, "w", encoding="utf-8") as f:
            f.write(example)
        with self.assertRaisesRegex(orlix_release.ReleaseError, "update_key: missing"):
            orlix_release.read_settings(path)
        with open(path, "w", encoding="utf-8") as f:
            f.write(example.replace("update_key =", "update_key = " + KEY_TEXT))
        settings = orlix_release.read_settings(path)
        # The defaults of cmake/MakerSettings.cmake.
        self.assertEqual("tj.orlixgame.com", settings["server_host"])
        self.assertEqual("http://www.baidu.com/", settings["probe_url"])
        self.assertEqual(["orlixgame.com", "orlix.cn", "orlixcdn.com"], settings["allowed_domains"])
        self.assertEqual("bbs.orlixgame.com", settings["help_host"])
        self.assertEqual(KEY_TEXT, settings["update_key"])

    def test_same_folder_gives_the_same_bytes_with_every_folder(self):
        game = self.game_folder("game_pack")
        write(os.path.join(game, "数据", "说明.txt"), "中文".encode("utf-8"))
        packages = []
        for n, mode in enumerate((0o644, 0o755)):
            # Another time stamp and mode each round: neither may show.
            for folder, _, files in os.walk(game):
                for name in files:
                    os.chmod(os.path.join(folder, name), mode)
                    os.utime(os.path.join(folder, name), (1e9 + n * 1e6, 1e9 + n * 1e6))
            out = os.path.join(self.work, "package%d.zip" % n)
            orlix_release.write_package(orlix_release.scan_game_folder(game), out)
            with open(out, "rb") as f:
                packages.append(f.read())
        self.assertEqual(packages[0], packages[1])
        with zipfile.ZipFile(os.path.join(self.work, "package0.zip")) as z:
            names = z.namelist()
            self.assertEqual(b"map", z.read("data/maps/a.map"))
        self.assertEqual(["BugReport.exe", "data/", "data/maps/", "data/maps/a.map", "logs/",
                          "tavr_online.exe", "数据/", "数据/说明.txt"], names)


if __name__ == "__main__":
    unittest.main()
