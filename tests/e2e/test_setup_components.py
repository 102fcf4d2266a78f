"""Unattended setups that need a shared component, run under Wine: nothing
missing, a package found at LocalAddress (filter mixes, read-only), the
component's script and completion command, the version rules, damaged
packages, WebSHA256, and what is left in the temporary folder."""
import hashlib
import os
import shutil
import stat
import struct
import subprocess

import pytest

from conftest import HOST
from setuphelpers import build_setup, drive_c, fresh_dir, parse_log, reg_query, run_setup, temp_dir

STGTOOL = HOST / "tools" / "stgtool"
LIB = b"MZ component library " + bytes(range(256)) * 40
QUESTION = ("Lumara Ravudure Dudor detected that in order to use Comp Product on your computer, you need to install "
            "additional system components.\r\n\r\nHow do you want to proceed?")


@pytest.fixture
def area(request):
    return fresh_dir(drive_c() / "sxtests" / request.node.name.replace("[", "_").replace("]", ""))


def win(p):
    return "C:\\" + str(p.relative_to(drive_c())).replace("/", "\\")


def make_package(folder, entries, *flags):
    """A package (storage container) made by stgtool from name -> bytes."""
    src = fresh_dir(folder / "pkgsrc")
    for name, data in entries.items():
        (src / name).write_bytes(data)
    out = folder / "rt.stg"
    r = subprocess.run([str(STGTOOL), "create", str(out), *[str(src / n) for n in entries], *flags],
                       capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r.stdout + r.stderr
    return out


def file_version(path):
    """major, minor, release, build of a file's fixed version information."""
    data = path.read_bytes()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    assert at >= 0, path
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF


def project(area, inf, product_files=True):
    """A silent setup of one product file that needs component "Runtime"."""
    (area / "comp.inf").write_text(inf, encoding="latin-1", newline="\r\n")
    return f"""
[Setup]
Silent = yes
DefaultFolder = {win(area / "app")}
ComponentInf = {area / "comp.inf"}
[Strings]
SetupName = Comp Setup
ProductName = Comp Product
[Files]
File = product.txt
[Components]
Component = Runtime
"""


def runtime_inf(area, files, extra=""):
    lines = [f"File{i + 1}={f}" for i, f in enumerate(files)]
    return (f"[Runtime]\nLocalAddress={win(area)}\\rt.stg\nWebAddress=http://127.0.0.1:9/rt.stg\nWebSize=10\n"
            f"FileCount={len(files)}\n" + "\n".join(lines) + "\n" + extra)


def run(tmp_path, area, inf):
    exe = build_setup(tmp_path, project(area, inf), {"product.txt": b"product"}, name="comp")
    before = {p.name for p in temp_dir().iterdir()}
    code, log = run_setup(exe)
    after = {p.name for p in temp_dir().iterdir()}
    # The run's private folder (and the INF text in it) is gone.
    assert not [n for n in after - before if n.startswith("sx~")], after - before
    return code, parse_log(log)[1] if log else []


def tags(entries):
    return [e[1] for e in entries]


# Installed from the package at LocalAddress, whatever the package's filter
# mix: the files byte for byte at their expanded paths, the component's
# script, its completion command, then the product's own file.
@pytest.mark.parametrize("flags", [(), ("--packed",), ("--scrambled", "--encrypted"),
                                   ("--packed", "--scrambled", "--encrypted")])
def test_local_package_installs(tmp_path, area, flags):
    out = area / "shared"
    script = f"[HKEY_CURRENT_USER]\nSoftware\\SxTests\\Comp:Flags={'+'.join(flags) or 'none'}\n"
    make_package(area, {"rt.dll": LIB, "rt.inf": script.encode()}, *flags)
    inf = runtime_inf(area, [f"{win(out)}\\rt.dll", f"{win(out)}\\rt.inf"],
                      f"OnDone.InfFile={win(out)}\\rt.inf\n"
                      f"OnDone.Command=<SystemDir>\\cmd.exe\nOnDone.Param=/c echo done> {win(area)}\\done.txt\n")
    code, entries = run(tmp_path, area, inf)
    assert code == 0, entries
    assert (out / "rt.dll").read_bytes() == LIB
    assert reg_query(r"HKCU\Software\SxTests\Comp", "Flags") is not None
    assert (area / "done.txt").is_file()
    assert (area / "app" / "product.txt").read_bytes() == b"product"
    assert tags(entries)[-1] == "Setup Message Code 261" and entries[-1][2] == "Setup completed."


# Nothing missing: no package is needed, the completion command still runs.
def test_nothing_missing_still_runs_the_command(tmp_path, area):
    (area / "present.txt").write_bytes(b"x")
    inf = runtime_inf(area, [f"{win(area)}\\present.txt"],
                      f"OnDone.Command=<SystemDir>\\cmd.exe\nOnDone.Param=/c echo done> {win(area)}\\done.txt\n")
    code, entries = run(tmp_path, area, inf)
    assert code == 0, entries
    assert (area / "done.txt").is_file()


# The version rules: a library copied from the system, required in versions
# around its own. "missing" means: no package, so the run ends with 255.
def test_version_rules(tmp_path, area):
    system = drive_c() / "windows" / "system32" / "kernel32.dll"
    shutil.copy(system, area / "lib.dll")
    (area / "plain.txt").write_bytes(b"no version")
    a, b, c, d = file_version(area / "lib.dll")
    assert a > 1
    cases = [
        (f"lib.dll,{a}.{b}.{c}.{d}", True),
        (f"lib.dll,{a - 1}.99.99.99", True),       # lower major, higher minor: satisfied
        (f"lib.dll,{a}.{b}.{c}.{d + 1}", False),
        (f"lib.dll,{a + 1}.0.0.0", False),
        ("lib.dll,0.0.0.0", False),                # always missing
        ("plain.txt,9.9.9.9", True),               # no version information
        ("lib.dll,1.2.3", True),                   # fewer than three dots
    ]
    for file_line, satisfied in cases:
        name, version = file_line.split(",")
        code, entries = run(tmp_path, area, runtime_inf(area, [f"{win(area)}\\{name},{version}"]))
        if satisfied:
            assert code == 0, (file_line, entries)
        else:
            assert code == 8, file_line
            assert ("Error", "Component Setup Code 255", QUESTION) in entries, (file_line, entries)
    # A version that is not numbers ends the run as an unexpected error.
    code, entries = run(tmp_path, area, runtime_inf(area, [f"{win(area)}\\lib.dll,1.x.0.0"]))
    assert code == 8 and "Unexpected Error Code 264" in tags(entries), entries


# Damaged and mismatched packages: the 256 entry, exit code 8, and the
# product's script never runs; a read-only package and a matching digest
# install.
def test_package_checks(tmp_path, area):
    out = area / "shared"
    files = [f"{win(out)}\\rt.dll"]
    good = {"rt.dll": LIB}
    package = make_package(area, good, "--packed")
    digest = hashlib.sha256(package.read_bytes()).hexdigest()

    code, entries = run(tmp_path, area, runtime_inf(area, files, f"WebSHA256={digest.upper()}\n"))
    assert code == 0, entries

    os.chmod(package, stat.S_IREAD)
    os.unlink(out / "rt.dll")
    code, entries = run(tmp_path, area, runtime_inf(area, files))
    os.chmod(package, stat.S_IREAD | stat.S_IWRITE)
    assert code == 0, entries  # opened read-only
    assert (out / "rt.dll").read_bytes() == LIB

    wrong = digest[:-1] + ("0" if digest[-1] != "0" else "1")
    bad_cases = {
        "digest": (good, None, f"WebSHA256={wrong}\n"),
        "truncated": (good, lambda p: p.write_bytes(p.read_bytes()[:-20]), ""),
        "not a container": (good, lambda p: p.write_bytes(b"<html>404</html>"), ""),
        "lacks the file": ({"other.dll": LIB}, None, ""),
    }
    for what, (entries_in, damage, extra) in bad_cases.items():
        if (out / "rt.dll").exists():
            os.unlink(out / "rt.dll")
        p = make_package(area, entries_in, "--packed")
        if damage:
            damage(p)
        code, entries = run(tmp_path, area, runtime_inf(area, files, extra))
        assert code == 8, what
        assert "Component Setup Extract Files Code 256" in tags(entries), (what, entries)
        assert not (out / "rt.dll").exists(), what


# A component name that is not a plain file name is refused before anything
# is looked at.
def test_name_that_is_not_a_file_name(tmp_path, area):
    raw = tmp_path / "raw"
    raw.mkdir()
    text = project(area, "[..\\evil]\nFileCount=0\n")
    exe = build_setup(raw, text, {"product.txt": b"product"}, name="comp")
    # The builder refuses such names, so the archive's list is changed after
    # the build: same length, so the archive stays well formed.
    data = exe.read_bytes()
    assert data.count(b"\x07\x00Runtime") == 1
    exe.write_bytes(data.replace(b"\x07\x00Runtime", b"\x07\x00..\\evil"))
    code, log = run_setup(exe)
    assert code == 8
    assert "Component Setup Extract Files Code 256" in tags(parse_log(log)[1])
