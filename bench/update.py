#!/usr/bin/env python3
"""Benchmark `update`: what a player one release behind downloads.

The bench builds a realistic release pair of full size: the two i686
launchers of the build whose code differs (build/i686, release settings;
build/i686-test/next, test settings and another version), each carrying a
game package of about 20 MB in place of the small test package. From the old
release to the new one three game files change (a map table edited in its
middle, a library of which a tenth is rebuilt, the configuration) and two
are added; the rest of the package is the same, entry for entry.

For the pair it prints the bytes a player downloads with our patch
(tools/makepatch, bsdiff's format with zlib blocks), with `zstd
--patch-from` (Velopack's way) and with `bsdiff` (Squirrel's way), each as a
fraction of the whole new launcher; then the time and peak memory of our
applier (the launcher's own code, run natively) against the time the whole
file takes at 1 MB/s. Last line:

    bench update: ours X bytes, zstd Y bytes, bsdiff Z bytes, ratio R

R is ours over the smaller peer.
"""
import io
import os
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.environ.get("ORLIX_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
OLD_LAUNCHER = os.path.join(ROOT, "build", "i686", "Tavrel_Launcher.exe")
NEW_LAUNCHER = os.environ.get("ORLIX_BENCH_NEW") or os.path.join(ROOT, "build", "i686-test", "next", "Tavrel_Launcher.exe")
MAKEPATCH = os.path.join(ROOT, "build", "native", "tools", "orlix_makepatch")
STAMP = (2024, 3, 9, 12, 30, 0)
LINE_RATE = 1024 * 1024  # bytes per second


def package_files(rng_seed):
    """(name, bytes, deflate?) of a game package of about 20 MB."""
    rng = random.Random(rng_seed)
    files = []
    for i in range(12):  # textures and sounds: already compressed, stored
        files.append(("data/art/pack%02d.dat" % i, rng.randbytes(900 * 1024), False))
    for i in range(6):  # libraries: half code-like, half tables
        code = bytes((b & 0x3F) | 0x40 for b in rng.randbytes(400 * 1024))
        files.append(("lib/orlix_part%d.dll" % i, b"MZ" + code + rng.randbytes(200 * 1024), True))
    for i in range(8):  # map tables: text
        text = "".join("tile %05d terrain=%d height=%d item=%d\r\n" % (j, j % 7, (j * 37 + i) % 101, rng.randrange(500))
                       for j in range(40000))
        files.append(("data/maps/%03d/terrain.map" % i, text.encode("ascii"), True))
    files.append(("data/config/game.ini", b"[Game]\r\nName=OrlixDuskmere\r\nBuild=1041\r\n", True))
    return files


def next_release(files):
    """The package of the next release: three files changed, two added."""
    rng = random.Random(2)
    changed = []
    for name, data, deflate in files:
        if name == "data/maps/003/terrain.map":
            middle = len(data) // 2
            data = data[:middle] + b"tile 99999 terrain=1 height=1 item=1\r\n" * 50 + data[middle:]
        elif name == "lib/orlix_part2.dll":
            tenth = len(data) // 10
            data = data[:4 * tenth] + rng.randbytes(tenth) + data[5 * tenth:]
        elif name == "data/config/game.ini":
            data = data.replace(b"1041", b"1042")
        changed.append((name, data, deflate))
    changed.append(("data/art/event2025.dat", rng.randbytes(300 * 1024), False))
    changed.append(("data/maps/008/terrain.map",
                    "".join("tile %05d terrain=%d\r\n" % (j, j % 5) for j in range(20000)).encode("ascii"), True))
    return changed


def zip_bytes(files):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for name, data, deflate in files:
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = zipfile.ZIP_DEFLATED if deflate else zipfile.ZIP_STORED
            info.external_attr = (0o100644 << 16) | 0x20
            info.create_system = 0
            z.writestr(info, data)
    return out.getvalue()


def with_package(launcher, package):
    """|launcher|'s bytes with its embedded package replaced by |package|."""
    with open(launcher, "rb") as f:
        data = f.read()
    start = data.find(b"PK\x03\x04")
    end_record = data.rfind(b"PK\x05\x06")
    if start < 0 or end_record < start:
        sys.exit("bench update: no package inside %s" % launcher)
    comment = int.from_bytes(data[end_record + 20:end_record + 22], "little")
    end = end_record + 22 + comment
    return data[:start] + package + data[end:]


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def measured_apply(old, patch, out):
    """Seconds and peak resident kilobytes of our applier, in a process of its own."""
    probe = ("import resource, subprocess, sys, time\n"
             "t = time.perf_counter()\n"
             "subprocess.run(sys.argv[1:], check=True)\n"
             "t = time.perf_counter() - t\n"
             "print(t, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")
    r = subprocess.run([sys.executable, "-c", probe, MAKEPATCH, "apply", old, patch, out], check=True,
                       stdout=subprocess.PIPE, text=True)
    seconds, kilobytes = r.stdout.split()
    return float(seconds), int(kilobytes)


def main():
    for path in (OLD_LAUNCHER, NEW_LAUNCHER, MAKEPATCH):
        if not os.path.exists(path):
            sys.exit("bench update: %s is missing (./dev build)" % path)
    for tool in ("zstd", "bsdiff"):
        if not shutil.which(tool):
            sys.exit("bench update: %s is missing (./dev setup installs it)" % tool)
    work = tempfile.mkdtemp(prefix="orlix_bench_update_")
    try:
        old_files = package_files(1)
        old = os.path.join(work, "old.exe")
        new = os.path.join(work, "new.exe")
        with open(old, "wb") as f:
            f.write(with_package(OLD_LAUNCHER, zip_bytes(old_files)))
        with open(new, "wb") as f:
            f.write(with_package(NEW_LAUNCHER, zip_bytes(next_release(old_files))))
        full = os.path.getsize(new)
        print("release pair: old %d bytes, new %d bytes (code from %s and %s)"
              % (os.path.getsize(old), full, os.path.relpath(OLD_LAUNCHER, ROOT), os.path.relpath(NEW_LAUNCHER, ROOT)))

        ours = os.path.join(work, "ours.patch")
        started = time.perf_counter()
        run([MAKEPATCH, "diff", old, new, ours])
        made_in = time.perf_counter() - started
        zstd_patch = os.path.join(work, "new.zst")
        run(["zstd", "-q", "-19", "--long=27", "--patch-from=" + old, new, "-o", zstd_patch])
        bsdiff_patch = os.path.join(work, "new.bsdiff")
        run(["bsdiff", old, new, bsdiff_patch])

        sizes = {"ours": os.path.getsize(ours), "zstd": os.path.getsize(zstd_patch),
                 "bsdiff": os.path.getsize(bsdiff_patch)}
        print("bytes downloaded (fraction of the whole %d bytes):" % full)
        for name in ("ours", "zstd", "bsdiff"):
            print("  %-7s %10d  %.4f" % (name, sizes[name], sizes[name] / full))
        print("  (ours made in %.1f s)" % made_in)

        rebuilt = os.path.join(work, "rebuilt.exe")
        seconds, kilobytes = measured_apply(old, ours, rebuilt)
        with open(rebuilt, "rb") as a, open(new, "rb") as b:
            if a.read() != b.read():
                sys.exit("bench update: our patch did not rebuild the new launcher")
        print("applying ours: %.2f s, peak memory %d KiB (the whole file at 1 MB/s: %.1f s)"
              % (seconds, kilobytes, full / LINE_RATE))
        peer = min(sizes["zstd"], sizes["bsdiff"])
        print("bench update: ours %d bytes, zstd %d bytes, bsdiff %d bytes, ratio %.3f"
              % (sizes["ours"], sizes["zstd"], sizes["bsdiff"], sizes["ours"] / peer))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
