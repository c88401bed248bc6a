"""The launcher as a player meets it, end to end under Wine against the local
server: first run and re-install, starts through the game shortcut over
several days, the self-update, no network, the web and new-game switches,
uninstallation, and a game that cannot start.

One Wine prefix carries the whole story, so the cases run in order (their
names are numbered): each starts from what the previous one left, as a
player's machine would.
"""
import configparser
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

PACKAGE = os.path.join(harness.BUILD_WIN, "package", "tavrelair.zip")
VERSION = "3.0.1.5"


def md5_file(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def published_key(path):
    with open(path, "rb") as f:
        return harness.version_key(f.read(), VERSION)


def query_values(query):
    values = {}
    for part in query.split("&"):
        key, _, value = part.partition("=")
        values[key] = value
    return values


class LauncherWindows:
    """Finds the launcher's skinned windows on the X display and clicks them."""

    BUTTON_W, BUTTON_H = 57, 23  # one frame of the push-button strip

    @staticmethod
    def find(timeout=60):
        ids = harness.wait_for(lambda: LauncherWindows._visible(), timeout=timeout)
        return ids[-1] if ids else None

    @staticmethod
    def _visible():
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "tavrel_launcher.exe"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        return [int(x) for x in r.stdout.split()]

    @staticmethod
    def geometry(wid):
        r = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(wid)], stdout=subprocess.PIPE, text=True)
        values = dict(line.split("=", 1) for line in r.stdout.split() if "=" in line)
        return int(values["WIDTH"]), int(values["HEIGHT"])

    @staticmethod
    def click(wid, x, y):
        subprocess.run(["xdotool", "mousemove", "--window", str(wid), str(x), str(y), "click", "1"], check=True)

    @classmethod
    def answer(cls, which, two_buttons, timeout=60):
        """Clicks the first (0) or second (1) button of the message box."""
        wid = cls.find(timeout)
        if wid is None:
            raise AssertionError("no launcher window appeared")
        time.sleep(0.5)
        cw, ch = cls.geometry(wid)
        y = ch - 30 - cls.BUTTON_H // 2
        if two_buttons:
            x = cw // 2 - 10 - cls.BUTTON_W // 2 if which == 0 else cw // 2 + 10 + cls.BUTTON_W // 2
        else:
            x = (cw - cls.BUTTON_W) // 2 + cls.BUTTON_W // 2
        cls.click(wid, x, y)
        cls.wait_gone(wid)
        return wid

    @classmethod
    def wait_gone(cls, wid, timeout=30):
        """Waits until the clicked window has closed, so that the next look
        finds the next window, not this one."""
        harness.wait_for(lambda: wid not in cls._visible(), timeout=timeout)

    @classmethod
    def close(cls, timeout=60):
        """Clicks the close button in the top-right corner of the title band."""
        wid = cls.find(timeout)
        if wid is None:
            raise AssertionError("no launcher window appeared")
        time.sleep(0.5)
        cw, _ch = cls.geometry(wid)
        cls.click(wid, cw - 16, 14)
        cls.wait_gone(wid)
        return wid


