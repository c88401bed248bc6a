#!/usr/bin/env python3
"""The maker's crash tools: read crash dumps through Breakpad's processor.

    orlix_crash.py crash DUMP [--symbols DIR]...
    orlix_crash.py crashes [--server DIR] [--symbols DIR]...

`crash` prints the crash reason, the crashed thread's stack and then every
other thread's stack, each frame with module, function, source file and
line where the symbols have them. `crashes` lists the crash dumps that the
local server received, grouped by the signature of their crashed thread's
top frames, with counts, the versions they came from and the first and last
time each arrived.

Symbols are read from Breakpad symbol stores (NAME.pdb/DEBUGID/NAME.sym):
those given with --symbols, then the build trees' own (build/*/symbols). The
stack walk is Breakpad's minidump_stackwalk, from ORLIX_BREAKPAD_BIN (./dev
sets it).
"""
import argparse
import collections
import os
import re
import subprocess
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
BUILD = os.path.join(ROOT, "build")
BREAKPAD_BIN = os.environ.get("ORLIX_BREAKPAD_BIN") or os.path.join(BUILD, "tools", "node_modules", "minidump", "bin",
                                                                     "linux-x64")
SERVER_BIN = os.path.join(BUILD, "native", "server", "orlix_server")
# The server that `./dev run` starts keeps its files here.
DEFAULT_SERVER_DIR = os.path.join(BUILD, "devrun", "server")
TREES = ("i686", "i686-test", "x86_64")
# The frames of the crashed thread that make a crash's signature.
SIGNATURE_FRAMES = 3
# One dump's walk; a damaged dump must not hold the listing up for ever.
WALK_TIMEOUT_S = 120
# Dump_<version>_<executable>_<yyyymmdd>_<hhmmss>.dmp, as the crash handler names it.
DUMP_NAME_RE = re.compile(r"Dump_([0-9][0-9.]*)_(.+)_[ 0-9]{8}_[0-9]{6}\.dmp$")


class CrashToolError(Exception):
    pass


Frame = collections.namedtuple("Frame", "module function file line offset")


class Walk:
    """What minidump_stackwalk's machine-readable output says about one dump."""

    def __init__(self, text):
        self.reason = ""
        self.address = ""
        self.crashed = None
        self.modules = []
        self.threads = collections.OrderedDict()
        for line in text.splitlines():
            fields = line.split("|")
            if fields[0] == "Crash" and len(fields) >= 4:
                self.reason, self.address = fields[1], fields[2]
                self.crashed = int(fields[3]) if fields[3].isdigit() else None
            elif fields[0] == "Module" and len(fields) >= 8:
                self.modules.append({"name": fields[1], "version": fields[2], "debug_file": fields[3],
                                     "debug_id": fields[4], "main": fields[7] == "1"})
            elif len(fields) == 7 and fields[0].isdigit() and fields[1].isdigit():
                frame = Frame(fields[2], fields[3], fields[4], fields[5], fields[6])
                self.threads.setdefault(int(fields[0]), []).append(frame)

    def crashed_frames(self):
        return self.threads.get(self.crashed, []) if self.crashed is not None else []


def symbol_dirs(given):
    dirs = [os.path.abspath(d) for d in given]
    for tree in TREES:
        store = os.path.join(BUILD, tree, "symbols")
        if os.path.isdir(store):
            dirs.append(store)
    return dirs


