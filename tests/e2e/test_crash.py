"""The launcher's crash handler, end to end: a small program that sets the
handler up exactly as the launcher does crashes in each way the handler must
catch, including the crashes that leave the process in the worst state (no
stack left, a corrupted heap, a heap whose lock the crashed thread holds,
other threads busy in the heap, two threads crashing at once). Each crash
leaves one minidump of the crash and one system report named after the
version, the executable and the UTC time, starts the uploader once with its
exact command line, shows no error box, and ends the process; a filter
installed later by a library does not take over."""
import os
import re
import shutil
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

sys.path.insert(0, os.path.join(harness.ROOT, "tools", "crash"))
import orlix_crash  # noqa: E402

NOT_CRASHED = 100  # crash_probe's exit code when it survived
BASE_RE = re.compile(r"^Dump_3\.0\.1\.5_crash_probe\.exe_\d{8}_\d{6}$")
ACCESS_VIOLATION = 0xC0000005
# Each kind: the exception codes its dump may name, and what its runtime
# handler prints on standard output besides the probe's own lines (b"": nothing).
KINDS = {
    "access": ({ACCESS_VIOLATION}, b""),
    "invalid-parameter": ({0xE0C0DE01}, b"Expression: stream != NULL\n"),
    "pure-call": ({0xE0C0DE02}, b"In _purecall_handler."),
    "terminate": ({0xE0C0DE03}, b""),
    "abort": ({0xE0C0DE04}, b""),
    "stack-overflow": ({0xC00000FD}, b""),
    # Wherever the heap gives way: a fault in the heap's code, or Windows'
    # own report of a corrupted heap.
    "heap-corruption": ({ACCESS_VIOLATION, 0xC0000374}, b""),
    "locked-heap": ({ACCESS_VIOLATION}, b""),
    "busy-heap": ({ACCESS_VIOLATION}, b""),
    "two-threads": ({ACCESS_VIOLATION}, b""),
}
# What Breakpad's processor reads from each kind's dump with the build's
# symbols: the function that crashed, where it lies (source file, and the
# line by a text on it where the fault's line is fixed), and the callers
# that follow it, in order, down to the thread's start: the C runtime's start
# of the main thread, or the system's thread start (kernel32) of the others.
# Where the fault is in the probe's code it is the first frame; the failures
# the handler raises have the system's RaiseException above RaiseFailure, and
# the corrupted heap faults in the system's heap code. The stack overflow's
# callers are the recursion itself: the processor stops walking long before
# its bottom.
PROBE_SOURCE = os.path.join("tests", "tools", "crash_probe.cpp")
HANDLER_SOURCE = os.path.join("src", "diagnostics", "CrashHandler_win.cpp")
THREAD_START = ["kernel32.dll+"]
# The 32-bit mainCRTStartup hands over to __tmainCRTStartup as its last call
# (a jump: no frame of its own), so the system's thread start follows.
ARCH = harness.pe_architecture(harness.tool_exe("crash_probe.exe"))
MAIN_START = ["wmain", "__tmainCRTStartup"] + (["mainCRTStartup"] if ARCH == "x86_64" else THREAD_START)
RAISED = ("RaiseFailure", HANDLER_SOURCE, "::RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr)")
STACKS = {
    "access": (("wmain", PROBE_SOURCE, "fault: access"), MAIN_START[1:]),
    "invalid-parameter": (RAISED, ["diagnostics::OnInvalidParameter("] + MAIN_START),
    # The base constructor is inlined into wmain; DrawShape's call is a tail call.
    "pure-call": (RAISED, ["diagnostics::OnPureCall()", "__cxa_pure_virtual"] + MAIN_START),
    "terminate": (RAISED, ["OnTerminate", "std::terminate()"] + MAIN_START),
    "abort": (RAISED, ["diagnostics::OnAbortSignal(int)"] + MAIN_START),
    "stack-overflow": (("Recurse", PROBE_SOURCE, None), ["Recurse", "Recurse", "Recurse"]),
    "heap-corruption": (("CorruptHeap", PROBE_SOURCE, None), MAIN_START),
    "locked-heap": (("wmain", PROBE_SOURCE, "fault: locked-heap"), MAIN_START[1:]),
    "busy-heap": (("CrashWhenTold", PROBE_SOURCE, "fault: thread"), THREAD_START),
    "two-threads": (("CrashWhenTold", PROBE_SOURCE, "fault: thread"), THREAD_START),
}
SYMBOLS = os.path.join(harness.BUILD_WIN, "symbols")


