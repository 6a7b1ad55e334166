#!/usr/bin/python3
"""Builds the corrupted mime.cache files the site must survive.

A small but complete cache (aliases, parents, literals, globs, suffixes, magic
with nested and masked matchlets, XML namespaces, icons) is built by
update-mime-database from tiny.xml beside this script and kept as base.cache.
Each variant then breaks one thing in it the way a bad disk, an interrupted
write or a hostile file would: offsets and counts out of bounds, strings that
run off the end, loops in the trees, truncations, version changes, and a few
seeded random byte flips. The layout is read from the file itself, so the
variants stay meaningful if update-mime-database lays its tables out
differently.

    site/tests/corrupt-mime/make-corpus.py

The outputs are committed; the tests need neither this script nor
update-mime-database's output of the day to be the same.
"""
import random
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent

# Past the end of any cache this small, and far past it.
FAR = 0x7FFFFFF0
HUGE = 0x7FFFFFFF

HEADER_FIELDS = ["alias", "parent", "literal", "suffix", "glob", "magic", "namespace",
                 "icons", "generic_icons"]
NODE = 12
MATCH = 16
MATCHLET = 32


def card32(data, at):
    return struct.unpack_from(">I", data, at)[0]


class Layout:
    """Where each table and entry of a cache lies, read from the cache."""

    def __init__(self, data):
        self.data = bytes(data)
        self.header = {name: 4 + 4 * i for i, name in enumerate(HEADER_FIELDS)}
        self.table = {name: card32(data, at) for name, at in self.header.items()}

    def count(self, name):
        return card32(self.data, self.table[name])

    def entry(self, name, index, size):
        return self.table[name] + 4 + size * index

    def parents_of(self, index):
        return card32(self.data, self.entry("parent", index, 8) + 4)

    def suffix_roots(self):
        return card32(self.data, self.table["suffix"] + 4)

    def suffix_nodes(self):
        """Every node of the reverse suffix tree, depth first, with its parent."""
        found = []

        def walk(first, count, parent):
            for i in range(count):
                at = first + NODE * i
                found.append((at, parent))
                if card32(self.data, at) != 0:
                    walk(card32(self.data, at + 8), card32(self.data, at + 4), at)

        walk(self.suffix_roots(), self.count("suffix"), None)
        return found

    def first_match(self):
        return card32(self.data, self.table["magic"] + 8)

    def matchlets(self):
        """Every matchlet, depth first, with its parent matchlet."""
        found = []

        def walk(first, count, parent):
            for i in range(count):
                at = first + MATCHLET * i
                found.append((at, parent))
                walk(card32(self.data, at + 28), card32(self.data, at + 24), at)

        for m in range(self.count("magic")):
            match = self.first_match() + MATCH * m
            walk(card32(self.data, match + 12), card32(self.data, match + 8), None)
        return found


def put(data, at, value):
    struct.pack_into(">I", data, at, value)


