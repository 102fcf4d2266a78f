"""The container tool end to end: containers made by stgtool round-trip
through its list, extract, check and delete commands, on the host and under
Wine (each reading the other's output); an independent reader of the stored
layout agrees with it; mistakes and damaged files give clear messages and
the documented exit codes."""
import os
import struct
import subprocess
import zlib
from pathlib import Path

import pytest

from conftest import HOST, WIN32, run_wine
from setuphelpers import seeded_bytes

STGTOOL = HOST / "tools" / "stgtool"
STGTOOL_EXE = WIN32 / "tools" / "stgtool.exe"
SCRAMBLE_KEY = 0x5A17C3E9

EXIT_MISSING, EXIT_NOT_STORAGE, EXIT_PASSWORD, EXIT_UNKNOWN, EXIT_FAILED = 2, 3, 4, 5, 6


def stgtool(*args):
    return subprocess.run([str(STGTOOL), *[str(a) for a in args]], capture_output=True, text=True, timeout=300)


def ok(*args):
    r = stgtool(*args)
    assert r.returncode == 0, f"stgtool {args}: {r.returncode}\n{r.stdout}\n{r.stderr}"
    return r


def unscramble(piece):
    """The XOR scrambler: whole words with the key, the first tail byte kept,
    the rest with the key's low byte."""
    b = bytearray(piece)
    words = len(b) // 4
    for i in range(words):
        (w,) = struct.unpack_from("<I", b, 4 * i)
        struct.pack_into("<I", b, 4 * i, w ^ SCRAMBLE_KEY)
    for j in range(4 * words + 1, len(b)):
        b[j] ^= SCRAMBLE_KEY & 0xFF
    return bytes(b)


def read_layout(path):
    """An independent reader of header and directory."""
    data = Path(path).read_bytes()
    magic, version, flags = struct.unpack_from("<H", data, 0)[0], *struct.unpack_from("<HH", data, 168)
    entry_count, data_size, entry_header = struct.unpack_from("<iii", data, 188)
    header_size = 204 + struct.unpack_from("<i", data, 200)[0] if version == 0x0101 else 200
    at = header_size + data_size
    (n,) = struct.unpack("<i", unscramble(data[at:at + 4]))
    records = []
    for i in range(n):
        raw = data[at + 4 + 145 * i: at + 4 + 145 * (i + 1)]
        rec = unscramble(raw)
        name = rec[1:1 + rec[0]].decode("latin-1")
        rid, offset, _aux1, stored = struct.unpack_from("<iiii", rec, 65)
        attrs = struct.unpack_from("<H", rec, 83)[0]
        records.append(dict(name=name, id=rid, offset=offset, stored=stored, attrs=attrs, last=raw[144]))
    return dict(data=data, magic=magic, version=version, flags=flags, entry_count=entry_count,
                data_size=data_size, entry_header=entry_header, header_size=header_size,
                records=records, end=at + 4 + 145 * n)


@pytest.fixture
def product(tmp_path):
    src = tmp_path / "in"
    (src / "sub").mkdir(parents=True)
    (src / "empty.txt").write_bytes(b"")
    (src / "one.bin").write_bytes(b"\x01")
    (src / "sub" / "thirteen.txt").write_bytes(b"thirteen byte")
    text = b"".join(b"line %06d of the component\r\n" % i for i in range(1400))
    (src / "big.dat").write_bytes(text[:40004])
    (src / "mega.bin").write_bytes(seeded_bytes(1 << 20, 1) + text * 20)
    return src


FLAG_SETS = [[], ["--packed"], ["--scrambled"], ["--encrypted"],
             ["--packed", "--scrambled", "--encrypted", "--password", "Secret"]]