class PlayerFlows(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("flows")
        cls.server = harness.LocalServer(os.path.join(harness.E2E_DIR, "flows", "server"))
        cls.launcher = harness.launcher_exe()
        cls.downloads = cls.prefix.user_dir("Downloads")
        os.makedirs(cls.downloads, exist_ok=True)
        cls.download = os.path.join(cls.downloads, "Tavrel_Launcher.exe")
        shutil.copy(cls.launcher, cls.download)
        cls.installed = cls.prefix.install_folder("Tavrel_Launcher.exe")
        cls.publish(cls.launcher)

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()
        cls.server.stop()

    # ---- helpers -----------------------------------------------------------
    @classmethod
    def publish(cls, exe_path, key=None):
        """Publishes |exe_path| as the current launcher on the update server."""
        with open(exe_path, "rb") as f:
            cls.server.put_file("files/Tavrel_Launcher.exe", f.read())
        harness.publish_config(cls.server, key or published_key(exe_path), cls.server.url("/files/Tavrel_Launcher.exe"))

    def game_starts(self):
        return harness.game_starts(self.prefix)

    def stop_game(self):
        harness.stop_game(self.prefix)

    def wait_game_start(self, before, timeout=120):
        ok = harness.wait_for(lambda: len(self.game_starts()) > before, timeout=timeout)
        self.assertTrue(ok, "the game did not start")
        return self.game_starts()[-1]

    def assert_no_game_started(self, before):
        """Called once the launcher has exited: a game it started would be
        running by now (CreateProcess returns only after the new process
        exists, and the game stays until it is ended)."""
        self.assertNotIn("tavr_online.exe", self.prefix.user_processes())
        self.assertEqual(before, len(self.game_starts()))

    def run_installed(self, *args, timeout=180):
        return self.prefix.run([self.installed] + list(args), timeout=timeout,
                               cwd=self.prefix.install_folder())

    def pings(self, path):
        return [query_values(p["query"]) for p in self.server.pings(path)]

    def stats(self):
        cp = configparser.ConfigParser(strict=False)
        cp.optionxform = str
        path = self.prefix.maker_folder("Statistic.ini")
        with open(path, encoding="utf-16" if open(path, "rb").read(2) == b"\xff\xfe" else "latin-1") as f:
            cp.read_file(f)
        return cp["Tavrel"]

    def set_stat(self, key, value):
        path = self.prefix.maker_folder("Statistic.ini")
        raw = open(path, "rb").read()
        enc = "utf-16" if raw[:2] == b"\xff\xfe" else "latin-1"
        lines = raw.decode(enc).splitlines()
        lines = [l for l in lines if not l.startswith(key + "=")]
        idx = lines.index("[Tavrel]") + 1
        lines.insert(idx, "%s=%s" % (key, value))
        with open(path, "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode(enc))

    # ---- the story -----------------------------------------------------------
    def test_1_first_run_installs_and_starts_the_game(self):
        r = self.prefix.run([self.download], timeout=180, cwd=self.downloads)
        self.assertIsNotNone(r.returncode)
        start = self.wait_game_start(0, timeout=180)

        install = self.prefix.install_folder()
        self.assertEqual(md5_file(self.launcher), md5_file(self.installed))
        with zipfile.ZipFile(PACKAGE) as z:
            for info in z.infolist():
                self.assertTrue(os.path.exists(os.path.join(install, info.filename)), info.filename)
        self.assertFalse(os.path.exists(os.path.join(install, "tavrelair.zip")))
        self.assertEqual(self.prefix.to_windows(install).lower(), start["cwd"].rstrip("\\").lower())

        desktop = harness.read_shortcut(self.prefix.desktop("OrlixDuskmere.lnk"))
        group = self.prefix.start_menu_programs("Orlix登录器")
        menu = harness.read_shortcut(os.path.join(group, "OrlixDuskmere.lnk"))
        uninstall = harness.read_shortcut(os.path.join(group, "卸载 OrlixDuskmere.lnk"))
        for link, args in ((desktop, "/TavrelD"), (menu, "/TavrelD"), (uninstall, "/uninst")):
            self.assertEqual(self.prefix.to_windows(self.installed).lower(), (link["target"] or "").lower())
            self.assertEqual(args, link["arguments"])
            self.assertEqual(self.prefix.to_windows(install).lower(), link["working_dir"].rstrip("\\").lower())

        # In the registry's 32-bit view, where the maker's 32-bit programs read it; not in the 64-bit one.
        self.assertIn("DisableDays", self.prefix.reg_query(r"HKLM\Software\Orlix\GameLogin\Tavrel", "DisableDays") or "")
        self.assertIsNone(self.prefix.reg_query(r"HKLM\Software\Orlix\GameLogin\Tavrel", "DisableDays", view="/reg:64"))

        installs = self.pings("/install.htm")
        self.assertEqual(1, len(installs))
        self.assertEqual({"tag": "Tavrel", "ver": VERSION, "count": "1"}, installs[0])
        actives = self.pings("/active.htm")
        self.assertEqual(1, len(actives))
        a = actives[0]
        self.assertEqual(("1", "0", "1", "1"), (a["count"], a["apartdays"], a["keepdays"], a["weekdays"]))
        self.assertRegex(a["installDay"], r"^\d{8}$")
        self.assertRegex(a["deviceCode"], r"^[0-9a-f]{32}$")
        self.stop_game()

    def test_2_reinstall_sends_no_install_ping(self):
        before = len(self.game_starts())
        self.prefix.run([self.download], timeout=180, cwd=self.downloads)
        self.wait_game_start(before)
        self.assertEqual(1, len(self.pings("/install.htm")))
        self.stop_game()

    def test_3_shortcut_start_counts_days_and_does_not_deploy(self):
        victim = None
        with zipfile.ZipFile(PACKAGE) as z:
            victim = next(i.filename for i in z.infolist() if not i.is_dir() and "/" in i.filename)
        os.remove(self.prefix.install_folder(victim))

        before = len(self.game_starts())
        self.run_installed("/TavrelD")
        start = self.wait_game_start(before)
        self.assertEqual([], start["args"], "the game is started without the launcher's switch")
        self.assertFalse(os.path.exists(self.prefix.install_folder(victim)), "a shortcut start must not deploy")
        self.stop_game()
        last = self.pings("/active.htm")[-1]
        self.assertEqual("0", last["apartdays"])  # same day
        count = int(last["count"])

        # Yesterday's visit: one more consecutive day; four days ago: the run breaks.
        for days_ago, keep, apart in ((1, None, "0"), (4, "1", "3")):
            t = time.localtime(time.time() - days_ago * 86400)
            self.set_stat("lstTime", "%d/%d/%d" % (t.tm_year, t.tm_mon, t.tm_mday))
            keep_before = int(self.stats().get("keepdays", "1"))
            before = len(self.game_starts())
            self.run_installed("/TavrelD")
            self.wait_game_start(before)
            self.stop_game()
            last = self.pings("/active.htm")[-1]
            count += 1
            self.assertEqual(str(count), last["count"])
            self.assertEqual(apart, last["apartdays"])
            self.assertEqual(keep or str(keep_before + 1), last["keepdays"])

    def test_3b_launcher_stays_until_its_activity_ping_is_answered(self):
        # A server that answers late, as a distant one does: the game starts
        # at once, and the launcher ends only once the ping is answered (had
        # it ended at once, the ping would have been abandoned).
        root = os.path.join(harness.E2E_DIR, "flows", "server")
        self.server.stop()
        upstream = harness.unused_port()
        type(self).server = harness.LocalServer(root, port=upstream)
        link = harness.HoldingLink(upstream, "/active.htm")
        try:
            count = len(self.pings("/active.htm"))
            before = len(self.game_starts())
            proc = self.prefix.start([self.installed, "/TavrelD"], cwd=self.prefix.install_folder())
            self.wait_game_start(before)
            self.assertTrue(link.held.wait(60), "no activity ping")
            # Held for a while (well inside the launcher's 10 s for the
            # ping): a launcher that had given up on its ping would be gone.
            with self.assertRaises(subprocess.TimeoutExpired, msg="the launcher ended before its ping was answered"):
                proc.wait(5)
            link.release()
            proc.wait(60)
            self.assertEqual(count + 1, len(self.pings("/active.htm")))
        finally:
            link.close()
            self.server.stop()
            type(self).server = harness.LocalServer(root)
            self.stop_game()

    def test_4_web_and_new_game_switches_only_start_the_game(self):
        self.server.reset()
        for switch in ("/webOrlixD", "/NEWGM"):
            before = len(self.game_starts())
            self.run_installed(switch)
            self.wait_game_start(before)
            self.stop_game()
        self.assertEqual([], self.server.pings())
        requested = [r["path"] for r in harness.json.loads(self.server.get("/__test/requests"))]
        self.assertNotIn("/update/ConfigTavrel.htm", requested)

    def test_5_update_refused_by_settings_or_a_bad_download(self):
        newer = os.path.join(self.prefix.dir, "newer.exe")
        with open(newer, "wb") as f:
            f.write(open(self.launcher, "rb").read() + b"newer launcher build")
        self.publish(newer)
        own = md5_file(self.installed)

        # "autoUpd" 0: no update window, the game starts.
        settings = self.prefix.install_folder("GsZuduviz.ini")
        with open(settings, "w") as f:
            f.write("[Update]\r\nautoUpd=0\r\n")
        before = len(self.game_starts())
        self.run_installed("/TavrelD")
        self.wait_game_start(before)
        self.stop_game()
        self.assertEqual(own, md5_file(self.installed))
        os.remove(settings)

        # A download that is not the published file: nothing swapped, no game.
        # The key names another file: its digest part differs from the
        # download's (and from the running launcher's, so an update is offered).
        own_key = published_key(self.launcher)
        self.publish(newer, key=own_key[:27] + ("0" if own_key[27] != "0" else "1") + "3015")
        before = len(self.game_starts())
        self.run_installed("/TavrelD")
        self.assertEqual(own, md5_file(self.installed))
        self.assertFalse(os.path.exists(self.prefix.install_folder("NewTavrel.exe")))
        self.assert_no_game_started(before)

    def test_6_update_cancelled_leaves_the_launcher(self):
        newer = os.path.join(self.prefix.dir, "newer.exe")
        self.publish(newer)
        self.server.fault("/files/Tavrel_Launcher.exe", "slow")
        own = md5_file(self.installed)
        before = len(self.game_starts())
        proc = self.prefix.start([self.installed, "/TavrelD"], cwd=self.prefix.install_folder())
        LauncherWindows.close(timeout=90)
        proc.wait(120)
        self.server.clear_faults()
        self.assertEqual(own, md5_file(self.installed))
        self.assert_no_game_started(before)

    def test_7_update_swaps_restarts_and_deploys(self):
        newer = os.path.join(self.prefix.dir, "newer.exe")
        self.publish(newer)
        updates_before = len(self.pings("/update.htm"))
        before = len(self.game_starts())
        self.run_installed("/TavrelD", timeout=300)
        # The new launcher restarts without arguments, deploys and starts the game.
        self.wait_game_start(before, timeout=240)
        self.assertEqual(md5_file(newer), md5_file(self.installed))
        updates = self.pings("/update.htm")
        self.assertEqual(updates_before + 1, len(updates))
        self.assertEqual("Tavrel", updates[-1]["tag"])
        self.stop_game()
        self.publish(self.installed)

    def test_8_no_network_shows_the_message_only(self):
        self.server.stop()
        try:
            for args in (["/TavrelD"], ["/uninst"], []):
                before = len(self.game_starts())
                proc = self.prefix.start([self.installed] + args, cwd=self.prefix.install_folder())
                LauncherWindows.answer(0, two_buttons=False, timeout=90)
                proc.wait(60)
                self.assertEqual(before, len(self.game_starts()))
                self.assertTrue(os.path.exists(self.installed))
        finally:
            type(self).server = harness.LocalServer(os.path.join(harness.E2E_DIR, "flows", "server"))
            self.publish(self.installed)

    def test_9_game_that_cannot_start_is_reported(self):
        game = self.prefix.install_folder("tavr_online.exe")
        good = open(game, "rb").read()
        with open(game, "wb") as f:
            f.write(b"this is not a program")
        install = self.prefix.install_folder()

        def report_files():
            # The failure's own files; the update log beside them is not one.
            return sorted(n for n in os.listdir(install) if re.match(r"Dump_.*_Tavrel_zuduviz\.", n))

        def received():
            return sorted(set(os.listdir(self.server.reports)) - sent_before)

        sent_before = set(os.listdir(self.server.reports))
        try:
            # The first failure leaves the failure note and the system report,
            # and the uploader sends both and records when it did.
            proc = self.prefix.start([self.installed, "/TavrelD"], cwd=install)
            LauncherWindows.answer(0, two_buttons=True, timeout=120)
            proc.wait(60)
            self.assertTrue(harness.wait_for(lambda: "lstReport" in self.stats(), timeout=60),
                            "the uploader recorded no report")
            names = report_files()
            self.assertEqual(2, len(names), names)
            for name, ending in zip(names, (".dmp", ".txt")):
                self.assertRegex(name, r"^Dump_\d{4}-\d{2}-\d{2}_Tavrel_zuduviz" + re.escape(ending) + "$")
            sent = received()
            self.assertEqual(2, len(sent), sent)
            for name in names:  # stored as "<time>-<counter>-<name>"
                self.assertEqual(1, sum(stored.endswith("-" + name) for stored in sent), (name, sent))

            # The second, minutes later at most, is held back: the player is
            # told again, but its note and report go and nothing more is sent.
            proc = self.prefix.start([self.installed, "/TavrelD"], cwd=install)
            LauncherWindows.answer(0, two_buttons=True, timeout=120)
            proc.wait(60)
            # Counted once the prefix is idle: an uploader started wrongly
            # exists by the time the launcher has ended, and has finished its
            # sending by the time it is gone.
            self.assertTrue(self.prefix.wait_idle(120), self.prefix.user_processes())
            self.assertEqual([], report_files())
            self.assertEqual(sent, received())
        finally:
            with open(game, "wb") as f:
                f.write(good)

    def test_z_uninstall_declined_then_confirmed(self):
        # Declined: nothing changes.
        proc = self.prefix.start([self.installed, "/uninst"], cwd=self.prefix.install_folder())
        LauncherWindows.answer(1, two_buttons=True)
        proc.wait(60)
        self.assertTrue(os.path.exists(self.installed))
        self.assertTrue(os.path.exists(self.prefix.desktop("OrlixDuskmere.lnk")))

        # Confirmed while the game runs: key, shortcuts, game and files go.
        self.prefix.run(["reg", "add", r"HKLM\Software\Orlix\Tavrel\Tavrel\Sub", "/f", harness.MACHINE_VIEW], timeout=60)
        before = len(self.game_starts())
        self.run_installed("/TavrelD")
        self.wait_game_start(before)
        proc = self.prefix.start([self.installed, "/uninst"], cwd=self.prefix.install_folder())
        LauncherWindows.answer(0, two_buttons=True)
        LauncherWindows.answer(0, two_buttons=False, timeout=120)  # "removed" notice
        proc.wait(120)
        self.assertTrue(harness.wait_for(lambda: not os.path.exists(self.prefix.install_folder()), timeout=120),
                        "the install folder was not removed")
        self.assertNotIn("tavr_online.exe", self.prefix.user_processes())
        self.assertIsNone(self.prefix.reg_query(r"HKLM\Software\Orlix\Tavrel\Tavrel"))
        self.assertFalse(os.path.exists(self.prefix.desktop("OrlixDuskmere.lnk")))
        self.assertFalse(os.path.exists(self.prefix.start_menu_programs("Orlix登录器")))
        uninstalls = self.pings("/uninstall.htm")
        self.assertEqual(1, len(uninstalls))
        self.assertEqual("1", uninstalls[0]["count"])
        self.assertTrue(os.path.exists(self.prefix.maker_folder("Statistic.ini")), "statistics survive")


if __name__ == "__main__":
    unittest.main()