def stackwalk(dump, symbols):
    tool = os.path.join(BREAKPAD_BIN, "minidump_stackwalk")
    if not os.access(tool, os.X_OK):
        raise CrashToolError("Breakpad's minidump_stackwalk is not installed (%s); ./dev setup installs it" % tool)
    if not os.path.isfile(dump):
        raise CrashToolError("no such dump: %s" % dump)
    try:
        run = subprocess.run([tool, "-m", dump] + symbols, capture_output=True, timeout=WALK_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        raise CrashToolError("%s: the stack walk took longer than %d s" % (dump, WALK_TIMEOUT_S))
    text = run.stdout.decode("utf-8", "replace")
    if run.returncode != 0 or "\nCrash|" not in "\n" + text:
        raise CrashToolError("%s: not a readable minidump (%s)" % (dump, run.stderr.decode("utf-8", "replace")
                                                                  .strip().splitlines()[-1:] or "no output"))
    return Walk(text)


def source_text(frame):
    if not frame.file:
        return ""
    path = frame.file
    if path.startswith(ROOT + os.sep):
        path = os.path.relpath(path, ROOT)
    return "%s:%s" % (path, frame.line) if frame.line else path


def frame_text(frame):
    if frame.function:
        where = "%s!%s" % (frame.module, frame.function) if frame.module else frame.function
    elif frame.module:
        where = "%s+%s" % (frame.module, frame.offset)
    else:
        where = frame.offset
    source = source_text(frame)
    return "%s  [%s]" % (where, source) if source else where


def frame_key(frame):
    """A frame as it counts in a signature: its function, or its module and
    offset where no symbol names it."""
    if frame.function:
        return "%s!%s" % (frame.module, frame.function) if frame.module else frame.function
    return "%s+%s" % (frame.module, frame.offset) if frame.module else frame.offset


def print_stack(out, number, frames, crashed):
    out.write("Thread %d%s\n" % (number, " (crashed)" if crashed else ""))
    for i, frame in enumerate(frames):
        out.write("  %2d  %s\n" % (i, frame_text(frame)))


def cmd_crash(args, out):
    walk = stackwalk(args.dump, symbol_dirs(args.symbols))
    main = next((m for m in walk.modules if m["main"]), None)
    out.write("Crash reason:  %s\n" % (walk.reason or "(no exception: a dump written without one)"))
    out.write("Crash address: %s\n" % walk.address)
    if main:
        out.write("Program:       %s %s\n" % (main["name"], main["version"]))
    out.write("\n")
    if walk.crashed is not None and walk.crashed in walk.threads:
        print_stack(out, walk.crashed, walk.threads[walk.crashed], True)
        out.write("\n")
    for number, frames in walk.threads.items():
        if number != walk.crashed:
            print_stack(out, number, frames, False)
            out.write("\n")
    return 0


def server_reports(server_dir):
    db = os.path.join(server_dir, "pings.db")
    if not os.path.isfile(db):
        raise CrashToolError("no local server data in %s (./dev run, or --server DIR with pings.db)" % server_dir)
    if not os.access(SERVER_BIN, os.X_OK):
        raise CrashToolError("the local server is not built (%s); ./dev build builds it" % SERVER_BIN)
    run = subprocess.run([SERVER_BIN, "reports", "--db", db], capture_output=True, text=True, timeout=60)
    if run.returncode != 0:
        raise CrashToolError("orlix_server reports: %s" % run.stderr.strip())
    rows = []
    for line in run.stdout.splitlines():
        fields = line.split("\t")
        if len(fields) == 5:
            rows.append({"id": fields[0], "time": fields[1], "name": fields[2], "size": fields[3], "path": fields[4]})
    return rows


def cmd_crashes(args, out):
    server_dir = os.path.abspath(args.server or DEFAULT_SERVER_DIR)
    symbols = symbol_dirs(args.symbols)
    groups = collections.OrderedDict()
    unreadable = []
    for row in server_reports(server_dir):
        if not row["name"].lower().endswith(".dmp"):
            continue  # the system report beside each dump
        path = row["path"] if os.path.isabs(row["path"]) else os.path.join(server_dir, row["path"])
        try:
            walk = stackwalk(path, symbols)
        except CrashToolError as e:
            unreadable.append((row, str(e)))
            continue
        frames = walk.crashed_frames()[:SIGNATURE_FRAMES]
        signature = " | ".join(frame_key(f) for f in frames) or "(no crashed thread)"
        name = DUMP_NAME_RE.search(row["name"])
        main = next((m for m in walk.modules if m["main"]), None)
        version = name.group(1) if name else (main["version"] if main and main["version"] else "?")
        group = groups.setdefault(signature, {"count": 0, "versions": set(), "first": row["time"],
                                              "last": row["time"], "reason": walk.reason, "top": walk.crashed_frames(),
                                              "latest": path})
        group["count"] += 1
        group["versions"].add(version)
        if row["time"] < group["first"]:
            group["first"] = row["time"]
        if row["time"] >= group["last"]:
            group["last"], group["latest"], group["top"] = row["time"], path, walk.crashed_frames()
    out.write("Crash reports received by the local server in %s\n\n" % server_dir)
    if not groups and not unreadable:
        out.write("none\n")
    ordered = sorted(groups.items(), key=lambda kv: (-kv[1]["count"], kv[1]["last"]))
    for signature, g in ordered:
        out.write("%d x %s  (%s)\n" % (g["count"], g["reason"] or "no exception", signature))
        out.write("    versions: %s\n" % ", ".join(sorted(g["versions"])))
        out.write("    first: %s   last: %s\n" % (g["first"], g["last"]))
        for i, frame in enumerate(g["top"][:SIGNATURE_FRAMES]):
            out.write("    %2d  %s\n" % (i, frame_text(frame)))
        out.write("    latest dump: %s\n\n" % g["latest"])
    for row, error in unreadable:
        out.write("unreadable: %s (%s)\n" % (row["path"], error))
    return 0


def main(argv):
    parser = argparse.ArgumentParser(prog="./dev", description="Crash dumps through Breakpad's processor.")
    sub = parser.add_subparsers(dest="command", required=True)
    one = sub.add_parser("crash", help="one dump's crash reason and stacks")
    one.add_argument("dump")
    one.add_argument("--symbols", action="append", default=[], help="a symbol store (more than one may be given)")
    many = sub.add_parser("crashes", help="the local server's crash reports, grouped")
    many.add_argument("--server", help="the server's folder: pings.db and reports/ (default %s)" % DEFAULT_SERVER_DIR)
    many.add_argument("--symbols", action="append", default=[], help="a symbol store (more than one may be given)")
    args = parser.parse_args(argv)
    try:
        return (cmd_crash if args.command == "crash" else cmd_crashes)(args, sys.stdout)
    except CrashToolError as e:
        print("%s: %s" % (args.command, e), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
