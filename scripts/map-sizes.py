#!/usr/bin/env python3
"""Sums what each library (or each library member) puts into a program, from
the GNU linker's map file. Debugging sections and resources are left out.

Make the map by linking once more with -Wl,-Map=<file>, for example:
  cd build/win32 && ninja -t commands setup/setup.exe | tail -1 \\
      | sed 's| -o setup/setup.exe| -o /tmp/s.exe -Wl,-Map=/tmp/s.map|' | sh
then:
  scripts/map-sizes.py /tmp/s.map            # per library
  scripts/map-sizes.py /tmp/s.map --members  # per library member
  scripts/map-sizes.py /tmp/s.map --section .eh_frame
"""
import argparse
import collections
import re
import sys

SECTION = re.compile(r"^ (\.\S+|COMMON)\s*$")
ENTRY = re.compile(r"^ (\.\S+|COMMON)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
MEMBER = re.compile(r"(.*)\((.*)\)$")


def contributions(lines, members, only):
    totals = collections.Counter()
    try:
        start = next(i for i, l in enumerate(lines) if l.startswith("Linker script and memory map"))
    except StopIteration:
        sys.exit("not a GNU ld map file")
    pending = None
    for line in lines[start:]:
        if line.startswith("/DISCARD/"):
            break
        m = SECTION.match(line)
        if m:
            pending = m.group(1)  # the address and size follow on the next line
            continue
        m = ENTRY.match(line)
        if not m:
            continue
        section = m.group(1) or pending
        pending = None
        size = int(m.group(3), 16)
        if not section or size == 0 or section.startswith((".debug", ".rsrc")):
            continue
        if only and not section.startswith(only):
            continue
        source = m.group(4).strip()
        mm = MEMBER.match(source)
        if mm:
            key = mm.group(1).split("/")[-1] + (":" + mm.group(2) if members else "")
        else:
            key = source.split("/")[-1]
        totals[key] += size
    return totals


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("map")
    parser.add_argument("--members", action="store_true", help="one line per library member")
    parser.add_argument("--section", help="only sections whose name starts so (e.g. .eh_frame)")
    parser.add_argument("--top", type=int, default=40)
    args = parser.parse_args()
    with open(args.map, errors="replace") as f:
        lines = f.read().split("\n")
    totals = contributions(lines, args.members, args.section)
    for key, size in totals.most_common(args.top):
        print(f"{size:9,d}  {key}")
    print(f"{sum(totals.values()):9,d}  total")


if __name__ == "__main__":
    main()
