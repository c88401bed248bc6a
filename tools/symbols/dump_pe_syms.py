#!/usr/bin/env python3
"""Breakpad text symbols of a Windows program linked by MinGW-w64.

    dump_pe_syms.py PROGRAM.exe [--store DIR | --out FILE] [--code-file SHIPPED.exe]
                    [--dump-syms PATH]

Reads an unstripped PE image (i686 or x86_64) that carries DWARF and a
CodeView (RSDS) debug directory entry, and writes Breakpad's symbol file:

  MODULE windows ARCH DEBUGID NAME.pdb    from the CodeView record
  INFO CODE_ID TIMESTAMPSIZEOFIMAGE PROGRAM.exe
  FILE, FUNC, INLINE, line and PUBLIC     from the DWARF and the symbol table
  STACK CFI                               i686: the .eh_frame call-frame
                                          information; x86_64: .debug_frame
                                          where the code has it, else the
                                          .pdata/.xdata unwind tables

Breakpad's own dump_syms reads DWARF from ELF files only, and nothing packaged
reads it from a PE image: objcopy puts the program's sections, at their
addresses, into an ELF container, dump_syms reads that, and this script
moves its addresses to the image's RVAs and gives the records the Windows
module's name and identifiers. Breakpad cannot read Windows' unwind tables
from a symbol file, so the x86_64 ones are turned into STACK CFI here.

With --store the file goes to DIR/NAME.pdb/DEBUGID/NAME.sym, the layout of a
symbol store that Breakpad's processor reads; with --out to FILE; else to
standard output.
"""
import argparse
import bisect
import io
import os
import struct
import subprocess
import sys

import tempfile

import pefile

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664
DEBUG_TYPE_CODEVIEW = 2
COFF_SYMBOL_BYTES = 18
# Breakpad's tools as ./dev installs them (the npm package "minidump").
BREAKPAD_BIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "tools", "node_modules",
                            "minidump", "bin", "linux-x64")
DEFAULT_DUMP_SYMS = os.path.normpath(os.path.join(BREAKPAD_BIN, "dump_syms"))


class SymbolError(Exception):
    pass