@pytest.mark.parametrize("flags", FLAG_SETS, ids=lambda f: "+".join(x for x in f if x.startswith("--p") or x.startswith("--s") or x.startswith("--e")) or "plain")
def test_round_trip_and_listing(tmp_path, product, flags):
    stg = tmp_path / "c.stg"
    ok("create", stg, product, *flags)
    password = ["--password", "Secret"] if "--password" in flags else []
    lines = ok("list", stg, *password).stdout.splitlines()
    names = {line.split("\t")[1] for line in lines}
    assert names == {"empty.txt", "one.bin", "thirteen.txt", "big.dat", "mega.bin"}
    for line in lines:
        rid, name, stored, attrs = line.split("\t")
        assert int(attrs, 16) & 0x0200
    out = tmp_path / "out"
    ok("extract", stg, out, *password)
    for f in product.rglob("*"):
        if f.is_file():
            assert (out / f.name).read_bytes() == f.read_bytes(), f.name
    check = ok("check", stg, *password).stdout
    assert "5 entries, 0 failed" in check

    layout = read_layout(stg)
    assert layout["magic"] == 0x7777 and layout["version"] == 0x0101
    filters = 1 + sum(f in flags for f in ("--packed", "--scrambled", "--encrypted"))
    assert layout["entry_header"] == 2 + 8 * filters
    assert layout["entry_count"] == len(layout["records"]) == 5
    assert layout["end"] == len(layout["data"])
    # Blocks lie back to back in the data area, each a header block plus its stored bytes.
    at = layout["header_size"]
    for rec in layout["records"]:
        assert rec["offset"] == at
        at += layout["entry_header"] + rec["stored"]
    assert at == layout["header_size"] + layout["data_size"]


def test_packed_entries_are_zlib_streams(tmp_path, product):
    stg = tmp_path / "p.stg"
    ok("create", stg, product / "sub" / "thirteen.txt", product / "big.dat", "--packed", "--version", "0x0100")
    layout = read_layout(stg)
    assert layout["version"] == 0x0100 and layout["header_size"] == 200
    data = layout["data"]
    for rec, original in zip(layout["records"], [b"thirteen byte", (product / "big.dat").read_bytes()]):
        o = rec["offset"]
        src_data, src_stored, zip_data, zip_stored = struct.unpack_from("<iiii", data, o + 2)
        assert src_data == src_stored == zip_stored == rec["stored"]
        assert zip_data == len(original)
        stream = data[o + 18: o + 18 + rec["stored"]]
        assert stream[:2] == b"\x78\x9c"
        assert zlib.decompress(stream) == original


def test_compaction_after_delete(tmp_path, product):
    stg = tmp_path / "a.stg"
    ok("create", stg, product, "--auto-compact", "--packed")
    before = stg.stat().st_size
    assert "1 entries marked deleted" in ok("delete", stg, "MEGA.BIN").stdout
    records = read_layout(stg)["records"]
    assert [r["attrs"] for r in records if r["name"] == "mega.bin"] == [0x0080]
    # Opening compacts: the deleted record and its block are gone.
    lines = ok("list", stg).stdout.splitlines()
    assert len(lines) == 4 and not any("mega.bin" in line for line in lines)
    assert stg.stat().st_size < before - (1 << 20)
    layout = read_layout(stg)
    assert len(layout["records"]) == 4 and layout["end"] == len(layout["data"])
    out = tmp_path / "out"
    ok("extract", stg, out)
    assert (out / "big.dat").read_bytes() == (product / "big.dat").read_bytes()
    assert not (out / "mega.bin").exists()


def test_mistakes_give_messages_and_exit_codes(tmp_path, product):
    stg = tmp_path / "c.stg"
    ok("create", stg, product, "--encrypted", "--password", "pw")
    r = stgtool("list", tmp_path / "missing.stg")
    assert r.returncode == EXIT_MISSING and "file not found" in r.stderr
    r = stgtool("list", product / "big.dat")
    assert r.returncode == EXIT_NOT_STORAGE and "not a storage container" in r.stderr
    r = stgtool("list", stg, "--password", "PW")
    assert r.returncode == EXIT_PASSWORD and "wrong password" in r.stderr
    r = stgtool("extract", stg, tmp_path / "o", "--name", "nothing.txt", "--password", "pw")
    assert r.returncode == EXIT_UNKNOWN and "no entry named nothing.txt" in r.stderr
    r = stgtool("delete", stg, "nothing.txt")
    assert r.returncode == EXIT_UNKNOWN
    r = stgtool("create", tmp_path / "x.stg", tmp_path / "nowhere")
    assert r.returncode == EXIT_MISSING and not (tmp_path / "x.stg").exists()
    r = stgtool("create", tmp_path / "x.stg", product, "--version", "0x0200")
    assert r.returncode == 1 and "usage" in r.stderr
    # A container made inside its own input folder leaves its older copy out.
    inside = product / "again.stg"
    ok("create", inside, product)
    ok("create", inside, product)
    assert not any("again.stg" in line for line in ok("list", inside).stdout.splitlines())
    inside.unlink()
    # Extracting one entry by name, ignoring case.
    ok("extract", stg, tmp_path / "one", "--name", "THIRTEEN.TXT", "--password", "pw")
    assert (tmp_path / "one" / "thirteen.txt").read_bytes() == b"thirteen byte"
    assert len(list((tmp_path / "one").iterdir())) == 1


