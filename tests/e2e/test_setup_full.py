"""Complete setups end to end under Wine: registered folders and their
uninstall record, the setup script's registry and link effects, the uninstall
registration, the kept copy, temporary files, and an install followed by an
uninstall that leaves the machine as it was."""
import datetime
import ntpath
import os
import shutil
import subprocess

import pytest

from setuphelpers import (ROOT, UNINSTALLER, build_setup, drive_c, drop_empty_maker_keys, fresh_dir, parse_log,
                          private_desktop, read_link, reg_delete, reg_query, registry_snapshot, run_setup, shell_folder, tree_snapshot, wine_env)

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
OV_UNINST = r"C:\Program Files\Common Files\Orvale Systems\ovUninst.exe"
COMPLETED = ("Hidden Message", "Setup Message Code 261", "Setup completed.")


def win(p):
    return "C:\\" + str(p.relative_to(drive_c())).replace("/", "\\")


def reg(*args):
    subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), "reg", *args], env=wine_env(), capture_output=True,
                   check=True, timeout=60)


def ini_sections(text):
    """[(section, [lines])] in file order."""
    out = []
    for line in text.replace("\r\n", "\n").split("\n"):
        if line.startswith("["):
            out.append((line.strip("[]"), []))
        elif line.strip() and out:
            out[-1][1].append(line)
    return out


@pytest.fixture
def root(request):
    name = request.node.name
    yield fresh_dir(drive_c() / "sxtests" / name)


