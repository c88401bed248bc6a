#!/usr/bin/python3
"""Debug identifiers and symbol files of the Windows builds
(cmake/Symbols.cmake, tools/symbols/dump_pe_syms.py): every program of each
Windows tree is shipped stripped with a CodeView record, and its Breakpad
symbols are in the tree's store under that record's identifier; the
identifier follows the code; the x86_64 unwind tables become the right
STACK CFI rules.

Usage: test_symbols.py   (ORLIX_ROOT defaults to this checkout)
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.environ.get("ORLIX_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TREES = [os.path.join(ROOT, "build", t) for t in ("i686", "i686-test", "x86_64")]
sys.path.insert(0, os.path.join(ROOT, "tools", "symbols"))
import dump_pe_syms  # noqa: E402


def programs(tree):
    for folder, dirs, names in os.walk(tree):
        dirs[:] = [d for d in dirs if d not in ("CMakeFiles", "symbols", "googletest", "layers", "e2e")]
        for name in names:
            if name.endswith(".exe"):
                yield os.path.join(folder, name)


def read_symbols(path):
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()


class BuiltPrograms(unittest.TestCase):
    def test_every_program_is_stripped_and_its_symbols_are_in_the_store(self):
        checked = 0
        for tree in TREES:
            if not os.path.isdir(tree):
                continue
            for exe in programs(tree):
                with self.subTest(exe=os.path.relpath(exe, ROOT)):
                    image = dump_pe_syms.Image(exe)
                    stem = os.path.splitext(os.path.basename(exe))[0]
                    self.assertEqual(stem + ".pdb", image.debug_file)
                    self.assertRegex(image.debug_id, r"^[0-9A-F]{32}[0-9A-F]+$")
                    # Stripped: no COFF symbols, no DWARF.
                    self.assertEqual(0, image.pe.FILE_HEADER.NumberOfSymbols)
                    self.assertFalse([n for n in image.sections if n.startswith(".debug")], sorted(image.sections))
                    lines = read_symbols(dump_pe_syms.store_path(os.path.join(tree, "symbols"), image))
                    arch = "x86_64" if image.is64 else "x86"
                    self.assertEqual("MODULE windows %s %s %s" % (arch, image.debug_id, stem + ".pdb"), lines[0])
                    self.assertEqual("INFO CODE_ID %08X%x %s" % (image.timestamp, image.size_of_image,
                                                                 os.path.basename(exe)), lines[1])
                    kinds = {line.split(" ", 1)[0] for line in lines}
                    self.assertTrue({"FILE", "FUNC", "STACK"} <= kinds, kinds)
                    checked += 1
        self.assertGreater(checked, 0, "no Windows tree is built")

    def test_the_crash_probe_is_described_by_function_file_line_and_frame(self):
        checked = 0
        for tree in TREES:
            probe = os.path.join(tree, "testtools", "crash_probe.exe")
            # Every test tree that is built has the probe (the test programs
            # are part of its default target); the release tree has none.
            if not os.path.exists(os.path.join(tree, "launcher_tests.exe")):
                continue
            with self.subTest(tree=os.path.basename(tree)):
                self.assertTrue(os.path.exists(probe), "%s has its tests but no crash probe" % tree)
                checked += 1
                image = dump_pe_syms.Image(probe)
                lines = read_symbols(dump_pe_syms.store_path(os.path.join(tree, "symbols"), image))
                files = {line.split(" ", 2)[1]: line.split(" ", 2)[2] for line in lines if line.startswith("FILE ")}
                source = os.path.join(ROOT, "tests", "tools", "crash_probe.cpp")
                number = [n for n, path in files.items() if os.path.normpath(path) == source]
                self.assertEqual(1, len(number), "the probe's source is not a FILE record")
                at = [i for i, line in enumerate(lines) if line.startswith("FUNC ") and line.endswith(" wmain")]
                self.assertEqual(1, len(at))
                start, size = (int(v, 16) for v in lines[at[0]].split()[1:3])
                # Line records of wmain that name the probe's source.
                body = []
                for line in lines[at[0] + 1:]:
                    if line.startswith("INLINE "):
                        continue  # the functions inlined into it come first
                    if line.split(" ", 1)[0] in ("FUNC", "PUBLIC", "STACK"):
                        break
                    body.append(line.split())
                self.assertTrue(any(b[3] == number[0] for b in body))
                self.assertTrue(all(start <= int(b[0], 16) < start + size for b in body))
                # A frame rule for wmain's first instruction.
                inits = [line.split() for line in lines if line.startswith("STACK CFI INIT ")]
                self.assertTrue(any(int(i[3], 16) <= start < int(i[3], 16) + int(i[4], 16) for i in inits))
                cfa = ".cfa: $rsp 8 +" if image.is64 else ".cfa: $esp 4 +"
                self.assertIn(cfa, [line for line in lines if line.startswith("STACK CFI INIT %x " % start)][0])
        self.assertGreater(checked, 0, "no Windows test tree is built: nothing described the crash probe")


class DebugIdentifier(unittest.TestCase):
    def link(self, folder, name, source, triple):
        c = os.path.join(folder, name + ".c")
        with open(c, "w") as f:
            f.write(source)
        exe = os.path.join(folder, name + ".exe")
        subprocess.run([triple + "-gcc-posix", "-O2", "-g", c, "-o", exe, "-Wl,--pdb=%s.pdb" % exe[:-4]],
                       check=True, capture_output=True)
        return dump_pe_syms.Image(exe).debug_id

    def test_same_for_one_build_different_for_another(self):
        for triple in ("i686-w64-mingw32", "x86_64-w64-mingw32"):
            with self.subTest(triple=triple), tempfile.TemporaryDirectory() as tmp:
                source = "int main(void) { return %d; }\n"
                first = self.link(tmp, "a", source % 1, triple)
                again = self.link(tmp, "a", source % 1, triple)
                other = self.link(tmp, "a", source % 2, triple)
                self.assertEqual(first, again)
                self.assertNotEqual(first, other)


class FakeImage:
    """Unwind information at RVA 0x100 (and a parent at 0x200)."""

    def __init__(self, blobs):
        self.blobs = blobs

    def rva_bytes(self, rva, size):
        for start, data in self.blobs.items():
            if start <= rva < start + len(data):
                return data[rva - start:rva - start + size]
        return b""


def unwind_info(codes, flags=0, frame=0, chained=None):
    """UNWIND_INFO version 1 with |codes| given in prolog order as
    (offset, op, info, extra slots)."""
    slots = b""
    for offset, op, info, extra in reversed(codes):
        slots += struct.pack("<BB", offset, op | (info << 4)) + b"".join(struct.pack("<H", e) for e in extra)
    count = len(slots) // 2
    prolog = codes[-1][0] if codes else 0
    data = struct.pack("<BBBB", 1 | (flags << 3), prolog, count, frame) + slots
    if count % 2:
        data += b"\0\0"
    if chained is not None:
        data += struct.pack("<III", 0x1000, 0x1100, chained)
    return data


class UnwindTables(unittest.TestCase):
    CASES = [
        # push rbp; mov rbp, rsp; sub rsp, 0x20 (GCC's frame)
        ("frame pointer", [(1, 0, 5, []), (4, 3, 0, []), (8, 2, 3, [])], None,
         [(0, ".cfa: $rsp 8 + .ra: .cfa 8 - ^"),
          (1, ".cfa: $rsp 16 + .ra: .cfa 8 - ^ $rbp: .cfa 16 - ^"),
          (4, ".cfa: $rbp 16 + .ra: .cfa 8 - ^ $rbp: .cfa 16 - ^"),
          (8, ".cfa: $rbp 16 + .ra: .cfa 8 - ^ $rbp: .cfa 16 - ^")]),
        # push rsi; push rbx; sub rsp, 0x1000 (large, in 8-byte units)
        ("pushes and a large allocation", [(1, 0, 6, []), (2, 0, 3, []), (9, 1, 0, [0x200])], None,
         [(0, ".cfa: $rsp 8 + .ra: .cfa 8 - ^"),
          (1, ".cfa: $rsp 16 + .ra: .cfa 8 - ^ $rsi: .cfa 16 - ^"),
          (2, ".cfa: $rsp 24 + .ra: .cfa 8 - ^ $rbx: .cfa 24 - ^ $rsi: .cfa 16 - ^"),
          (9, ".cfa: $rsp 4120 + .ra: .cfa 8 - ^ $rbx: .cfa 24 - ^ $rsi: .cfa 16 - ^")]),
        # sub rsp, 0x28; mov [rsp+0x30], rdi (a save into space allocated before)
        ("saved by a move", [(4, 2, 4, []), (9, 4, 7, [6])], None,
         [(0, ".cfa: $rsp 8 + .ra: .cfa 8 - ^"),
          (4, ".cfa: $rsp 48 + .ra: .cfa 8 - ^"),
          (9, ".cfa: $rsp 48 + .ra: .cfa 8 - ^ $rdi: .cfa 0 - ^")]),
        # A fragment chained to a function that pushed rbx and allocated 0x20.
        ("chained", [(2, 0, 12, [])], [(1, 0, 3, []), (5, 2, 3, [])],
         [(0, ".cfa: $rsp 48 + .ra: .cfa 8 - ^ $rbx: .cfa 16 - ^"),
          (2, ".cfa: $rsp 56 + .ra: .cfa 8 - ^ $rbx: .cfa 16 - ^ $r12: .cfa 56 - ^")]),
    ]

    def test_prolog_codes_become_rules_after_each_instruction(self):
        for name, codes, parent, expected in self.CASES:
            with self.subTest(name):
                blobs = {}
                if parent is not None:
                    blobs[0x200] = unwind_info(parent)
                    blobs[0x100] = unwind_info(codes, flags=4, chained=0x200)
                else:
                    blobs[0x100] = unwind_info(codes)
                steps = dump_pe_syms.unwind_steps(FakeImage(blobs), 0x100, 0)
                self.assertEqual(expected, [(offset, " ".join(rules)) for offset, rules in steps])

    def test_a_machine_frame_is_not_described(self):
        blobs = {0x100: unwind_info([(0, 10, 0, [])])}
        self.assertIsNone(dump_pe_syms.unwind_steps(FakeImage(blobs), 0x100, 0))


if __name__ == "__main__":
    unittest.main()
