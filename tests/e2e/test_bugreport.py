"""The crash-report uploader of the game package, as the launcher starts it:
after a failed game start (bare report name, files in the install folder) and
after a launcher crash (full path of the report in the dump folder).

A small recording HTTP server on the test port stands in for the report
endpoint, so every request's path, headers and body can be checked.
"""
import http.server
import os
import re
import sys
import threading
import time
import unittest
import urllib.parse
import zipfile

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

PACKAGE = os.path.join(harness.BUILD_WIN, "package", "tavrelair.zip")
ARGS = ["/report", "client", "Duskmere", "Tavrel", "3.0.1.5", "zuduviz"]


class ReportSink(http.server.ThreadingHTTPServer):
    """Records POST /report requests; answers with |status|."""

    def __init__(self, port):
        self.requests = []
        self.status = 200
        super().__init__(("127.0.0.1", port), _Handler)
        self.thread = threading.Thread(target=self.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.shutdown()
        self.server_close()


class _Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        url = urllib.parse.urlsplit(self.path)
        self.server.requests.append({"path": url.path, "query": urllib.parse.parse_qs(url.query),
                                     "headers": dict(self.headers), "body": body})
        self.send_response(self.server.status)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"ok")

    def log_message(self, *args):
        pass


def read_ini_value(path, section, key):
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        raw = f.read()
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("latin-1")
    current = None
    for line in text.splitlines():
        line = line.strip()
        m = re.match(r"^\[(.*)\]$", line)
        if m:
            current = m.group(1)
        elif current == section and "=" in line:
            k, v = line.split("=", 1)
            if k.strip() == key:
                return v.strip()
    return None


class Uploader(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("bugreport")
        cls.install = cls.prefix.install_folder()
        os.makedirs(cls.install, exist_ok=True)
        # The uploader exactly as the game package ships it.
        with zipfile.ZipFile(PACKAGE) as z, open(os.path.join(cls.install, "BugReport.exe"), "wb") as f:
            f.write(z.read("BugReport.exe"))
        cls.exe = cls.prefix.to_windows(os.path.join(cls.install, "BugReport.exe"))
        cls.statistics = cls.prefix.maker_folder("Statistic.ini")
        assert harness.port_free(harness.TEST_PORT), "the test port is in use"
        cls.sink = ReportSink(harness.TEST_PORT)

    @classmethod
    def tearDownClass(cls):
        cls.sink.stop()
        cls.prefix.close()

    def setUp(self):
        self.sink.requests.clear()
        self.sink.status = 200
        if os.path.exists(self.statistics):
            os.remove(self.statistics)

    def run_uploader(self, args):
        r = self.prefix.run([self.exe] + args, cwd=self.install, timeout=120)
        return r.returncode

    def write(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def received(self):
        return {r["query"]["file"][0]: r for r in self.sink.requests}

    def test_failed_game_start_report_from_the_install_folder(self):
        base = "Dump_2024-03-09_Tavrel_zuduviz"
        note = b"[2024-03-09 10:11:12] \xd3\xce\xcf\xb7\xc6\xf4\xb6\xaf\xd2\xec\xb3\xa3(2)\r\n"
        report = b"System report\r\nOS: Windows\r\n" * 200
        self.write(os.path.join(self.install, base + ".dmp"), note)
        self.write(os.path.join(self.install, base + ".txt"), report)
        # The launcher's own statistics stay as they are.
        self.write(self.statistics, b"[Tavrel]\r\nGame=12\r\nlstReport=5\r\n")

        before = int(time.time())
        self.assertEqual(self.run_uploader(ARGS + [base]), 0)
        after = int(time.time())

        got = self.received()
        self.assertEqual(sorted(got), [base + ".dmp", base + ".txt"])
        self.assertTrue(got[base + ".dmp"]["body"] == note)
        self.assertTrue(got[base + ".txt"]["body"] == report)
        for r in got.values():
            self.assertEqual(r["path"], "/report")
            self.assertEqual(r["headers"].get("X-Orlix-Product"), "Tavrel")
            self.assertEqual(r["headers"].get("X-Orlix-Version"), "3.0.1.5")
            self.assertEqual(r["headers"].get("X-Orlix-Game"), "Duskmere")
        stamp = int(read_ini_value(self.statistics, "Tavrel", "lstReport"))
        self.assertTrue(before - 2 <= stamp <= after + 2, (before, stamp, after))
        self.assertEqual(read_ini_value(self.statistics, "Tavrel", "Game"), "12")
        # The files stay where they were.
        self.assertTrue(os.path.exists(os.path.join(self.install, base + ".dmp")))

    def test_crash_report_by_full_path_with_binary_minidump(self):
        dump_folder = self.prefix.documents("Orlix", "dump")
        base = os.path.join(dump_folder, "Dump_3.0.1.5_Tavrel_Launcher.exe_20240309_090507")
        minidump = b"MDMP\x93\xa7\x00\x00" + bytes(range(256)) * 64
        self.write(base + ".dmp", minidump)
        self.write(base + ".txt", b"report")

        self.assertEqual(self.run_uploader(ARGS + [self.prefix.to_windows(base)]), 0)
        got = self.received()
        name = os.path.basename(base)
        self.assertEqual(sorted(got), [name + ".dmp", name + ".txt"])
        self.assertTrue(got[name + ".dmp"]["body"] == minidump)
        self.assertIsNotNone(read_ini_value(self.statistics, "Tavrel", "lstReport"))

    def test_only_the_report_when_no_minidump_was_written(self):
        base = os.path.join(self.prefix.documents("Orlix", "dump"), "Dump_3.0.1.5_Tavrel_Launcher.exe_20240310_000000")
        self.write(base + ".txt", b"report without dump")
        self.assertEqual(self.run_uploader(ARGS + [self.prefix.to_windows(base)]), 0)
        self.assertEqual(sorted(self.received()), [os.path.basename(base) + ".txt"])

    def test_server_failure_leaves_the_throttle_alone(self):
        base = "Dump_2024-03-11_Tavrel_zuduviz"
        self.write(os.path.join(self.install, base + ".txt"), b"report")
        self.sink.status = 500
        self.assertEqual(self.run_uploader(ARGS + [base]), 3)
        self.assertEqual(len(self.sink.requests), 1)
        self.assertIsNone(read_ini_value(self.statistics, "Tavrel", "lstReport"))

    def test_bad_command_lines_send_nothing(self):
        bad = [
            [],
            ["/report"],
            ARGS,                                   # no report name
            ["/upload"] + ARGS[1:] + ["Dump_x"],    # unknown switch
            ARGS + ["Dump_x", "extra"],
        ]
        for args in bad:
            self.assertEqual(self.run_uploader(args), 1, args)
        self.assertEqual(self.sink.requests, [])
        self.assertIsNone(read_ini_value(self.statistics, "Tavrel", "lstReport"))

    def test_nothing_to_send(self):
        self.assertEqual(self.run_uploader(ARGS + ["Dump_1999-01-01_Tavrel_zuduviz"]), 2)
        self.assertEqual(self.sink.requests, [])


if __name__ == "__main__":
    unittest.main()
