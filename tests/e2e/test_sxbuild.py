"""The builder end to end: sxbuild turns the example project into a setup.exe
whose SX_STORAGE equals the bare archive of the same project, the stub's own
resources survive, the headers (image size, checksum) are right, Wine loads
the result and installs the example from it, and mistakes leave no output."""
import shutil
import struct
import subprocess
import time
import zlib
from pathlib import Path

import pytest

from conftest import HOST, ROOT, WIN32, need_wine, run_wine, wine_env
from setuphelpers import uninstall_after  # noqa: F401

SXBUILD = HOST / "tools" / "sxbuild"
SXBUILD_EXE = WIN32 / "tools" / "sxbuild.exe"
STUB = WIN32 / "setup" / "setup.exe"
EXAMPLE = ROOT / "examples" / "example.ini"
PRODUCT = ROOT / "examples" / "product"


def sxbuild(*args, check=True):
    r = subprocess.run([str(SXBUILD), *[str(a) for a in args]], capture_output=True, text=True, timeout=300)
    if check:
        assert r.returncode == 0, f"sxbuild {args} failed:\n{r.stdout}\n{r.stderr}"
    return r


# ---- an independent reader of PE images (not the builder's code) ---------------

def u16(b, o):
    return struct.unpack_from("<H", b, o)[0]


def u32(b, o):
    return struct.unpack_from("<I", b, o)[0]


def pe_layout(b):
    pe = u32(b, 0x3C)
    assert b[pe:pe + 4] == b"PE\0\0"
    opt = pe + 24
    n = u16(b, pe + 6)
    table = opt + u16(b, pe + 20)
    sections = []
    for i in range(n):
        h = table + 40 * i
        name = b[h:h + 8].rstrip(b"\0").decode()
        vs, va, raw, ptr = struct.unpack_from("<IIII", b, h + 8)
        sections.append((name, vs, va, raw, ptr))
    return pe, opt, sections


def rva_to_offset(sections, rva):
    for _, vs, va, raw, ptr in sections:
        if va <= rva < va + raw:
            return ptr + rva - va
    raise AssertionError(f"RVA {rva:#x} outside the sections")


def resources(b):
    """{(type, name, lang): bytes}; names as text, numbers as int."""
    pe, opt, sections = pe_layout(b)
    # The data directories follow 96 bytes of PE32's optional header, 112 of
    # PE32+'s (magic 0x20B).
    directories = opt + (112 if u16(b, opt) == 0x20B else 96)
    root_rva = u32(b, directories + 16)
    if root_rva == 0:
        return {}
    root = rva_to_offset(sections, root_rva)

    def ident(field):
        if field & 0x80000000:
            o = root + (field & 0x7FFFFFFF)
            n = u16(b, o)
            return b[o + 2:o + 2 + 2 * n].decode("utf-16-le")
        return field

    def entries(off):
        count = u16(b, off + 12) + u16(b, off + 14)
        return [(u32(b, off + 16 + 8 * i), u32(b, off + 20 + 8 * i)) for i in range(count)]

    out = {}
    for t, tdir in entries(root):
        for n, ndir in entries(root + (tdir & 0x7FFFFFFF)):
            for lang, data in entries(root + (ndir & 0x7FFFFFFF)):
                d = root + data
                rva, size = u32(b, d), u32(b, d + 4)
                off = rva_to_offset(sections, rva)
                out[(ident(t), ident(n), lang)] = b[off:off + size]
    return out


def checksum(b):
    pe = u32(b, 0x3C)
    field = pe + 24 + 64
    data = bytearray(b)
    data[field:field + 4] = b"\0\0\0\0"
    if len(data) % 2:
        data.append(0)
    s = 0
    for (w,) in struct.iter_unpack("<H", bytes(data)):
        s += w
        s = (s & 0xFFFF) + (s >> 16)
    s = (s & 0xFFFF) + (s >> 16)
    return (s + len(b)) & 0xFFFFFFFF


@pytest.fixture(scope="module")
def built(tmp_path_factory):
    assert STUB.is_file(), f"missing {STUB}: build first"
    d = tmp_path_factory.mktemp("sxbuild")
    setup = d / "example-setup.exe"
    archive = d / "example.sxa"
    sxbuild(EXAMPLE, "-o", setup, "--stub", STUB, "--quiet")
    # The same stub named, so that both carry the uninstaller of its tree.
    sxbuild(EXAMPLE, "-o", archive, "--archive-only", "--stub", STUB, "--quiet")
    return setup, archive