class Image:
    """The parts of a PE image the symbols come from."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.path = path
        try:
            self.pe = pefile.PE(data=self.data, fast_load=True)
        except pefile.PEFormatError as e:
            raise SymbolError("%s: not a PE image (%s)" % (path, e))
        machine = self.pe.FILE_HEADER.Machine
        if machine not in (MACHINE_I386, MACHINE_AMD64):
            raise SymbolError("%s: machine 0x%x is neither i386 nor AMD64" % (path, machine))
        self.is64 = machine == MACHINE_AMD64
        self.arch = "x86_64" if self.is64 else "x86"
        opt = self.pe.OPTIONAL_HEADER
        self.image_base = opt.ImageBase
        self.size_of_image = opt.SizeOfImage
        self.timestamp = self.pe.FILE_HEADER.TimeDateStamp
        self._read_coff_symbols()
        self.sections = {}
        for s in self.pe.sections:
            name = s.Name.rstrip(b"\0").decode("ascii", "replace")
            if name.startswith("/") and name[1:].isdigit() and self.symtab:
                name = self._string(int(name[1:]))  # long names live in the string table
            size = s.Misc_VirtualSize or s.SizeOfRawData
            raw = self.data[s.PointerToRawData:s.PointerToRawData + min(size, s.SizeOfRawData)]
            self.sections[name] = (s.VirtualAddress, raw, s)
        self._read_codeview()

    def _read_coff_symbols(self):
        fh = self.pe.FILE_HEADER
        self.symtab = fh.PointerToSymbolTable
        self.nsyms = fh.NumberOfSymbols if self.symtab else 0
        self.strtab = self.symtab + COFF_SYMBOL_BYTES * self.nsyms

    def _string(self, offset):
        start = self.strtab + offset
        return self.data[start:self.data.index(b"\0", start)].decode("utf-8", "replace")

    def _read_codeview(self):
        self.pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DEBUG"]])
        for entry in getattr(self.pe, "DIRECTORY_ENTRY_DEBUG", []):
            d = entry.struct
            if d.Type != DEBUG_TYPE_CODEVIEW or d.SizeOfData < 24:
                continue
            record = self.data[d.PointerToRawData:d.PointerToRawData + d.SizeOfData]
            if record[:4] != b"RSDS":
                continue
            d1, d2, d3 = struct.unpack_from("<IHH", record, 4)
            d4 = record[12:20]
            (age,) = struct.unpack_from("<I", record, 20)
            name = record[24:].split(b"\0", 1)[0].decode("utf-8", "replace")
            self.debug_id = "%08X%04X%04X%s%X" % (d1, d2, d3, d4.hex().upper(), age)
            self.debug_file = name.replace("\\", "/").rsplit("/", 1)[-1]
            if not self.debug_file:
                raise SymbolError("%s: its CodeView record names no PDB (link with --pdb)" % self.path)
            return
        raise SymbolError("%s: no CodeView (RSDS) debug directory entry (link with --build-id/--pdb)" % self.path)

    def section(self, name):
        return self.sections.get(name)

    def rva_bytes(self, rva, size):
        """The image's bytes at |rva|; fewer (or none) where the file ends or
        no section holds them."""
        try:
            offset = self.pe.get_offset_from_rva(rva)
        except pefile.PEFormatError:
            return b""
        return self.data[offset:offset + size]


# ---- Call-frame information --------------------------------------------------------

X64_REGS = ["$rax", "$rcx", "$rdx", "$rbx", "$rsp", "$rbp", "$rsi", "$rdi"] + ["$r%d" % i for i in range(8, 16)]


def x64_unwind_cfi(image):
    """STACK CFI records from the .pdata/.xdata tables: the rules before and
    after each prolog instruction. Windows' unwind codes do not describe
    epilogs (the system recognises them by their code); neither do these."""
    s = image.section(".pdata")
    if not s:
        return []
    _, raw, _ = s
    out = []
    for i in range(0, len(raw) - 11, 12):
        begin, end, info = struct.unpack_from("<III", raw, i)
        if not begin or end <= begin:
            continue
        steps = unwind_steps(image, info, 0)
        if steps is None:
            continue
        lines = []
        for offset, rules in steps:
            text = " ".join(rules)
            if offset == 0:
                lines.append("STACK CFI INIT %x %x %s" % (begin, end - begin, text))
            elif offset < end - begin:
                lines.append("STACK CFI %x %s" % (begin + offset, text))
        out.append((begin, lines))
    return out


def unwind_steps(image, info_rva, depth):
    """[(code offset, rules)] for one UNWIND_INFO, its chain first."""
    if depth > 8:
        return None
    head = image.rva_bytes(info_rva, 4)
    if len(head) < 4:
        return None
    ver_flags, prolog, count, frame = struct.unpack("<BBBB", head)
    if ver_flags & 7 not in (1, 2):
        return None
    flags = ver_flags >> 3
    codes = image.rva_bytes(info_rva + 4, 2 * count)
    # State: bytes below the entry rsp (return address included), where
    # each register was saved (offset below the CFA), frame register.
    state = {"size": 8, "saved": {}, "fp": None, "fp_size": 0}
    if flags & 4:  # UNW_FLAG_CHAININFO: the function's main prolog has run
        at = info_rva + 4 + 2 * ((count + 1) & ~1)
        parent = image.rva_bytes(at, 12)
        if len(parent) < 12:
            return None
        _, _, pinfo = struct.unpack("<III", parent)
        state = chain_state(image, pinfo, depth + 1)
        if state is None:
            return None
    ops = decode_codes(codes, count)
    if ops is None:
        return None
    steps = [(0, rules_of(state))]
    for offset, op in reversed(ops):  # stored last instruction first
        apply_op(state, op)
        steps.append((offset, rules_of(state)))
    return steps


def chain_state(image, info_rva, depth):
    if depth > 8:
        return None
    head = image.rva_bytes(info_rva, 4)
    if len(head) < 4:
        return None
    ver_flags, _, count, _ = struct.unpack("<BBBB", head)
    state = {"size": 8, "saved": {}, "fp": None, "fp_size": 0}
    if (ver_flags >> 3) & 4:
        at = info_rva + 4 + 2 * ((count + 1) & ~1)
        parent = image.rva_bytes(at, 12)
        if len(parent) < 12:
            return None
        _, _, pinfo = struct.unpack("<III", parent)
        state = chain_state(image, pinfo, depth + 1)
        if state is None:
            return None
    ops = decode_codes(image.rva_bytes(info_rva + 4, 2 * count), count)
    if ops is None:
        return None
    for _, op in reversed(ops):
        apply_op(state, op)
    return state


def decode_codes(codes, count):
    """[(prolog offset, operation)] of the unwind codes, last instruction
    first as stored; None for codes that are cut short or not understood."""
    try:
        return _decode_codes(codes, count)
    except struct.error:
        return None


def _decode_codes(codes, count):
    ops = []
    i = 0
    while i < count:
        offset, opinfo = struct.unpack_from("<BB", codes, 2 * i)
        op, info = opinfo & 15, opinfo >> 4
        if op == 0:  # UWOP_PUSH_NONVOL
            ops.append((offset, ("push", info)))
            i += 1
        elif op == 1:  # UWOP_ALLOC_LARGE
            if info == 0:
                ops.append((offset, ("alloc", 8 * struct.unpack_from("<H", codes, 2 * i + 2)[0])))
                i += 2
            else:
                ops.append((offset, ("alloc", struct.unpack_from("<I", codes, 2 * i + 2)[0])))
                i += 3
        elif op == 2:  # UWOP_ALLOC_SMALL
            ops.append((offset, ("alloc", 8 * info + 8)))
            i += 1
        elif op == 3:  # UWOP_SET_FPREG
            ops.append((offset, ("setfp", None)))
            i += 1
        elif op == 4:  # UWOP_SAVE_NONVOL
            ops.append((offset, ("save", (info, 8 * struct.unpack_from("<H", codes, 2 * i + 2)[0]))))
            i += 2
        elif op == 5:  # UWOP_SAVE_NONVOL_FAR
            ops.append((offset, ("save", (info, struct.unpack_from("<I", codes, 2 * i + 2)[0]))))
            i += 3
        elif op == 8:  # UWOP_SAVE_XMM128: not a register the walker restores
            i += 2
        elif op == 9:  # UWOP_SAVE_XMM128_FAR
            i += 3
        elif op == 10:  # UWOP_PUSH_MACHFRAME: a trap frame, not a call
            return None
        else:
            return None
    return ops


def apply_op(state, op):
    kind, value = op
    if kind == "push":
        state["size"] += 8
        state["saved"][value] = state["size"]
    elif kind == "alloc":
        state["size"] += value
    elif kind == "setfp":
        state["fp"] = True
        state["fp_size"] = state["size"]
    elif kind == "save":
        reg, off = value
        state["saved"][reg] = state["size"] - off


def rules_of(state):
    # GCC's frame register is rbp, set with an offset of 0 (`mov rbp, rsp`
    # after the pushes, or `lea rbp, [rsp+N]` with N given in the frame
    # register offset, which it does not use).
    if state["fp"]:
        rules = [".cfa: $rbp %d +" % state["fp_size"]]
    else:
        rules = [".cfa: $rsp %d +" % state["size"]]
    rules.append(".ra: .cfa 8 - ^")
    for reg, below in sorted(state["saved"].items()):
        rules.append("%s: .cfa %d - ^" % (X64_REGS[reg], below))
    return rules


# ---- The symbol file -----------------------------------------------------------------

def dump_syms_text(image, dump_syms):
    """Breakpad's dump_syms run on the program's sections in an ELF container
    (objcopy keeps their addresses, the DWARF and the symbols), and the
    delta between the addresses it writes and the image's RVAs."""
    triple = "x86_64-w64-mingw32" if image.is64 else "i686-w64-mingw32"
    target = "elf64-x86-64" if image.is64 else "elf32-i386"
    with tempfile.TemporaryDirectory(prefix="dump_pe_syms.") as tmp:
        elf = os.path.join(tmp, os.path.basename(image.path) + ".elf")
        try:
            # 32-bit COFF names start with an underscore of the C ABI's
            # (__ZSt9terminatev for _ZSt9terminatev): without it they demangle.
            strip = [] if image.is64 else ["--remove-leading-char"]
            subprocess.run([triple + "-objcopy", "-O", target] + strip + [image.path, elf], check=True,
                           capture_output=True)
        except (OSError, subprocess.CalledProcessError) as e:
            raise SymbolError("%s: objcopy to ELF failed (%s)" % (image.path, getattr(e, "stderr", b"") or e))
        load = elf_load_address(elf)
        try:
            # -d: INLINE records, so that a frame in inlined code names the
            # inlined function and the caller it was inlined into.
            run = subprocess.run([dump_syms, "-d", elf], capture_output=True, text=True)
        except OSError as e:
            raise SymbolError("cannot run Breakpad's dump_syms %s (%s)" % (dump_syms, e))
    if run.returncode != 0 or not run.stdout.startswith("MODULE "):
        raise SymbolError("%s: dump_syms failed: %s" % (image.path, run.stderr.strip()[-400:]))
    return run.stdout, load - image.image_base


