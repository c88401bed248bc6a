#!/usr/bin/env python3
"""Extraction of a game-sized package: the launcher's deployment extraction
(zipx under Wine: the ZIP reader, two readers on two threads where there are
two processors) against Info-ZIP unzip on the same archive.

The package is generated once with a fixed seed and cached under
build/bench/: about 45 MB unpacked and 20 MB compressed, hundreds of files in
nested folders, stored and deflated entries, incompressible and compressible
data. Each side extracts into a new folder; the runs alternate (ours,
unzip, ours, ...) and the median of the pairs' ratios is the result.

Our time is the wall time of one `zipx.exe extract` started by the Wine
loader with a running wineserver and a Wine start already done: it includes
starting the Windows process under Wine (measured separately below as "Wine
start"), not the prefix set-up or wineserver start. The loader is started
directly, with the environment tools/wine/wine-env.sh sets up, read once:
winerun's own shell start-up (two bash scripts, about 0.05 s) is no part of
Wine's start. unzip runs natively.

CPU time is printed too (the shared machine makes wall times noisy): ours
is the Windows process plus what wineserver spent meanwhile. So is the
machine's load average, before and after.

Every start of the installed launcher deploys over the previous version, so
a few pairs also extract over the tree the previous run left (unzip -o
replaces the files the same way); the headline ratio is the one into an
empty folder.

What the file system alone costs under Wine is measured too: `zipx blank`
writes the same files with zeros through the same calls on two threads,
without reading the archive's data or inflating anything: an extraction
through those calls cannot be faster under Wine.

Memory: zipx --stats prints the Windows process's peak working set and peak
private bytes; a package of a fifth of the size is extracted too, to show
that memory does not grow with the package.
"""
import filecmp
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import time
import zipfile

ROOT = os.environ.get("ORLIX_ROOT") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")
BENCH = os.path.join(BUILD, "bench")
WINE_TOOLS = os.path.join(ROOT, "tools", "wine")
ZIPX = os.path.join(BUILD, "x86_64", "testtools", "zipx.exe")
RUNS = int(os.environ.get("BENCH_RUNS", "7"))
SEED = 20261210
FORMAT_VERSION = 2  # bump when the generator changes


def to_windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Generator:
    """Content of the kinds a game ships, from one seeded generator."""

    def __init__(self, seed):
        self.rng = random.Random(seed)
        words = [
            "".join(self.rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(self.rng.randint(2, 9)))
            for _ in range(800)
        ]
        self.lines = [
            " ".join(self.rng.choice(words) for _ in range(self.rng.randint(3, 14))) for _ in range(400)
        ]
        # Low-entropy bytes (three in four are the same), as in tile maps and
        # index tables.
        self.low_entropy = bytes(0x30 if i < 192 else 0x31 + (i & 0x03) for i in range(256))

    def noise(self, n):  # compressed media, encrypted blobs
        return self.rng.randbytes(n)

    def table(self, n):  # about 1.3 bits per byte: deflates to roughly a fifth
        return self.rng.randbytes(n).translate(self.low_entropy)

    def text(self, n):  # scripts, configuration, locale strings: repetitive
        out, size = [], 0
        while size < n:
            line = self.rng.choice(self.lines)
            if self.rng.random() < 0.1:
                line += " = %d" % self.rng.randint(0, 1 << 20)
            out.append(line)
            size += len(line) + 1
        return ("\n".join(out)).encode()[:n]

    def executable(self, n):  # code: part noise, part tables and text
        parts, size = [], 0
        while size < n:
            k = min(n - size, self.rng.randint(4096, 65536))
            kind = self.rng.random()
            parts.append(self.noise(k) if kind < 0.25 else self.table(k) if kind < 0.7 else self.text(k))
            size += k
        return b"".join(parts)


