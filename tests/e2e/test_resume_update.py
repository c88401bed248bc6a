"""A launcher update on a line that breaks, end to end under Wine: the
download keeps what it received, and the next start asks only for the rest
(a range request under the validator the server gave). Against the local
server, whose faults cut the body at a chosen byte, refuse ranges or answer
a range from the wrong byte (test_resume_nginx.py plays the same against
Debian's nginx). Every case ends with exactly the published launcher installed, or
with a refusal that leaves the old one.

One Wine prefix carries the cases in order; each case puts the old
launcher back and publishes the next one (3.0.1.10) anew.
"""
import glob
import hashlib
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402
import static_server  # noqa: E402

OWN_VERSION = "3.0.1.5"
NEXT_VERSION = "3.0.1.10"
NEXT_LAUNCHER = os.path.join(harness.BUILD_WIN, "next", "Tavrel_Launcher.exe")
DOWNLOAD_PATH = "/files/Tavrel_Launcher.exe"
PATIENCE = 300


def read(path):
    with open(path, "rb") as f:
        return f.read()


def md5(data):
    return hashlib.md5(data).hexdigest()


class ResumeBase(unittest.TestCase):
    """The prefix, the server and the helpers; the cases are in the subclasses."""
    PREFIX = None

    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix(cls.PREFIX)
        cls.server = harness.LocalServer(os.path.join(cls.prefix.dir, "server"))
        cls.launcher = read(harness.launcher_exe())
        cls.next_launcher = read(NEXT_LAUNCHER)
        cls.size = len(cls.next_launcher)
        cls.installed = cls.prefix.install_folder("Tavrel_Launcher.exe")
        cls.kept = cls.prefix.install_folder("NewTavrel.exe")
        cls.record = cls.prefix.install_folder("NewTavrel.exe.resume")
        cls.game_log = cls.prefix.install_folder("tavr_online.log")
        cls.nginx = None
        cls.link = None
        # Installed by a first run from the Downloads folder, nothing offered.
        cls.publish_config(harness.version_key(cls.launcher, OWN_VERSION), cls.server.url(DOWNLOAD_PATH))
        downloads = cls.prefix.user_dir("Downloads")
        os.makedirs(downloads, exist_ok=True)
        first = os.path.join(downloads, "Tavrel_Launcher.exe")
        shutil.copy(harness.launcher_exe(), first)
        cls.prefix.run([first], timeout=240, cwd=downloads)
        if not harness.wait_for(lambda: os.path.exists(cls.game_log), timeout=240):
            raise AssertionError("the first run did not start the game")
        cls.stop_game()

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()
        cls.server.stop()
        if cls.link:
            cls.link.close()
        if cls.nginx:
            cls.nginx.stop()

    def setUp(self):
        self.server.clear_faults()
        self.log_before = self.update_log()
        # The old launcher again, and nothing kept from an earlier case.
        self.stop_game()
        self.assertTrue(self.prefix.wait_idle(120))
        shutil.copy(harness.launcher_exe(), self.installed)
        for leftover in (self.kept, self.record):
            if os.path.exists(leftover):
                os.remove(leftover)

    def tearDown(self):
        self.server.clear_faults()
        self.stop_game()

    # ---- helpers -----------------------------------------------------------
    @classmethod
    def publish_config(cls, key, address):
        harness.publish_config(cls.server, key, address)

    def publish_next(self, address=None, data=None):
        self.server.put_file(DOWNLOAD_PATH.lstrip("/"), data or self.next_launcher)
        self.publish_config(harness.version_key(self.next_launcher, NEXT_VERSION), address or self.server.url(DOWNLOAD_PATH))

    def game_starts(self):
        return len(harness.game_starts(self.prefix))

    @classmethod
    def stop_game(cls):
        harness.stop_game(cls.prefix)

    def start(self):
        before = self.game_starts()
        self.prefix.run([self.installed, "/TavrelD"], timeout=PATIENCE, cwd=self.prefix.install_folder())
        return before

    def run_breaks_at(self, size):
        """One start whose download breaks: no game, the old launcher stays,
        and |size| bytes are kept with their record."""
        before = self.start()
        self.assertTrue(self.prefix.wait_idle(timeout=60), self.prefix.user_processes())
        self.assertEqual(before, self.game_starts())
        self.assertEqual(md5(self.launcher), md5(read(self.installed)))
        self.assertEqual(size, os.path.getsize(self.kept))
        self.assertTrue(os.path.exists(self.record))
        self.assertEqual(self.next_launcher[:size], read(self.kept))

    def run_takes_the_update(self):
        before = self.start()
        self.assertTrue(harness.wait_for(lambda: self.game_starts() > before, timeout=PATIENCE),
                        "the game did not start; update log: %s" % self.added_log())
        self.assertEqual(md5(self.next_launcher), md5(read(self.installed)))
        for leftover in (self.kept, self.record):
            self.assertFalse(os.path.exists(leftover), leftover)

    def update_log(self):
        paths = glob.glob(self.prefix.install_folder("Dump_*_Tavrel_update.log"))
        return "".join(read(p).decode("latin-1") for p in sorted(paths))

    def added_log(self):
        return self.update_log()[len(self.log_before):]

    def ranges_asked(self, path=DOWNLOAD_PATH):
        """The Range fields of the local server's requests for |path|, in order ("" for none)."""
        return [r["headers"].get("Range", "") for r in self.server.requests(path)]

    def start_nginx(self):
        cls = type(self)
        if cls.nginx is None:
            root = os.path.join(self.prefix.dir, "nginx_root")
            os.makedirs(root, exist_ok=True)
            cls.nginx = static_server.Nginx(root, harness.unused_port(), os.path.join(self.prefix.dir, "nginx"))
            cls.link = static_server.CuttingLink(cls.nginx.port, harness.unused_port())
        return cls.nginx