# Everything a complete setup does, read back: files and the folders made
# for them, registry values of every data type written through every marker,
# links read through the shell's link object, the uninstall key and the
# record file's exact sections, the kept copy and its key, and the deleted
# temporary files.
def test_complete_setup(tmp_path, root):
    product = "SX Full Test"
    reg_delete(r"HKCU\Software\SXTestFull")
    reg_delete(rf"{UNINSTALL_KEY}\{product}")
    reg("add", r"HKCU\Software\SXTestFull\Old", "/v", "Gone", "/d", "x", "/f")
    reg("add", r"HKCU\Software\SXTestFull\Old", "/v", "Kept", "/d", "y", "/f")
    reg("add", r"HKCU\Software\SXTestFull\OldKey\Sub", "/v", "V", "/d", "z", "/f")
    app = root / "App"
    script = rf"""
[HKEY_CURRENT_USER]
-(uk)Software\SXTestFull\New\Deep:Text=<ProgramFilesDir>\SX
-(uv)Software\SXTestFull\Old:Added=DWORD:$1F
Software\SXTestFull\Old:Negative=DWORD:-2
Software\SXTestFull\Old:Blob=HEX:de,ad be,EF
Software\SXTestFull\Old:=the default
-(dv)Software\SXTestFull\Old:Gone=x
-(dk)Software\SXTestFull\OldKey=x
[ShellLinks.Desktop]
SX Full Test=<ProgramFilesDir>\..\sxtests\{root.name}\App\app.exe <<-x --y>>
[ShellLinks.Programs]
SX Full\Read me={win(app)}\docs\readme.txt
"""
    project = f"""
[Setup]
Silent = yes
DefaultFolder = {win(root)}\\Target
Uninstall = yes
UninstallFolder = {win(app)}
Script = script.inf | folder=temp
TempFolder = temp
DeleteTempFiles = yes
StampDate = yes
FileDate = 2010-11-12 13:14:16
KeepCopy = yes
CopyPath = {win(root)}\\Copy\\<ProductName> setup.exe
CopyKey = Software\\SXTestFull\\<ProductName>
[Strings]
SetupName = Full Setup
ProductName = {product}
[Folders]
app = {win(app)} | register
temp = {win(root)}\\Tmp
[Files]
File = app.exe | folder=app
File = readme.txt | folder=app | name=docs\\readme.txt
File = scratch.dat | folder=temp
File = loose.txt
"""
    files = {"app.exe": b"MZ fake program", "readme.txt": b"read me", "scratch.dat": b"tmp",
             "loose.txt": b"loose", "script.inf": script.encode("latin-1")}
    exe = build_setup(tmp_path, project, files, name="full_complete")
    desktop = private_desktop() / "SX Full Test.lnk"
    programs = shell_folder("Programs") / "SX Full" / "Read me.lnk"
    shutil.rmtree(programs.parent, ignore_errors=True)
    if desktop.exists():
        desktop.unlink()
    code, log = run_setup(exe)
    assert code == 0, log
    assert parse_log(log)[1] == [COMPLETED]

    # Files, the target folder, the temporary files gone.
    assert (app / "app.exe").read_bytes() == b"MZ fake program"
    assert (app / "docs" / "readme.txt").read_bytes() == b"read me"
    assert (root / "Target" / "loose.txt").read_bytes() == b"loose"
    assert not (root / "Tmp" / "scratch.dat").exists()
    assert not (root / "Tmp" / "script.inf").exists()
    assert not (root / "Tmp").exists()  # made by the run, empty at its end

    # Registry: types and markers.
    assert reg_query(r"HKCU\Software\SXTestFull\New\Deep", "Text") == ("REG_SZ", r"C:\Program Files\SX")
    old = reg_query(r"HKCU\Software\SXTestFull\Old")
    assert old["Added"] == ("REG_DWORD", "0x1f")
    assert old["Negative"] == ("REG_DWORD", "0xfffffffe")
    assert old["Blob"] == ("REG_BINARY", "DEADBEEF")
    assert old[""] == ("REG_SZ", "the default")
    assert old["Kept"] == ("REG_SZ", "y") and "Gone" not in old
    assert reg_query(r"HKCU\Software\SXTestFull\OldKey") is None

    # Links, read through the shell link object.
    target, args, _ = read_link(desktop)
    assert ntpath.normpath(target).lower() == (win(app) + "\\app.exe").lower()
    assert args == "-x --y"
    assert read_link(programs)[0].lower() == (win(app) + "\\docs\\readme.txt").lower()

    # The uninstall key.
    record = win(app) + "\\" + product + ".del"
    values = reg_query(rf"{UNINSTALL_KEY}\{product}")
    assert values["DisplayName"] == ("REG_SZ", product)
    assert values["UninstallString"] == ("REG_SZ", f'"{OV_UNINST}"  "{record}" ')
    assert values["SilentUninstall"] == ("REG_SZ", f'"{OV_UNINST}"  /silent "{record}" ')
    assert values["InstallLocation"] == ("REG_SZ", win(root) + "\\Target")
    assert values["EstimatedSize"][0] == "REG_DWORD"

    # The record file, section by section.
    sections = ini_sections((app / f"{product}.del").read_bytes().decode("latin-1"))
    names = [s for s, _ in sections]
    assert names == ["Files", "Folders", "General", "Registry", "UninstallKey"]
    body = dict(sections)
    assert body["Files"][:2] == [win(app) + "\\app.exe", win(app) + "\\docs\\readme.txt"]
    assert {ntpath.basename(f).lower() for f in body["Files"][2:]} == {"sx full test.lnk", "read me.lnk"}
    # The target folder that the run made comes first.
    assert body["Folders"][:3] == [win(root) + "\\Target", win(app), win(app) + "\\docs"]
    assert body["Folders"][3].lower().endswith("\\programs\\sx full")
    assert body["General"] == [f"ProgramName={product}", "AfterUninstall=", "AfterUninstallParamString="]
    assert set(body["Registry"]) == {r"HKEY_CURRENT_USER\Software\SXTestFull\New\Deep=*",
                                     r"HKEY_CURRENT_USER\Software\SXTestFull\New=*",
                                     r"HKEY_CURRENT_USER\Software\SXTestFull\Old=Added"}
    assert body["UninstallKey"] == [rf"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\{product}=*"]

    # The kept copy: the setup program, dated, recorded under its key.
    copy = root / "Copy" / f"{product} setup.exe"
    assert copy.read_bytes() == exe.read_bytes()
    assert datetime.datetime.fromtimestamp(os.stat(copy).st_mtime) == datetime.datetime(2010, 11, 12, 13, 14, 16)
    assert reg_query(rf"HKCU\Software\SXTestFull\{product}", "") == ("REG_SZ", win(copy))

    reg_delete(r"HKCU\Software\SXTestFull")
    reg_delete(rf"{UNINSTALL_KEY}\{product}")
    for lnk in (desktop, programs):
        lnk.unlink()
    programs.parent.rmdir()


