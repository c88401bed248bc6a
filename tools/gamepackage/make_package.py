#!/usr/bin/env python3
"""Builds the game package (the launcher's resource ZIP 129): the demo game
and the crash-report uploader at the top level, plus runtime-like libraries
and game data in subfolders with explicit folder entries.

The archive is deterministic: fixed entry order, time stamps and attributes,
and generated contents from a fixed seed, so equal inputs give equal bytes.

    make_package.py --out PACKAGE.zip --game tavr_online.exe --uploader BugReport.exe
    make_package.py --list PACKAGE.zip     # prints the entry names
"""
import argparse
import os
import random
import sys
import zipfile

STAMP = (2024, 3, 9, 12, 30, 0)
DIR_ATTR = (0o40755 << 16) | 0x10    # Unix mode and MS-DOS directory bit
FILE_ATTR = (0o100644 << 16) | 0x20  # Unix mode and MS-DOS archive bit


def folder_entry(name):
    info = zipfile.ZipInfo(name, STAMP)
    info.external_attr = DIR_ATTR
    info.compress_type = zipfile.ZIP_STORED
    info.create_system = 0
    return info


def file_entry(name, compress, when=STAMP):
    info = zipfile.ZipInfo(name, when)
    info.external_attr = FILE_ATTR
    info.compress_type = zipfile.ZIP_DEFLATED if compress else zipfile.ZIP_STORED
    info.create_system = 0
    return info


def generated_files():
    """(name, bytes, deflate?) of the runtime-like files, all from a fixed seed."""
    rng = random.Random(0x0D05C)
    noise = lambda n: bytes(rng.getrandbits(8) for _ in range(n))
    table = "".join("tile %04d terrain=%d height=%d\r\n" % (i, i % 7, (i * 37) % 101) for i in range(6000))
    return [
        ("lib/orlix_render.dll", b"MZ" + noise(48 * 1024), False),
        ("lib/orlix_net.dll", b"MZ" + noise(20 * 1024), True),
        ("data/config/game.ini", b"[Game]\r\nName=OrlixDuskmere\r\nServer=127.0.0.1\r\nLanguage=zh-CN\r\n", True),
        ("data/maps/001/terrain.map", table.encode("ascii"), True),
        ("data/maps/001/objects.bin", noise(64 * 1024), False),
        ("data/maps/002/terrain.map", table[: len(table) // 3].encode("ascii"), True),
        ("data/sound/readme.txt", b"", True),
        ("readme.txt", "OrlixDuskmere 游戏客户端\r\n".encode("utf-8"), True),
    ]


def build(out, game, uploader):
    entries = []  # (ZipInfo, data or None for folders)
    with open(game, "rb") as f:
        entries.append((file_entry("tavr_online.exe", True), f.read()))
    with open(uploader, "rb") as f:
        entries.append((file_entry("BugReport.exe", True), f.read()))
    files = generated_files()
    folders = set()
    for name, _, _ in files:
        parts = name.split("/")[:-1]
        for i in range(1, len(parts) + 1):
            folders.add("/".join(parts[:i]) + "/")
    folders.add("logs/")  # a folder with nothing in it
    for folder in sorted(folders):
        entries.append((folder_entry(folder), None))
    for name, data, deflate in files:
        entries.append((file_entry(name, deflate), data))

    tmp = out + ".tmp"
    with zipfile.ZipFile(tmp, "w") as z:
        for info, data in entries:
            z.writestr(info, b"" if data is None else data)
    os.replace(tmp, out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out")
    ap.add_argument("--game")
    ap.add_argument("--uploader")
    ap.add_argument("--list")
    a = ap.parse_args()
    if a.list:
        with zipfile.ZipFile(a.list) as z:
            for n in z.namelist():
                print(n)
        return 0
    if not (a.out and a.game and a.uploader):
        ap.error("--out, --game and --uploader are required")
    build(a.out, a.game, a.uploader)
    return 0


if __name__ == "__main__":
    sys.exit(main())
