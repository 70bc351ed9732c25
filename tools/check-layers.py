#!/usr/bin/env python3
"""Fails on an include in src/ that points up the layer table: a unit may include its own folder and the
folders below it, never above. Prints FILE:LINE for each offending include."""
import os
import re
import sys

# Lowest first. Folders on one row are peers and may not include each other unless PEERS_BELOW says so.
LAYERS = [
    ["platform"],
    ["script", "html", "http", "currency"],
    ["engines"],
    ["storage"],
    ["actions"],
    ["search", "update", "integration"],
    ["presentation"],
    ["kernel"],
    ["ui", "cli", "scripttool", "uninstall", "updatesite"],
]
# Inside a row: the folders each folder may still include.
PEERS_BELOW = {"currency": {"script"}, "http": {"html"}, "update": {"search"}}

RANK = {folder: rank for rank, row in enumerate(LAYERS) for folder in row}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/')


def allowed(src, dst):
    if src == dst:
        return True
    if dst not in RANK:  # generated headers and the like
        return True
    if RANK[dst] < RANK[src]:
        return True
    return RANK[dst] == RANK[src] and dst in PEERS_BELOW.get(src, set())


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    root = os.path.normpath(sys.argv[1] if len(sys.argv) > 1 else root)
    faults = 0
    for dirpath, _, names in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        folder = rel.split(os.sep)[0]
        if folder not in RANK:
            if folder != ".":
                print(f"{rel}: folder is not in the layer table", file=sys.stderr)
                faults += 1
            continue
        for name in sorted(names):
            if not name.endswith((".h", ".cpp", ".in")):
                continue
            path = os.path.join(dirpath, name)
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if m and not allowed(folder, m.group(1)):
                        shown = os.path.relpath(path, os.path.dirname(root))
                        print(f"{shown}:{number}: {folder}/ includes {m.group(1)}/, which is above it",
                              file=sys.stderr)
                        faults += 1
    if faults:
        print(f"layer check: {faults} upward include(s)", file=sys.stderr)
        return 1
    print("layer check: every include points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