# The report's fixed part ends with the task list's column header (code page 936).
TASK_HEADER = ('"映像名称","PID","会话名","会话#","内存使用","状态","用户名","CPU时间","窗口标题","运行路径"'
               .encode("gbk"))


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class MiniDump:
    """The streams of a minidump file that the test looks at."""

    def __init__(self, data):
        self.data = data
        signature, _, count, directory = struct.unpack_from("<4sIII", data, 0)
        if signature != b"MDMP":
            raise ValueError("not a minidump: %r" % signature)
        self.streams = {}
        for i in range(count):
            kind, size, rva = struct.unpack_from("<III", data, directory + 12 * i)
            if kind:
                self.streams[kind] = (rva, size)

    def exception(self):
        """(thread id, exception code) of the exception stream."""
        rva, _ = self.streams[6]
        thread, _, code = struct.unpack_from("<III", self.data, rva)
        return thread, code

    def thread_ids(self):
        rva, _ = self.streams[3]
        (count,) = struct.unpack_from("<I", self.data, rva)
        return [struct.unpack_from("<I", self.data, rva + 4 + 48 * i)[0] for i in range(count)]

    def module_names(self):
        rva, _ = self.streams[4]
        (count,) = struct.unpack_from("<I", self.data, rva)
        names = []
        for i in range(count):
            (name_rva,) = struct.unpack_from("<I", self.data, rva + 4 + 108 * i + 20)
            (length,) = struct.unpack_from("<I", self.data, name_rva)
            names.append(self.data[name_rva + 4:name_rva + 4 + length].decode("utf-16-le"))
        return names


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
        """Runs the probe to its end; returns its output and the threads it said would crash."""
        r = self.prefix.run([os.path.join(folder, "crash_probe.exe"), mode, "replace-filter"], cwd=folder,
                            timeout=120)
        self.assertNotEqual(NOT_CRASHED, r.returncode, r.stdout)
        self.assertNotEqual(0, r.returncode, r.stdout)
        self.assertIn(b"replace-filter returned null", r.stdout)
        threads = [int(t) for t in re.findall(rb"^thread (\d+)\r?$", r.stdout, re.M)]
        self.assertTrue(threads, r.stdout)
        return r, threads

    def uploader_calls(self, folder):
        # Read once the prefix is idle: an uploader started twice has then
        # written its second call too (each is started before the crashed
        # process ends).
        self.assertTrue(self.prefix.wait_idle(120), self.prefix.user_processes())
        calls = os.path.join(folder, "BugReport.calls.txt")
        self.assertTrue(os.path.exists(calls))
        with open(calls, "rb") as f:
            return f.read().decode("utf-8").splitlines()

    def check_files(self, dump_dir, whole_report=True):
        """One dump and one report of one base name; returns the base and the dump."""
        names = sorted(os.listdir(dump_dir))
        dumps = [n for n in names if n.endswith(".dmp")]
        reports = [n for n in names if n.endswith(".txt") and n.startswith("Dump_")]
        self.assertEqual(1, len(dumps), names)
        self.assertEqual(1, len(reports), names)
        base = dumps[0][:-4]
        self.assertRegex(base, BASE_RE)
        self.assertEqual(base + ".txt", reports[0])
        dump = MiniDump(read_bytes(os.path.join(dump_dir, dumps[0])))
        report = read_bytes(os.path.join(dump_dir, reports[0]))
        self.assertTrue(report.startswith(b"System Summary: \r\n\r\n"), report[:100])
        if whole_report:
            self.assertIn(b"\r\nRunning Process: \r\n\r\n" + TASK_HEADER + b"\r\n\r\n", report)
        else:
            self.assertNotIn(b"Memory: ", report)
        return base, dump

    def check_dump(self, dump, codes, threads):
        thread, code = dump.exception()
        self.assertIn(code, codes, hex(code))
        self.assertIn(thread, threads)
        # Every thread that crashed is in the dump (two crash at once in one
        # kind), and so is the program.
        dumped = dump.thread_ids()
        for t in threads:
            self.assertIn(t, dumped)
        self.assertTrue(any(n.lower().endswith("\\crash_probe.exe") for n in dump.module_names()))

    def check_processed_stack(self, dump_path, mode):
        """The crashed thread's stack as Breakpad's processor reads it with
        the build's symbols."""
        (function, source, marker), callers = STACKS[mode]
        walk = orlix_crash.stackwalk(dump_path, [SYMBOLS])
        frames = walk.crashed_frames()
        shown = "%s:\n%s" % (mode, "\n".join(orlix_crash.frame_text(f) for f in frames[:40]))
        own = [i for i, f in enumerate(frames) if f.module == "crash_probe.exe" and f.function.startswith(function)]
        self.assertTrue(own, shown)
        if marker and source == PROBE_SOURCE:
            self.assertEqual(0, own[0], shown)
        crashed = frames[own[0]]
        self.assertEqual(os.path.join(harness.ROOT, source), os.path.normpath(crashed.file), shown)
        if marker:
            self.assertEqual(str(harness.source_line(source, marker)), crashed.line, shown)
        else:
            self.assertTrue(crashed.line.isdigit() and int(crashed.line) > 0, shown)
        # The callers, in order, each named (the probe's with file and line).
        rest = frames[own[0] + 1:]
        at = 0
        for caller in callers:
            found = next((i for i in range(at, len(rest)) if orlix_crash.frame_key(rest[i]).split("!")[-1]
                          .startswith(caller) or orlix_crash.frame_key(rest[i]).startswith(caller)), None)
            self.assertIsNotNone(found, "no caller %s after %s\n%s" % (caller, callers[:callers.index(caller)],
                                                                          shown))
            # The C++ runtime's own functions come without source.
            if rest[found].module == "crash_probe.exe" and not caller.startswith("std::"):
                self.assertTrue(rest[found].file and rest[found].line.isdigit(), shown)
            at = found + 1

    def check_no_error_box(self):
        self.assertNotIn("winedbg.exe", self.prefix.user_processes())
        self.assertEqual([], harness.window_ids("crash_probe|Program Error|winedbg"))

    def test_each_crash_leaves_dump_report_and_starts_uploader(self):
        for mode, (codes, printed) in KINDS.items():
            with self.subTest(mode=mode):
                folder = self.prepare("crash_" + mode.replace("-", "_"), orlix_folder=True)
                r, threads = self.crash(folder, mode)
                runtime = re.sub(rb"(?m)^(thread \d+|replace-filter returned \w+)\n", b"",
                                 r.stdout.replace(b"\r\n", b"\n"))
                if printed:
                    self.assertIn(printed, runtime)
                else:
                    self.assertEqual(b"", runtime)
                dump_dir = self.prefix.documents("Orlix", "dump")
                base, dump = self.check_files(dump_dir)
                self.check_dump(dump, codes, threads)
                self.check_processed_stack(os.path.join(dump_dir, base + ".dmp"), mode)
                win_folder = self.prefix.to_windows(folder)
                win_base = self.prefix.to_windows(os.path.join(dump_dir, base))
                calls = self.uploader_calls(folder)
                self.assertEqual('cmd="%s\\BugReport.exe" /report client Duskmere Tavrel 3.0.1.5 zuduviz "%s"'
                                 % (win_folder, win_base), calls[0])
                self.assertEqual(3, len(calls), calls)  # started once
                # The filter a library tried to install later never ran.
                self.assertFalse(os.path.exists(os.path.join(folder, "library-filter-ran.txt")))
                self.check_no_error_box()

    def test_a_report_that_crashes_still_leaves_the_dump_and_starts_the_uploader(self):
        folder = self.prepare("crash_in_report", orlix_folder=True)
        _, threads = self.crash(folder, "report-crash")
        dump_dir = self.prefix.documents("Orlix", "dump")
        # The report stops at the memory line, whose system call faults.
        base, dump = self.check_files(dump_dir, whole_report=False)
        self.check_dump(dump, {ACCESS_VIOLATION}, threads)
        calls = self.uploader_calls(folder)
        self.assertEqual('cmd="%s\\BugReport.exe" /report client Duskmere Tavrel 3.0.1.5 zuduviz "%s"'
                         % (self.prefix.to_windows(folder), self.prefix.to_windows(os.path.join(dump_dir, base))),
                         calls[0])
        self.assertEqual(3, len(calls), calls)
        self.check_no_error_box()

    def test_a_main_thread_ended_by_the_system_is_reported_and_the_process_ends(self):
        folder = self.prepare("crash_main_ended", orlix_folder=True)
        self.crash(folder, "main-thread-ends")
        dump_dir = self.prefix.documents("Orlix", "dump")
        base, dump = self.check_files(dump_dir)
        self.assertNotIn(6, dump.streams)  # its exception, if any, was lost with its stack
        self.assertTrue(any(n.lower().endswith("\\crash_probe.exe") for n in dump.module_names()))
        calls = self.uploader_calls(folder)
        self.assertEqual('cmd="%s\\BugReport.exe" /report client Duskmere Tavrel 3.0.1.5 zuduviz "%s"'
                         % (self.prefix.to_windows(folder), self.prefix.to_windows(os.path.join(dump_dir, base))),
                         calls[0])
        self.check_no_error_box()

    def test_without_orlix_folder_the_files_go_to_the_current_folder(self):
        folder = self.prepare("crash_nodocs", orlix_folder=False)
        _, threads = self.crash(folder, "access")
        self.assertFalse(os.path.exists(self.prefix.documents("Orlix")))
        base, dump = self.check_files(folder)
        self.check_dump(dump, {ACCESS_VIOLATION}, threads)
        calls = self.uploader_calls(folder)
        self.assertEqual('cmd="%s\\BugReport.exe" /report client Duskmere Tavrel 3.0.1.5 zuduviz "%s"'
                         % (self.prefix.to_windows(folder), base), calls[0])
        self.check_no_error_box()


if __name__ == "__main__":
    unittest.main()
