"""The update channel against a hostile network and a careless release, end
to end under Wine through the local server: what the launcher refuses, how
long it waits at most, and that every refusal leaves a working launcher at
its path (and, where the run goes on, the game started). Also the good
update to a launcher whose version has five digits, which is taken once,
deploys the game package again and removes the old launcher on the next
start, and the statistics values that go into the activity ping.

One Wine prefix carries the cases in order (their names are numbered): the
launcher is installed once, then each case starts the installed launcher as
the game shortcut does.
"""
import glob
import hashlib
import os
import shutil
import sys
import threading
import time
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

OWN_VERSION = "3.0.1.5"
NEXT_VERSION = "3.0.1.10"  # build/<arch>/next: the same launcher, five version digits
NEXT_LAUNCHER = os.path.join(harness.BUILD_WIN, "next", "Tavrel_Launcher.exe")
# Launchers of both processors: ./dev builds every tree on every host.
LAUNCHERS_OF_EACH_ARCH = [os.path.join(harness.ROOT, "build", tree, "Tavrel_Launcher.exe")
                          for tree in ("i686-test", "x86_64")]
PACKAGE = os.path.join(harness.BUILD_WIN, "package", "tavrelair.zip")
CONFIG_PATH = "/update/ConfigTavrel.htm"
DOWNLOAD_PATH = "/files/Tavrel_Launcher.exe"
# The launcher's bounds (update/UpdateCheck.h, core/ZuduvizApp.h,
# update/HttpClient.h). The servers below hold out far longer, so a launcher
# that waited for them would not start the game within PATIENCE.
CONFIG_DEADLINE_S = 15
PING_WAIT_S = 10
MAX_REDIRECTS = 5
PATIENCE = 300  # seconds a case waits for the game; a stall lasts 600
# What a bounded wait may take beyond its bound, measured from the request
# the launcher waits on to what it does once it gives up: the launcher's own
# work after that (statistics, starting a program) on a loaded machine. A
# bound twice as long would show.
SLACK_S = 10


def other_arch_launcher(running):
    """The test launcher built for the processor the running launcher is not
    built for: chosen by each file's machine, for the tests run either build."""
    own = harness.pe_architecture(running)
    present = [path for path in LAUNCHERS_OF_EACH_ARCH if os.path.exists(path)]
    for path in present:
        if harness.pe_architecture(path) != own:
            return path
    raise AssertionError("no launcher for another processor than %s among %s" % (own, present))


def md5_bytes(data):
    return hashlib.md5(data).hexdigest()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def query_pairs(query):
    return [tuple(part.split("=", 1)) if "=" in part else (part, None) for part in query.split("&")]