def elf_load_address(path):
    """The lowest PT_LOAD address, which dump_syms takes as the module's start."""
    with open(path, "rb") as f:
        data = f.read(64)
        is64 = data[4] == 2
        if is64:
            phoff, = struct.unpack_from("<Q", data, 32)
            phentsize, phnum = struct.unpack_from("<HH", data, 54)
        else:
            phoff, = struct.unpack_from("<I", data, 28)
            phentsize, phnum = struct.unpack_from("<HH", data, 42)
        f.seek(phoff)
        table = f.read(phentsize * phnum)
    lowest = None
    for i in range(phnum):
        if is64:
            ptype, _, _, vaddr = struct.unpack_from("<IIQQ", table, i * phentsize)
        else:
            ptype, _, vaddr = struct.unpack_from("<III", table, i * phentsize)
        if ptype == 1 and (lowest is None or vaddr < lowest):
            lowest = vaddr
    if lowest is None:
        raise SymbolError("%s: no loadable segment" % path)
    return lowest


def shifted(parts, indexes, delta):
    for i in indexes:
        parts[i] = "%x" % (int(parts[i], 16) + delta)
    return " ".join(parts)


def symbol_text(image, shipped, dump_syms):
    text, delta = dump_syms_text(image, dump_syms)
    records = []
    cfi = []  # (start, size, lines) of dump_syms' own call-frame records
    for line in text.splitlines():
        parts = line.split(" ")
        head = parts[0]
        if head in ("MODULE", "INFO"):
            continue
        if head in ("FILE", "INLINE_ORIGIN"):
            records.append(line)
        elif head in ("FUNC", "PUBLIC"):
            records.append(shifted(parts, [2 if parts[1] == "m" else 1], delta))
        elif head == "INLINE":
            records.append(shifted(parts, range(5, len(parts), 2), delta))
        elif head == "STACK":
            if parts[1] != "CFI":
                continue
            if parts[2] == "INIT":
                start = int(parts[3], 16) + delta
                cfi.append((start, int(parts[4], 16), [shifted(parts, [3], delta)]))
            elif cfi:
                cfi[-1][2].append(shifted(parts, [2], delta))
        else:
            records.append(shifted(parts, [0], delta))
    if image.is64:
        # The unwind tables describe every function, the CRT's and the
        # runtime libraries' too; DWARF's .debug_frame only what was compiled
        # with -g, but epilogs as well: it is kept where it exists.
        starts = sorted((s, s + n) for s, n, _ in cfi)
        begins = [s for s, _ in starts]
        for begin, lines in x64_unwind_cfi(image):
            j = bisect.bisect_right(begins, begin) - 1
            if j >= 0 and starts[j][0] <= begin < starts[j][1]:
                continue
            cfi.append((begin, 0, lines))
    out = io.StringIO()
    out.write("MODULE windows %s %s %s\n" % (image.arch, image.debug_id, image.debug_file))
    out.write("INFO CODE_ID %08X%x %s\n" % (shipped.timestamp, shipped.size_of_image, os.path.basename(shipped.path)))
    for line in records:
        out.write(line + "\n")
    for _, _, lines in sorted(cfi, key=lambda c: c[0]):
        for line in lines:
            out.write(line + "\n")
    return out.getvalue()

