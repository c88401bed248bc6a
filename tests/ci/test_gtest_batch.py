#!/usr/bin/env python3
"""tools/wine/gtest-batch, which runs a share of a Windows tree's GoogleTest
cases in one Wine start: every case is reported by name; a case that crashes
the program or runs past its bound fails by name and the share goes on with
the cases after it; a program that runs none of its cases fails them all
rather than being started again and again; the prefix check is a case of
its own; shares split the list without gaps or overlaps; ORLIX_TEST_PATTERN
selects cases. Stand-ins play Wine's side (ORLIX_WINE_TOOLS, wineserver on
PATH) and the test program, which writes what GoogleTest writes."""
import json
import os
import stat
import subprocess
import sys
import tempfile
import unittest

ROOT = os.environ.get("ORLIX_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
GTEST_BATCH = os.path.join(ROOT, "tools", "wine", "gtest-batch")

# The stand-in test program (run as "winerun PROGRAM ARGS"). Cases are named
# for what they do: ok, fail, skip, crash (the program ends inside the case),
# hang (it never ends), dirty (it leaves a file the prefix check finds).
# FAKE_CASES lists them; FAKE_BROKEN=1 makes a program that ends at once.
PROGRAM = r'''#!/usr/bin/env python3
import os, sys, time
args = sys.argv[1:]
if args[:1] == ["cmd"]:
    sys.exit(0)
prefix = os.environ["WINEPREFIX"]
with open(os.environ["FAKE_LOG"], "a") as log:
    log.write(" ".join(args[1:]) + "\n")
with open(os.path.join(prefix, "program.pid"), "w") as f:
    f.write(str(os.getpid()))
cases = os.environ["FAKE_CASES"].split(",")
if "--gtest_list_tests" in args:
    suites = {}
    for case in cases:
        suite, name = case.rsplit(".", 1)
        suites.setdefault(suite, []).append(name)
    for suite, names in suites.items():
        print(suite + ".")
        for name in names:
            print("  " + name + ("  # GetParam() = 4" if "/" in name else ""))
    sys.exit(0)
if os.environ.get("FAKE_BROKEN"):
    sys.exit(5)
wanted = [a for a in args if a.startswith("--gtest_filter=")][0].split("=", 1)[1].split(":")
failed = 0
for case in [c for c in cases if c in wanted]:
    print("[ RUN      ] " + case, flush=True)
    kind = case.rsplit(".", 1)[1].split("/")[0]
    if kind.startswith("crash"):
        os._exit(3)
    if kind.startswith("hang"):
        time.sleep(600)
    if kind.startswith("dirty"):
        open(os.path.join(prefix, "dirty"), "w").close()
    if kind.startswith("fail"):
        print("case.cpp:1: Failure")
        failed += 1
        where = ", where GetParam() = 4" if "/" in case else ""
        print("[  FAILED  ] %s%s (0 ms)" % (case, where), flush=True)
    elif kind.startswith("skip"):
        print("[  SKIPPED ] %s (0 ms)" % case, flush=True)
    else:
        print("[       OK ] %s (1 ms)" % case, flush=True)
# GoogleTest's closing list names the failed cases again, outside any case.
print("[  FAILED  ] %d tests, listed below:" % failed)
sys.exit(1 if failed else 0)
'''

# wineserver -k ends the prefix's programs, as Wine's does.
WINESERVER = r'''#!/bin/sh
if [ "$1" = -k ] && [ -f "$WINEPREFIX/program.pid" ]; then
  kill -9 "$(cat "$WINEPREFIX/program.pid")" 2>/dev/null
fi
exit 0
'''

# The prefix check: fails when a case left its file.
FINGERPRINT = r'''import os, sys
if sys.argv[1] == "--check":
    sys.exit(1 if os.path.exists(os.path.join(sys.argv[2], "dirty")) else 0)
print("fingerprint")
'''


def write(path, text, executable=True):
    with open(path, "w") as f:
        f.write(text)
    if executable:
        os.chmod(path, stat.S_IRWXU)


class GtestBatch(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="gtest-batch-")
        self.addCleanup(self.tmp.cleanup)
        t = self.tmp.name
        self.tools = os.path.join(t, "tools")
        self.bin = os.path.join(t, "bin")
        self.tree = os.path.join(t, "tree")
        self.scratch = os.path.join(t, "scratch")
        base = os.path.join(t, "base_prefix")
        for folder in (self.tools, self.bin, self.tree, base):
            os.makedirs(folder)
        write(os.path.join(self.tools, "winerun"), PROGRAM)
        write(os.path.join(self.tools, "prefix-setup"), "#!/bin/sh\nexit 0\n")
        write(os.path.join(self.tools, "prefix-fingerprint"), FINGERPRINT, executable=False)
        write(os.path.join(self.bin, "wineserver"), WINESERVER)
        self.env = dict(os.environ, ORLIX_WINE_TOOLS=self.tools, ORLIX_BASE_WINEPREFIX=base,
                        ORLIX_GTEST_SCRATCH=self.scratch, PATH=self.bin + os.pathsep + os.environ["PATH"])
        self.env.pop("ORLIX_TEST_PATTERN", None)

    def run_share(self, cases, name="share", extra=(), **env):
        run_env = dict(self.env, FAKE_CASES=",".join(cases), FAKE_LOG=self.log_path(name), **env)
        r = subprocess.run([sys.executable, GTEST_BATCH, "--tree", self.tree, "--exe", "launcher_tests.exe",
                            "--name", name] + list(extra), env=run_env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
        with open(os.path.join(self.tree, "test-results", name + ".json"), encoding="utf-8") as f:
            return r, json.load(f)

    def log_path(self, name):
        return os.path.join(self.tmp.name, "starts-%s.log" % name)

    def starts(self, name="share"):
        """The test program's starts, each as its arguments."""
        with open(self.log_path(name)) as f:
            return [line.split() for line in f.read().splitlines()]

    def test_each_outcome_by_name_and_the_share_goes_on_after_a_crash_or_a_hang(self):
        cases = ["A.ok", "A.fail", "B.crash", "B.ok_after_crash", "C.hang", "C.skip", "C.ok_after_hang",
                 "P/D.fail/0", "P/D.ok/1"]
        r, result = self.run_share(cases, extra=["--case-timeout", "3"])
        self.assertEqual(1, r.returncode, r.stdout)
        self.assertEqual(sorted(["A.fail", "B.crash", "C.hang", "P/D.fail/0"]), result["failed"])
        # ok, ok_after_crash, ok_after_hang, P/D.ok/1 and the prefix check.
        self.assertEqual(5, result["passed"])
        self.assertEqual(1, result["skipped"])
        self.assertIn("B.crash: it ended the test program (exit 3)", r.stdout)
        self.assertIn("C.hang: it ran past 3 s", r.stdout)
        self.assertIn("share: 5 passed, 4 failed, 1 skipped", r.stdout)
        # A listing, then a start for all, one after the crash, one after the hang.
        runs = [s for s in self.starts() if "--gtest_list_tests" not in s]
        self.assertEqual(3, len(runs))
        self.assertTrue(runs[1][-1].startswith("--gtest_filter=B.ok_after_crash:"), runs[1])
        self.assertTrue(runs[2][-1].startswith("--gtest_filter=C.skip:"), runs[2])
        # A failed share keeps its folder for a look.
        self.assertTrue(os.path.isdir(os.path.join(self.scratch, "share", "prefix")))

    def test_a_program_that_runs_no_case_fails_them_all_once(self):
        r, result = self.run_share(["A.ok", "A.ok2"], FAKE_BROKEN="1")
        self.assertEqual(1, r.returncode)
        self.assertEqual(["A.ok", "A.ok2"], result["failed"])
        self.assertEqual(2, len(self.starts()))  # the listing and one start
        self.assertIn("ran none of its cases (exit 5)", r.stdout)

    def test_a_case_that_changes_the_prefix_fails_the_prefix_check(self):
        r, result = self.run_share(["A.ok", "A.dirty"])
        self.assertEqual(["wineprefix_unchanged"], result["failed"])
        self.assertEqual(2, result["passed"])
        r, result = self.run_share(["A.ok"])
        self.assertEqual(0, r.returncode, r.stdout)
        self.assertEqual({"passed": 2, "failed": [], "skipped": 0}, {k: result[k] for k in ("passed", "failed",
                                                                                           "skipped")})
        self.assertFalse(os.path.exists(os.path.join(self.scratch, "share")))  # a passed share leaves nothing

    def test_shares_split_the_cases_and_a_pattern_selects_them(self):
        cases = ["S%d.ok" % n for n in range(7)]
        seen = []
        for shard in (1, 2, 3):
            name = "s%d" % shard
            r, result = self.run_share(cases, name=name, extra=["--shard", str(shard), "--shards", "3"])
            self.assertEqual(0, r.returncode, r.stdout)
            filter_arg = [s for s in self.starts(name) if "--gtest_list_tests" not in s][0][-1]
            seen += filter_arg.split("=", 1)[1].split(":")
        self.assertEqual(sorted(cases), sorted(seen))
        r, result = self.run_share(cases, name="picked", ORLIX_TEST_PATTERN="S[13]\\.")
        self.assertEqual(3, result["passed"])  # S1.ok, S3.ok and the prefix check


if __name__ == "__main__":
    unittest.main()
