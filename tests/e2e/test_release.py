"""A maker ships their own game as the README's "Ship your game" says, and an
installed launcher takes it.

The maker's folder (a few files and subfolders, a Chinese name, an empty
folder, and the two programs the launcher needs, taken from the build's demo
game and uploader) becomes an upload folder with `./dev release`. The files
go, in the order its UPLOAD.txt gives, to a real static web server: Debian's
nginx, started here with a configuration of its own, listening on loopback
only. An installed older launcher (3.0.1.5, the test update key) finds the
release, verifies it, updates itself, and the new launcher deploys the
maker's game: the install folder then holds exactly the maker's folder, the
launcher itself and the game's own log.

The launcher run here must be one this machine runs: the release is built
for x86_64 with `./dev release --arch x86_64` (a hidden option for this test)
where 32-bit programs cannot run; makers ship i686.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402

DEV = os.path.join(harness.ROOT, "dev")
OLD_LAUNCHER = os.path.join(harness.BUILD_WIN, "signed", "Tavrel_Launcher.exe")  # 3.0.1.5, test key
TEST_KEY = os.path.join(harness.BUILD_WIN, "testkey", "update_test_key.pem")
DEMO_GAME = os.path.join(harness.BUILD_WIN, "package", "bin", "tavr_online.exe")
UPLOADER = os.path.join(harness.BUILD_WIN, "package", "bin", "BugReport.exe")
NGINX = "/usr/sbin/nginx"
VERSION = "3.0.1.20"


def md5_file(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def tree(root):
    """{relative path: md5 of a file, or "/" for a folder}."""
    found = {}
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        for name in dirs:
            found[os.path.normpath(os.path.join(rel, name))] = "/"
        for name in files:
            found[os.path.normpath(os.path.join(rel, name))] = md5_file(os.path.join(folder, name))
    return found


def public_key_text(pem_path):
    from cryptography.hazmat.primitives import serialization
    with open(pem_path, "rb") as f:
        key = serialization.load_pem_private_key(f.read(), password=None)
    point = key.public_key().public_bytes(serialization.Encoding.X962,
                                          serialization.PublicFormat.UncompressedPoint)
    return point.hex()


class Nginx:
    """Debian's nginx serving |root| on 127.0.0.1:|port|, everything it
    writes (pid, logs, temporary files) under |work|."""

    def __init__(self, work, root, port):
        self.work = work
        self.access_log = os.path.join(work, "access.log")
        conf = os.path.join(work, "nginx.conf")
        temp = os.path.join(work, "temp")
        os.makedirs(temp, exist_ok=True)
        with open(conf, "w") as f:
            f.write("""# One process as the test's own user: no workers to drop privileges to.
