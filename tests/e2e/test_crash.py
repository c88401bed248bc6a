"""The launcher's crash handler, end to end: a small program that sets the
handler up exactly as the launcher does crashes in each way the handler must
catch. Each crash leaves a minidump and a system report named after the
version, the executable and the UTC time, starts the uploader with its exact
command line, shows no error box, and ends the process; a filter installed
later by a library does not take over."""
import os
import re
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

NOT_CRASHED = 100  # crash_probe's exit code when it survived
BASE_RE = re.compile(r"^Dump_3\.0\.1\.5_crash_probe\.exe_\d{8}_\d{6}$")
# Each mode and what its runtime handler prints on standard output.
MODES = {"access": b"", "invalid-parameter": b"Expression: stream != NULL\n", "pure-call": b"In _purecall_handler.",
         "terminate": b""}


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class CrashHandler(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("crash")
        # Wine links Documents to the Unix home folder; this prefix gets a
        # folder of its own so that its dumps stay inside it.
        docs = cls.prefix.documents()
        if os.path.islink(docs):
            os.unlink(docs)
        os.makedirs(docs, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def prepare(self, name, orlix_folder):
        folder = os.path.join(self.prefix.path, "drive_c", name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        shutil.copy(harness.tool_exe("crash_probe.exe"), folder)
        # The recording stand-in takes the uploader's place beside the probe.
        shutil.copy(harness.tool_exe("bugreport_recorder.exe"), os.path.join(folder, "BugReport.exe"))
        orlix = self.prefix.documents("Orlix")
        shutil.rmtree(orlix, ignore_errors=True)
        if orlix_folder:
            os.makedirs(orlix)
        return folder

    def crash(self, folder, mode):
        r = self.prefix.run([os.path.join(folder, "crash_probe.exe"), mode, "replace-filter"], cwd=folder,
                            timeout=120)
        self.assertNotEqual(NOT_CRASHED, r.returncode, r.stdout)
        self.assertNotEqual(0, r.returncode, r.stdout)
        self.assertIn(b"replace-filter returned null", r.stdout)
        return r

    def uploader_calls(self, folder):
        calls = os.path.join(folder, "BugReport.calls.txt")
        self.assertTrue(harness.wait_for(lambda: os.path.exists(calls), timeout=60))
        harness.wait_for(lambda: read_bytes(calls).count(b"\n") >= 3, timeout=10)
        with open(calls, "rb") as f:
            return f.read().decode("utf-8").splitlines()

    def check_files(self, dump_dir):
        names = sorted(os.listdir(dump_dir))
        dumps = [n for n in names if n.endswith(".dmp")]
        reports = [n for n in names if n.endswith(".txt") and n.startswith("Dump_")]
        self.assertEqual(1, len(dumps), names)
        self.assertEqual(1, len(reports), names)
        base = dumps[0][:-4]
        self.assertRegex(base, BASE_RE)
        self.assertEqual(base + ".txt", reports[0])
        with open(os.path.join(dump_dir, dumps[0]), "rb") as f:
            self.assertEqual(b"MDMP", f.read(4))
        with open(os.path.join(dump_dir, reports[0]), "rb") as f:
            report = f.read()
        self.assertTrue(report.startswith(b"System Summary: \r\n\r\n"), report[:100])
        self.assertIn(b"\r\nRunning Process: \r\n", report)
        return base

    def check_no_error_box(self):
        self.assertNotIn("winedbg.exe", self.prefix.user_processes())
        self.assertEqual([], harness.window_ids("crash_probe|Program Error|winedbg"))

    def test_each_crash_leaves_dump_report_and_starts_uploader(self):
        for mode, printed in MODES.items():
            with self.subTest(mode=mode):
                folder = self.prepare("crash_" + mode.replace("-", "_"), orlix_folder=True)
                r = self.crash(folder, mode)
                self.assertIn(printed, r.stdout.replace(b"\r\n", b"\n"))
                dump_dir = self.prefix.documents("Orlix", "dump")
                base = self.check_files(dump_dir)
                win_folder = self.prefix.to_windows(folder)
                win_base = self.prefix.to_windows(os.path.join(dump_dir, base))
                calls = self.uploader_calls(folder)
                self.assertEqual('cmd="%s\\BugReport.exe" /report client Duskmere Tavrel 3.0.1.5 zuduviz "%s"'
                                 % (win_folder, win_base), calls[0])
                self.assertEqual(3, len(calls), calls)  # started once
                # The filter a library tried to install later never ran.
                self.assertFalse(os.path.exists(os.path.join(folder, "library-filter-ran.txt")))
                self.check_no_error_box()

    def test_without_orlix_folder_the_files_go_to_the_current_folder(self):
        folder = self.prepare("crash_nodocs", orlix_folder=False)
        self.crash(folder, "access")
        self.assertFalse(os.path.exists(self.prefix.documents("Orlix")))
        base = self.check_files(folder)
        calls = self.uploader_calls(folder)
        self.assertEqual('cmd="%s\\BugReport.exe" /report client Duskmere Tavrel 3.0.1.5 zuduviz "%s"'
                         % (self.prefix.to_windows(folder), base), calls[0])
        self.check_no_error_box()


if __name__ == "__main__":
    unittest.main()