# The setup's SX_STORAGE is byte for byte the bare archive of the same project,
# and the dump reads it back consistently (sizes add up, files decode).
def test_setup_carries_the_archive(built):
    setup, archive = built
    res = resources(setup.read_bytes())
    assert res[(10, "SX_STORAGE", 0)] == archive.read_bytes()
    r = sxbuild("--dump", setup, "--verify")
    assert "Sizes:" in r.stdout and ": OK" in r.stdout
    assert "Verify: all 6 files decode" in r.stdout or "Verify: all 5 files decode" in r.stdout
    assert '0 SetupName              "Example Product Setup"' in r.stdout
    assert "setup.inf" in r.stdout
    r2 = sxbuild("--dump", archive)
    assert "bare archive" in r2.stdout
    listing = sxbuild("--list", setup).stdout.splitlines()
    assert "       158  <ProgramFilesDir>\\Example Product\\docs\\guide.txt" in listing, listing
    # The five files of the project and the uninstaller it registers for.
    assert len(listing) == 6
    assert listing[-1].endswith("  <CommonFilesDir>\\Orvale Systems\\ovUninst.exe"), listing


# Every resource of the stub is still in the setup with the same bytes (the
# version block excepted: the example project sets its own), and the headers
# are consistent: image size, section order, checksum.
def test_stub_resources_and_headers(built):
    setup, _ = built
    stub = STUB.read_bytes()
    out = setup.read_bytes()
    before, after = resources(stub), resources(out)
    assert before, "the stub should carry resources (templates, icon, manifest)"
    for key, data in before.items():
        if key[0] == 16:
            continue
        assert key in after, f"resource {key} lost"
        assert after[key] == data, f"resource {key} changed"
    version = [k for k in before if k[0] == 16]
    assert all(k in after for k in version)
    pe, opt, sections = pe_layout(out)
    # The resources are rebuilt in place (the relocations move behind them):
    # no section is added.
    assert [s[0] for s in sections] == [s[0] for s in pe_layout(stub)[2]]
    salign, falign = u32(out, opt + 32), u32(out, opt + 36)
    end = 0
    for name, vs, va, raw, ptr in sections:
        assert va % salign == 0 and raw % falign == 0
        assert va >= end
        end = (va + max(vs, raw) + salign - 1) // salign * salign
    assert u32(out, opt + 56) == end
    assert u32(out, opt + 64) == checksum(out)
    # The code of the stub is untouched.
    _, _, stub_sections = pe_layout(stub)
    name, vs, va, raw, ptr = stub_sections[0]
    assert out[ptr:ptr + raw] == stub[ptr:ptr + raw]


# The version information of the project reaches the setup.
def test_version_information(built):
    setup, _ = built
    blocks = [v for k, v in resources(setup.read_bytes()).items() if k[0] == 16]
    assert len(blocks) == 1
    block = blocks[0]
    text = block.decode("utf-16-le", errors="replace")
    assert "Example Product Setup" in text
    assert "Orvale Systems" in text


# Wine's loader opens the built setup as a data file and FindResourceA reads
# SX_STORAGE back equal to the bare archive (the Win32 test program does the
# reading), and the system checksum routine agrees with the header.
def test_wine_reads_the_archive_back(built):
    setup, archive = built
    exe = WIN32 / "tests" / "w32_peres.exe"
    if not exe.is_file():
        pytest.skip("w32_peres.exe not built")
    need_wine()
    env = {"SX_PERES_SETUP": "Z:" + str(setup).replace("/", "\\"),
           "SX_PERES_ARCHIVE": "Z:" + str(archive).replace("/", "\\")}
    e = wine_env()
    e.update(env)
    r = subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), str(exe),
                        "--gtest_filter=*BuiltSetupFromEnvironment"], env=e, capture_output=True, timeout=300)
    out = r.stdout.decode("latin-1")
    assert r.returncode == 0, out
    assert "[       OK ] PEResourcesUnderWindows.BuiltSetupFromEnvironment" in out, out


# An unattended build of the example installs its files under Wine: exit code
# 0, the files with their bytes and the project's date stamp.
def test_silent_example_installs(tmp_path, uninstall_after):
    setup = tmp_path / "example-silent.exe"
    sxbuild(EXAMPLE, "-o", setup, "--stub", STUB, "--quiet", "--silent")
    target = Path(wine_env()["WINEPREFIX"]) / "drive_c" / "Program Files" / "Example Product"
    if target.exists():
        shutil.rmtree(target)
    uninstall_after("Example Product")
    r = run_wine([setup], timeout=180)
    assert r.returncode == 0, r.stdout + r.stderr
    for rel in ["readme.txt", "example.ini", "docs/guide.txt", "docs/changes.txt"]:
        assert (target / rel).read_bytes() == (PRODUCT / rel).read_bytes(), rel
    stamp = time.localtime((target / "readme.txt").stat().st_mtime)
    assert (stamp.tm_year, stamp.tm_mon, stamp.tm_mday) == (2024, 5, 1)