master_process off;
daemon off;
pid %(work)s/nginx.pid;
error_log %(work)s/error.log info;
events { worker_connections 64; }
http {
  access_log %(log)s;
  client_body_temp_path %(temp)s/body;
  proxy_temp_path %(temp)s/proxy;
  fastcgi_temp_path %(temp)s/fastcgi;
  uwsgi_temp_path %(temp)s/uwsgi;
  scgi_temp_path %(temp)s/scgi;
  types { application/octet-stream exe sig; text/html htm; }
  server {
    listen 127.0.0.1:%(port)d;
    root %(root)s;
  }
}
""" % {"work": work, "log": self.access_log, "temp": temp, "port": port, "root": root})
        self.process = subprocess.Popen([NGINX, "-p", work, "-e", os.path.join(work, "error.log"), "-c", conf],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=open(os.path.join(work, "nginx.stderr"), "wb"))
        self.port = port
        if not harness.wait_for(lambda: not harness.port_free(port) or self.process.poll() is not None, 30) \
                or self.process.poll() is not None:
            raise RuntimeError("nginx did not start: %s" % open(os.path.join(work, "nginx.stderr")).read())

    def requests(self):
        """(method, path, status) of every request so far."""
        if not os.path.exists(self.access_log):
            return []
        found = []
        with open(self.access_log, encoding="utf-8", errors="replace") as f:
            for line in f:
                m = re.search(r'"(\w+) (\S+) HTTP/[0-9.]+" (\d+)', line)
                if m:
                    found.append((m.group(1), m.group(2), int(m.group(3))))
        return found

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=30)


class ShipYourGame(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("release")
        cls.work = os.path.join(cls.prefix.dir, "maker")
        os.makedirs(cls.work)
        cls.www = os.path.join(cls.prefix.dir, "www")
        os.makedirs(cls.www)
        cls.server = None

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()
        if cls.server:
            cls.server.stop()

    def make_game_folder(self):
        game = os.path.join(self.work, "MyGame")
        files = {
            "tavr_online.exe": open(DEMO_GAME, "rb").read(),
            "BugReport.exe": open(UPLOADER, "rb").read(),
            "readme.txt": "我的游戏\r\n".encode("utf-8"),
            "bin/engine.dll": b"MZ" + bytes(range(256)) * 64,
            "data/config/game.ini": b"[Game]\r\nName=MyGame\r\n",
            "data/maps/001.map": b"tile\r\n" * 5000,
            "data/音乐/主题.ogg": bytes(1000),
            "data/empty.txt": b"",
        }
        for rel, data in files.items():
            path = os.path.join(game, *rel.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        os.makedirs(os.path.join(game, "screenshots"))  # empty: the game writes into it
        return game

    def test_release_uploaded_to_nginx_is_taken_and_deployed_exactly(self):
        for path in (OLD_LAUNCHER, TEST_KEY, DEMO_GAME, UPLOADER, NGINX):
            self.assertTrue(os.path.exists(path), path)
        arch = "x86_64" if harness.pe_architecture(OLD_LAUNCHER) == "x86_64" else "i686"
        game = self.make_game_folder()
        host = "127.0.0.1:%d" % harness.TEST_PORT
        settings = os.path.join(self.work, "settings.txt")
        with open(settings, "w", encoding="utf-8") as f:
            f.write("server_host = %s\nprobe_url = http://%s/\nallowed_domains = 127.0.0.1\n"
                    "help_host = %s\nupdate_key = %s\n" % (host, host, host, public_key_text(TEST_KEY)))

        # The maker's one command.
        out = os.path.join(self.work, "upload")
        r = subprocess.run([DEV, "release", "--game", game, "--version", VERSION, "--settings", settings,
                            "--key", TEST_KEY, "--out", out, "--previous", OLD_LAUNCHER, "--arch", arch],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=3000)
        self.assertEqual(0, r.returncode, r.stderr[-3000:])
        launcher = os.path.join(out, "update", "Tavrel_Launcher_%s.exe" % VERSION)
        self.assertTrue(os.path.isfile(launcher), os.listdir(os.path.join(out, "update")))

        # Upload as UPLOAD.txt says: each file of update/ to /update/, in its order.
        with open(os.path.join(out, "UPLOAD.txt"), encoding="utf-8") as f:
            upload = f.read()
        self.assertIn("http://%s/update/" % host, upload)
        order = re.findall(r"^\s+\d+\. (update/\S+)", upload, re.M)
        self.assertEqual(sorted(order), sorted("update/" + n for n in os.listdir(os.path.join(out, "update"))))
        self.assertEqual(["update/ConfigTavrel.htm.sig", "update/ConfigTavrel.htm"], order[-2:])
        self.__class__.server = Nginx(os.path.join(self.prefix.dir, "nginx"), self.www, harness.TEST_PORT)
        for rel in order:
            target = os.path.join(self.www, *rel.split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy(os.path.join(out, *rel.split("/")), target + ".part")
            os.replace(target + ".part", target)

        # A player with the older launcher installed starts it: it updates
        # itself, and the new one deploys the maker's game and starts it.
        downloads = self.prefix.user_dir("Downloads")
        os.makedirs(downloads, exist_ok=True)
        shutil.copy(OLD_LAUNCHER, os.path.join(downloads, "Tavrel_Launcher.exe"))
        installed = self.prefix.install_folder("Tavrel_Launcher.exe")
        game_log = self.prefix.install_folder("tavr_online.log")
        self.prefix.run([os.path.join(downloads, "Tavrel_Launcher.exe")], timeout=300, cwd=downloads)
        started = harness.wait_for(lambda: os.path.exists(game_log), timeout=300)
        self.assertTrue(started, "the game did not start; the server saw %s" % self.server.requests())
        self.prefix.run(["taskkill", "/f", "/im", "tavr_online.exe"], timeout=60)
        self.assertTrue(self.prefix.wait_idle(120), self.prefix.user_processes())

        self.assertEqual(md5_file(launcher), md5_file(installed))
        served = [(method, path, status) for method, path, status in self.server.requests()
                  if path.startswith("/update/")]
        self.assertIn(("GET", "/update/ConfigTavrel.htm", 200), served)
        self.assertIn(("GET", "/update/ConfigTavrel.htm.sig", 200), served)
        # The installed launcher is the release's --previous: it takes the
        # patch, not the whole launcher.
        patches = [path for method, path, status in served if path.endswith(".patch") and status == 200]
        self.assertEqual(1, len(patches), served)
        self.assertTrue(patches[0].startswith("/update/Tavrel_Launcher_%s_from_" % VERSION), patches)
        self.assertNotIn(("GET", "/update/Tavrel_Launcher_%s.exe" % VERSION, 200), served)
        # The pings land in the access log; the missing pages lose nothing.
        self.assertTrue(any(path.startswith("/update.htm?") for _, path, _ in self.server.requests()),
                        self.server.requests())

        # The deployed tree is the maker's folder, plus the launcher and the
        # game's own log: nothing of the older launcher's demo package.
        deployed = tree(self.prefix.install_folder())
        expected = tree(game)
        expected["Tavrel_Launcher.exe"] = md5_file(launcher)
        expected["tavr_online.log"] = deployed.get("tavr_online.log")
        self.assertEqual(expected, deployed)
        self.assertTrue(deployed["screenshots"] == "/" and "data/音乐/主题.ogg" in deployed)


if __name__ == "__main__":
    unittest.main()
