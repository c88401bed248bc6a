"""The launcher's HTTP client under Wine against the local server: one-way
GETs, both download forms with every fault the server can play, the update
window's transfer with progress and cancel, and the statistic pings."""
import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

PORT = harness.TEST_PORT
BASE = "http://127.0.0.1:%d" % PORT
BODY_SIZE = 100000  # not a multiple of the 512-byte blocks


def parse(output):
    values = {}
    for line in output.decode("utf-8", "replace").splitlines():
        if "=" in line:
            key, value = line.split("=", 1)
            values.setdefault(key.strip(), value.strip())
    return values


class HttpClient(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("http_client")
        cls.root = tempfile.mkdtemp(prefix="orlix-http-")
        cls.server = harness.LocalServer(cls.root)
        cls.body = bytes((i * 131 + (i >> 8)) & 0xFF for i in range(BODY_SIZE))
        cls.server.put_file("f.bin", cls.body)
        # A host off the allow-list (which holds 127.0.0.1, localhost and
        # orlixgame.test in test builds) that serves the same file: a client
        # that wrongly followed a redirect there would get it whole.
        cls.offlist = harness.LocalServer(os.path.join(cls.root, "offlist"), bind="127.0.0.2")
        cls.offlist.put_file("f.bin", cls.body)
        cls.work = cls.prefix.user_dir("Temp", "http")
        os.makedirs(cls.work, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        cls.offlist.stop()
        cls.server.stop()
        cls.prefix.close()

    def setUp(self):
        self.server.clear_faults()

    def probe(self, *args, timeout=120):
        r = self.prefix.run([harness.tool_exe("http_probe.exe")] + list(args), timeout=timeout)
        return parse(r.stdout)

    def requests(self):
        return json.loads(self.server.get("/__test/requests"))

    def target(self, name):
        path = os.path.join(self.work, name)
        if os.path.exists(path):
            os.remove(path)
        return path, self.prefix.to_windows(path)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    # ---- HttpGetNoReply ------------------------------------------------------
    def test_get_sends_the_fixed_request(self):
        for url, target in [("HTTP://127.0.0.1:%d/p.htm?a=1&b=x" % PORT, "/p.htm?a=1&b=x"),
                            ("http://127.0.0.1:%d" % PORT, "/")]:
            before = len(self.requests())
            out = self.probe("get", url)
            self.assertEqual(out, {"result": "1", "error": "0"}, url)
            reqs = self.requests()
            self.assertEqual(len(reqs), before + 1, url)
            req = reqs[-1]
            self.assertEqual(req["method"], "GET")
            self.assertEqual(req["target"], target)
            self.assertEqual(req["version"], "HTTP/1.1")
            self.assertEqual(req["headers"].get("User-Agent"), "LHL")
            self.assertEqual(req["headers"].get("Accept-Language"), "zh-cn")
            self.assertEqual(req["headers"].get("Content-Type"), "application/x-www-form-urlencoded")
            self.assertEqual(req["headers"].get("Host"), "127.0.0.1:%d" % PORT)

    def test_get_refusals(self):
        before = len(self.requests())
        # Not plain HTTP: nothing sent, last-error code untouched.
        self.assertEqual(self.probe("get", "https://127.0.0.1:%d/x.htm" % PORT), {"result": "0", "error": "12345"})
        # Nobody listens: the platform's code of the failed send.
        out = self.probe("get", "http://127.0.0.1:1/x.htm")
        self.assertEqual(out["result"], "0")
        self.assertNotEqual(out["error"], "0")
        # A host that does not fit its buffer is refused, not cut.
        out = self.probe("get", "http://%s/x.htm" % ("a" * 300))
        self.assertEqual(out["result"], "0")
        self.assertEqual(len(self.requests()), before)

    # ---- Configuration form ----------------------------------------------------
    def test_download_configuration_form(self):
        cases = [
            # mode, result, file size, file content
            (None, "1", BODY_SIZE, self.body),
            ("404", "0", None, None),
            ("500", "1", len(b"server error"), b"server error"),
            ("chunked", "0", None, None),
            ("cut", "0", BODY_SIZE // 2, self.body[:BODY_SIZE // 2]),
            # WinINet hands over no more than the declared length; the bytes
            # after it never reach the client.
            ("extra", "1", BODY_SIZE, self.body),
        ]
        for mode, result, size, content in cases:
            with self.subTest(mode=mode):
                self.server.clear_faults()
                if mode:
                    self.server.fault("/f.bin", mode)
                path, win = self.target("config.bin")
                out = self.probe("download", BASE + "/f.bin", win)
                self.assertEqual(out["result"], result)
                if size is None:
                    self.assertFalse(os.path.exists(path) and os.path.getsize(path) > 0 and result == "1")
                else:
                    self.assertEqual(os.path.getsize(path), size)
                    self.assertEqual(self.read(path), content)

    def test_download_request_is_never_cached(self):
        path, win = self.target("twice.bin")
        self.probe("download", BASE + "/f.bin", win)
        self.server.put_file("f.bin", b"changed")
        try:
            out = self.probe("download", BASE + "/f.bin", win)
            self.assertEqual(out["result"], "1")
            self.assertEqual(self.read(path), b"changed")
        finally:
            self.server.put_file("f.bin", self.body)
        # Nor kept in WinINet's cache, where every program of the user reads.
        cache = self.prefix.local_appdata("Microsoft", "Windows", "INetCache")
        kept = [os.path.join(d, n) for d, _, names in os.walk(cache) for n in names if n.lower() != "index.dat"]
        self.assertEqual([], kept)

    # ---- Window form -----------------------------------------------------------
    def test_window_form_complete_with_progress(self):
        path, win = self.target("window.bin")
        out = self.probe("window", BASE + "/f.bin", win, "none")
        self.assertEqual(out["start"], "1")
        self.assertEqual(out["end"], "1")
        self.assertEqual(out["result"], "1")
        self.assertEqual(out["fields"], "clear")
        self.assertEqual(out["closed"], "1")
        self.assertEqual(self.read(path), self.body)
        reports = [int(x) for x in out["reports"].split(",")]
        self.assertGreaterEqual(len(reports), -(-BODY_SIZE // 512) + 1)
        self.assertEqual(reports, sorted(reports))
        self.assertEqual(reports[0], 0)
        self.assertEqual(reports[-2:], [100, 100])  # the last block, then the empty read
        self.assertLessEqual(reports[-3], 100)
        # Centred in the window's client area before the first report.
        w, h = (int(x) for x in out["client"].split(","))
        self.assertEqual(out["placed"], "%d,%d,390,21" % ((w - 390) // 2, (h - 21) // 2 + 10))

    def test_window_form_failures_end_with_cancel(self):
        cases = [
            ("404", "f.bin", None),
            ("cut", "f.bin", BODY_SIZE // 2),
            ("chunked", "f.bin", None),
        ]
        for mode, name, partial in cases:
            with self.subTest(mode=mode):
                self.server.clear_faults()
                self.server.fault("/" + name, mode)
                path, win = self.target("fail.bin")
                out = self.probe("window", BASE + "/" + name, win, "none")
                self.assertEqual(out["end"], "2")
                self.assertEqual(out["result"], "0")
                self.assertEqual(out["fields"], "clear")
                if partial is not None:
                    self.assertEqual(os.path.getsize(path), partial)
                    self.assertEqual(out["closed"], "1")

    def test_window_form_server_error_and_extra_bytes_complete(self):
        for mode, content in [("500", b"server error"), ("extra", self.body)]:
            with self.subTest(mode=mode):
                self.server.clear_faults()
                self.server.fault("/f.bin", mode)
                path, win = self.target("ok.bin")
                out = self.probe("window", BASE + "/f.bin", win, "none")
                self.assertEqual(out["end"], "1")
                self.assertEqual(self.read(path), content)

    def test_window_form_allow_list_checks_the_host(self):
        before = len(self.requests())
        for url in ["http://evil.test:%d/f.bin?from=127.0.0.1" % PORT,
                    "http://evil.test:%d/127.0.0.1/f.bin" % PORT,
                    "http://127.0.0.1@evil.test:%d/f.bin" % PORT]:
            with self.subTest(url=url):
                path, win = self.target("denied.bin")
                out = self.probe("window", url, win, "none")
                self.assertEqual(out["end"], "2")
                self.assertEqual(out["reports"], "")
                self.assertFalse(os.path.exists(path))
        self.assertEqual(len(self.requests()), before)
        # "localhost" is on the test build's list.
        path, win = self.target("allowed.bin")
        out = self.probe("window", "http://localhost:%d/f.bin" % PORT, win, "none")
        self.assertEqual(out["end"], "1")

    def test_cancel_while_connecting_leaves_no_file(self):
        self.server.fault("/f.bin", "stall-connect")
        path, win = self.target("cancel1.bin")
        out = self.probe("window", BASE + "/f.bin", win, "cancel-connect")
        self.assertEqual(out["cancel"], "1")
        self.assertEqual(out["end"], "2")
        self.assertEqual(out["fields"], "clear")
        self.assertEqual(out["reports"], "")
        self.assertFalse(os.path.exists(path))

    def test_cancel_while_reading_keeps_the_partial_file(self):
        self.server.fault("/f.bin", "stall")
        path, win = self.target("cancel2.bin")
        out = self.probe("window", BASE + "/f.bin", win, "cancel-read")
        self.assertEqual(out["cancel"], "1")
        self.assertEqual(out["end"], "2")
        self.assertEqual(out["fields"], "clear")
        self.assertEqual(out["closed"], "1")  # the stream is closed: the file can be moved
        self.assertEqual(self.read(path), self.body[:512])

    # ---- Redirects ---------------------------------------------------------------
    def test_redirects_are_followed_only_on_the_allow_list(self):
        def fresh_server():  # an empty request log; the reset also clears the faults
            self.server.reset()
            self.offlist.reset()
            self.server.fault("/moved.bin", "redirect", to="/f.bin")
            self.server.fault("/elsewhere.bin", "redirect", to="http://localhost:%d/moved.bin" % PORT)
            self.server.fault("/offlist.bin", "redirect", to="http://127.0.0.2:%d/f.bin" % PORT)
            self.server.fault("/https.bin", "redirect", to="https://127.0.0.1:%d/f.bin" % PORT)
            self.server.fault("/loop.bin", "redirect", to="/loop.bin")
            self.server.fault("/moved.htm", "redirect", to="/f.bin")

        cases = [
            # first address, complete, requests the server sees
            ("/elsewhere.bin", "1", ["/elsewhere.bin", "/moved.bin", "/f.bin"]),
            ("/offlist.bin", "0", ["/offlist.bin"]),
            ("/https.bin", "0", ["/https.bin"]),
            ("/loop.bin", "0", ["/loop.bin"] * 6),  # the first request and five redirects
        ]
        for form in ("download", "window"):
            for first, result, seen in cases:
                with self.subTest(form=form, first=first):
                    fresh_server()
                    path, win = self.target("redirected.bin")
                    out = self.probe(form, BASE + first, win, *(["none"] if form == "window" else []))
                    self.assertEqual(out["result"], result)
                    self.assertEqual([r["path"] for r in self.requests()], seen)
                    self.assertEqual(self.offlist.requests(), [], "nothing is asked of a host off the list")
                    if result == "1":
                        self.assertEqual(self.read(path), self.body)
                    else:
                        self.assertFalse(os.path.exists(path), "nothing is written before the last answer")

        # A ping is not redirected at all.
        fresh_server()
        self.assertEqual(self.probe("get", BASE + "/moved.htm")["result"], "1")
        self.assertEqual([r["path"] for r in self.requests()], ["/moved.htm"])

    # ---- Pings ---------------------------------------------------------------
    def test_pings_reach_the_server_with_their_exact_query(self):
        self.server.reset()
        out = self.prefix.run([harness.tool_exe("http_probe.exe"), "pings"], timeout=120).stdout.decode()
        self.assertEqual(out.count("sent=1"), 5, out)
        self.assertEqual(out.count("taken_reset=1"), 5, out)
        self.assertEqual(out.count("done=1"), 5, out)
        got = [(p["path"], p["query"]) for p in self.server.pings()]
        fixed = "tag=Tavrel&ver=3.0.1.5"
        self.assertEqual(got, [
            ("/install.htm", fixed + "&count=1"),
            ("/update.htm", fixed + "&count=2"),
            ("/uninstall.htm", fixed + "&count=3"),
            ("/active.htm", fixed + "&count=12&apartdays=0&keepdays=3&weekdays=5&installDay=20270105"
                                    "&deviceCode=0123456789abcdef0123456789abcdef"),
            ("/active.htm", fixed + "&count=1&apartdays=0&keepdays=1&weekdays=1&installDay="
                                    "&deviceCode=d41d8cd98f00b204e9800998ecf8427e"),
        ])

    def test_ping_to_a_server_that_is_down_still_finishes(self):
        out = self.probe("ping", "http://127.0.0.1:1/active.htm?tag=Tavrel")
        self.assertEqual(out, {"sent": "1", "taken_reset": "1", "done": "1"})


if __name__ == "__main__":
    unittest.main()