# A password setup: the dump verifies with the right password and refuses a
# wrong one.
def test_password_archive(tmp_path):
    a = tmp_path / "pw.sxa"
    sxbuild(EXAMPLE, "-o", a, "--archive-only", "--quiet", "--set", "Setup.Password=open sesame")
    r = sxbuild("--dump", a, "--verify", "--password", "open sesame")
    assert "soPassword" in r.stdout and "Verify: all" in r.stdout
    r = sxbuild("--dump", a, "--verify", "--password", "wrong", check=False)
    assert r.returncode == 1 and "wrong password" in r.stdout


# A mistake in the project names file and line; a missing source file is
# named; nothing is written (an older output stays as it was) and the exit
# code is not zero.
def test_errors_write_nothing(tmp_path):
    (tmp_path / "a.txt").write_text("a")
    out = tmp_path / "out.exe"
    out.write_bytes(b"older file")
    cases = [
        ("[Strings]\nSetupName=S\n[Files]\nFile=a.txt\nFile=missing.txt\n", "p.ini:5: missing source file"),
        ("[Strings]\nSetupName=S\n\n[Setup]\nAskFolder=perhaps\n", "p.ini:5: AskFolder: expected yes or no"),
        ("[Strings]\nSetupName=S\n[Setup]\nStub=nowhere.exe\n", "p.ini:4: missing source file"),
        ("[Strings]\nSetupName=S\n[Files]\nFile=a.txt\nFile=a.txt | name=..\\..\\x.dll\n",
         "p.ini:5: stored name '..\\..\\x.dll'"),
        ("[Strings]\nSetupName=S\n[Files]\nFile=a.txt | name=C:\\Windows\\System32\\x.dll\n", "p.ini:4: stored name"),
        ("[Strings]\nSetupName=S\n[Files]\nFile=a.txt | name=CON\n", "reserved device name 'CON'"),
    ]
    for text, says in cases:
        ini = tmp_path / "p.ini"
        ini.write_text(text)
        r = sxbuild(ini, "-o", out, "--stub", STUB, check=False)
        assert r.returncode != 0
        assert says in r.stderr, r.stderr
        assert out.read_bytes() == b"older file"
        assert not [p for p in tmp_path.iterdir() if p.name.startswith("out.exe.")], list(tmp_path.iterdir())
    # A stub that is not an image: refused, nothing written.
    bad_stub = tmp_path / "bad.exe"
    bad_stub.write_bytes(b"MZ not really")
    ini = tmp_path / "p.ini"
    ini.write_text("[Strings]\nSetupName=S\n[Files]\nFile=a.txt\n")
    r = sxbuild(ini, "-o", out, "--stub", bad_stub, check=False)
    assert r.returncode != 0 and "bad.exe" in r.stderr
    assert out.read_bytes() == b"older file"
    r = sxbuild(ini, "--no-such-option", check=False)
    assert r.returncode == 2


