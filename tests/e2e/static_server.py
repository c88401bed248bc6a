"""A real static web server for the end-to-end tests, as the players' files
would be served: Debian's nginx on loopback, with its own configuration,
logs and temporary folders in a folder of the test, started and stopped by
the test. Its access log shows each request's Range and If-Range fields,
the status and the body bytes sent.

CuttingLink sits in front of it when a test needs a download that breaks
off at a given byte of the file: nginx itself always sends what it
declared.
"""
import os
import re
import socket
import subprocess
import threading
import time

NGINX = "/usr/sbin/nginx"
LOG_FORMAT = '$request_uri $status "$http_range" "$http_if_range" $body_bytes_sent'


class Nginx:
    """nginx serving |root| on 127.0.0.1:|port|; state in |work_dir|."""

    def __init__(self, root, port, work_dir):
        self.root = root
        self.port = port
        self.dir = work_dir
        os.makedirs(os.path.join(work_dir, "temp"), exist_ok=True)
        self.access_log = os.path.join(work_dir, "access.log")
        self.error_log = os.path.join(work_dir, "error.log")
        for log in (self.access_log, self.error_log):
            open(log, "w").close()
        conf = os.path.join(work_dir, "nginx.conf")
        temp = os.path.join(work_dir, "temp")
        with open(conf, "w") as f:
            # One process that stays in the foreground (no user switch, no
            # daemon left behind when the test ends).
            f.write("""daemon off;
master_process off;
pid %(dir)s/nginx.pid;
error_log %(error)s warn;
events { worker_connections 64; }
http {
  log_format ranges '%(format)s';
  access_log %(access)s ranges;
  client_body_temp_path %(temp)s/body;
  proxy_temp_path %(temp)s/proxy;
  fastcgi_temp_path %(temp)s/fastcgi;
  uwsgi_temp_path %(temp)s/uwsgi;
  scgi_temp_path %(temp)s/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:%(port)d;
    root %(root)s;
  }
}
""" % {"dir": work_dir, "error": self.error_log, "format": LOG_FORMAT, "access": self.access_log, "temp": temp,
       "port": port, "root": root})
        self.proc = subprocess.Popen([NGINX, "-p", work_dir, "-c", conf, "-e", self.error_log],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.time() + 20
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("nginx did not start: %s" % self.proc.stderr.read().decode("utf-8", "replace"))
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", port)) == 0:
                    return
            time.sleep(0.1)
        self.stop()
        raise RuntimeError("nginx did not listen on %d" % port)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def requests(self, path=None):
        """The access log as dicts: uri, status, range, if_range, sent."""
        rows = []
        with open(self.access_log, encoding="latin-1") as f:
            for line in f:
                m = re.match(r'^(\S+) (\d+) "(.*)" "(.*)" (\d+)$', line.rstrip("\n"))
                if m and (path is None or m.group(1).split("?")[0] == path):
                    rows.append({"uri": m.group(1), "status": int(m.group(2)),
                                 "range": "" if m.group(3) == "-" else m.group(3),
                                 "if_range": "" if m.group(4) == "-" else m.group(4), "sent": int(m.group(5))})
        return rows

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc:
            self.proc.stderr.close()
        self.proc = None


class CuttingLink:
    """A TCP link on |port| to |upstream| that passes requests on and
    answers back, but closes the connection once the answer's body has
    reached the file offset |cut_at| (read from Content-Range for a range
    answer); None passes everything."""

    def __init__(self, upstream, port):
        self.upstream = upstream
        self.cut_at = None
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(16)
        self.port = port
        threading.Thread(target=self._accept, daemon=True).start()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._link, args=(client,), daemon=True).start()

    def _link(self, client):
        cut_at = self.cut_at
        with client, socket.create_connection(("127.0.0.1", self.upstream), timeout=30) as server:
            client.settimeout(30)
            head = b""
            while b"\r\n\r\n" not in head:
                piece = client.recv(4096)
                if not piece:
                    return
                head += piece
            # One answer per connection: a kept-alive connection would carry
            # the client's next request past this link, which relays only one.
            head = re.sub(rb"(?im)^connection:[^\r\n]*\r\n", b"", head)
            head = head.replace(b"\r\n\r\n", b"\r\nConnection: close\r\n\r\n", 1)
            server.sendall(head)
            answer = b""
            while b"\r\n\r\n" not in answer:
                piece = server.recv(65536)
                if not piece:
                    client.sendall(answer)
                    return
                answer += piece
            head_end = answer.index(b"\r\n\r\n") + 4
            start = 0
            m = re.search(rb"(?im)^content-range:\s*bytes (\d+)-", answer[:head_end])
            if m:
                start = int(m.group(1))
            budget = None if cut_at is None else max(0, cut_at - start)
            body = answer[head_end:]
            client.sendall(answer[:head_end])
            while True:
                if budget is not None:
                    body = body[:budget]
                    budget -= len(body)
                if body:
                    client.sendall(body)
                if budget == 0:
                    break
                try:
                    body = server.recv(65536)
                except OSError:
                    return
                if not body:
                    return
            # Broken off as a failing line breaks: the rest never comes.
            try:
                client.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def close(self):
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