# A setup step that fails after the extraction ("Setup aborted."): the
# temporary files are still deleted, the product is not registered, and the
# unattended run ends with exit code 8.
def test_failed_step_still_deletes_temporary_files(tmp_path, root):
    product = "SX Failing Test"
    script = "[HKEY_CURRENT_USER]\n\\=x\n"  # a key path of backslashes only fails the section
    project = f"""
[Setup]
Silent = yes
Uninstall = yes
UninstallFolder = {win(root)}\\App
Script = script.inf | folder=temp
TempFolder = temp
DeleteTempFiles = yes
[Strings]
SetupName = Failing Setup
ProductName = {product}
[Folders]
app = {win(root)}\\App | register
temp = {win(root)}\\Tmp
[Files]
File = app.exe | folder=app
File = scratch.dat | folder=temp
"""
    exe = build_setup(tmp_path, project, {"app.exe": b"MZ", "scratch.dat": b"tmp", "script.inf": script},
                      name="full_failing")
    code, log = run_setup(exe)
    assert code == 8
    assert parse_log(log)[1] == [("Hidden Message", "Setup Message Code 261", "Setup aborted.")]
    assert (root / "App" / "app.exe").exists()
    assert not (root / "Tmp" / "scratch.dat").exists()
    assert not (root / "Tmp" / "script.inf").exists()
    assert reg_query(rf"{UNINSTALL_KEY}\{product}") is None


def _registry_diff(before, after):
    changed = {}
    for key in set(before) | set(after):
        if before.get(key) != after.get(key):
            changed[key] = (sorted(before.get(key, set()) - after.get(key, set())),
                            sorted(after.get(key, set()) - before.get(key, set())))
    return changed


# Wine's own bookkeeping, which changes whenever programs run.
WINE_NOISE = ("\\\\Explorer", "\\\\Wine", "MountedDevices", "\\\\ShellNoRoam", "\\\\Fonts", "DynData",
              "PerfFlib", "\\\\Enum\\\\", "\\\\Hardware\\\\", "\\\\Services\\\\", "\\\\RecentDocs",
              "\\\\Session Manager", "\\\\Control\\\\Class", "Cryptography\\\\RNG", "\\\\Bags", "\\\\DeviceClasses")


def _drive_c_files():
    snap = tree_snapshot(drive_c())
    return {p: s for p, s in snap.items()
            if not p.startswith("windows") and "/Temp" not in p and not p.endswith(".log")}