def build_base(work):
    packages = work / "packages"
    packages.mkdir(parents=True)
    shutil.copy(HERE / "tiny.xml", packages / "tiny.xml")
    subprocess.run(["update-mime-database", str(work)], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return bytearray((work / "mime.cache").read_bytes())


def variants(base):
    """(name, bytes) for every variant; each breaks one thing."""
    layout = Layout(base)
    out = []

    def variant(name, change):
        data = bytearray(base)
        result = change(data)
        # A change returns a new file, or edits the copy in place.
        out.append((name, bytes(result if isinstance(result, bytearray) else data)))

    # The file as a whole.
    variant("empty", lambda d: d[:0])
    variant("header-cut", lambda d: d[:20])
    variant("tables-cut", lambda d: d[:layout.table["suffix"] + 6])
    variant("magic-cut", lambda d: d[:layout.table["magic"] + 20])
    variant("major-version-2", lambda d: struct.pack_into(">H", d, 0, 2))
    variant("minor-version-0", lambda d: struct.pack_into(">H", d, 2, 0))

    # Each table's offset in the header, past the end.
    for name in HEADER_FIELDS:
        variant(f"{name}-offset-far", lambda d, n=name: put(d, layout.header[n], FAR))
    # A table whose count straddles the end of the file.
    variant("suffix-offset-at-end", lambda d: put(d, layout.header["suffix"], len(d) - 2))

    # Each table's count, huge.
    for name in ["alias", "parent", "literal", "suffix", "glob", "magic", "namespace",
                 "icons"]:
        variant(f"{name}-count-huge", lambda d, n=name: put(d, layout.table[n], HUGE))
    variant("parents-count-huge", lambda d: put(d, layout.parents_of(0), HUGE))

    # Strings and lists an entry points at, past the end.
    variant("alias-name-far", lambda d: put(d, layout.entry("alias", 0, 8), FAR))
    variant("parent-list-far", lambda d: put(d, layout.entry("parent", 0, 8) + 4, FAR))
    variant("parent-item-far", lambda d: put(d, layout.parents_of(0) + 4, FAR))
    variant("literal-far", lambda d: put(d, layout.entry("literal", 0, 12), FAR))
    variant("glob-far", lambda d: put(d, layout.entry("glob", 0, 12), FAR))
    variant("icon-name-far", lambda d: put(d, layout.entry("icons", 0, 8) + 4, FAR))

    nodes = layout.suffix_nodes()
    leaves = [at for at, _ in nodes if card32(base, at) == 0]
    inner = [(at, parent) for at, parent in nodes if card32(base, at) != 0]
    deepest = max(inner, key=lambda node: node[0])
    variant("suffix-roots-far", lambda d: put(d, layout.table["suffix"] + 4, FAR))
    variant("suffix-children-far", lambda d: put(d, inner[0][0] + 8, FAR))
    variant("suffix-children-huge", lambda d: put(d, inner[0][0] + 4, HUGE))
    variant("suffix-leaf-type-far", lambda d: put(d, leaves[0] + 4, FAR))
    variant("suffix-char-huge", lambda d: put(d, inner[0][0], HUGE))
    # Loops: a node whose children are itself, and a deep node whose children
    # are the roots again.
    variant("suffix-loop-self", lambda d: put(d, deepest[0] + 8, deepest[0]))
    variant("suffix-loop-roots",
            lambda d: (put(d, deepest[0] + 8, layout.suffix_roots()),
                       put(d, deepest[0] + 4, layout.count("suffix"))))

    matchlets = layout.matchlets()
    child = next(at for at, parent in matchlets if parent is not None)
    parent = next(p for at, p in matchlets if at == child)
    masked = next(at for at, _ in matchlets if card32(base, at + 20) != 0)
    first_match = layout.first_match()
    variant("magic-first-far", lambda d: put(d, layout.table["magic"] + 8, FAR))
    variant("match-matchlets-far", lambda d: put(d, first_match + 12, FAR))
    variant("match-matchlets-huge", lambda d: put(d, first_match + 8, HUGE))
    variant("matchlet-value-far", lambda d: put(d, parent + 16, FAR))
    variant("matchlet-value-long", lambda d: put(d, parent + 12, HUGE))
    variant("matchlet-mask-far", lambda d: put(d, masked + 20, FAR))
    variant("matchlet-children-far", lambda d: put(d, parent + 28, FAR))
    variant("matchlet-children-huge", lambda d: put(d, parent + 24, HUGE))
    variant("matchlet-range-huge", lambda d: put(d, parent + 4, HUGE))
    variant("matchlet-start-huge", lambda d: put(d, parent + 0, FAR))
    variant("magic-extent-huge", lambda d: put(d, layout.table["magic"] + 4, HUGE))
    variant("matchlet-word-size-3", lambda d: put(d, child + 8, 3))
    variant("matchlet-loop-self", lambda d: put(d, child + 28, child))
    variant("matchlet-loop-parent",
            lambda d: (put(d, child + 28, parent), put(d, child + 24, 1)))

    # A string that runs to the end of the file without its NUL.
    def unterminated(d):
        d[-8:] = b"xxxxxxxx"
        put(d, layout.entry("glob", 0, 12), len(d) - 8)
    variant("string-unterminated", unterminated)

    # A type that is its own parent, and two that are each other's.
    def parent_loop(d):
        for i in range(layout.count("parent")):
            entry = layout.entry("parent", i, 8)
            put(d, layout.parents_of(i) + 4, card32(d, entry))
    variant("parents-loop-self", parent_loop)

    # Seeded random damage: bytes flipped in the tables, and cuts.
    rng = random.Random(20250)
    tables_start = min(layout.table.values())
    while len(out) < 60:
        data = bytearray(base)
        for _ in range(8):
            at = rng.randrange(0, tables_start if rng.random() < 0.3 else len(data))
            data[at] = rng.randrange(256)
        if rng.random() < 0.3:
            data = data[:rng.randrange(len(data))]
        out.append((f"random-{len(out) + 1:02d}", bytes(data)))
    return out


def main():
    with tempfile.TemporaryDirectory() as work:
        base = build_base(Path(work))
    made = variants(base)
    if len(made) != 60:
        sys.exit(f"expected 60 variants, made {len(made)}")
    for old in HERE.glob("*.cache"):
        old.unlink()
    (HERE / "base.cache").write_bytes(base)
    for number, (name, data) in enumerate(made, 1):
        (HERE / f"{number:02d}-{name}.cache").write_bytes(data)


if __name__ == "__main__":
    main()
