"""First-run installation and uninstallation as a player meets them: the
launcher downloaded somewhere, started there, installs itself with its
shortcuts; later the uninstall shortcut removes everything again and the
statistics server hears of it.

test_flows.py walks the same steps through the real launcher; here two
probes built from the launcher's deployment code run InstallLauncher and
RunUninstall alone, so that what the launcher's own run hides can be checked:
install_probe.exe ("install" runs InstallLauncher and exits with the
game-present flag; started without arguments, as the installed copy, it notes
the command line it was given) and uninstall_probe.exe (runs RunUninstall with
the launcher's own skin, notes and presses the closing notice's button and
waits for the ping). The installed copy is the probe itself, so the started
launcher does not go on to deploy and play.
"""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

INSTALLER = harness.tool_exe("install_probe.exe")
UNINSTALLER = harness.tool_exe("uninstall_probe.exe")
UNINSTALL_KEY = r"HKLM\Software\Orlix\Tavrel\Tavrel"
DAYS_KEY = r"HKLM\Software\Orlix\GameLogin\Tavrel"


class InstallThenUninstall(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("install_uninstall")
        cls.work = tempfile.mkdtemp(prefix="orlix-install-")
        cls.server = harness.LocalServer(os.path.join(cls.work, "server"))

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.prefix.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_install_then_uninstall(self):
        p = self.prefix
        install = p.install_folder()
        downloads = p.user_dir("Downloads")
        os.makedirs(downloads, exist_ok=True)
        setup = os.path.join(downloads, "OrlixDuskmere_setup.exe")
        shutil.copy(INSTALLER, setup)
        with open(os.path.join(downloads, "notes.txt"), "w") as f:
            f.write("the player's own file")

        # ---- installation ----
        r = p.run([p.to_windows(setup), "install"], cwd=downloads, timeout=120)
        self.assertEqual(r.returncode, 100, r.stderr[-2000:])  # no game before
        installed = os.path.join(install, "Tavrel_Launcher.exe")
        with open(setup, "rb") as a, open(installed, "rb") as b:
            self.assertEqual(a.read(), b.read())
        marker = os.path.join(install, "started.txt")
        self.assertTrue(harness.wait_for(lambda: os.path.exists(marker) and os.path.getsize(marker) > 0, 60))
        self.assertTrue(p.wait_idle(60))
        with open(marker, "rb") as f:
            self.assertEqual(f.read().decode("utf-16-le"), "\"%s\"" % p.to_windows(installed))  # quoted by StartProgram

        win_installed = p.to_windows(installed)
        win_install = p.to_windows(install)
        links = {
            p.desktop("OrlixDuskmere.lnk"): ("/TavrelD", "OrlixDuskmere"),
            p.start_menu_programs("Orlix登录器", "OrlixDuskmere.lnk"): ("/TavrelD", ""),
            p.start_menu_programs("Orlix登录器", "卸载 OrlixDuskmere.lnk"): ("/uninst", ""),
        }
        for path, (arguments, description) in links.items():
            link = harness.read_shortcut(path)
            self.assertEqual(link["target"].lower(), win_installed.lower(), path)
            self.assertEqual(link["arguments"], arguments, path)
            self.assertEqual(link["working_dir"].lower(), win_install.lower(), path)
            self.assertEqual(link["icon_location"].lower(), win_installed.lower(), path)
            self.assertEqual(link["icon_index"], 0, path)
            self.assertEqual(link["description"], description, path)

        # ---- what the installed game adds meanwhile ----
        os.makedirs(os.path.join(install, "data", "maps"))
        for rel in ("tavr_online.exe", "BugReport.exe", "data/maps/m1.bin"):
            with open(os.path.join(install, rel), "wb") as f:
                f.write(b"game")
        p.run(["reg", "add", UNINSTALL_KEY + r"\Sub", "/v", "x", "/d", "1", "/f", harness.MACHINE_VIEW], timeout=60,
              check=True)
        p.run(["reg", "add", DAYS_KEY, "/v", "DisableDays", "/t", "REG_BINARY", "/d", "01060000", "/f",
               harness.MACHINE_VIEW], timeout=60, check=True)
        # The same key in the 64-bit view is some 64-bit program's: it stays.
        p.run(["reg", "add", UNINSTALL_KEY, "/v", "x", "/d", "64", "/f", "/reg:64"], timeout=60, check=True)

        # ---- uninstallation from the installed launcher ----
        self.server.reset()
        shutil.copy(UNINSTALLER, installed)
        notice = os.path.join(self.work, "notice.txt")
        r = p.run([win_installed, p.to_windows(harness.launcher_exe()), p.to_windows(notice)],
                  cwd=install, timeout=180)
        self.assertEqual(r.returncode, 1, r.stderr[-2000:])  # the notice's OK
        with open(notice, "rb") as f:
            self.assertEqual(f.read().decode("utf-16-le"), "OrlixDuskmere|one button")

        pings = self.server.pings("/uninstall.htm")
        self.assertEqual([x["query"] for x in pings], ["tag=Tavrel&ver=3.0.1.5&count=1"])

        self.assertTrue(harness.wait_for(lambda: not os.path.exists(install), 60), "install folder still there")
        self.assertIsNone(p.reg_query(UNINSTALL_KEY))
        self.assertIn("DisableDays", p.reg_query(DAYS_KEY, "DisableDays") or "")
        self.assertIsNotNone(p.reg_query(UNINSTALL_KEY, view="/reg:64"))
        for path in links:
            self.assertFalse(os.path.exists(path), path)
        self.assertFalse(os.path.exists(p.start_menu_programs("Orlix登录器")))
        self.assertTrue(os.path.isfile(p.maker_folder("Statistic.ini")))
        # The downloaded copy and its folder are the player's: untouched.
        self.assertTrue(os.path.isfile(setup))
        self.assertTrue(os.path.isfile(os.path.join(downloads, "notes.txt")))
        self.assertTrue(p.wait_idle(60))

    def test_uninstall_from_another_folder_deletes_no_files(self):
        p = self.prefix
        elsewhere = p.user_dir("Desktop", "copy")
        os.makedirs(elsewhere, exist_ok=True)
        exe = os.path.join(elsewhere, "Tavrel_Launcher.exe")
        shutil.copy(UNINSTALLER, exe)
        with open(os.path.join(elsewhere, "keep.txt"), "w") as f:
            f.write("keep")
        p.run(["reg", "add", UNINSTALL_KEY, "/v", "x", "/d", "1", "/f", harness.MACHINE_VIEW], timeout=60, check=True)
        notice = os.path.join(self.work, "notice2.txt")
        r = p.run([p.to_windows(exe), p.to_windows(harness.launcher_exe()), p.to_windows(notice)],
                  cwd=elsewhere, timeout=180)
        self.assertEqual(r.returncode, 1, r.stderr[-2000:])
        self.assertIsNone(p.reg_query(UNINSTALL_KEY))  # the key still goes
        self.assertTrue(p.wait_idle(60))
        self.assertTrue(os.path.isfile(exe))
        self.assertTrue(os.path.isfile(os.path.join(elsewhere, "keep.txt")))


if __name__ == "__main__":
    unittest.main()
