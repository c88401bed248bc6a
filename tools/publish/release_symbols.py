"""The symbols of a published launcher, for the maker's crash tools.

The build writes every program's Breakpad symbols into its tree's symbol
store (build/<tree>/symbols/NAME.pdb/DEBUGID/NAME.sym) and ships the program
stripped. Publishing copies the published launcher's symbol file, found by
the debug identifier in the launcher's CodeView record, into the maker's
store for releases, which `./dev crash --symbols DIR` reads. The symbols
stay with the maker: they are not part of what goes to the web server.
"""
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "symbols"))
import dump_pe_syms  # noqa: E402


def find_symbols(launcher):
    """The symbol file of |launcher| in the store of the build tree it lies in
    (the nearest folder above it with a symbols/ folder), and its store-relative
    path; (None, relative path) when no store has it."""
    image = dump_pe_syms.Image(launcher)
    relative = os.path.relpath(dump_pe_syms.store_path("", image), "")
    folder = os.path.dirname(os.path.abspath(launcher))
    while True:
        candidate = os.path.join(folder, "symbols", relative)
        if os.path.isfile(candidate):
            return candidate, relative
        parent = os.path.dirname(folder)
        if parent == folder:
            return None, relative
        folder = parent


def copy_release_symbols(launcher, store):
    """Copies the launcher's symbol file into |store|; returns its new path.
    Raises dump_pe_syms.SymbolError when the launcher has no debug identifier
    or no build tree above it holds its symbols."""
    found, relative = find_symbols(launcher)
    if not found:
        raise dump_pe_syms.SymbolError("no symbol store above %s holds %s (build the launcher with ./dev build)"
                                       % (launcher, relative))
    target = os.path.join(store, relative)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copyfile(found, target)
    return target