def package_plan(scale):
    """(name, kind, size, stored) for every file; sizes scaled by |scale|."""
    rng = random.Random(SEED + 1)
    plan = []

    def add(name, kind, size, stored=False):
        plan.append((name, kind, max(0, int(size * scale)), stored))

    add("tavr_online.exe", "exe", 8_000_000)
    add("BugReport.exe", "exe", 900_000)
    for i in range(14):
        add("bin/runtime%02d.dll" % i, "exe", rng.randint(80_000, 520_000))
    for zone in range(8):
        for i in range(rng.randint(14, 22)):
            add("data/maps/zone%02d/tile%03d.map" % (zone, i), "table", rng.randint(20_000, 90_000))
    for pack in ("ui", "world", "chars", "fx"):
        for i in range(rng.randint(40, 60)):
            add("data/textures/%s/tex%03d.png" % (pack, i), "noise", rng.randint(8_000, 55_000), stored=True)
    for i in range(70):
        add("sounds/sfx/sfx%03d.ogg" % i, "noise", rng.randint(4_000, 30_000), stored=True)
    for i in range(6):
        add("sounds/music/track%02d.ogg" % i, "noise", rng.randint(250_000, 500_000), stored=True)
    for i in range(60):
        add("data/models/m%03d.mdl" % i, "noise", rng.randint(5_000, 35_000))
    for i in range(90):
        add("scripts/quest/q%03d.lua" % i, "text", rng.randint(5_000, 60_000))
    for lang in ("zh_CN", "zh_TW", "en_US"):
        for i in range(12):
            add("locale/%s/strings%02d.txt" % (lang, i), "text", rng.randint(60_000, 300_000))
    for i in range(30):
        add("config/c%02d.ini" % i, "text", rng.randint(200, 4_000))
    add("data/empty.flag", "text", 0)
    add("data/db/items.db", "table", 2_800_000)
    add("data/db/npcs.db", "table", 1_200_000)
    add("logs/", "folder", 0)
    return plan


def build_package(path, scale):
    gen = Generator(SEED)
    tmp = path + ".tmp"
    with zipfile.ZipFile(tmp, "w") as z:
        folders = set()
        for name, kind, size, stored in package_plan(scale):
            parts = name.rstrip("/").split("/")
            for depth in range(1, len(parts) if kind != "folder" else len(parts) + 1):
                folder = "/".join(parts[:depth]) + "/"
                if folder not in folders:
                    folders.add(folder)
                    info = zipfile.ZipInfo(folder, date_time=(2026, 11, 30, 12, 0, 0))
                    info.external_attr = (0o40755 << 16) | 0x10
                    z.writestr(info, b"")
            if kind == "folder":
                continue
            data = {"exe": gen.executable, "table": gen.table, "noise": gen.noise, "text": gen.text}[kind](size)
            info = zipfile.ZipInfo(name, date_time=(2026, 11, 30, 12, 0, 0))
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
            z.writestr(info, data, compresslevel=6)
    os.replace(tmp, path)


def package(scale, name):
    path = os.path.join(BENCH, "%s-v%d.zip" % (name, FORMAT_VERSION))
    if not os.path.exists(path):
        os.makedirs(BENCH, exist_ok=True)
        print("generating %s ..." % path, flush=True)
        build_package(path, scale)
    return path


def describe(path):
    with zipfile.ZipFile(path) as z:
        infos = z.infolist()
    files = [i for i in infos if not i.is_dir()]
    stored = sum(1 for i in files if i.compress_type == zipfile.ZIP_STORED)
    unpacked = sum(i.file_size for i in files)
    return "%d entries (%d files, %d stored, %d folders), %.1f MB unpacked, %.1f MB archive" % (
        len(infos), len(files), stored, len(infos) - len(files), unpacked / 1e6, os.path.getsize(path) / 1e6)


# On ext4 without a journal (this machine kind's disk), the inode allocator
# steps over every inode freed in the last minute, or five while the inode
# table block is dirty, on each file it creates (recently_deleted() in
# find_inode_bit). After trees of the package's size were deleted, that scan
# dominated both sides' times. So no tree is deleted while the bench
# measures, and a run waits until its predecessor's deletion is five minutes
# old (a bench run from a fresh clone does not wait).
DELETED_MARK = os.path.join(BENCH, "trees-deleted")
INODE_REUSE_SECONDS = 305


def delete_trees(folder):
    shutil.rmtree(folder, ignore_errors=True)
    with open(DELETED_MARK, "w"):
        pass


def wait_for_inode_reuse():
    try:
        age = time.time() - os.path.getmtime(DELETED_MARK)
    except OSError:
        return
    if 0 <= age < INODE_REUSE_SECONDS:
        print("waiting %.0f s: trees deleted %.0f s ago leave inodes ext4 may not reuse for five minutes" % (
            INODE_REUSE_SECONDS - age, age))
        time.sleep(INODE_REUSE_SECONDS - age)


FOLDERS = {}


def fresh(work, side):
    """A new, empty output folder for |side| (see DELETED_MARK)."""
    FOLDERS[side] = FOLDERS.get(side, 0) + 1
    folder = os.path.join(work, "%s-%d" % (side, FOLDERS[side]))
    os.makedirs(folder)
    return folder


def find_wineserver():
    """Pid of the wineserver of our prefix (it runs in a folder named after
    the prefix's device and inode), or None."""
    prefix = os.environ.get("ORLIX_WINEPREFIX") or os.path.join(BUILD, "wineprefix")
    try:
        st = os.stat(prefix)
    except OSError:
        return None
    suffix = "/server-%x-%x" % (st.st_dev, st.st_ino)
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                if os.readlink("/proc/%s/cwd" % pid).endswith(suffix):
                    return int(pid)
            except OSError:
                pass
    return None


