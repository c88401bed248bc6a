"""A server that stops sending in the middle of a body: the configuration
download sets no time-out of its own, so it waits for the platform (or the
server) to end the connection, then fails and keeps the partial file. Kept
apart from test_http_client because the server holds the stalled connection
for two minutes."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402


class StalledDownload(unittest.TestCase):
    def setUp(self):
        self.prefix = harness.WinePrefix("http_stall")
        self.server = harness.LocalServer(tempfile.mkdtemp(prefix="orlix-stall-"))
        self.body = os.urandom(100000)
        self.server.put_file("f.bin", self.body)

    def tearDown(self):
        self.server.stop()
        self.prefix.close()

    def test_stall_fails_and_keeps_the_partial_file(self):
        self.server.fault("/f.bin", "stall")
        path = self.prefix.user_dir("Temp", "stall.bin")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        r = self.prefix.run([harness.tool_exe("http_probe.exe"), "download", "http://127.0.0.1:%d/f.bin" % harness.TEST_PORT,
                             self.prefix.to_windows(path)], timeout=400)
        self.assertIn(b"result=0", r.stdout)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), self.body[:512])


if __name__ == "__main__":
    unittest.main()