class ResumeUpdate(ResumeBase):
    PREFIX = "resume_update"

    def test_1_download_cut_twice_finishes_with_only_the_missing_bytes(self):
        self.publish_next()
        self.server.reset()
        first, second = self.size // 3, self.size * 2 // 3 + 1
        self.server.fault(DOWNLOAD_PATH, "cut", at=first)
        self.run_breaks_at(first)
        self.server.fault(DOWNLOAD_PATH, "cut", at=second)
        self.run_breaks_at(second)
        self.server.clear_faults()
        self.run_takes_the_update()
        self.assertEqual(["", "bytes=%d-" % first, "bytes=%d-" % second], self.ranges_asked())
        # Each range is guarded by the validator of the file's first answer.
        guards = [r["headers"].get("If-Range", "") for r in self.server.requests(DOWNLOAD_PATH)]
        self.assertEqual("", guards[0])
        self.assertRegex(guards[1], r'^"[0-9a-f.-]+"$')
        self.assertEqual(guards[1], guards[2])
        # Each break is logged as an update not completed; nothing was refused.
        self.assertEqual(2, self.added_log().count("update not completed: the answer ended before its declared length"))
        self.assertNotIn("whole", self.added_log())

    def test_2_file_replaced_on_the_server_is_downloaded_whole(self):
        self.publish_next()
        self.server.reset()
        self.server.fault(DOWNLOAD_PATH, "cut", at=self.size // 2)
        self.run_breaks_at(self.size // 2)
        # Published again (the same release, a new file): another validator,
        # so the server answers the range request with the whole file.
        self.server.clear_faults()
        self.publish_next()
        self.run_takes_the_update()
        self.assertEqual(["", "bytes=%d-" % (self.size // 2)], self.ranges_asked())

    def test_3_server_without_ranges_sends_it_whole(self):
        self.publish_next()
        self.server.reset()
        self.server.fault(DOWNLOAD_PATH, "cut", at=4096)
        self.run_breaks_at(4096)
        self.server.fault(DOWNLOAD_PATH, "no-ranges")
        self.run_takes_the_update()
        self.assertEqual(["", "bytes=4096-"], self.ranges_asked())

    def test_4_range_from_the_wrong_byte_is_refused_and_downloaded_whole(self):
        self.publish_next()
        self.server.reset()
        self.server.fault(DOWNLOAD_PATH, "cut", at=10000)
        self.run_breaks_at(10000)
        self.server.fault(DOWNLOAD_PATH, "range-shift")
        self.run_takes_the_update()
        # Refused before a byte was written, then whole in the same run.
        self.assertEqual(["", "bytes=10000-", ""], self.ranges_asked())
        self.assertIn("update download not continued at 10000 bytes: the answer to the range request does not "
                      "continue the kept bytes; downloading it whole", self.added_log())

    def test_5_bytes_of_another_release_are_not_continued(self):
        self.publish_next()
        self.server.reset()
        self.server.fault(DOWNLOAD_PATH, "cut", at=5000)
        self.run_breaks_at(5000)
        # The record names another release than the one now published.
        with open(self.record, "rb") as f:
            record = f.read()
        with open(self.record, "wb") as f:
            f.write(record.replace(harness.version_key(self.next_launcher, NEXT_VERSION).encode(), b"0" * 32))
        self.server.clear_faults()
        self.run_takes_the_update()
        self.assertEqual(["", ""], self.ranges_asked())


if __name__ == "__main__":
    unittest.main()
