"""Deploying the game package into the install folder, as the installed
launcher does when started there without arguments.

test_flows.py sees the real launcher deploy on its way to the game; here a
probe built from the launcher's deployment code and resources (game package
included) runs DeployGamePackage alone, without the update check, the pings
and the game start around it: copied into the install folder under the
launcher's name, started there, it writes the package out, ends the running
game and uploader, and unpacks the package. The tree is checked against the
package the build made, also after deploying over a running game and over an
uploader waiting in the middle of a transfer.
"""
import json
import os
import shutil
import socket
import sys
import threading
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

PACKAGE = os.path.join(harness.BUILD_WIN, "package", "tavrelair.zip")
# The installed launcher's deployment step on its own.
DEPLOYER = harness.tool_exe("deploy_probe.exe")


def snapshot(root):
    """{relative path: ("dir", None, None) or ("file", bytes, mtime)} of a tree."""
    tree = {}
    for folder, dirs, files in os.walk(root):
        for d in dirs:
            rel = os.path.relpath(os.path.join(folder, d), root).replace(os.sep, "/")
            tree[rel + "/"] = ("dir", None, None)
        for f in files:
            path = os.path.join(folder, f)
            rel = os.path.relpath(path, root).replace(os.sep, "/")
            with open(path, "rb") as fh:
                tree[rel] = ("file", fh.read(), int(os.path.getmtime(path)))
    return tree


class Deployment(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("deploy")
        cls.install = cls.prefix.install_folder()
        with zipfile.ZipFile(PACKAGE) as z:
            cls.entries = {i.filename: (None if i.is_dir() else z.read(i)) for i in z.infolist()}

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def place_launcher(self):
        os.makedirs(self.install, exist_ok=True)
        shutil.copy(DEPLOYER, os.path.join(self.install, "Tavrel_Launcher.exe"))

    def deploy(self):
        exe = self.prefix.to_windows(os.path.join(self.install, "Tavrel_Launcher.exe"))
        r = self.prefix.run([exe], cwd=self.install, timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])

    def assert_holds_package(self):
        for name, data in self.entries.items():
            path = os.path.join(self.install, *name.rstrip("/").split("/"))
            if data is None:
                self.assertTrue(os.path.isdir(path), name)
            else:
                self.assertTrue(os.path.isfile(path), name)
                with open(path, "rb") as f:
                    self.assertTrue(f.read() == data, "%s differs from the package" % name)
        self.assertFalse(os.path.exists(os.path.join(self.install, "tavrelair.zip")), "package file left behind")

    def test_1_two_deployments_give_identical_trees(self):
        self.place_launcher()
        # A leftover package file of an earlier failed run, and a file of the
        # player's that the package does not hold.
        with open(os.path.join(self.install, "tavrelair.zip"), "wb") as f:
            f.write(b"PK\x03\x04 truncated leftover")
        os.makedirs(os.path.join(self.install, "screenshots"))
        with open(os.path.join(self.install, "screenshots", "shot1.bmp"), "wb") as f:
            f.write(b"BM player data")

        self.deploy()
        self.assert_holds_package()
        first = snapshot(self.install)
        with open(os.path.join(self.install, "screenshots", "shot1.bmp"), "rb") as f:
            self.assertEqual(f.read(), b"BM player data")

        self.deploy()
        self.assert_holds_package()
        second = snapshot(self.install)
        self.assertEqual(sorted(first), sorted(second))
        for name in first:
            self.assertTrue(first[name] == second[name], "%s changed between deployments" % name)

    def test_2_running_game_is_ended_and_its_files_replaced(self):
        self.place_launcher()
        self.deploy()
        game = os.path.join(self.install, "tavr_online.exe")
        log = os.path.join(self.install, "tavr_online.log")
        if os.path.exists(log):
            os.remove(log)
        # The player changed a game file; the deployment must restore it.
        ini = os.path.join(self.install, "data", "config", "game.ini")
        with open(ini, "wb") as f:
            f.write(b"[Game]\r\nName=changed\r\n")

        proc = self.prefix.start([self.prefix.to_windows(game), "-zone", "north 2"], cwd=self.install)
        try:
            self.assertTrue(harness.wait_for(lambda: os.path.exists(log) and os.path.getsize(log), timeout=60),
                            "the game did not start")
            with open(log, encoding="utf-8") as f:
                start = json.loads(f.read().splitlines()[-1])
            self.assertEqual(start["args"], ["-zone", "north 2"])
            self.assertEqual(start["cwd"].lower(), self.prefix.to_windows(self.install).lower())
            self.assertTrue(harness.wait_for(lambda: harness.window_ids("^OrlixDuskmere$"), timeout=60),
                            "the game window did not appear")
            self.assertIn("tavr_online.exe", self.prefix.user_processes())

            self.deploy()

            proc.wait(timeout=60)  # ended by the deployment
            self.assertNotIn("tavr_online.exe", self.prefix.user_processes())
            self.assertFalse(harness.window_ids("^OrlixDuskmere$"))
            self.assert_holds_package()
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait(30)

    def test_3_uploader_in_the_middle_of_a_transfer_is_ended(self):
        self.place_launcher()
        self.deploy()
        # A report endpoint that takes the connection and never answers: the
        # uploader waits for its answer until the deployment ends it.
        self.assertTrue(harness.port_free(harness.TEST_PORT))
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", harness.TEST_PORT))
        listener.listen(4)
        accepted = []
        threading.Thread(target=lambda: accepted.append(listener.accept()), daemon=True).start()

        base = "Dump_2024-03-09_Tavrel_zuduviz"
        with open(os.path.join(self.install, base + ".txt"), "wb") as f:
            f.write(b"report")
        uploader = os.path.join(self.install, "BugReport.exe")
        upload_log = os.path.join(self.install, "BugReport.log")
        proc = self.prefix.start([self.prefix.to_windows(uploader), "/report", "client", "Duskmere", "Tavrel",
                                  "3.0.1.5", "zuduviz", base], cwd=self.install)
        try:
            self.assertTrue(harness.wait_for(lambda: accepted, timeout=60), "the uploader did not connect")
            self.assertIn("bugreport.exe", self.prefix.user_processes())

            self.deploy()

            self.assertNotIn("bugreport.exe", self.prefix.user_processes())
            proc.wait(timeout=60)
            with open(upload_log, encoding="utf-8") as f:
                self.assertNotIn("sent", f.read(), "the transfer finished before the uploader was ended")
            self.assert_holds_package()
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait(30)
            for conn, _ in accepted:
                conn.close()
            listener.close()


if __name__ == "__main__":
    unittest.main()
