"""Driving the launcher's skinned windows on the X display: find the window
of a running show_windows.exe, click where a player would click, press keys,
and save a picture of the window."""
import os
import re
import subprocess
import time

import harness

SCREENSHOTS = os.path.join(harness.ROOT, "build", "screenshots")


def xdotool(*args):
    return subprocess.run(["xdotool"] + [str(a) for a in args], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True, timeout=30).stdout


def geometry(wid):
    """(x, y, width, height) of an X window."""
    out = xdotool("getwindowgeometry", "--shell", wid)
    g = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])


def wait_window(title, proc, timeout=60):
    """The X window titled exactly |title| once it is shown (and painted)."""
    pattern = "^" + re.escape(title) + "$"

    def found():
        if proc.poll() is not None:
            raise AssertionError("program ended with %s before its window showed" % proc.returncode)
        ids = harness.window_ids(pattern)
        return ids[-1] if ids else None

    wid = harness.wait_for(found, timeout=timeout)
    if not wid:
        raise AssertionError("no window titled %r" % title)
    time.sleep(0.8)  # let Wine paint it
    return wid


def click(wid, x, y):
    """A left click at window point (x, y): move first and let the window see
    the pointer arrive, then press and release as a hand does."""
    wx, wy, _, _ = geometry(wid)
    xdotool("mousemove", wx + x, wy + y)
    time.sleep(0.3)
    xdotool("mousemove", wx + x + 1, wy + y)
    time.sleep(0.3)
    xdotool("mousedown", 1)
    time.sleep(0.1)
    xdotool("mouseup", 1)


def drag(wid, x, y, dx, dy):
    """Presses at window point (x, y), moves by (dx, dy) in steps, releases."""
    wx, wy, _, _ = geometry(wid)
    xdotool("mousemove", wx + x, wy + y)
    time.sleep(0.3)
    xdotool("mousedown", 1)
    time.sleep(0.3)
    for i in range(1, 6):
        xdotool("mousemove", wx + x + dx * i // 5, wy + y + dy * i // 5)
        time.sleep(0.1)
    time.sleep(0.2)
    xdotool("mouseup", 1)
    time.sleep(0.5)


def key(wid, name):
    xdotool("windowactivate", "--sync", wid)
    time.sleep(0.2)
    xdotool("key", "--window", wid, name)


def save(wid, name):
    """Saves the window's part of the screen as build/screenshots/NAME.png."""
    os.makedirs(SCREENSHOTS, exist_ok=True)
    x, y, w, h = geometry(wid)
    # The pointer away from the window: no hover frame or tooltip left over
    # from an earlier click.
    xdotool("mousemove", 5, 1000)
    time.sleep(0.6)
    path = os.path.join(SCREENSHOTS, name + ".png")
    subprocess.run(["/usr/bin/import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", path],
                   check=True, timeout=60)
    return path


def wait_exit(proc, timeout=30):
    try:
        return proc.wait(timeout)
    except subprocess.TimeoutExpired:
        return None


def box_buttons(width, height, style):
    """Centres of the box's buttons (window coordinates), as the box lays
    them out: 57 × 23 frames, 30 pixels above the bottom."""
    bw, bh = 57, 23
    top = height - 30 - bh
    if style in (1, 4):
        return [(width // 2 - 10 - bw // 2, top + bh // 2), (width // 2 + 10 + bw // 2, top + bh // 2)]
    return [((width - bw) // 2 + bw // 2, top + bh // 2)]


def close_button(width):
    """Centre of the close button in the top-right corner (33 × 28)."""
    return width - 16, 14


def local_server(root):
    """The local server on a free loopback port: the update window takes its
    address as given, and other test runs on this machine may hold the
    launcher's own test port."""
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    return harness.LocalServer(root, port=port)