WINESERVER = None
WINE_LOADER, WINE_ENV = None, None  # set by wine_environment()


def wine_environment():
    """The loader and environment winerun would use, after preparing the
    prefix once: (loader, environment)."""
    script = 'source "$1/wine-env.sh" && "$1/prefix-setup" && printf "%s\\0" "$ORLIX_WINE" && env -0'
    r = subprocess.run(["bash", "-c", script, "bash", WINE_TOOLS], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    if r.returncode != 0:
        sys.exit("bench package: cannot prepare the Wine prefix")
    fields = r.stdout.decode("utf-8", "surrogateescape").split("\0")
    env = dict(f.split("=", 1) for f in fields[1:] if "=" in f)
    return fields[0], env


def server_cpu():
    if WINESERVER is None:
        return 0.0
    try:
        fields = open("/proc/%d/stat" % WINESERVER).read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return 0.0


CPU = {}


def timed(cmd, log, key=None, env=None):
    """Wall time and exit code; the CPU time of the command (and of Wine's
    server for the Windows side) is added up under |key|."""
    before, server_before = resource.getrusage(resource.RUSAGE_CHILDREN), server_cpu()
    with open(log, "wb") as out:
        start = time.perf_counter()
        r = subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=env)
        elapsed = time.perf_counter() - start
    after, server_after = resource.getrusage(resource.RUSAGE_CHILDREN), server_cpu()
    if key:
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        CPU.setdefault(key, []).append((cpu, server_after - server_before))
    return elapsed, r.returncode


def zipx(args, log, key=None):
    """zipx.exe |args| started by the Wine loader: timed()'s answer."""
    return timed([WINE_LOADER, ZIPX] + args, log, key, WINE_ENV)


def ours(archive, folder, log, stats=False, key=None):
    return zipx(["extract"] + (["--stats"] if stats else []) + [to_windows(archive), to_windows(folder)], log, key)


def blank(archive, folder, log):
    return zipx(["blank", to_windows(archive), to_windows(folder)], log)


def unzip(archive, folder, log, key=None):
    return timed(["unzip", "-q", "-o", archive, "-d", folder], log, key)


def peak_rss_kb(cmd):
    r = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                       stdin=subprocess.DEVNULL)
    try:
        return int(r.stderr.decode().strip().splitlines()[-1])
    except (ValueError, IndexError):
        return -1


def read_stats(log):
    with open(log, "rb") as f:
        for line in f.read().decode("utf-8", "replace").splitlines():
            if line.startswith("stats "):
                words = line.split()
                return dict(zip(words[1::2], (int(w) for w in words[2::2])))
    return {}


def trees_equal(a, b):
    cmp = filecmp.dircmp(a, b)
    stack = [cmp]
    while stack:
        c = stack.pop()
        if c.left_only or c.right_only or c.funny_files:
            return False
        _, mismatch, errors = filecmp.cmpfiles(c.left, c.right, c.common_files, shallow=False)
        if mismatch or errors:
            return False
        stack.extend(c.subdirs.values())
    return True


