#!/usr/bin/env python3
"""Benchmark `startup`: an up-to-date start through the game shortcut.

Times, from the launcher's process start to the demo game's first line in its
start log (the game process exists and runs its first code), a start with
"/TavrelD" of an installed launcher of full size (20 MB of package, as the
shipped launcher carries, so the MD5 of the update check reads that much)
against the local server, which publishes that very launcher: no update.

The peer is the time Wine takes to run a trivial program to its end, in the
same run. Breakdown lines before the last: a start with "/newgm" (no update
check, no statistics, no ping: Wine's process starts of launcher and game
plus the game start), and the MD5 of the full-size file in-process.
"""
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.environ.get("ORLIX_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402

ROUNDS = 7
FULL_SIZE = 22 * 1024 * 1024


def published_key(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()[:28] + "3015"


def game_starts(log):
    if not os.path.exists(log):
        return 0
    with open(log, encoding="utf-8") as f:
        return sum(1 for line in f if line.strip())


def main():
    prefix = harness.WinePrefix("bench-startup")
    # A fresh server root: a configuration left by an earlier run would offer
    # the first run an update it cannot take.
    server_root = os.path.join(ROOT, "build", "bench", "startup-server")
    shutil.rmtree(server_root, ignore_errors=True)
    server = harness.LocalServer(server_root)
    try:
        downloads = prefix.user_dir("Downloads")
        os.makedirs(downloads, exist_ok=True)
        first = os.path.join(downloads, "Tavrel_Launcher.exe")
        shutil.copy(harness.launcher_exe(), first)
        prefix.run([first], cwd=downloads, timeout=300)
        log = prefix.install_folder("tavr_online.log")
        if not harness.wait_for(lambda: game_starts(log) > 0, timeout=180):
            sys.exit("startup: the first run did not start the game")
        prefix.run(["taskkill", "/f", "/im", "tavr_online.exe"], timeout=60)

        # Full size: the loader ignores data appended after the image.
        installed = prefix.install_folder("Tavrel_Launcher.exe")
        with open(installed, "ab") as f:
            f.write(os.urandom(max(0, FULL_SIZE - os.path.getsize(installed))))
        server.put_file("update/ConfigTavrel.htm", ("[VerKey]\r\nTavrel=%s\r\nUpdAddr=%s\r\n" % (
            published_key(installed), server.url("/files/none.exe"))).encode("ascii"))

        def timed_start(switch):
            before = game_starts(log)
            t0 = time.perf_counter()
            proc = prefix.start([installed, switch], cwd=prefix.install_folder())
            while game_starts(log) <= before:
                if time.perf_counter() - t0 > 120:
                    raise RuntimeError("the game did not start")
                time.sleep(0.005)
            elapsed = time.perf_counter() - t0
            proc.wait(120)
            prefix.run(["taskkill", "/f", "/im", "tavr_online.exe"], timeout=60)
            harness.wait_for(lambda: "tavr_online.exe" not in prefix.user_processes(), timeout=30)
            return elapsed

        def trivial():
            t0 = time.perf_counter()
            prefix.run([harness.tool_exe("runmode_probe.exe")], timeout=60)
            return time.perf_counter() - t0

        shortcut, newgm, peer = [], [], []
        timed_start("/TavrelD")  # warm-up: file cache, Wine's DLLs
        for _ in range(ROUNDS):
            shortcut.append(timed_start("/TavrelD"))
            newgm.append(timed_start("/newgm"))
            peer.append(trivial())
        if any(p["path"] == "/update/ConfigTavrel.htm" for p in json.loads(server.get("/__test/requests"))) is False:
            sys.exit("startup: the update check did not run")

        md5 = subprocess.run([os.path.join(ROOT, "tools", "wine", "winerun"), harness.tool_exe("md5_bench.exe"),
                              prefix.to_windows(installed), "3"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             text=True, env=dict(os.environ, ORLIX_WINEPREFIX=prefix.path))
        md5_s = next((l.split("=", 1)[1].strip() for l in md5.stdout.splitlines() if l.startswith("ours_s=")), "?")

        ours, wine = statistics.median(shortcut), statistics.median(peer)
        print("startup: /newgm start to game (Wine starts of launcher and game, no update check): %.3f s"
              % statistics.median(newgm))
        print("startup: update check, statistics and ping hand-over (difference): %.3f s"
              % (ours - statistics.median(newgm)))
        print("startup: MD5 of the %d MB launcher in-process: %s s" % (FULL_SIZE // (1024 * 1024), md5_s))
        print("startup: medians of %d rounds; /TavrelD min %.3f max %.3f" % (ROUNDS, min(shortcut), max(shortcut)))
        print("bench startup: ours %.3f s, wine-trivial %.3f s, ratio %.2f" % (ours, wine, ours / wine))
    finally:
        prefix.close()
        server.stop()


if __name__ == "__main__":
    main()