# Damaged archives are reported as such by the dump, never a crash.
def test_damaged_archive_dump(built, tmp_path):
    _, archive = built
    data = archive.read_bytes()
    for cut in [0, 1, 5, 40, len(data) // 2, len(data) - 1]:
        p = tmp_path / f"cut{cut}.sxa"
        p.write_bytes(data[:cut])
        r = sxbuild("--dump", p, check=False)
        assert r.returncode == 1, (cut, r.stdout, r.stderr)
        assert "Invalid file format" in r.stdout or "MISMATCH" in r.stdout, (cut, r.stdout)
    p = tmp_path / "big-check.sxa"
    p.write_bytes(data[:2] + struct.pack("<h", 200) + data[4:])
    r = sxbuild("--dump", p, check=False)
    assert r.returncode == 1 and "Invalid file format" in r.stdout


# The Windows build of sxbuild makes the same setup under Wine: its dump
# equals the dump of the host-built setup.
def test_windows_sxbuild_builds_the_same(built, tmp_path):
    if not SXBUILD_EXE.is_file():
        pytest.skip("sxbuild.exe not built")
    setup, _ = built
    proj = tmp_path / "proj"
    shutil.copytree(ROOT / "examples" / "product", proj / "product")
    shutil.copy(EXAMPLE, proj / "example.ini")
    out = proj / "w.exe"
    r = run_wine([SXBUILD_EXE, "Z:" + str(proj / "example.ini").replace("/", "\\"), "-o",
                  "Z:" + str(out).replace("/", "\\"), "--stub", "Z:" + str(STUB).replace("/", "\\"), "--quiet"],
                 timeout=300)
    assert r.returncode == 0, r.stdout + r.stderr
    strip = lambda text: "\n".join(l for l in text.splitlines() if not l.startswith("File:"))
    assert strip(sxbuild("--dump", out, "--verify").stdout) == strip(sxbuild("--dump", setup, "--verify").stdout)


# The libraries travel as complete zlib streams of the DLLs, under the names
# the setup looks for, and their option bits are set.
def test_libraries_are_zlib_resources(tmp_path):
    dialogs = WIN32 / "examples" / "samples" / "dialoglib" / "DialogLib.dll"
    client = WIN32 / "examples" / "samples" / "client" / "ovseClient.dll"
    if not dialogs.is_file() or not client.is_file():
        pytest.skip("sample libraries not built")
    out = tmp_path / "libs.exe"
    sxbuild(EXAMPLE, "-o", out, "--stub", STUB, "--quiet", "--set", f"Setup.DialogLibrary={dialogs}",
            "--set", f"Setup.ClientLibrary={client}")
    res = resources(out.read_bytes())
    assert zlib.decompress(res[(10, "DIALOGS", 0)]) == dialogs.read_bytes()
    assert zlib.decompress(res[(10, "CLIENT_DLL", 0)]) == client.read_bytes()
    r = sxbuild("--dump", out)
    assert "soDialogLibrary" in r.stdout and "soClientLibrary" in r.stdout
    assert "Resource DIALOGS:" in r.stdout and "Resource CLIENT_DLL:" in r.stdout


# Uninstaller= puts ovUninst.exe into "<CommonFilesDir>\Orvale Systems", where
# an unattended install of the example leaves it.
def test_uninstaller_is_carried(tmp_path):
    uninst = WIN32 / "tools" / "ovUninst.exe"
    if not uninst.is_file():
        pytest.skip("ovUninst.exe not built")
    setup = tmp_path / "with-uninst.exe"
    sxbuild(EXAMPLE, "-o", setup, "--stub", STUB, "--quiet", "--silent", "--set", f"Setup.Uninstaller={uninst}")
    r = sxbuild("--dump", setup)
    assert '"<CommonFilesDir>\\Orvale Systems"' in r.stdout
    assert '"ovUninst.exe"' in r.stdout
    carried = Path(wine_env()["WINEPREFIX"]) / "drive_c" / "Program Files" / "Common Files" / "Orvale Systems" / \
        "ovUninst.exe"
    need_wine()
    if carried.exists():
        carried.unlink()
    r = run_wine([setup], timeout=180)
    assert r.returncode == 0, r.stdout + r.stderr
    assert carried.read_bytes() == uninst.read_bytes()


# A project that registers for uninstall carries the build's ovUninst.exe
# without naming it; Uninstaller=none leaves it out with a warning; and a
# builder that finds none refuses rather than write a setup whose entry
# cannot be removed. Host only: nothing here runs Wine.
def test_uninstaller_is_carried_without_being_named(tmp_path):
    uninst = WIN32 / "tools" / "ovUninst.exe"
    if not uninst.is_file() or not STUB.is_file():
        pytest.skip("the win32 tree is not built")
    setup = tmp_path / "auto.exe"
    sxbuild(EXAMPLE, "-o", setup, "--stub", STUB, "--quiet")
    listing = sxbuild("--list", setup).stdout
    line = [l for l in listing.splitlines() if l.rstrip().endswith("ovUninst.exe")]
    assert len(line) == 1, listing
    assert str(uninst.stat().st_size) in line[0].split()
    assert '"<CommonFilesDir>\\Orvale Systems"' in sxbuild("--dump", setup).stdout

    r = sxbuild(EXAMPLE, "-o", tmp_path / "none.exe", "--stub", STUB, "--set", "Setup.Uninstaller=none")
    assert "warning:" in r.stderr and "cannot be removed" in r.stderr, r.stderr
    assert "ovUninst.exe" not in sxbuild("--list", tmp_path / "none.exe").stdout

    # A builder on its own, with a stub that has no uninstaller beside it.
    alone = tmp_path / "alone"
    alone.mkdir()
    shutil.copy2(SXBUILD, alone / "sxbuild")
    shutil.copy2(STUB, alone / "setup.exe")
    out = tmp_path / "refused.exe"
    r = subprocess.run([str(alone / "sxbuild"), str(EXAMPLE), "-o", str(out), "--quiet"], capture_output=True,
                       text=True, timeout=300)
    assert r.returncode != 0
    assert "Uninstaller=" in r.stderr and "ovUninst.exe" in r.stderr, r.stderr
    assert not out.exists()
