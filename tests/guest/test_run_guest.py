#!/usr/bin/env python3
"""tools/guest/run-guest, the host's side of the i686 guest: the job's status
comes back out, and a guest that does not start, never becomes ready, hangs
in its job or fails in its init ends the run with status 124 and the reason,
within the bound given. A stand-in for qemu (ORLIX_GUEST_QEMU) plays each
guest by writing what the guest's console would."""
import os
import stat
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.environ.get("ORLIX_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
RUN_GUEST = os.path.join(ROOT, "tools", "guest", "run-guest")

# (case, console script of the stand-in, run-guest bounds, status, text on standard error)
CASES = [
    ("job status comes back", "echo 'ORLIX-GUEST: ready'; echo 'test output'; echo 'ORLIX-GUEST: exit 3'",
     [], 3, "guest job ended with 3"),
    ("qemu ends at once", "echo 'qemu: could not load kernel'; exit 1",
     [], 124, "FAILED: the guest stopped before its job ended (qemu status 1)"),
    ("never ready", "echo 'Booting'; exec sleep 600",
     ["--boot-timeout", "3"], 124, "FAILED: the guest was not ready within 3 s"),
    ("job hangs", "echo 'ORLIX-GUEST: ready'; exec sleep 600",
     ["--timeout", "4"], 124, "FAILED: the guest's job did not end within 4 s"),
    ("init fails", "echo 'ORLIX-GUEST: failed: cannot mount the checkout'",
     [], 124, "FAILED: the guest failed: cannot mount the checkout"),
]


class RunGuest(unittest.TestCase):
    def test_cases(self):
        with tempfile.TemporaryDirectory() as folder:
            for case, console, bounds, status, message in CASES:
                with self.subTest(case):
                    qemu = os.path.join(folder, "qemu")
                    with open(qemu, "w") as f:
                        f.write("#!/bin/sh\n%s\n" % console)
                    os.chmod(qemu, stat.S_IRWXU)
                    started = time.monotonic()
                    r = subprocess.run([sys.executable, RUN_GUEST, "--image", folder, "--root", ROOT,
                                        "--job", "build/guest/job-none.sh"] + bounds,
                                       env=dict(os.environ, ORLIX_GUEST_QEMU=qemu), stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
                    self.assertEqual(status, r.returncode, r.stderr)
                    self.assertIn(message, r.stderr)
                    self.assertIn(console.split("'")[1], r.stdout)  # the console is passed on
                    self.assertLess(time.monotonic() - started, 60)


if __name__ == "__main__":
    unittest.main()
