"""A launcher update on a line that breaks, end to end under Wine, against
Debian's nginx, the static web server players' files would live on: started
by the test on loopback with its own configuration, behind a link that
breaks the answer off at a chosen byte. Its access log shows the ranges the
launcher asked for and what nginx answered. The configuration comes from
the local server as always.
"""
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from test_resume_update import NEXT_LAUNCHER, ResumeBase  # noqa: E402


class ResumeNginx(ResumeBase):
    PREFIX = "resume_nginx"

    def test_1_nginx_download_cut_twice_finishes_with_only_the_missing_bytes(self):
        nginx = self.start_nginx()
        shutil.copy(NEXT_LAUNCHER, os.path.join(nginx.root, "Tavrel_Launcher.exe"))
        self.publish_next(address=self.link.url("/Tavrel_Launcher.exe"))
        first, second = 100000, self.size - 1000
        self.link.cut_at = first
        self.run_breaks_at(first)
        self.link.cut_at = second
        self.run_breaks_at(second)
        self.link.cut_at = None
        self.run_takes_the_update()
        asked = [(r["range"], r["status"]) for r in nginx.requests("/Tavrel_Launcher.exe")]
        self.assertEqual([("", 200), ("bytes=%d-" % first, 206), ("bytes=%d-" % second, 206)], asked)
        guards = [r["if_range"] for r in nginx.requests("/Tavrel_Launcher.exe")]
        self.assertEqual(guards[1], guards[2])
        self.assertNotEqual("", guards[1])

    def test_2_nginx_file_replaced_under_the_same_validator_is_downloaded_whole(self):
        nginx = self.start_nginx()
        served = os.path.join(nginx.root, "Tavrel_Launcher.exe")
        # First a file of the same size and time but other bytes: nginx
        # gives it the same entity tag as the real one.
        wrong = bytearray(self.next_launcher)
        wrong[1000:2000] = bytes(1000)
        with open(served, "wb") as f:
            f.write(bytes(wrong))
        os.utime(served, (1700000000, 1700000000))
        self.publish_next(address=self.link.url("/Tavrel_Launcher.exe"))
        before = len(nginx.requests("/Tavrel_Launcher.exe"))
        self.link.cut_at = 50000
        before_run = self.start()
        self.assertTrue(self.prefix.wait_idle(timeout=60))
        self.assertEqual(before_run, self.game_starts())
        self.assertEqual(50000, os.path.getsize(self.kept))
        shutil.copy(NEXT_LAUNCHER, served)
        os.utime(served, (1700000000, 1700000000))
        self.link.cut_at = None
        self.run_takes_the_update()
        asked = [(r["range"], r["status"]) for r in nginx.requests("/Tavrel_Launcher.exe")[before:]]
        self.assertEqual([("", 200), ("bytes=50000-", 206), ("", 200)], asked)
        self.assertIn("update download continued at 50000 bytes failed its check; downloading it whole",
                      self.added_log())



if __name__ == "__main__":
    unittest.main()