# Install, then uninstall with ovUninst.exe /silent: the files and folders
# under drive_c and the registry are back to what they were before (Wine's
# own bookkeeping and the run log aside).
def test_install_then_uninstall_restores_the_machine(tmp_path, root):
    product = "SX Roundtrip Test"
    app = root / "App"
    script = rf"""
[HKEY_CURRENT_USER]
-(uk)Software\SXTestRoundtrip\Product:Path={win(app)}
-(uk)Software\SXTestRoundtrip\Product:Runs=DWORD:1
[HKEY_LOCAL_MACHINE]
-(uk)Software\SXTestRoundtrip\Machine:Blob=HEX:01,02
[ShellLinks.Desktop]
SX Roundtrip=<ProgramFilesDir>\..\sxtests\{root.name}\App\app.exe
[ShellLinks.Programs]
SX Roundtrip\Deep\Read me={win(app)}\readme.txt
"""
    project = f"""
[Setup]
Silent = yes
Uninstall = yes
UninstallFolder = {win(app)}
Script = script.inf | folder=app
[Strings]
SetupName = Roundtrip Setup
ProductName = {product}
[Folders]
app = {win(app)} | register
[Files]
File = app.exe | folder=app
File = readme.txt | folder=app
File = lib.dll | folder=app | name=bin\\sub\\lib.dll
"""
    exe = build_setup(tmp_path, project, {"app.exe": b"MZ app", "readme.txt": b"r", "lib.dll": b"MZ lib",
                                          "script.inf": script}, name="full_roundtrip")
    # Leftovers of an interrupted earlier run would be removed by the uninstall.
    private_desktop()
    shutil.rmtree(shell_folder("Programs") / "SX Roundtrip", ignore_errors=True)
    if (shell_folder("Desktop") / "SX Roundtrip.lnk").exists():
        (shell_folder("Desktop") / "SX Roundtrip.lnk").unlink()
    reg_delete(r"HKCU\Software\SXTestRoundtrip")
    reg_delete(r"HKLM\Software\SXTestRoundtrip")
    drop_empty_maker_keys()
    files_before = _drive_c_files()
    reg_before = registry_snapshot()

    code, log = run_setup(exe)
    assert code == 0, log
    assert (app / "bin" / "sub" / "lib.dll").read_bytes() == b"MZ lib"
    silent = reg_query(rf"{UNINSTALL_KEY}\{product}", "SilentUninstall")[1]
    assert silent.startswith(f'"{OV_UNINST}"  /silent ')

    # The registered command names the uninstaller where products ship it;
    # the build's own uninstaller runs with the same arguments.
    record = silent[len(f'"{OV_UNINST}"  /silent '):].strip().strip('"')
    r = subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), str(UNINSTALLER), "/silent", record],
                       env=wine_env(), capture_output=True, timeout=120)
    assert r.returncode == 0

    files_after = _drive_c_files()
    added = sorted(set(files_after) - set(files_before))
    removed = sorted(set(files_before) - set(files_after))
    assert (added, removed) == ([], [])
    diff = _registry_diff(reg_before, registry_snapshot())
    diff = {k: v for k, v in diff.items() if not any(n in k[1] for n in WINE_NOISE)}
    assert diff == {}


# An error that reaches the entry (a script value that is not a number):
# the temporary files are still deleted, the log ends with one "Unexpected
# Error Code 264" entry holding the error's message, and the exit code is 8.
def test_unexpected_error_is_logged(tmp_path, root):
    script = "[HKEY_CURRENT_USER]\nSoftware\\SXTestError:Bad=DWORD:zz\n"
    project = f"""
[Setup]
Silent = yes
Script = script.inf | folder=temp
TempFolder = temp
DeleteTempFiles = yes
[Strings]
SetupName = Error Setup
ProductName = SX Error Test
[Folders]
app = {win(root)}\\App
temp = {win(root)}\\Tmp
[Files]
File = app.exe | folder=app
File = scratch.dat | folder=temp
"""
    exe = build_setup(tmp_path, project, {"app.exe": b"MZ", "scratch.dat": b"tmp", "script.inf": script},
                      name="full_error")
    code, log = run_setup(exe)
    assert code == 8
    assert parse_log(log)[1] == [("Error", "Unexpected Error Code 264", "'zz' is not a valid integer value")]
    assert (root / "App" / "app.exe").exists()
    assert not (root / "Tmp" / "scratch.dat").exists()
    assert not (root / "Tmp" / "script.inf").exists()
    assert reg_query(r"HKCU\Software\SXTestError") is None
