"""The launcher built for tests starts under Wine and ends by itself."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402


class LauncherStarts(unittest.TestCase):
    def setUp(self):
        self.prefix = harness.WinePrefix("smoke")

    def tearDown(self):
        self.prefix.close()

    def test_runs_and_ends(self):
        self.assertTrue(os.path.exists(harness.launcher_exe()))
        r = self.prefix.run([harness.launcher_exe(), "/newgm"], timeout=120)
        self.assertIsNotNone(r.returncode)


if __name__ == "__main__":
    unittest.main()