def store_path(store, image):
    name = image.debug_file
    stem = name[:-4] if name.lower().endswith(".pdb") else name
    return os.path.join(store, name, image.debug_id, stem + ".sym")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("program")
    parser.add_argument("--store", help="symbol store folder (NAME.pdb/DEBUGID/NAME.sym)")
    parser.add_argument("--out", help="symbol file")
    parser.add_argument("--code-file", metavar="SHIPPED.exe",
                        help="the stripped program that ships: its file name, time stamp and size make the "
                             "code identifier; its CodeView record must be PROGRAM's")
    parser.add_argument("--dump-syms", default=DEFAULT_DUMP_SYMS,
                        help="Breakpad's dump_syms (default: the one ./dev installs, %(default)s)")
    args = parser.parse_args(argv)
    try:
        image = Image(args.program)
        shipped = Image(args.code_file) if args.code_file else image
        if (shipped.debug_id, shipped.debug_file) != (image.debug_id, image.debug_file):
            raise SymbolError("%s is not a copy of %s: its debug identifier differs" % (args.code_file, args.program))
        text = symbol_text(image, shipped, args.dump_syms)
    except SymbolError as e:
        print("dump_pe_syms: %s" % e, file=sys.stderr)
        return 1
    target = store_path(args.store, image) if args.store else args.out
    if not target:
        sys.stdout.write(text)
        return 0
    os.makedirs(os.path.dirname(os.path.abspath(target)), exist_ok=True)
    temp = target + ".tmp"
    with open(temp, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    os.replace(temp, target)
    print(target)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
