#!/usr/bin/env python3
"""The main job of `./dev run`: a player's first start of the launcher.

Starts the local statistics/update server and a fresh Wine prefix, puts the
test build of Tavrel_Launcher.exe (ORLIX_BUILD_WIN: the players' i686 build
where it runs, else x86_64) into the player's Downloads folder and starts it
there, in the players' locale. The first run installs the launcher and starts the installed
copy, which deploys the game package and starts the demo game. Then it prints
what happened (pings with their values, installed files, shortcuts), saves a
screenshot with the game's window, and stops what it started. The prefix stays
for inspection until the next run.
"""
import hashlib
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402


def published_key(exe_path, version="3.0.1.5"):
    """The version key the update server publishes for a launcher file."""
    with open(exe_path, "rb") as f:
        digest = hashlib.md5(f.read()).hexdigest()
    dotless = version.replace(".", "")
    return digest[:32 - len(dotless)] + dotless


def main():
    launcher = harness.launcher_exe()
    if not os.path.exists(launcher):
        sys.exit("no launcher build at %s" % launcher)
    work = os.path.join(harness.ROOT, "build", "devrun")
    os.makedirs(work, exist_ok=True)
    prefix = harness.WinePrefix("devrun")
    server = harness.LocalServer(os.path.join(work, "server"))
    try:
        # The server offers the very launcher that runs: no update this time.
        server.put_file("update/ConfigTavrel.htm", (
            "[VerKey]\r\nTavrel=%s\r\nUpdAddr=%s\r\n" % (published_key(launcher), server.url("/files/Tavrel_Launcher.exe"))
        ).encode("ascii"))

        downloads = prefix.user_dir("Downloads")
        os.makedirs(downloads, exist_ok=True)
        download = os.path.join(downloads, "Tavrel_Launcher.exe")
        with open(launcher, "rb") as src, open(download, "wb") as dst:
            dst.write(src.read())

        print("launcher: %s, %s build, Wine locale %s" % (launcher, harness.pe_architecture(launcher), prefix.locale))
        print("first run: %s" % prefix.to_windows(download))
        started = time.time()
        first = prefix.run([download], timeout=300, cwd=downloads)
        print("  first run ended with %s after %.1f s" % (first.returncode, time.time() - started))

        game = harness.wait_for(lambda: "tavr_online.exe" in prefix.user_processes(), timeout=180)
        print("  game running: %s (after %.1f s)" % (bool(game), time.time() - started))
        harness.wait_for(lambda: harness.window_ids("OrlixDuskmere"), timeout=60)
        time.sleep(1)

        print("\npings received:")
        for p in server.pings():
            print("  %s %s" % (p["path"], p["query"]))

        print("\ninstall folder %s:" % prefix.to_windows(prefix.install_folder()))
        for folder, _dirs, files in sorted(os.walk(prefix.install_folder())):
            for name in sorted(files):
                full = os.path.join(folder, name)
                print("  %-60s %10d" % (os.path.relpath(full, prefix.install_folder()), os.path.getsize(full)))

        print("\nshortcuts:")
        for base in (prefix.desktop(), prefix.start_menu_programs()):
            for folder, _dirs, files in os.walk(base):
                for name in sorted(files):
                    if name.lower().endswith(".lnk"):
                        link = harness.read_shortcut(os.path.join(folder, name))
                        print("  %s\n    -> %s %s (in %s)" % (prefix.to_windows(os.path.join(folder, name)),
                                                          link["target"], link["arguments"], link["working_dir"]))

        shot = os.path.join(harness.ROOT, "build", "screenshots", "devrun.png")
        harness.screenshot(shot)
        print("\nscreenshot: %s" % shot)
        print("Wine prefix kept for inspection until the next run: %s" % prefix.path)
    finally:
        prefix.close()
        server.stop()


if __name__ == "__main__":
    main()