def main():
    if not os.path.exists(ZIPX):
        sys.exit("bench package: %s is missing (run ./dev build)" % ZIPX)
    if not shutil.which("unzip"):
        sys.exit("bench package: Info-ZIP unzip is missing")
    big = package(1.0, "package")
    small = package(0.2, "package-small")
    print("package: " + describe(big))
    print("small package: " + describe(small))

    # The trees stay until the end (see DELETED_MARK); an earlier run's are
    # gone by now unless it was interrupted.
    for stale in os.listdir(BENCH):
        if stale.startswith("work"):
            delete_trees(os.path.join(BENCH, stale))
    wait_for_inode_reuse()
    work = os.path.join(BENCH, "work-%d" % os.getpid())
    os.makedirs(work)
    log = os.path.join(work, "zipx.log")

    # Warm-up: one Wine start (wineserver, DLLs in the page cache) and one
    # extraction each, so both sides read the archive from the page cache.
    global WINESERVER, WINE_LOADER, WINE_ENV
    WINE_LOADER, WINE_ENV = wine_environment()
    zipx([], log)
    WINESERVER = find_wineserver()
    wine_start, winerun_start = [], []
    for _ in range(3):
        t, _ = zipx([], log)  # prints usage and exits: Wine's process start alone
        wine_start.append(t)
        t, _ = timed([os.path.join(WINE_TOOLS, "winerun"), ZIPX], log)
        winerun_start.append(t)
    out_ours = fresh(work, "ours")
    t, rc = ours(big, out_ours, log)
    if rc != 0:
        sys.exit("bench package: zipx failed: " + open(log, "rb").read().decode("utf-8", "replace"))
    out_unzip = fresh(work, "unzip")
    unzip(big, out_unzip, os.path.join(work, "unzip.log"))
    if not trees_equal(out_ours, out_unzip):
        sys.exit("bench package: zipx and unzip produced different trees")
    print("check: zipx and unzip extract identical trees")

    load_before = os.getloadavg()
    times_ours, times_unzip, ratios = [], [], []
    for _ in range(RUNS):
        out_ours = fresh(work, "ours")
        a, rc = ours(big, out_ours, log, key="ours")
        if rc != 0:
            sys.exit("bench package: zipx failed")
        out_unzip = fresh(work, "unzip")
        b, _ = unzip(big, out_unzip, os.path.join(work, "unzip.log"), key="unzip")
        times_ours.append(a)
        times_unzip.append(b)
        ratios.append(a / b)

    # Over the tree the previous extraction left (the folders hold the last
    # pair's files).
    over_ours, over_unzip = [], []
    for _ in range(max(3, RUNS // 2)):
        a, rc = ours(big, out_ours, log)
        if rc != 0:
            sys.exit("bench package: zipx failed over the extracted tree")
        b, _ = unzip(big, out_unzip, os.path.join(work, "unzip.log"))
        over_ours.append(a)
        over_unzip.append(b)
    blank_ours, blank_unzip = [], []
    for _ in range(max(3, RUNS // 2)):
        a, rc = blank(big, fresh(work, "blank"), log)
        if rc != 0:
            sys.exit("bench package: zipx blank failed")
        b, _ = unzip(big, fresh(work, "unzip"), os.path.join(work, "unzip.log"))
        blank_ours.append(a)
        blank_unzip.append(b)
    load_after = os.getloadavg()

    ours(big, fresh(work, "ours"), log, stats=True)
    big_stats = read_stats(log)
    ours(small, fresh(work, "ours"), log, stats=True)
    small_stats = read_stats(log)
    unzip_rss = peak_rss_kb(["unzip", "-q", "-o", big, "-d", fresh(work, "unzip")])
    delete_trees(work)

    med_ours, med_unzip = statistics.median(times_ours), statistics.median(times_unzip)
    print("Wine process start (zipx printing its usage), median of 3: %.3f s (through winerun: %.3f s)" % (
        statistics.median(wine_start), statistics.median(winerun_start)))
    print("ours  (wine zipx.exe extract, Wine start included):    %s" % " ".join("%.3f" % t for t in times_ours))
    print("unzip (unzip -q -o, native):                           %s" % " ".join("%.3f" % t for t in times_unzip))
    print("ratio per pair: %s (median %.2f)" % (" ".join("%.2f" % r for r in ratios), statistics.median(ratios)))
    ours_cpu = statistics.median(c for c, _ in CPU["ours"])
    ours_server = statistics.median(s for _, s in CPU["ours"])
    print("CPU, median (machine-load independent): ours %.3f s in the process + %.3f s in wineserver%s, unzip %.3f s" % (
        ours_cpu, ours_server, "" if WINESERVER else " (wineserver not found)",
        statistics.median(c for c, _ in CPU["unzip"])))
    mb = 1024 * 1024
    for label, s in (("package", big_stats), ("small package", small_stats)):
        if s:
            print("zipx peak memory, %s (%.1f MB unpacked): working set %.1f MB, private %.1f MB" % (
                label, s.get("bytes", 0) / 1e6, s.get("peak_working_set", 0) / mb, s.get("peak_private", 0) / mb))
    print("unzip peak RSS: %.1f MB" % (unzip_rss / 1024.0))
    print("over the extracted tree, median of %d pairs: ours %.3f s, unzip %.3f s, ratio %.2f" % (
        len(over_ours), statistics.median(over_ours), statistics.median(over_unzip),
        statistics.median(a / b for a, b in zip(over_ours, over_unzip))))
    print("file system alone (zipx blank: the same files written with zeros, two threads), median of %d pairs: "
          "%.3f s, unzip %.3f s, ratio %.2f" % (
              len(blank_ours), statistics.median(blank_ours), statistics.median(blank_unzip),
              statistics.median(a / b for a, b in zip(blank_ours, blank_unzip))))
    print("machine load (1-minute average): %.1f before, %.1f after, on %d processors" % (
        load_before[0], load_after[0], os.cpu_count() or 0))
    # The ratio is the median of the pairs' ratios: each pair ran back to
    # back, so it holds better than the medians' ratio while the machine's
    # load drifts.
    print("bench package: ours %.3f s, unzip %.3f s, ratio %.2f" % (med_ours, med_unzip, statistics.median(ratios)))


if __name__ == "__main__":
    main()
