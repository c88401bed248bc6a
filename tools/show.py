#!/usr/bin/env python3
"""./dev show: shows each of the launcher's windows under X (the message box
in each style, the launcher's four messages, the update window at 0, 50 and
100 percent), saves a picture of each under build/screenshots/ and closes it.
"""
import os
import sys
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402
import skinwin  # noqa: E402

TOOL = harness.tool_exe("show_windows.exe")

BOXES = [
    ("box_style0", ["box", "0", "一个按钮的消息框", "OrlixDuskmere"], "OrlixDuskmere", 0),
    ("box_style1", ["box", "1", "确定还是取消？", "OrlixDuskmere"], "OrlixDuskmere", 1),
    ("box_style4", ["box", "4", "是还是否？", "OrlixDuskmere"], "OrlixDuskmere", 4),
    ("product_no_network", ["product", "0"], "OrlixDuskmere", 0),
    ("product_uninstall_question", ["product", "1"], "OrlixDuskmere", 4),
    ("product_uninstall_done", ["product", "2"], "OrlixDuskmere", 0),
    ("product_start_failed", ["product", "3"], "Duskmere3.0.1.5", 4),
]
UPDATE_TITLE = "OrlixDuskmere,微端版本更新中..."


def show_box(prefix, name, args, title):
    proc = prefix.start([TOOL] + args)
    try:
        wid = skinwin.wait_window(title, proc)
        path = skinwin.save(wid, name)
        _, _, w, _ = skinwin.geometry(wid)
        skinwin.click(wid, *skinwin.close_button(w))
        code = skinwin.wait_exit(proc)
        print("%-28s %s (closed with %s)" % (name, path, code))
    finally:
        if proc.poll() is None:
            proc.kill()


def show_update(prefix, server, percent, target_dir):
    # The file stalls before its answer, so the window stays open at the
    # position the tool sets.
    server.put_file("update/show.exe", b"x" * 4096)
    server.fault("/update/show.exe", "stall-connect")
    target = os.path.join(target_dir, "show_%d.exe" % percent)
    proc = prefix.start([TOOL, "update", server.url("/update/show.exe"), prefix.to_windows(target), str(percent)])
    try:
        wid = skinwin.wait_window(UPDATE_TITLE, proc)
        path = skinwin.save(wid, "update_%d" % percent)
        skinwin.key(wid, "Escape")
        code = skinwin.wait_exit(proc)
        print("%-28s %s (closed with %s)" % ("update_%d" % percent, path, code))
    finally:
        if proc.poll() is None:
            proc.kill()


def main():
    prefix = harness.WinePrefix("show")
    work = tempfile.mkdtemp(prefix="orlix-show-")
    server = skinwin.local_server(os.path.join(work, "server"))
    try:
        for name, args, title, _ in BOXES:
            show_box(prefix, name, args, title)
        for percent in (0, 50, 100):
            show_update(prefix, server, percent, work)
    finally:
        server.stop()
        prefix.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