def test_damaged_containers(tmp_path, product):
    stg = tmp_path / "c.stg"
    ok("create", stg, product, "--packed", "--scrambled", "--encrypted")
    good = stg.read_bytes()
    # Truncated: the directory is gone.
    cut = tmp_path / "cut.stg"
    cut.write_bytes(good[: len(good) // 2])
    r = stgtool("check", cut)
    assert r.returncode == EXIT_NOT_STORAGE
    # A flipped byte inside the big entry's data: that entry fails, the others pass.
    layout = read_layout(stg)
    mega = next(r for r in layout["records"] if r["name"] == "mega.bin")
    bad = bytearray(good)
    bad[mega["offset"] + 34 + mega["stored"] // 2] ^= 0x40
    flipped = tmp_path / "flipped.stg"
    flipped.write_bytes(bytes(bad))
    r = stgtool("check", flipped)
    assert r.returncode == EXIT_FAILED
    assert "FAILED\t%d\tmega.bin" % mega["id"] in r.stdout
    assert "5 entries, 1 failed" in r.stdout
    out = tmp_path / "out"
    r = stgtool("extract", flipped, out)
    assert r.returncode == EXIT_FAILED and "(mega.bin) not extracted: corrupt compressed data" in r.stderr
    assert not (out / "mega.bin").exists()
    assert (out / "big.dat").read_bytes() == (product / "big.dat").read_bytes()


@pytest.mark.skipif(not STGTOOL_EXE.is_file(), reason="win32 tree not built")
def test_win32_tool_reads_host_containers_and_back(tmp_path, product):
    host_stg = tmp_path / "host.stg"
    ok("create", host_stg, product, "--packed", "--scrambled", "--encrypted", "--password", "Cross")
    out = tmp_path / "wout"
    r = run_wine([STGTOOL_EXE, "extract", host_stg, out, "--password", "Cross"])
    assert r.returncode == 0, r.stderr
    for f in product.rglob("*"):
        if f.is_file():
            assert (out / f.name).read_bytes() == f.read_bytes(), f.name
    win_stg = tmp_path / "win.stg"
    r = run_wine([STGTOOL_EXE, "create", win_stg, product, "--packed", "--encrypted", "--version", "0x0100"])
    assert r.returncode == 0, r.stderr
    assert "5 entries, 0 failed" in ok("check", win_stg).stdout
    # --encrypted writes the password check: a wrong password is refused.
    r = run_wine([STGTOOL_EXE, "list", win_stg, "--password", "x"])
    assert r.returncode == EXIT_PASSWORD
    r = run_wine([STGTOOL_EXE, "list", tmp_path / "missing.stg"])
    assert r.returncode == EXIT_MISSING


def test_entry_names_cannot_leave_the_target_folder(tmp_path, product):
    stg = tmp_path / "c.stg"
    ok("create", stg, product / "one.bin", product / "big.dat")
    layout = read_layout(stg)
    data = bytearray(layout["data"])
    at = layout["header_size"] + layout["data_size"] + 4
    # Rename the first record to "../evil.bin" (the scrambler is its own inverse).
    rec = bytearray(unscramble(bytes(data[at:at + 145])))
    name = b"../evil.bin"
    rec[0] = len(name)
    rec[1:1 + len(name)] = name
    data[at:at + 145] = unscramble(bytes(rec))
    stg.write_bytes(bytes(data))
    out = tmp_path / "deep" / "out"
    r = stgtool("extract", stg, out)
    assert r.returncode == EXIT_FAILED and "not a file name" in r.stderr
    assert not (tmp_path / "deep" / "evil.bin").exists()
    assert (out / "big.dat").read_bytes() == (product / "big.dat").read_bytes()


def test_encrypted_containers_carry_the_password_check(tmp_path, product):
    stg = tmp_path / "c.stg"
    ok("create", stg, product / "big.dat", "--encrypted", "--password", "right")
    assert read_layout(stg)["flags"] & 0x0001  # the password check flag
    r = stgtool("extract", stg, tmp_path / "wrong", "--password", "wrong")
    assert r.returncode == EXIT_PASSWORD and "wrong password" in r.stderr
    assert not (tmp_path / "wrong" / "big.dat").exists()
    # Asked not to: a wrong password cannot be told, and the tool says so.
    bare = tmp_path / "bare.stg"
    ok("create", bare, product / "big.dat", "--encrypted", "--password", "right", "--no-password-check")
    assert not read_layout(bare)["flags"] & 0x0001
    r = stgtool("extract", bare, tmp_path / "out", "--password", "wrong")
    assert "cannot be verified" in r.stderr and "wrong password gives wrong content" in r.stderr
    # Without --password the key is empty, and the check still guards it.
    empty = tmp_path / "empty.stg"
    ok("create", empty, product / "big.dat", "--encrypted")
    r = stgtool("list", empty, "--password", "guess")
    assert r.returncode == EXIT_PASSWORD
    ok("list", empty)
    r = ok("extract", stg, tmp_path / "right", "--password", "right")
    assert (tmp_path / "right" / "big.dat").read_bytes() == (product / "big.dat").read_bytes()


def test_counts_and_names_that_disagree_with_the_file(tmp_path, product):
    stg = tmp_path / "c.stg"
    ok("create", stg, product / "one.bin", product / "big.dat", "--packed")
    good = stg.read_bytes()
    layout = read_layout(stg)
    bad = bytearray(good)
    bad[192] ^= 0x01  # DataSize one off: the directory would start elsewhere
    damaged = [bytes(bad), good + b"\0", good[:188] + bytes([good[188] ^ 1]) + good[189:]]
    # A zero byte in the second record's name ("big.dat\0..." would be cut to "big").
    at = layout["header_size"] + layout["data_size"] + 4 + 145
    rec = bytearray(unscramble(good[at:at + 145]))
    rec[4] = 0
    damaged.append(good[:at] + unscramble(bytes(rec)) + good[at + 145:])
    for i, data in enumerate(damaged):
        stg.write_bytes(data)
        for command in (["list", stg], ["check", stg], ["extract", stg, tmp_path / f"out{i}"]):
            r = stgtool(*command)
            assert r.returncode == EXIT_NOT_STORAGE, (i, command, r.stdout, r.stderr)
            assert "not a storage container" in r.stderr
        assert not (tmp_path / f"out{i}").exists() or not any((tmp_path / f"out{i}").iterdir())


@pytest.mark.skipif(os.name != "posix", reason="symbolic links of the host")
def test_extraction_does_not_follow_links(tmp_path, product):
    stg = tmp_path / "c.stg"
    ok("create", stg, product / "one.bin", product / "big.dat")
    outside = tmp_path / "outside.txt"
    outside.write_bytes(b"keep me")
    outside.chmod(0o444)
    out = tmp_path / "out"
    out.mkdir()
    (out / "one.bin").symlink_to(outside)
    r = stgtool("extract", stg, out)
    assert r.returncode == EXIT_FAILED and "symbolic link" in r.stderr and "one.bin" in r.stderr
    assert outside.read_bytes() == b"keep me"
    assert not os.access(outside, os.W_OK) or os.geteuid() == 0
    assert (outside.stat().st_mode & 0o777) == 0o444
    assert (out / "one.bin").is_symlink()
    assert (out / "big.dat").read_bytes() == (product / "big.dat").read_bytes()
