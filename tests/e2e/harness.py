"""Shared pieces of the end-to-end tests: a Wine prefix of the test's own, the
local statistics/update server, the launcher's files, and looking at the X
display.

Every end-to-end test drives the real launcher under Wine as a player would:
the players' i686 build where this machine runs 32-bit Windows programs, in
the players' locale (Simplified Chinese, code page 936). Each test script gets
a fresh copy of the build's prepared Wine prefix, so registry values,
shortcuts and installed files of one script never leak into another. Only
loopback traffic; every wait is bounded.
"""
import json
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import urllib.request

ROOT = os.environ.get("ORLIX_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def i686_runs():
    """True where Wine runs 32-bit programs here: wine32 is installed and the
    kernel executes 32-bit code (./dev setup notes that in build/i686-host)."""
    try:
        with open(os.path.join(ROOT, "build", "i686-host"), encoding="utf-8") as f:
            host = f.read()
    except OSError:
        return False
    return os.access("/usr/lib/wine/wine", os.X_OK) and host.startswith("runs")


BUILD_WIN = os.environ.get("ORLIX_BUILD_WIN") or os.path.join(
    ROOT, "build", "i686-test" if i686_runs() else "x86_64")
WINERUN = os.path.join(ROOT, "tools", "wine", "winerun")
# The players' locale (ANSI and OEM code page 936) and a Western one
# (1252/437) for the cases a Western system must also pass.
PLAYERS_LOCALE = "zh_CN.UTF-8"
WESTERN_LOCALE = "C.UTF-8"
# The launcher's machine keys live in the registry's 32-bit view (what the
# shipped 32-bit launcher gets on 64-bit Windows; the x86_64 build asks for
# it). reg.exe is told the view, for its own bitness decides otherwise.
MACHINE_VIEW = "/reg:32"
SERVER_BIN = os.environ.get("ORLIX_SERVER") or os.path.join(ROOT, "build", "native", "server", "orlix_server")
BASE_PREFIX = os.path.join(ROOT, "build", "wineprefix")
# Scratch of this driver: prefix copies, server folders. CTest gives each
# driver (and each architecture it runs against) a folder of its own, since
# drivers run side by side.
E2E_DIR = os.environ.get("ORLIX_E2E_DIR") or os.path.join(ROOT, "build", "e2e")


def _test_port():
    """ORLIX_TEST_PORT of the checkout's build trees (CMakeLists.txt): CTest
    hands it to every driver; scripts started by hand read the native cache."""
    if os.environ.get("ORLIX_TEST_PORT"):
        return int(os.environ["ORLIX_TEST_PORT"])
    with open(os.path.join(ROOT, "build", "native", "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            if line.startswith("ORLIX_TEST_PORT:"):
                return int(line.split("=", 1)[1])
    raise RuntimeError("ORLIX_TEST_PORT is not set and build/native has no cache entry for it")


TEST_PORT = _test_port()  # the test builds' maker hosts point at it
WINE_USER = "root" if os.geteuid() == 0 else os.environ.get("USER", "root")


def launcher_exe():
    return os.path.join(BUILD_WIN, "Tavrel_Launcher.exe")


def tool_exe(name):
    return os.path.join(BUILD_WIN, "testtools", name)


def pe_architecture(path):
    """"i686" or "x86_64": the machine a Windows executable is built for."""
    import struct
    with open(path, "rb") as f:
        head = f.read(4096)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    machine = struct.unpack_from("<H", head, pe + 4)[0]
    return {0x14C: "i686", 0x8664: "x86_64"}.get(machine, "machine 0x%x" % machine)


class WinePrefix:
    """A throw-away copy of the prepared prefix, with its own wineserver.
    Programs run through tools/wine/winerun in |locale| (the players' by
    default)."""

    def __init__(self, name, locale=PLAYERS_LOCALE):
        subprocess.run([os.path.join(ROOT, "tools", "wine", "prefix-setup")], check=True)
        self.dir = os.path.join(E2E_DIR, name)
        self.path = os.path.join(self.dir, "prefix")
        if os.path.exists(self.dir):
            self._kill_server()
            shutil.rmtree(self.dir)
        os.makedirs(self.dir)
        subprocess.run(["cp", "-a", "--reflink=auto", BASE_PREFIX, self.path], check=True)
        self.locale = locale
        # winerun sets the rest of Wine's environment (tools/wine/wine-env.sh).
        self.env = dict(os.environ)
        self.env.update({"ORLIX_WINEPREFIX": self.path, "WINEPREFIX": self.path, "ORLIX_WINE_LANG": locale})
        # Start the wineserver and Wine's services now, detached from our
        # output: they outlive every program and would hold its pipes open.
        subprocess.run(["wineserver", "-p"], env=self.env, check=False, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([WINERUN, "cmd", "/c", "exit", "0"], env=self.env, timeout=120, check=False,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    # ---- paths -----------------------------------------------------------
    def user_dir(self, *parts):
        return os.path.join(self.path, "drive_c", "users", WINE_USER, *parts)

    def local_appdata(self, *parts):
        return self.user_dir("AppData", "Local", *parts)

    def maker_folder(self, *parts):
        return self.local_appdata("Orlix", "GameLogin", *parts)

    def install_folder(self, *parts):
        return self.maker_folder("Tavrel", *parts)

    def desktop(self, *parts):
        return self.user_dir("Desktop", *parts)

    def documents(self, *parts):
        return self.user_dir("Documents", *parts)

    def start_menu_programs(self, *parts):
        return self.user_dir("AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs", *parts)

    def to_windows(self, unix_path):
        """Unix path inside the prefix (or anywhere: Z:) as a Windows path."""
        drive_c = os.path.join(self.path, "drive_c")
        p = os.path.abspath(unix_path)
        if p.startswith(drive_c + os.sep) or p == drive_c:
            return "C:" + p[len(drive_c):].replace("/", "\\") or "C:\\"
        return "Z:" + p.replace("/", "\\")

    # ---- processes -------------------------------------------------------
    # Output goes to files, never pipes: a Windows program's children (the
    # game, the uploader, Wine's own helpers) inherit the Unix descriptors and
    # may outlive it, and a pipe would then never reach its end.
    def run(self, args, timeout=120, cwd=None, check=False):
        """Runs a Windows program to its end; returns CompletedProcess with
        stdout and stderr as bytes."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            p = subprocess.run([WINERUN] + list(args), env=self.env, cwd=cwd, timeout=timeout,
                               stdin=subprocess.DEVNULL, stdout=out, stderr=err, check=False)
            out.seek(0)
            err.seek(0)
            r = subprocess.CompletedProcess(p.args, p.returncode, out.read(), err.read())
        if check:
            r.check_returncode()
        return r

    def start(self, args, cwd=None, log=None):
        """Starts a Windows program and returns the Popen (output to |log| or nowhere)."""
        out = open(log, "ab") if log else subprocess.DEVNULL
        try:
            return subprocess.Popen([WINERUN] + list(args), env=self.env, cwd=cwd, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT)
        finally:
            if log:
                out.close()

    def wait_idle(self, timeout=120):
        """Waits until no Windows program but Wine's own services runs."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if not self.user_processes():
                return True
            time.sleep(0.2)
        return False

    def user_processes(self):
        """Names of the running Windows programs of this prefix, Wine's services left out."""
        services = {"services.exe", "winedevice.exe", "plugplay.exe", "svchost.exe", "explorer.exe",
                    "rpcss.exe", "conhost.exe", "tabtip.exe", "wineboot.exe"}
        names = []
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    env = f.read().split(b"\0")
                if ("WINEPREFIX=" + self.path).encode() not in env:
                    continue
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    cmd = f.read().split(b"\0")[0].decode("utf-8", "replace")
            except OSError:
                continue
            exe = cmd.replace("\\", "/").rsplit("/", 1)[-1].lower()
            if exe.endswith(".exe") and exe not in services:
                names.append(exe)
        return names

    def reg_query(self, key, value=None, view=MACHINE_VIEW):
        """Text of `reg query` for a key (and value) in a registry view
        ("/reg:32" or "/reg:64"), or None when absent."""
        args = ["reg", "query", key]
        if value is not None:
            args += ["/v", value]
        r = self.run(args + [view], timeout=60)
        return r.stdout.decode("utf-8", "replace") if r.returncode == 0 else None

    def _kill_server(self):
        env = dict(os.environ, WINEPREFIX=self.path)
        subprocess.run(["wineserver", "-k"], env=env, check=False, stderr=subprocess.DEVNULL)

    def close(self):
        self._kill_server()


class LocalServer:
    """The project's statistics and update server on the test port."""

    def __init__(self, root_dir, port=TEST_PORT, bind="127.0.0.1"):
        self.port = port
        self.bind = bind
        self.root = root_dir
        os.makedirs(os.path.join(root_dir, "files", "update"), exist_ok=True)
        self.files = os.path.join(root_dir, "files")
        self.db = os.path.join(root_dir, "pings.db")
        self.reports = os.path.join(root_dir, "reports")
        os.makedirs(self.reports, exist_ok=True)
        self.proc = subprocess.Popen(
            [SERVER_BIN, "serve", "--port", str(port), "--root", self.files, "--db", self.db,
             "--reports", self.reports, "--bind", bind],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if "listening" not in line:
            self.proc.kill()
            error = self.proc.communicate()[1]
            self.proc = None
            raise RuntimeError("server did not start: %r %s" % (line, error))

    def url(self, path):
        return "http://%s:%d%s" % (self.bind, self.port, path)

    def get(self, path):
        with urllib.request.urlopen(self.url(path), timeout=30) as r:
            return r.read()

    def pings(self, path=None):
        rows = json.loads(self.get("/__test/pings"))
        return [r for r in rows if path is None or r["path"] == path]

    def fault(self, path, mode, **params):
        """Arms a fault; |params| are the mode's own (to=, hold=)."""
        extra = "".join("&%s=%s" % (k, urllib.request.quote(str(v), safe="")) for k, v in params.items())
        self.get("/__test/fault?path=%s&mode=%s%s" % (urllib.request.quote(path), mode, extra))

    def requests(self, path=None):
        """The server's request log, oldest first, or those for one path."""
        rows = json.loads(self.get("/__test/requests"))
        return [r for r in rows if path is None or r["path"] == path]

    def clear_faults(self):
        self.get("/__test/clear")

    def reset(self):
        self.get("/__test/reset")

    def put_file(self, rel_path, data):
        p = os.path.join(self.files, rel_path)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)
        return p

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        self.proc = None


def port_free(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) != 0


def unused_port():
    """A loopback port nothing listens on now."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class HoldingLink:
    """A TCP link on |port| to the local server on |upstream| that passes
    every request on at once but holds back the answer to requests for
    |held_path| until release(): a server that answers late, as a distant
    one does."""

    def __init__(self, upstream, held_path, port=TEST_PORT):
        self.upstream = upstream
        self.held_path = held_path
        self.held = threading.Event()
        self.released = threading.Event()
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(16)
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._link, args=(client,), daemon=True).start()

    def _link(self, client):
        with client, socket.create_connection(("127.0.0.1", self.upstream), timeout=30) as server:
            head = b""
            while b"\r\n\r\n" not in head:
                piece = client.recv(4096)
                if not piece:
                    return
                head += piece
            server.sendall(head)
            target = head.split(b" ", 2)[1].decode("latin-1") if head.count(b" ") >= 2 else ""
            if target.split("?", 1)[0] == self.held_path:
                self.held.set()
                self.released.wait(120)
            client.settimeout(30)
            while True:
                try:
                    piece = server.recv(65536)
                    if not piece:
                        return
                    client.sendall(piece)
                except OSError:
                    return

    def release(self):
        self.released.set()

    def close(self):
        self.released.set()
        # A listener closed under a blocked accept() stays listening until
        # the call returns; shutting it down ends the call first.
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()


def screenshot(path):
    """Saves the whole X display as a PNG."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["/usr/bin/import", "-window", "root", path], check=True, timeout=60)


def window_ids(name_pattern):
    """X window ids whose title matches a regular expression."""
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name_pattern],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return [int(x) for x in r.stdout.split()]


def source_line(path, text):
    """The number of the first line of the checkout's file |path| that holds |text|."""
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if text in line:
                return number
    raise AssertionError("%r is not in %s" % (text, path))


def version_key(data, version):
    """The key a keyless launcher of |version| whose file is |data| computes
    of itself: its MD5 (hexadecimal) cut to leave room for the dotless version."""
    import hashlib
    dotless = version.replace(".", "")
    return hashlib.md5(data).hexdigest()[:32 - len(dotless)] + dotless


def publish_config(server, key, address, padding=0):
    """Puts a keyless update configuration on |server|: the launcher of
    |key|, downloaded from |address|; |padding| adds that many bytes of notes."""
    text = "[VerKey]\r\nTavrel=%s\r\nUpdAddr=%s\r\n" % (key, address)
    if padding:
        text += "[Notes]\r\nText=%s\r\n" % ("n" * padding)
    server.put_file("update/ConfigTavrel.htm", text.encode("ascii"))


def game_starts(prefix):
    """The demo game's starts in |prefix|'s install folder, each as the game
    logged it (its command line and folder), oldest first."""
    path = prefix.install_folder("tavr_online.log")
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def stop_game(prefix):
    """Ends the demo game in |prefix| when it runs, and waits until it is gone."""
    if "tavr_online.exe" in prefix.user_processes():
        prefix.run(["taskkill", "/f", "/im", "tavr_online.exe"], timeout=60)
        wait_for(lambda: "tavr_online.exe" not in prefix.user_processes(), timeout=30)


def wait_for(predicate, timeout=60, interval=0.2):
    deadline = time.time() + timeout
    while time.time() < deadline:
        v = predicate()
        if v:
            return v
        time.sleep(interval)
    return predicate()


def read_shortcut(path):
    """Reads a .lnk file (the shell link binary format) into a dict with
    target, arguments, working_dir, icon_location, icon_index, description."""
    import struct
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 76 or struct.unpack_from("<I", data, 0)[0] != 0x4C:
        raise ValueError("not a shell link: %s" % path)
    flags = struct.unpack_from("<I", data, 20)[0]
    icon_index = struct.unpack_from("<i", data, 56)[0]
    pos = 76
    info = {"target": None, "arguments": "", "working_dir": "", "icon_location": "", "icon_index": icon_index,
            "description": "", "relative_path": ""}
    if flags & 0x1:  # HasLinkTargetIDList
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    if flags & 0x2:  # HasLinkInfo
        size, header_size, li_flags, _vol, base_off = struct.unpack_from("<IIIII", data, pos)
        if li_flags & 0x1:
            if header_size >= 0x24:
                uoff = struct.unpack_from("<I", data, pos + 0x1C)[0]
                end = data.index(b"\0\0", pos + uoff)
                while (end - (pos + uoff)) % 2:
                    end = data.index(b"\0\0", end + 1)
                info["target"] = data[pos + uoff:end].decode("utf-16-le")
            else:
                end = data.index(b"\0", pos + base_off)
                info["target"] = data[pos + base_off:end].decode("mbcs" if os.name == "nt" else "latin-1")
        pos += size
    unicode = bool(flags & 0x80)
    for bit, key in ((0x4, "description"), (0x8, "relative_path"), (0x10, "working_dir"),
                     (0x20, "arguments"), (0x40, "icon_location")):
        if flags & bit:
            count = struct.unpack_from("<H", data, pos)[0]
            pos += 2
            n = count * 2 if unicode else count
            raw = data[pos:pos + n]
            # Wine's IShellLinkW::Save counts the terminating zero in each string.
            info[key] = raw.decode("utf-16-le" if unicode else "latin-1").rstrip("\0")
            pos += n
    return info
