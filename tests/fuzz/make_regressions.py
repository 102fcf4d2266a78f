#!/usr/bin/env python3
"""Writes the regression inputs of the fuzz harnesses (tests/fuzz/regressions/
<harness>/): one reproducer per fault found by hostile input. Each must run
through its harness without a crash. Run once after changing this file; the
outputs are committed."""
import struct
import zlib
from pathlib import Path

OUT = Path(__file__).resolve().parent / "regressions"
SCRAMBLE_KEY = 0x5A17C3E9


def put(path, data):
    p = OUT / path
    p.parent.mkdir(parents=True, exist_ok=True)
    p.write_bytes(data)


# ---- PE images: headers, one code section, one resource section -------------

def image(rsrc_raw=0x600, rsrc_size=0x200, size_of_headers=0x400, sections_count=2):
    pe, opt = 0x80, 0x80 + 24
    sections = opt + 224
    b = bytearray(0x800)
    b[0:2] = b"MZ"
    struct.pack_into("<I", b, 0x3C, pe)
    b[pe:pe + 4] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", b, pe + 4, 0x14C, sections_count, 0, 0, 0, 224, 0x0102)
    struct.pack_into("<H", b, opt, 0x10B)
    struct.pack_into("<I", b, opt + 16, 0x1000)
    struct.pack_into("<I", b, opt + 28, 0x400000)
    struct.pack_into("<II", b, opt + 32, 0x1000, 0x200)
    struct.pack_into("<I", b, opt + 56, 0x3000)
    struct.pack_into("<I", b, opt + 60, size_of_headers)
    struct.pack_into("<H", b, opt + 68, 2)
    struct.pack_into("<I", b, opt + 92, 16)
    if sections_count == 2:
        struct.pack_into("<II", b, opt + 96 + 16, 0x2000, 16)   # resource directory
    b[sections:sections + 8] = b".text\0\0\0"
    struct.pack_into("<IIII", b, sections + 8, 0x10, 0x1000, 0x200, 0x400)
    struct.pack_into("<I", b, sections + 36, 0x60000020)
    if sections_count == 2:
        h = sections + 40
        b[h:h + 8] = b".rsrc\0\0\0"
        struct.pack_into("<IIII", b, h + 8, 0x10, 0x2000, rsrc_size, rsrc_raw)
        struct.pack_into("<I", b, h + 36, 0x40000040)
    return bytes(b)


# The resource section last (by address and by file offset) with its data
# starting inside the headers, in the data directories: rebuilding it in
# place wrote the new headers beyond the copy kept of them.
put("pe/rsrc-last-section-inside-headers", image(rsrc_raw=0x110, rsrc_size=0x6F0))
# 256 MB of headers in a 2 KB file, with no resource section (a new one goes
# behind the headers): the writer allocated and wrote all of them.
put("pe/size-of-headers-256mb", image(size_of_headers=0x10000000, sections_count=1))
put("pe/size-of-headers-below-section-table", image(size_of_headers=0x100))

# ---- Project files ----------------------------------------------------------

put("project/exponential-wildcard",
    b"[Strings]\nSetupName=S\n[Files]\nFile = d/" + b"*a" * 12 + b"*b\n")
put("project/300000-stars",
    b"[Strings]\nSetupName=S\n[Files]\nFile = d/" + b"*" * 300000 + b"a\n")
put("project/name-leaves-the-folder",
    b"[Strings]\nSetupName=S\n[Files]\nFile = a.txt | name=..\\..\\x\nFile = b.dat | name=CON\n")

# ---- Setup archives ---------------------------------------------------------


def counted(text):
    return struct.pack("<H", len(text)) + text


def archive(files, options=0):
    out = struct.pack("<Hhh", options, 0, len(files))
    for name, size, body, compressed in files:
        out += counted(name) + struct.pack("<Biiii", compressed, size, 0, len(body), -1)
    out += struct.pack("<hh", -1, -1) + counted(b"") * 3 + struct.pack("<iiI", 0, 0, 0) + counted(b"") * 4
    out += struct.pack("<HHBdB", 0, 0, 0, 0.0, 0) + counted(b"Setup\r\nProduct")
    return out + b"".join(f[2] for f in files)


bomb = zlib.compress(bytes(40 << 20), 9)
put("archive/declares-one-byte-inflates-40mb", archive([(b"x.bin", 1, bomb, 1)]))
put("archive/name-leaves-the-folder", archive([(b"ok.txt", 1, b"a", 0), (b"..\\..\\x.dll", 1, b"b", 0)]))
put("archive/name-with-zero-byte", archive([(b"a.txt\0.exe", 1, b"a", 0)]))

# ---- Containers -------------------------------------------------------------


def scramble(piece):
    b = bytearray(piece)
    words = len(b) // 4
    for i in range(words):
        (w,) = struct.unpack_from("<I", b, 4 * i)
        struct.pack_into("<I", b, 4 * i, w ^ SCRAMBLE_KEY)
    for j in range(4 * words + 1, len(b)):
        b[j] ^= SCRAMBLE_KEY & 0xFF
    return bytes(b)


def container(entries, data_size_delta=0):
    """Plain (no filter but the source) version 0x0100 container."""
    header = bytearray(200)
    struct.pack_into("<H", header, 0, 0x7777)
    struct.pack_into("<HH", header, 168, 0x0100, 0)
    blocks, records, at = b"", b"", 200
    for i, (name, data) in enumerate(entries):
        block = b"\0\0" + struct.pack("<ii", len(data), len(data)) + data
        rec = bytearray(145)
        rec[0] = len(name)
        rec[1:1 + len(name)] = name
        struct.pack_into("<iiii", rec, 65, i + 1, at, 0, len(data))
        struct.pack_into("<H", rec, 83, 0x0200)
        records += scramble(bytes(rec))
        blocks += block
        at += len(block)
    struct.pack_into("<iii", header, 188, len(entries), len(blocks) + data_size_delta, 10)
    return bytes(header) + blocks + scramble(struct.pack("<i", len(entries))) + records


# DataSize one byte off: read as an empty container before.
put("container/data-size-off-by-one",
    container([(b"a.txt", b"alpha" * 10), (b"b.txt", b"bravo" * 10)], data_size_delta=-1))
put("container/name-with-zero-byte", container([(b"a.txt\0.exe", b"alpha")]))