class UpdateSafety(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("update_safety")
        base = os.path.join(harness.E2E_DIR, "update_safety")
        cls.server = harness.LocalServer(os.path.join(base, "server"))
        # A host off the allow-list (which holds 127.0.0.1, localhost and
        # orlixgame.test in test builds) that would serve a launcher carrying
        # the published key to anyone who asked.
        cls.offlist = harness.LocalServer(os.path.join(base, "offlist"), bind="127.0.0.2")
        cls.launcher = read(harness.launcher_exe())
        cls.next_launcher = read(NEXT_LAUNCHER)
        cls.installed = cls.prefix.install_folder("Tavrel_Launcher.exe")
        cls.game_log = cls.prefix.install_folder("tavr_online.log")

        # Installed by a first run from the Downloads folder, nothing offered.
        cls.publish_config(harness.version_key(cls.launcher, OWN_VERSION), cls.server.url(DOWNLOAD_PATH))
        downloads = cls.prefix.user_dir("Downloads")
        os.makedirs(downloads, exist_ok=True)
        first = os.path.join(downloads, "Tavrel_Launcher.exe")
        shutil.copy(harness.launcher_exe(), first)
        cls.prefix.run([first], timeout=240, cwd=downloads)
        if not harness.wait_for(lambda: os.path.exists(cls.game_log), timeout=240):
            raise AssertionError("the first run did not start the game")
        cls.stop_game_now()

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()
        cls.server.stop()
        cls.offlist.stop()

    def setUp(self):
        self.server.clear_faults()
        self.offlist.reset()
        self.log_before = self.update_log()

    def tearDown(self):
        self.server.clear_faults()
        self.stop_game_now()

    # ---- helpers -----------------------------------------------------------
    @classmethod
    def publish_config(cls, key, address, server=None, padding=0):
        harness.publish_config(server or cls.server, key, address, padding)

    def publish(self, data, key, server=None):
        """Offers |data| as the launcher of key |key| for download."""
        server = server or self.server
        server.put_file("files/Tavrel_Launcher.exe", data)
        self.publish_config(key, server.url(DOWNLOAD_PATH), server)

    def publish_own(self):
        """Offers what is installed: no update."""
        self.publish(read(self.installed), self.own_key())

    def own_key(self):
        data = read(self.installed)
        return harness.version_key(data, NEXT_VERSION if data == self.next_launcher else OWN_VERSION)

    def game_starts(self):
        return len(harness.game_starts(self.prefix))

    @classmethod
    def stop_game_now(cls):
        harness.stop_game(cls.prefix)

    def start_from_shortcut(self, timeout=PATIENCE):
        """Starts the installed launcher with "/TavrelD" and waits for that
        process to end (a launcher it starts runs on by itself)."""
        return self.prefix.run([self.installed, "/TavrelD"], timeout=timeout, cwd=self.prefix.install_folder())

    def assert_game_started(self, before, timeout=PATIENCE):
        self.assertTrue(harness.wait_for(lambda: self.game_starts() > before, timeout=timeout),
                        "the game did not start within %d s" % timeout)

    def assert_run_ended_without_game(self, before):
        """An offered update that did not complete ends the run: no game, no
        launcher left running (no restart loop)."""
        self.assertTrue(self.prefix.wait_idle(timeout=60), self.prefix.user_processes())
        self.assertEqual(before, self.game_starts())

    def assert_launcher_unchanged(self, data):
        self.assertEqual(md5_bytes(data), md5_bytes(read(self.installed)))
        self.assertFalse(os.path.exists(self.prefix.install_folder("NewTavrel.exe")))

    def update_log(self):
        paths = glob.glob(self.prefix.install_folder("Dump_*_Tavrel_update.log"))
        return "".join(read(p).decode("latin-1") for p in sorted(paths))

    def assert_logged(self, text):
        added = self.update_log()[len(self.log_before):]
        self.assertIn(text, added)

    def activity_pings(self):
        return self.server.pings("/active.htm")

    def wait_launchers_gone(self):
        """Waits until no launcher runs: each has sent every ping it sends
        and waited for its answer (the game may go on running)."""
        self.assertTrue(harness.wait_for(lambda: "tavrel_launcher.exe" not in self.prefix.user_processes(),
                                         timeout=PATIENCE), self.prefix.user_processes())

    def start_and_time_the_wait(self, path, until, bound_s):
        """Starts the installed launcher with "/TavrelD" and asserts that
        |until(proc)| comes true within |bound_s| (and SLACK_S) of the first
        request for |path|, which the server does not answer in time.
        |until| is given the started process. Callers reset the server first
        (its request log keeps the last 200 requests only), then arm the fault."""
        asked_before = len(self.server.requests(path))
        proc = self.prefix.start([self.installed, "/TavrelD"], cwd=self.prefix.install_folder())
        try:
            self.assertTrue(harness.wait_for(lambda: len(self.server.requests(path)) > asked_before,
                                             timeout=PATIENCE), "no request for " + path)
            asked = time.monotonic()
            self.assertTrue(harness.wait_for(lambda: until(proc), timeout=PATIENCE), "the launcher did not go on")
            waited = time.monotonic() - asked
            self.assertLessEqual(waited, bound_s + SLACK_S,
                                 "waited %.1f s for %s, bound %d s" % (waited, path, bound_s))
        finally:
            proc.wait(PATIENCE)

    # ---- the cases -----------------------------------------------------------
    def test_1_statistics_values_are_checked_before_the_ping(self):
        self.publish_own()
        statistics = self.prefix.maker_folder("Statistic.ini")
        raw = read(statistics)
        encoding = "utf-16" if raw[:2] == b"\xff\xfe" else "latin-1"
        lines = [l for l in raw.decode(encoding).splitlines()
                 if not l.startswith(("installDay=", "keepdays=", "lstTime="))]
        at = lines.index("[Tavrel]") + 1
        lines[at:at] = ["installDay=1&deviceCode=forged#x y", "keepdays=-5"]
        with open(statistics, "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode(encoding))

        before = self.game_starts()
        pings_before = len(self.activity_pings())
        self.start_from_shortcut()
        self.assert_game_started(before)
        self.wait_launchers_gone()
        pings = self.activity_pings()
        self.assertEqual(pings_before + 1, len(pings))
        pairs = query_pairs(pings[-1]["query"])
        keys = [k for k, _ in pairs]
        self.assertEqual(["tag", "ver", "count", "apartdays", "keepdays", "weekdays", "installDay", "deviceCode"], keys)
        values = dict(pairs)
        self.assertEqual("", values["installDay"], "a malformed install day is sent as a missing one")
        self.assertEqual("1", values["keepdays"], "a negative streak reads as a missing one")
        self.assertRegex(values["deviceCode"], r"^[0-9a-f]{32}$")
        for key in ("count", "apartdays", "weekdays"):
            self.assertRegex(values[key], r"^\d+$")

    def test_2_over_long_address_is_not_offered(self):
        # Cut to its first 511 characters, the address still names the file.
        address = self.server.url(DOWNLOAD_PATH) + "?pad=" + "a" * 5000
        self.server.put_file("files/Tavrel_Launcher.exe", self.next_launcher)
        self.publish_config(harness.version_key(self.next_launcher, NEXT_VERSION), address)
        before = self.game_starts()
        self.start_from_shortcut()
        self.assert_game_started(before)
        self.assert_launcher_unchanged(self.launcher)
        self.assertEqual([], self.server.requests(DOWNLOAD_PATH))
        self.assert_logged('"UpdAddr" is longer than 510 characters')

    def test_3_configuration_that_does_not_come_in_time_is_given_up(self):
        self.server.put_file("files/Tavrel_Launcher.exe", self.next_launcher)
        self.publish_config(harness.version_key(self.next_launcher, NEXT_VERSION), self.server.url(DOWNLOAD_PATH),
                            padding=300)
        cases = [
            # About 400 bytes at one byte every 2 s: over 13 minutes.
            ("a body that trickles", "trickle", {}),
            # Not even an answer head.
            ("no answer at all", "stall-connect", {"hold": 600}),
        ]
        for what, mode, params in cases:
            with self.subTest(what):
                self.log_before = self.update_log()
                self.server.reset()
                self.server.fault(CONFIG_PATH, mode, **params)
                before = self.game_starts()
                self.start_and_time_the_wait(CONFIG_PATH, lambda _: self.game_starts() > before, CONFIG_DEADLINE_S)
                self.stop_game_now()
                self.assert_launcher_unchanged(self.launcher)
                self.assertEqual([], self.server.requests(DOWNLOAD_PATH))
                self.assert_logged("update configuration not read: no complete answer within %d s"
                                   % CONFIG_DEADLINE_S)

    def test_4_configuration_redirect_loop_is_bounded(self):
        self.publish(self.next_launcher, harness.version_key(self.next_launcher, NEXT_VERSION))
        self.server.fault(CONFIG_PATH, "redirect", to=CONFIG_PATH)
        before = self.game_starts()
        requests_before = len(self.server.requests(CONFIG_PATH))
        self.start_from_shortcut()
        self.assert_game_started(before)
        self.assert_launcher_unchanged(self.launcher)
        self.assertEqual(1 + MAX_REDIRECTS, len(self.server.requests(CONFIG_PATH)) - requests_before)
        self.assert_logged("update configuration not read: the server redirected too many times")

    def test_5_redirect_off_the_allow_list_is_not_followed(self):
        next_key = harness.version_key(self.next_launcher, NEXT_VERSION)
        # The configuration sent off the list: no update is offered.
        self.publish(self.next_launcher, next_key, server=self.offlist)
        self.publish(self.next_launcher, next_key)
        self.server.fault(CONFIG_PATH, "redirect", to=self.offlist.url(CONFIG_PATH))
        before = self.game_starts()
        self.start_from_shortcut()
        self.assert_game_started(before)
        self.assert_launcher_unchanged(self.launcher)
        self.assertEqual([], self.offlist.requests())
        self.assert_logged("update configuration not read: the server redirected off the allow-list")
        self.stop_game_now()

        # The download sent off the list: it fails like a failed download,
        # although the file there carries the published key.
        self.server.clear_faults()
        self.server.fault(DOWNLOAD_PATH, "redirect", to=self.offlist.url(DOWNLOAD_PATH))
        before = self.game_starts()
        self.start_from_shortcut()
        self.assert_run_ended_without_game(before)
        self.assert_launcher_unchanged(self.launcher)
        self.assertEqual(1, len(self.server.requests(DOWNLOAD_PATH)))
        self.assertEqual([], self.offlist.requests())
        self.assert_logged("update not completed: the server redirected off the allow-list")

    def test_6_download_that_is_no_launcher_of_this_kind_is_refused(self):
        cases = [
            ("an empty file", b"", "the file is not a Windows program"),
            ("an error page", b"<html><body>503 Service Unavailable</body></html>\r\n",
             "the file is not a Windows program"),
        ]
        other = other_arch_launcher(harness.launcher_exe())
        cases.append(("the %s launcher" % harness.pe_architecture(other), read(other),
                      "the program is built for another processor"))
        for what, data, reason in cases:
            with self.subTest(what):
                self.log_before = self.update_log()
                # The key is what the download's digest and the running
                # version give: a check of the digest part alone passes it.
                self.publish(data, harness.version_key(data, OWN_VERSION))
                before = self.game_starts()
                self.start_from_shortcut()
                self.assert_run_ended_without_game(before)
                self.assert_launcher_unchanged(self.launcher)
                self.assert_logged("update refused: " + reason)

    def test_7_key_naming_another_version_is_refused_and_does_not_loop(self):
        # A release of 3.0.1.10 published with the key of version 3.0.1.6: the
        # digest part is right, the version digits are not the file's own.
        key = md5_bytes(self.next_launcher)[:28] + "3016"
        self.publish(self.next_launcher, key)
        updates_before = len(self.server.pings("/update.htm"))
        before = self.game_starts()
        self.start_from_shortcut()
        self.assert_run_ended_without_game(before)
        self.assert_launcher_unchanged(self.launcher)
        self.assertEqual(updates_before, len(self.server.pings("/update.htm")))
        self.assert_logged("update refused: the file's version key \"%s\" is not the published key \"%s\""
                           % (harness.version_key(self.next_launcher, NEXT_VERSION), key))

    def test_8_update_to_a_five_digit_version_is_taken_once(self):
        with zipfile.ZipFile(PACKAGE) as z:
            victim = next(i.filename for i in z.infolist() if not i.is_dir() and "/" in i.filename)
        os.remove(self.prefix.install_folder(victim))
        self.publish(self.next_launcher, harness.version_key(self.next_launcher, NEXT_VERSION))
        updates_before = len(self.server.pings("/update.htm"))
        actives_before = len(self.activity_pings())
        before = self.game_starts()
        # The running launcher moves itself aside to OldTavrel.exe.tmp; the
        # restarted one may remove it as soon as the old one has ended.
        old_copy = self.prefix.install_folder("OldTavrel.exe.tmp")
        self.assertFalse(os.path.exists(old_copy))
        moved_aside, stop_watching = threading.Event(), threading.Event()

        def watch():
            while not stop_watching.is_set() and not moved_aside.is_set():
                if os.path.exists(old_copy):
                    moved_aside.set()
                time.sleep(0.02)
        watcher = threading.Thread(target=watch, daemon=True)
        watcher.start()
        self.start_from_shortcut()
        # The new launcher starts without arguments, deploys and starts the game.
        self.assert_game_started(before)
        stop_watching.set()
        watcher.join(10)
        self.assertTrue(moved_aside.is_set(), "the old launcher was never moved aside to OldTavrel.exe.tmp")
        self.assertEqual(md5_bytes(self.next_launcher), md5_bytes(read(self.installed)))
        self.assertTrue(os.path.exists(self.prefix.install_folder(victim)), "the package was not deployed again")
        updates = self.server.pings("/update.htm")
        self.assertEqual(updates_before + 1, len(updates))
        self.assertIn("ver=%s&" % OWN_VERSION, updates[-1]["query"])
        self.wait_launchers_gone()
        actives = self.activity_pings()
        self.assertEqual(actives_before + 1, len(actives))
        self.assertIn("ver=%s&" % NEXT_VERSION, actives[-1]["query"])
        self.stop_game_now()

        # The next start finds its own key published: no update, and the old
        # launcher moved aside is gone.
        before = self.game_starts()
        self.start_from_shortcut()
        self.assert_game_started(before)
        self.assertEqual(updates_before + 1, len(self.server.pings("/update.htm")))
        self.assertTrue(harness.wait_for(lambda: not os.path.exists(self.prefix.install_folder("OldTavrel.exe.tmp")),
                                         timeout=60), "the old launcher was not removed")
        self.assertEqual(md5_bytes(self.next_launcher), md5_bytes(read(self.installed)))

    def test_9_stalled_update_ping_does_not_hold_the_start(self):
        # Back from 3.0.1.10 to 3.0.1.5, with an update ping that is never answered.
        self.assertEqual(md5_bytes(self.next_launcher), md5_bytes(read(self.installed)))
        self.publish(self.launcher, harness.version_key(self.launcher, OWN_VERSION))
        self.server.reset()
        self.server.fault("/update.htm", "stall-connect", hold=600)
        updates_before = len(self.server.pings("/update.htm"))
        before = self.game_starts()
        # The launcher that waits on the ping ends once it has given up on it,
        # right after starting the new launcher.
        self.start_and_time_the_wait("/update.htm", lambda proc: proc.poll() is not None, PING_WAIT_S)
        self.assert_game_started(before)
        self.assertEqual(md5_bytes(self.launcher), md5_bytes(read(self.installed)))
        self.assertEqual(updates_before + 1, len(self.server.pings("/update.htm")))
        self.assert_logged("update ping unanswered after %d s" % PING_WAIT_S)


if __name__ == "__main__":
    unittest.main()
