"""A crash of the installed launcher, from the player's machine to the maker's
crash tools: the launcher, installed by a first run, is waiting for its update
configuration (which the local server holds back) when one of its own
functions faults on another thread. Its crash handler writes the dump, the
uploader sends it to the local server, and the maker's `./dev crashes` lists it
under its signature, version and times, and `./dev crash` reads it as
functions with their source files and lines, through Breakpad's processor and
the build's symbols."""
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

sys.path.insert(0, os.path.join(harness.ROOT, "tools", "symbols"))
import dump_pe_syms  # noqa: E402

CONFIG_PATH = "/update/ConfigTavrel.htm"
VERSION = "3.0.1.5"
# The launcher function the fault is made in: the ping thread reads its
# argument at once, and this one points nowhere.
CRASH_FUNCTION = "telemetry::PingThread(void*)"
CRASH_SOURCE = os.path.join("src", "telemetry", "Ping_win.cpp")


def function_rva(symbol_file, name):
    """The function's address and its name as the symbol file has it: a
    32-bit __stdcall function (decorated, so not demangled) comes without
    its parameters."""
    names = (name, name.split("(", 1)[0])
    with open(symbol_file, encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\n").split(" ", 4)
            if parts[0] == "FUNC" and parts[-1] in names:
                return int(parts[1], 16), parts[-1]
    raise AssertionError("%s is not in %s" % (name, symbol_file))


def dev(*args):
    """The maker's command, as a maker runs it."""
    return subprocess.run([os.path.join(harness.ROOT, "dev")] + list(args), capture_output=True, text=True,
                          timeout=600, stdin=subprocess.DEVNULL)


class LauncherCrashReports(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("crash_reports")
        cls.server_dir = os.path.join(harness.E2E_DIR, "crash_reports", "server")
        shutil.rmtree(cls.server_dir, ignore_errors=True)
        cls.server = harness.LocalServer(cls.server_dir)
        # Installed by a first run, which starts the game; the server offers
        # the launcher itself, so nothing is new.
        launcher = harness.launcher_exe()
        with open(launcher, "rb") as f:
            harness.publish_config(cls.server, harness.version_key(f.read(), VERSION), cls.server.url("/none.exe"))
        downloads = cls.prefix.user_dir("Downloads")
        os.makedirs(downloads, exist_ok=True)
        first = os.path.join(downloads, "Tavrel_Launcher.exe")
        shutil.copy(launcher, first)
        cls.installed = cls.prefix.install_folder("Tavrel_Launcher.exe")
        cls.prefix.run([first], timeout=240, cwd=downloads)
        if not harness.wait_for(lambda: harness.game_starts(cls.prefix), timeout=240):
            raise AssertionError("the first run did not install the launcher and start the game")
        harness.stop_game(cls.prefix)

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()
        cls.server.stop()

    def test_a_launcher_crash_reaches_the_makers_crash_tools(self):
        image = dump_pe_syms.Image(self.installed)
        symbols = dump_pe_syms.store_path(os.path.join(harness.BUILD_WIN, "symbols"), image)
        self.assertTrue(os.path.isfile(symbols), "the build wrote no symbols for the installed launcher")
        rva, crashed_function = function_rva(symbols, CRASH_FUNCTION)

        # The launcher waits in its update check (for at most 15 s), with its
        # crash handler in place; the injector, started before, is told then.
        go = os.path.join(self.prefix.path, "drive_c", "crash_now")
        if os.path.exists(go):
            os.remove(go)
        injector_log = os.path.join(self.prefix.dir, "injector.log")
        injector = self.prefix.start([harness.tool_exe("crash_injector.exe"), "Tavrel_Launcher.exe", "%x" % rva, "10",
                                      self.prefix.to_windows(go)], log=injector_log)
        self.server.fault(CONFIG_PATH, "stall-connect", hold=120)
        before = len(self.server.requests(CONFIG_PATH))
        launcher = self.prefix.start([self.installed, "/TavrelD"], cwd=self.prefix.install_folder())
        try:
            self.assertTrue(harness.wait_for(lambda: len(self.server.requests(CONFIG_PATH)) > before, timeout=120),
                            "the launcher never asked for its configuration")
            open(go, "w").close()
            self.assertEqual(0, injector.wait(timeout=60), open(injector_log, encoding="utf-8", errors="replace").read())
            # The dump and the system report arrive at the server.
            self.assertTrue(harness.wait_for(lambda: len(self.stored(".dmp")) == 1 and len(self.stored(".txt")) == 1,
                                             timeout=180), os.listdir(self.server.reports))
        finally:
            self.server.clear_faults()
            try:
                launcher.wait(timeout=60)
            except subprocess.TimeoutExpired:
                launcher.kill()

        # The first read through the argument: the compiler may order the
        # two reads either way (the 32-bit build reads the text first).
        lines = "(%d|%d)" % (harness.source_line(CRASH_SOURCE, "CZuduvizApp* app = ping->app;"),
                             harness.source_line(CRASH_SOURCE, "base::CopyText(url, ping->url)"))
        listed = dev("crashes", "--server", self.server_dir)
        self.assertEqual(0, listed.returncode, listed.stderr)
        out = listed.stdout
        self.assertRegex(out, r"(?m)^1 x EXCEPTION_ACCESS_VIOLATION_READ  \(Tavrel_Launcher\.exe!%s"
                         % re.escape(crashed_function), out)
        self.assertIn("versions: %s" % VERSION, out)
        self.assertRegex(out, r"first: \S.* +last: \S", out)
        self.assertRegex(out, r"Tavrel_Launcher\.exe!%s  \[%s:%s\]"
                         % (re.escape(crashed_function), re.escape(CRASH_SOURCE), lines))

        dump = self.stored(".dmp")[0]
        shown = dev("crash", dump)
        self.assertEqual(0, shown.returncode, shown.stderr)
        text = shown.stdout
        self.assertIn("Crash reason:  EXCEPTION_ACCESS_VIOLATION_READ", text)
        self.assertIn("Program:       Tavrel_Launcher.exe %s" % VERSION, text)
        crashed = text.split("(crashed)\n", 1)[1].split("\n\n", 1)[0]
        self.assertRegex(crashed.splitlines()[0], r"^\s+0  Tavrel_Launcher\.exe!%s  \[%s:%s\]$"
                         % (re.escape(crashed_function), re.escape(CRASH_SOURCE), lines))
        # The main thread, which waits for the configuration, is read as the
        # launcher's functions with their files and lines down to its start.
        main = [block for block in text.split("\n\n") if "CZuduvizApp::InitInstance()" in block]
        self.assertEqual(1, len(main), text)
        # wWinMain hands over to RunApplication as its last call, and so
        # does the 32-bit WinMainCRTStartup to __tmainCRTStartup: neither
        # leaves a frame of its own.
        self.assertRegex(main[0], r"(?s)Tavrel_Launcher\.exe!CZuduvizApp::InitInstance\(\)  \[src/core/ZuduvizApp_win\.cpp:\d+\]"
                         r".*Tavrel_Launcher\.exe!app::CWinAppBase::RunApplication\(HINSTANCE__\*\)  "
                         r"\[src/app/AppBase_win\.cpp:\d+\].*Tavrel_Launcher\.exe!__tmainCRTStartup\b")

    def stored(self, ending):
        return sorted(os.path.join(self.server.reports, n) for n in os.listdir(self.server.reports)
                      if n.endswith(ending))


if __name__ == "__main__":
    unittest.main()
