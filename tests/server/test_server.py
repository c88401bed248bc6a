#!/usr/bin/python3
"""Black-box tests of orlix_server over loopback.

Usage: test_server.py PATH/TO/orlix_server   (or set ORLIX_SERVER)
Each server instance runs on a free loopback port with a temporary root,
database and reports folder, and is stopped by the tests themselves.
"""
import json
import os
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import urllib.request

SERVER_BINARY = os.environ.get("ORLIX_SERVER", "")

LAUNCHER_SIZE = 5000  # not a multiple of 512: the last slow/stall piece is a short one
LAUNCHER_BYTES = bytes((i * 7 + 3) % 251 for i in range(LAUNCHER_SIZE))
CONFIG_TEXT = (b"[VerKey]\r\nTavrel=0123456789abcdef01234567893015\r\n"
               b"UpdAddr=http://127.0.0.1/files/Tavrel_Launcher.exe\r\n")


class ServerProcess:
    """One running orlix_server with its own temporary folder."""

    def __init__(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="orlix_server_test_")
        base = self.tmp.name
        self.root = os.path.join(base, "root")
        self.db = os.path.join(base, "stats.sqlite")
        self.reports = os.path.join(base, "reports")
        os.makedirs(os.path.join(self.root, "update"))
        os.makedirs(os.path.join(self.root, "files"))
        with open(os.path.join(self.root, "update", "ConfigTavrel.htm"), "wb") as f:
            f.write(CONFIG_TEXT)
        with open(os.path.join(self.root, "files", "Tavrel_Launcher.exe"), "wb") as f:
            f.write(LAUNCHER_BYTES)
        with open(os.path.join(base, "secret.txt"), "wb") as f:
            f.write(b"outside the root")
        os.symlink(os.path.join(base, "secret.txt"), os.path.join(self.root, "files", "link.txt"))
        self.process = subprocess.Popen(
            [SERVER_BINARY, "serve", "--port", "0", "--root", self.root, "--db", self.db,
             "--reports", self.reports],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        line = self._read_ready_line(timeout=10)
        if not line.startswith("listening on 127.0.0.1:"):
            self.stop()
            raise RuntimeError("server did not start: %r" % line)
        self.port = int(line.rsplit(":", 1)[1])

    def _read_ready_line(self, timeout):
        result = []
        reader = threading.Thread(target=lambda: result.append(self.process.stdout.readline()))
        reader.daemon = True
        reader.start()
        reader.join(timeout)
        return result[0].decode().strip() if result else ""

    def stop(self, timeout=10):
        """Sends SIGTERM; returns the exit code (killing it if it hangs)."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            code = None
        self.process.stdout.close()
        self.process.stderr.close()
        self.tmp.cleanup()
        return code

    def url(self, target):
        return "http://127.0.0.1:%d%s" % (self.port, target)

    def get(self, target):
        with urllib.request.urlopen(self.url(target), timeout=10) as response:
            return response.status, response.read()

    def cli(self, *args):
        return subprocess.run([SERVER_BINARY, *args, "--db", self.db], check=True,
                              capture_output=True, timeout=10).stdout.decode()


def connect(port, timeout=5.0):
    sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    sock.settimeout(timeout)
    return sock


def read_until_close(sock):
    """Reads until EOF. Returns (data, timed_out)."""
    data = b""
    while True:
        try:
            chunk = sock.recv(65536)
        except socket.timeout:
            return data, True
        if not chunk:
            return data, False
        data += chunk


def exchange(port, request, timeout=5.0):
    """Sends raw request bytes and returns the whole raw response."""
    with connect(port, timeout) as sock:
        sock.sendall(request)
        data, timed_out = read_until_close(sock)
        if timed_out:
            raise AssertionError("response not finished in %.1f s: %r" % (timeout, data[:200]))
        return data


def parse_response(data):
    """Returns (status, headers with lower-case names, body bytes)."""
    head, separator, body = data.partition(b"\r\n\r\n")
    if not separator:
        raise AssertionError("no complete response head in %r" % data[:200])
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split(" ")[1])
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return status, headers, body


def decode_chunked(body):
    """Decodes chunked framing strictly; fails on anything malformed."""
    out = b""
    while True:
        size_line, separator, body = body.partition(b"\r\n")
        assert separator, "chunk size line missing"
        size = int(size_line, 16)
        if size == 0:
            assert body == b"\r\n", "bad chunked trailer: %r" % body
            return out
        out += body[:size]
        assert body[size:size + 2] == b"\r\n", "chunk not followed by CRLF"
        body = body[size + 2:]


def get_request(target, extra=b""):
    return b"GET " + target.encode() + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + b"\r\n"


class ServerTest(unittest.TestCase):
    server = None

    @classmethod
    def setUpClass(cls):
        cls.server = ServerProcess()

    @classmethod
    def tearDownClass(cls):
        code = cls.server.stop()
        if code != 0:
            raise AssertionError("server did not stop cleanly on SIGTERM (exit %r)" % code)

    def setUp(self):
        self.assertEqual(self.server.get("/__test/reset"), (200, b"ok"))

    def fetch(self, target, extra=b"", timeout=5.0):
        return parse_response(exchange(self.server.port, get_request(target, extra), timeout))

    def db_pings(self):
        with sqlite3.connect(self.server.db) as db:
            return db.execute("SELECT path, query, remote FROM pings ORDER BY id").fetchall()

    def test_pings_are_recorded_with_the_raw_query(self):
        device = "0123456789abcdef0123456789abcdef"
        fixed = "tag=Tavrel&ver=3.0.1.5"
        cases = [  # target as sent, recorded path, recorded query
            ("/install.htm?" + fixed + "&count=1", "/install.htm", fixed + "&count=1"),
            ("/active.htm?" + fixed + "&count=12&apartdays=0&keepdays=3&weekdays=5&installDay=&deviceCode="
             + device, "/active.htm", fixed + "&count=12&apartdays=0&keepdays=3&weekdays=5&installDay="
             "&deviceCode=" + device),
            ("/update.htm?" + fixed + "&count=-2", "/update.htm", fixed + "&count=-2"),
            ("/uninstall.htm?" + fixed + "&count=1", "/uninstall.htm", fixed + "&count=1"),
            # Any top-level .htm that is no file; escapes are stored raw.
            ("/other.htm?a=%41%2B+b&flag", "/other.htm", "a=%41%2B+b&flag"),
            ("/install.htm", "/install.htm", ""),
            # An object name passed on without its leading '/'.
            ("update.htm?count=3", "/update.htm", "count=3"),
        ]
        for target, path, query in cases:
            status, headers, body = self.fetch(target)
            self.assertEqual((status, body), (200, b"ok"), target)
            self.assertEqual(headers["content-length"], "2")
            # Durable before the answer: readable at once by another connection.
            self.assertEqual(self.db_pings()[-1], (path, query, "127.0.0.1"), target)

        listed = self.server.cli("pings").splitlines()
        self.assertEqual([line.split("\t")[2:] for line in listed], [[p, q] for _, p, q in cases])
        self.assertEqual(len(self.server.cli("pings", "--path", "/install.htm").splitlines()), 2)
        self.assertEqual(len(self.server.cli("pings", "--path", "/update.htm").splitlines()), 2)

        from_cli = json.loads(self.server.cli("pings", "--json"))
        from_http = json.loads(self.server.get("/__test/pings")[1])
        self.assertEqual(from_cli, from_http)
        active = from_cli[1]
        self.assertEqual(active["path"], "/active.htm")
        self.assertEqual(active["params"]["installDay"], "")
        self.assertEqual(active["params"]["deviceCode"], device)
        self.assertEqual(active["params"]["count"], "12")
        self.assertEqual(from_cli[4]["params"], {"a": "A+ b", "flag": ""})
        self.assertTrue(active["time"].endswith("Z"))

    def test_static_files_carry_their_length(self):
        for target, content in [("/update/ConfigTavrel.htm", CONFIG_TEXT),
                                ("/update/ConfigTavrel.htm?nocache=1", CONFIG_TEXT),
                                ("/files/Tavrel_Launcher.exe", LAUNCHER_BYTES)]:
            status, headers, body = self.fetch(target)
            self.assertEqual(status, 200, target)
            self.assertEqual(headers["content-length"], str(len(content)))
            self.assertNotIn("transfer-encoding", headers)
            self.assertEqual(body, content)
        # HTTP/1.0 and HEAD: same length, HEAD without body.
        data = exchange(self.server.port, b"HEAD /files/Tavrel_Launcher.exe HTTP/1.0\r\n\r\n")
        status, headers, body = parse_response(data)
        self.assertEqual((status, headers["content-length"], body), (200, str(LAUNCHER_SIZE), b""))
        self.assertEqual(self.db_pings(), [], "files are not pings")

    def test_missing_paths_and_traversal(self):
        cases = [
            ("/missing.exe", 404),
            ("/files", 404),                      # a folder is not a file
            ("/update/Missing.htm", 404),         # only top-level .htm addresses are pings
            ("/files/link.txt", 404),             # symlink leading out of the root
            ("/../secret.txt", 403),
            ("/files/../../secret.txt", 403),
            ("/%2e%2e/secret.txt", 403),
            ("/files/%2E%2E%2f%2e%2e%2fsecret.txt", 403),
            ("/files/..%5c..%5csecret.txt", 403),
            ("/../ping.htm", 403),                # traversal is refused before ping matching
            ("/bad%zzescape", 400),
            ("/nul%00.htm", 400),
        ]
        for target, expected in cases:
            status, _, body = self.fetch(target)
            self.assertEqual(status, expected, target)
            self.assertNotIn(b"outside the root", body)
        self.assertEqual(self.db_pings(), [])

    def test_malformed_requests_are_refused(self):
        cases = [
            (b"NONSENSE\r\n\r\n", 400),
            (b"GET /x HTTP/2.0\r\n\r\n", 505),
            (b"GET  /double-blank HTTP/1.1\r\n\r\n", 400),
            (b"GET / HTTP/1.1\r\nNo colon here\r\n\r\n", 400),
            (b"GET / HTTP/1.1\r\n folded: header\r\n\r\n", 400),
            (b"GET /a\x01b HTTP/1.1\r\n\r\n", 400),
            (b"DELETE /files/Tavrel_Launcher.exe HTTP/1.1\r\n\r\n", 405),
            (b"GET / HTTP/1.1\r\nX-Big: " + b"a" * 20000 + b"\r\n\r\n", 431),
            (b"GET / HTTP/1.1\r\nX-Big: " + b"a" * 20000, 431),  # never-ending head
        ]
        for request, expected in cases:
            status, _, _ = parse_response(exchange(self.server.port, request))
            self.assertEqual(status, expected, request[:40])
        # A client that connects and leaves silently must not disturb others.
        connect(self.server.port).close()
        self.assertEqual(self.server.get("/update/ConfigTavrel.htm"), (200, CONFIG_TEXT))

    def test_byte_ranges_as_a_static_server_answers_them(self):
        target = "/files/Tavrel_Launcher.exe"
        status, headers, body = self.fetch(target)
        etag, modified = headers["etag"], headers["last-modified"]
        self.assertEqual((status, headers["accept-ranges"], body), (200, "bytes", LAUNCHER_BYTES))
        self.assertRegex(etag, r'^"[0-9a-f.-]+"$')
        cases = [
            # (Range, If-Range or None, status, Content-Range, body)
            ("bytes=1000-", None, 206, "bytes 1000-4999/5000", LAUNCHER_BYTES[1000:]),
            ("bytes=1000-1999", None, 206, "bytes 1000-1999/5000", LAUNCHER_BYTES[1000:2000]),
            ("bytes=1000-", etag, 206, "bytes 1000-4999/5000", LAUNCHER_BYTES[1000:]),
            ("bytes=1000-", modified, 206, "bytes 1000-4999/5000", LAUNCHER_BYTES[1000:]),
            ("bytes=1000-", '"another"', 200, None, LAUNCHER_BYTES),
            ("bytes=5000-", None, 416, "bytes */5000", b""),
            ("bytes=-100", None, 200, None, LAUNCHER_BYTES),  # suffix ranges are not served
            ("bytes=1-2,5-6", None, 200, None, LAUNCHER_BYTES),
        ]
        for range_text, if_range, want_status, want_range, want_body in cases:
            with self.subTest(range_text, if_range=if_range):
                extra = b"Range: " + range_text.encode() + b"\r\n"
                if if_range:
                    extra += b"If-Range: " + if_range.encode() + b"\r\n"
                status, headers, body = self.fetch(target, extra)
                self.assertEqual((want_status, want_range, want_body), (status, headers.get("content-range"), body))
                self.assertEqual(str(len(body)), headers["content-length"])

        def arm(mode, extra=""):
            self.assertEqual(self.server.get("/__test/fault?path=%s&mode=%s%s" % (target, mode, extra)), (200, b"ok"))

        ranged = b"Range: bytes=1000-\r\nIf-Range: " + etag.encode() + b"\r\n"
        arm("no-ranges")
        status, headers, body = self.fetch(target, ranged)
        self.assertEqual((200, None, LAUNCHER_BYTES), (status, headers.get("accept-ranges"), body))
        arm("range-shift")
        status, headers, body = self.fetch(target, ranged)
        self.assertEqual((206, "bytes 999-4999/5000", LAUNCHER_BYTES[999:]),
                         (status, headers["content-range"], body))
        # A cut at a file offset, for a whole answer and for a range.
        arm("cut", "&at=3000")
        self.assertEqual(LAUNCHER_BYTES[:3000], self.fetch(target)[2])
        self.assertEqual(LAUNCHER_BYTES[1000:3000], self.fetch(target, ranged)[2])
        self.server.get("/__test/clear")
        # Another file at the same path is another version, even within the same second.
        with open(os.path.join(self.server.root, "files", "Tavrel_Launcher.exe"), "wb") as f:
            f.write(LAUNCHER_BYTES[::-1])
        try:
            status, headers, body = self.fetch(target, ranged)
            self.assertEqual((200, LAUNCHER_BYTES[::-1]), (status, body))
            self.assertNotEqual(etag, headers["etag"])
        finally:
            with open(os.path.join(self.server.root, "files", "Tavrel_Launcher.exe"), "wb") as f:
                f.write(LAUNCHER_BYTES)

    def test_fault_modes_over_raw_sockets(self):
        target = "/files/Tavrel_Launcher.exe"

        def arm(mode):
            self.assertEqual(self.server.get("/__test/fault?path=%s&mode=%s" % (target, mode)), (200, b"ok"))

        arm("404")
        self.assertEqual(self.fetch(target)[0], 404)

        arm("500")
        status, headers, body = self.fetch(target)
        self.assertEqual((status, body), (500, b"server error"))
        self.assertEqual(headers["content-length"], str(len(body)))

        arm("chunked")
        status, headers, body = self.fetch(target + "?q=ignored")
        self.assertEqual((status, headers.get("transfer-encoding")), (200, "chunked"))
        self.assertNotIn("content-length", headers)
        self.assertEqual(decode_chunked(body), LAUNCHER_BYTES)

        arm("cut")
        status, headers, body = self.fetch(target)
        self.assertEqual(headers["content-length"], str(LAUNCHER_SIZE))
        self.assertEqual(body, LAUNCHER_BYTES[:LAUNCHER_SIZE // 2])

        arm("extra")
        status, headers, body = self.fetch(target)
        self.assertEqual(headers["content-length"], str(LAUNCHER_SIZE))
        self.assertEqual(len(body), LAUNCHER_SIZE + 4096)
        self.assertEqual(body[:LAUNCHER_SIZE], LAUNCHER_BYTES)

        arm("slow")
        started = time.monotonic()
        status, headers, body = self.fetch(target)
        pauses = (LAUNCHER_SIZE + 511) // 512 - 1
        self.assertGreaterEqual(time.monotonic() - started, pauses * 0.020 * 0.9)
        self.assertEqual((status, body), (200, LAUNCHER_BYTES))

        for mode, expected_body in [("stall", LAUNCHER_BYTES[:512]), ("stall-connect", None)]:
            arm(mode)
            with connect(self.server.port, timeout=1.0) as stalled:
                stalled.sendall(get_request(target))
                data, timed_out = read_until_close(stalled)
                self.assertTrue(timed_out, mode + ": the client time-out must fire")
                if expected_body is None:
                    self.assertEqual(data, b"")
                else:
                    status, headers, body = parse_response(data)
                    self.assertEqual(headers["content-length"], str(LAUNCHER_SIZE))
                    self.assertEqual(body, expected_body)
                # The stalled connection blocks nobody else.
                self.assertEqual(self.server.get("/update/ConfigTavrel.htm"), (200, CONFIG_TEXT))

        # Faults match the exact path only, and clear restores normal service.
        self.assertEqual(self.fetch("/update/ConfigTavrel.htm")[2], CONFIG_TEXT)
        self.assertEqual(self.server.get("/__test/clear"), (200, b"ok"))
        self.assertEqual(self.fetch(target)[2], LAUNCHER_BYTES)

    def test_redirect_and_trickle_faults(self):
        target = "/update/ConfigTavrel.htm"
        for location in ["http://127.0.0.2:9/files/x.exe?a=1&b=2", target]:
            self.assertEqual(self.server.get("/__test/fault?path=%s&mode=redirect&to=%s"
                                             % (target, urllib.parse.quote(location, safe=""))), (200, b"ok"))
            status, headers, body = self.fetch(target + "?q")
            self.assertEqual((status, headers["location"], body), (302, location, b"moved\n"))
            self.assertEqual(headers["content-length"], str(len(body)))
        for bad in ["", "&to=", "&to=%0d%0aX-Injected:%201"]:
            self.assertEqual(self.fetch("/__test/fault?path=/x&mode=redirect" + bad)[0], 400, bad)

        # A stall holds the connection as long as the fault says (2 s), then
        # ends it: not at once, and before the client's own 10 s time-out.
        self.server.get("/__test/fault?path=%s&mode=stall-connect&hold=2" % target)
        with connect(self.server.port, timeout=10.0) as stalled:
            started = time.monotonic()
            stalled.sendall(get_request(target))
            self.assertEqual(read_until_close(stalled), (b"", False))
            held = time.monotonic() - started
        self.assertGreaterEqual(held, 2.0 * 0.9)
        for bad in ["0", "3601", "x", "-1", ""]:
            self.assertEqual(self.fetch("/__test/fault?path=/x&mode=stall&hold=" + bad)[0], 400, bad)

        # A trickle declares the whole length and then sends one byte at a
        # time, a pause between each: the first arrives with the head, the
        # second only after the pause.
        self.server.get("/__test/fault?path=%s&mode=trickle" % target)
        with connect(self.server.port, timeout=10.0) as sock:
            sock.sendall(get_request(target))
            data = b""
            while b"\r\n\r\n" not in data or len(data.partition(b"\r\n\r\n")[2]) < 1:
                data += sock.recv(1)
            status, headers, body = parse_response(data)
            self.assertEqual((status, headers["content-length"], body), (200, str(len(CONFIG_TEXT)), CONFIG_TEXT[:1]))
            first = time.monotonic()
            self.assertEqual(sock.recv(16), CONFIG_TEXT[1:2])
            self.assertGreaterEqual(time.monotonic() - first, 1.5)

    def test_fault_on_a_ping_path(self):
        self.server.get("/__test/fault?path=/active.htm&mode=chunked")
        status, headers, body = self.fetch("/active.htm?count=1")
        self.assertEqual((status, decode_chunked(body)), (200, b"ok"))
        self.server.get("/__test/fault?path=/active.htm&mode=500")
        self.assertEqual(self.fetch("/active.htm?count=2")[0], 500)
        self.assertEqual([q for _, q, _ in self.db_pings()], ["count=1"], "a refused ping is not recorded")

    def test_bad_fault_requests(self):
        for target in ["/__test/fault?path=/x&mode=explode", "/__test/fault?mode=cut", "/__test/nothing"]:
            self.assertIn(self.fetch(target)[0], (400, 404), target)

    def test_request_log_shows_client_headers(self):
        extra = b"User-Agent: LHL\r\nAccept-Language: zh-cn \r\nContent-Type: application/x-www-form-urlencoded\r\n"
        self.fetch("/active.htm?tag=Tavrel", extra)
        log = json.loads(self.server.get("/__test/requests")[1])
        self.assertEqual(len(log), 1, "test controls are not logged")
        entry = log[0]
        self.assertEqual((entry["method"], entry["path"], entry["query"]), ("GET", "/active.htm", "tag=Tavrel"))
        self.assertEqual(entry["headers"]["User-Agent"], "LHL")
        self.assertEqual(entry["headers"]["Accept-Language"], "zh-cn ")
        self.assertNotIn("Accept", entry["headers"])

    def test_report_upload_and_reset(self):
        payload = bytes(range(256)) * 300
        request = (b"POST /report?file=..%2Fcrash%20dump.dmp HTTP/1.1\r\nHost: x\r\nContent-Length: "
                   + str(len(payload)).encode() + b"\r\n\r\n" + payload)
        status, _, body = parse_response(exchange(self.server.port, request))
        self.assertEqual((status, body), (200, b"ok"))

        rows = [line.split("\t") for line in self.server.cli("reports").splitlines()]
        self.assertEqual(len(rows), 1)
        _, _, name, size, stored_path = rows[0]
        self.assertEqual((name, int(size)), ("crash_dump.dmp", len(payload)))
        self.assertEqual(os.path.dirname(stored_path), self.server.reports)
        self.assertTrue(stored_path.endswith("-crash_dump.dmp"))
        with open(stored_path, "rb") as f:
            self.assertEqual(f.read(), payload)

        no_length = b"POST /report?file=a.txt HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"
        self.assertEqual(parse_response(exchange(self.server.port, no_length))[0], 411)

        self.fetch("/install.htm?count=1")
        self.server.get("/__test/fault?path=/update/ConfigTavrel.htm&mode=404")
        self.assertEqual(self.server.get("/__test/reset"), (200, b"ok"))
        self.assertEqual(self.server.cli("reports"), "")
        self.assertEqual(self.db_pings(), [])
        self.assertFalse(os.path.exists(stored_path))
        self.assertEqual(self.fetch("/update/ConfigTavrel.htm")[0], 200, "reset clears faults")

    def test_many_sequential_and_parallel_connections(self):
        for i in range(100):
            self.assertEqual(self.fetch("/files/Tavrel_Launcher.exe")[2], LAUNCHER_BYTES)
        results = []

        def ping(i):
            results.append(self.fetch("/active.htm?count=%d" % i)[0])

        workers = [threading.Thread(target=ping, args=(i,)) for i in range(20)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join(30)
        self.assertEqual(results, [200] * 20)
        self.assertEqual(len(self.db_pings()), 20)


class ShutdownTest(unittest.TestCase):
    def test_sigterm_ends_the_server_even_with_a_stalled_download(self):
        server = ServerProcess()
        try:
            server.get("/__test/fault?path=/files/Tavrel_Launcher.exe&mode=stall")
            stalled = connect(server.port)
            stalled.sendall(get_request("/files/Tavrel_Launcher.exe"))
            time.sleep(0.2)
            started = time.monotonic()
        finally:
            code = server.stop()
        self.assertEqual(code, 0)
        self.assertLess(time.monotonic() - started, 5)
        stalled.close()


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        SERVER_BINARY = sys.argv.pop(1)
    if not SERVER_BINARY or not os.access(SERVER_BINARY, os.X_OK):
        sys.exit("usage: test_server.py PATH/TO/orlix_server (or set ORLIX_SERVER)")
    SERVER_BINARY = os.path.abspath(SERVER_BINARY)
    unittest.main(verbosity=2)
