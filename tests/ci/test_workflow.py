"""The Windows runners' workflow (.github/workflows/windows.yml) cannot run
here; what can be checked here is: it parses, each command it runs is one
./dev has, each file it carries from the Linux job to Windows is one the
build makes (and made, in this checkout's trees), and it runs the GoogleTest
suites of exactly the test trees ./dev test runs.
"""
import os
import re
import subprocess
import unittest

import yaml

ROOT = os.environ.get("ORLIX_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WORKFLOW = os.path.join(ROOT, ".github", "workflows", "windows.yml")


def read(*parts):
    with open(os.path.join(ROOT, *parts), encoding="utf-8") as f:
        return f.read()


def tree_built(tree):
    """True when the build tree exists and ninja has nothing left to do in it."""
    if not os.path.exists(os.path.join(tree, "build.ninja")):
        return False
    r = subprocess.run(["ninja", "-C", tree, "-n"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return r.returncode == 0 and "no work to do" in r.stdout


def configure_commands(dev):
    """Each tree's whole `configure TREE ...` command in ./dev, its continued
    lines joined: {tree: arguments}. Nothing of a neighbouring command."""
    commands = {}
    lines = dev.splitlines()
    for i, line in enumerate(lines):
        m = re.match(r"^\s+configure ([\w-]+)(?: (.*))?$", line)
        if not m:
            continue
        text = m.group(2) or ""
        while text.endswith("\\") and i + 1 < len(lines):
            i += 1
            text = text[:-1] + " " + lines[i].strip()
        commands[m.group(1)] = text
    return commands


def steps(job):
    return job.get("steps", [])


class WindowsWorkflow(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(WORKFLOW, encoding="utf-8") as f:
            cls.flow = yaml.safe_load(f)
        cls.dev = read("dev")
        cls.jobs = cls.flow["jobs"]

    def dev_commands(self):
        """The commands of ./dev's final case statement."""
        cases = self.dev[self.dev.rindex('case "${1:-}" in'):]
        return {c.strip() for line in re.findall(r"^  ([a-z][a-z |]*)\)", cases, re.M) for c in line.split("|")}

    def test_linux_job_builds_with_dev(self):
        job = self.jobs["cross-build"]
        self.assertTrue(job["runs-on"].startswith("ubuntu"))
        self.assertTrue(job["container"].startswith("debian:"))
        runs = [s["run"] for s in steps(job) if "run" in s]
        dev_runs = [r for r in runs if r.startswith("./dev")]
        self.assertEqual(["./dev build"], dev_runs)
        for run in dev_runs:
            self.assertIn(run.split()[1], self.dev_commands())
        self.assertTrue(os.access(os.path.join(ROOT, "dev"), os.X_OK))

    def test_every_carried_file_is_one_the_build_makes(self):
        upload = [s for s in steps(self.jobs["cross-build"]) if s.get("uses", "").startswith("actions/upload-artifact@")]
        self.assertEqual(1, len(upload))
        paths = [p.strip() for p in upload[0]["with"]["path"].splitlines() if p.strip()]
        configured = configure_commands(self.dev)
        windows_cmake = read("cmake", "Windows.cmake") + read("cmake", "WindowsTests.cmake")
        made = {
            "launcher_tests.exe": "add_executable(launcher_tests ",
            "Tavrel_Launcher.exe": "add_executable(Tavrel_Launcher WIN32",
            "testtools/": "RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testtools",
        }
        self.assertTrue(paths)
        for path in paths:
            with self.subTest(path):
                _, tree, rest = path.split("/", 2)
                self.assertIn(tree, configured, "./dev build makes no tree %s" % tree)
                self.assertIn("-DORLIX_TEST_SETTINGS=ON", configured[tree].split(),
                              "build/%s is carried to Windows but not configured with the test settings" % tree)
                self.assertIn(rest, made)
                self.assertIn(made[rest], windows_cmake)
                # This checkout's own build made it, once that tree is built
                # (./dev test builds every tree first).
                if not tree_built(os.path.join(ROOT, "build", tree)):
                    self.skipTest("build/%s is not built here" % tree)
                self.assertTrue(os.path.exists(os.path.join(ROOT, path)), path)

    def test_windows_job_runs_the_suites_of_the_trees_dev_test_runs(self):
        job = self.jobs["windows"]
        self.assertEqual("windows-latest", job["runs-on"])
        self.assertEqual(["cross-build"], [job["needs"]] if isinstance(job["needs"], str) else job["needs"])
        trees = job["strategy"]["matrix"]["tree"]
        # ./dev test: test_tree() gives the GoogleTest tree of each architecture.
        dev_trees = re.search(r'^test_tree\(\) \{(.*)\}$', self.dev, re.M).group(1)
        self.assertEqual(sorted(re.findall(r'\$BUILD/([\w-]+)', dev_trees)), sorted(trees))
        suite = [s for s in steps(job) if "launcher_tests.exe" in s.get("run", "")]
        self.assertEqual(1, len(suite))
        self.assertEqual("build/${{ matrix.tree }}", suite[0]["working-directory"])
        carried = read(".github", "workflows", "windows.yml")
        for tree in trees:
            self.assertIn("build/%s/launcher_tests.exe" % tree, carried)
            self.assertIn("build/%s/testtools/" % tree, carried)
        download = [s for s in steps(job) if s.get("uses", "").startswith("actions/download-artifact@")]
        self.assertEqual("build", download[0]["with"]["path"])

    def test_actions_are_pinned_to_a_major_version(self):
        for name, job in self.jobs.items():
            for step in steps(job):
                if "uses" in step:
                    with self.subTest(job=name, uses=step["uses"]):
                        self.assertRegex(step["uses"], r"^actions/[a-z-]+@v\d+$")


class ConfigureCommands(unittest.TestCase):
    def test_a_tree_gets_only_its_own_command(self):
        dev = ("  configure i686-test -DA=1 \\\n    -DCMAKE_BUILD_TYPE=Release\n"
               "  configure x86_64 -DORLIX_TEST_SETTINGS=ON\n")
        commands = configure_commands(dev)
        self.assertNotIn("-DORLIX_TEST_SETTINGS=ON", commands["i686-test"].split())
        self.assertIn("-DCMAKE_BUILD_TYPE=Release", commands["i686-test"].split())
        self.assertIn("-DORLIX_TEST_SETTINGS=ON", commands["x86_64"].split())


if __name__ == "__main__":
    unittest.main()
