"""ovUninst.exe in unattended mode (/silent) on hand-made uninstall records:
files, folders, registry values and keys, the product's registration and the
after-uninstall command; entries that are already gone are passed over."""
import os
import time
import uuid

import pytest

from conftest import WIN32, run_wine
from robot import IDNO, IDOK, IDYES, RobotError, robot, spawn  # noqa: F401
# Keeps one wineserver with Wine's background services up, started without
# pipes: otherwise the first program of a session hands its output pipe to
# those services and the caller waits for them.
import setuphelpers  # noqa: F401,E402

UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
ICONS = r"Software\Orvale Systems\Uninstall Icons"


@pytest.fixture(scope="module")
def uninst_exe():
    p = WIN32 / "tools" / "ovUninst.exe"
    assert p.is_file(), f"missing {p}: build first"
    return p


@pytest.fixture
def workdir(drive_c):
    """A fresh folder on drive C: (host path, Windows path)."""
    name = "sxuninst-" + uuid.uuid4().hex[:8]
    host = drive_c / name
    host.mkdir()
    yield host, "C:\\" + name
    for root, dirs, files in os.walk(host, topdown=False):
        for f in files:
            os.unlink(os.path.join(root, f))
        for d in dirs:
            os.rmdir(os.path.join(root, d))
    if host.exists():
        host.rmdir()


def write_crlf(path, lines):
    path.write_bytes(("\r\n".join(lines) + "\r\n").encode("latin-1"))


def import_reg(host_dir, win_dir, lines):
    """Imports REGEDIT4 lines through Wine's regedit."""
    write_crlf(host_dir / "setup.reg", ["REGEDIT4", ""] + lines)
    r = run_wine(["regedit", "/S", win_dir + "\\setup.reg"])
    assert r.returncode == 0, r.stderr
    (host_dir / "setup.reg").unlink()


def reg_query(key, value=None):
    args = ["reg", "query", key] + (["/v", value] if value is not None else [])
    return run_wine(args)


def key_exists(key):
    return reg_query(key).returncode == 0


def value_exists(key, value):
    return reg_query(key, value).returncode == 0


def make_product(host, win, tag):
    """An installed product: files, folders, registry entries, registration,
    and its record in the product's folder. Returns (record path, names)."""
    app = host / "App"
    (app / "Sub").mkdir(parents=True)
    (app / "a.txt").write_text("a")
    (app / "Sub" / "b.txt").write_text("b")
    product = f"SxUninst E2E {tag}"
    key = rf"Software\SxUninstE2E-{tag}"
    vals = rf"Software\SxUninstE2EVals-{tag}"
    import_reg(host, win, [
        rf"[HKEY_CURRENT_USER\{key}\Deep\Deeper]", '"V"="1"', "",
        rf"[HKEY_CURRENT_USER\{vals}]", '"Size"=dword:00000005', '"Keep"="yes"', "",
        rf"[HKEY_LOCAL_MACHINE\{UNINSTALL}\{product}]", f'"DisplayName"="{product}"', "",
        rf"[HKEY_LOCAL_MACHINE\{ICONS}]", f'"{product}"="C:\\\\icon.ico"', "",
    ])
    record = win + r"\App\My Product.del"
    write_crlf(app / "My Product.del", [
        "[Files]",
        win + r"\App\a.txt",
        win + r"\App\Sub\b.txt",
        win + r"\App\missing.txt",
        "[Folders]",
        win + r"\App",
        win + r"\App\Sub",
        win + r"\App\Gone",
        "[General]",
        f"ProgramName={product}",
        r"AfterUninstall=C:\windows\system32\cmd.exe",
        rf"AfterUninstallParamString=/c echo done> {win}\after.txt",
        "[Registry]",
        rf"HKEY_CURRENT_USER\{key}=*",
        rf"HKEY_CURRENT_USER\{vals}=Size",
        rf"HKEY_CURRENT_USER\Software\SxNoSuchKey-{tag}=*",
        "[UninstallKey]",
        rf"HKEY_LOCAL_MACHINE\{UNINSTALL}\{product}=*",
    ])
    return record, dict(product=product, key=key, vals=vals)


# Everything the record lists goes, in a record whose path holds a space;
# entries already gone are passed over; the after-uninstall command runs.
def test_silent_removes_everything_listed(uninst_exe, workdir):
    host, win = workdir
    tag = uuid.uuid4().hex[:8]
    record, names = make_product(host, win, tag)
    r = run_wine([uninst_exe, "/silent", record])
    assert r.returncode == 0, r.stderr
    assert not (host / "App").exists(), list((host / "App").rglob("*"))
    assert (host / "after.txt").read_text().strip() == "done"
    assert not key_exists(rf"HKCU\{names['key']}")
    assert key_exists(rf"HKCU\{names['vals']}")
    assert not value_exists(rf"HKCU\{names['vals']}", "Size")
    assert value_exists(rf"HKCU\{names['vals']}", "Keep")
    assert not key_exists(rf"HKLM\{UNINSTALL}\{names['product']}")
    assert not value_exists(rf"HKLM\{ICONS}", names["product"])
    run_wine(["reg", "delete", rf"HKCU\{names['vals']}", "/f"])


# A folder that still holds files the setup did not install stays, with them.
def test_folder_with_foreign_files_stays(uninst_exe, workdir):
    host, win = workdir
    tag = uuid.uuid4().hex[:8]
    record, names = make_product(host, win, tag)
    (host / "App" / "Sub" / "mine.doc").write_text("user data")
    r = run_wine([uninst_exe, "/silent", record])
    assert r.returncode == 0
    assert (host / "App" / "Sub" / "mine.doc").read_text() == "user data"
    assert not (host / "App" / "Sub" / "b.txt").exists()
    assert not (host / "App" / "a.txt").exists()
    assert not (host / "App" / "My Product.del").exists()
    run_wine(["reg", "delete", rf"HKCU\{names['vals']}", "/f"])


# The plain command line (no /silent would ask first) with an unquoted path
# also reads the record; a second run finds no record and says so by its code.
def test_unquoted_path_and_missing_record(uninst_exe, workdir):
    host, win = workdir
    (host / "x.txt").write_text("x")
    write_crlf(host / "plain.del", [
        "[Files]", win + r"\x.txt",
        "[General]", "ProgramName=",
    ])
    r = run_wine([uninst_exe, "/SILENT", win + r"\plain.del"])
    assert r.returncode == 0
    assert not (host / "x.txt").exists()
    assert not (host / "plain.del").exists()
    r = run_wine([uninst_exe, "/silent", win + r"\plain.del"])
    assert r.returncode == 1


# A file that is not an uninstall record (no "General" section) is refused
# and nothing it names is touched; so is a command line without a record.
def test_refuses_what_is_not_a_record(uninst_exe, workdir):
    host, win = workdir
    (host / "keep.txt").write_text("keep")
    write_crlf(host / "bogus.del", ["[Files]", win + r"\keep.txt"])
    assert run_wine([uninst_exe, "/silent", win + r"\bogus.del"]).returncode == 1
    assert (host / "keep.txt").exists()
    assert run_wine([uninst_exe, "/silent"]).returncode == 1


# Shared keys are never removed whole, even when a damaged record names them.
def test_shared_keys_are_protected(uninst_exe, workdir):
    host, win = workdir
    write_crlf(host / "danger.del", [
        "[General]", "ProgramName=",
        "[Registry]", r"HKEY_CURRENT_USER\Software=*", r"HKEY_LOCAL_MACHINE\Software\Microsoft=*",
        "[UninstallKey]", rf"HKEY_LOCAL_MACHINE\{UNINSTALL}=*",
    ])
    assert run_wine([uninst_exe, "/silent", win + r"\danger.del"]).returncode == 0
    assert key_exists(r"HKCU\Software\Wine") or key_exists(r"HKCU\Software")
    assert key_exists(rf"HKLM\{UNINSTALL}")
    assert key_exists(r"HKLM\Software\Microsoft\Windows\CurrentVersion")


# Run from the folder it removes: what is in use (the uninstaller itself) is
# removed at the next restart, and so is the folder that only it keeps.
def test_running_copy_inside_removed_folder(uninst_exe, workdir):
    host, win = workdir
    app = host / "App"
    app.mkdir()
    (app / "ovUninst.exe").write_bytes(uninst_exe.read_bytes())
    (app / "a.txt").write_text("a")
    write_crlf(app / "r.del", [
        "[Files]", win + r"\App\ovUninst.exe", win + r"\App\a.txt",
        "[Folders]", win + r"\App",
        "[General]", "ProgramName=",
    ])
    r = run_wine([win + r"\App\ovUninst.exe", "/silent", win + r"\App\r.del"])
    assert r.returncode == 0
    assert not (app / "a.txt").exists()
    assert not (app / "r.del").exists()
    if (app / "ovUninst.exe").exists():
        # Scheduled for the next restart. A new Wine session may already have
        # carried the renames out, so the pending list can be empty again.
        pending = reg_query(r"HKLM\System\CurrentControlSet\Control\Session Manager",
                            "PendingFileRenameOperations")
        if pending.returncode == 0:
            assert b"ovUninst.exe" in pending.stdout
        # Carry out the pending removals as a restart would.
        run_wine(["wineboot", "-r"])
    assert not (app / "ovUninst.exe").exists()
    assert not app.exists()


def _interactive_product(host, win):
    (host / "App").mkdir()
    (host / "App" / "a.txt").write_text("a")
    write_crlf(host / "App" / "i.del", [
        "[Files]", win + r"\App\a.txt",
        "[Folders]", win + r"\App",
        "[General]", "ProgramName=Sx Interactive Product",
    ])
    return win + r"\App\i.del"


# Without /silent it asks first; No leaves everything in place (exit code 2).
def test_interactive_no_keeps_everything(uninst_exe, workdir, robot, spawn):
    host, win = workdir
    record = _interactive_product(host, win)
    program = spawn([uninst_exe, record])
    robot.wait("Uninstall", timeout=30)
    text, buttons = robot.msgbox("Uninstall")
    assert text == "Do you want to remove Sx Interactive Product and all of its components?"
    assert [b for b, _ in buttons] == [IDYES, IDNO]
    robot.click("Uninstall", IDNO)
    assert program.finish()[0] == 2
    assert (host / "App" / "a.txt").exists()
    assert (host / "App" / "i.del").exists()


# Yes removes, then a closing message reports the result.
def test_interactive_yes_removes_and_reports(uninst_exe, workdir, robot, spawn):
    host, win = workdir
    record = _interactive_product(host, win)
    program = spawn([uninst_exe, record])
    robot.wait("Uninstall", timeout=30)
    robot.click("Uninstall", IDYES)
    deadline = time.time() + 30
    text = ""
    while time.time() < deadline:
        try:
            text, buttons = robot.msgbox("Uninstall")
        except RobotError:
            text = ""
        if text.startswith("Sx Interactive Product was removed"):
            break
        time.sleep(0.2)
    assert text == "Sx Interactive Product was removed from your computer."
    assert [b for b, _ in buttons] == [IDOK]
    assert not (host / "App").exists()
    robot.click("Uninstall", IDOK)
    assert program.finish()[0] == 0


# Relative names in a damaged record are not taken from the current folder
# (the uninstaller works from the system folder).
def test_relative_names_are_skipped(uninst_exe, workdir, drive_c):
    host, win = workdir
    name = "sxrel-" + uuid.uuid4().hex[:8]
    victim_dir = drive_c / "windows" / "system32" / name
    victim_dir.mkdir()
    try:
        (victim_dir / "keep.txt").write_text("keep")
        write_crlf(host / "rel.del", [
            "[Files]", name + r"\keep.txt",
            "[Folders]", name,
            "[General]", "ProgramName=",
        ])
        assert run_wine([uninst_exe, "/silent", win + r"\rel.del"]).returncode == 0
        assert (victim_dir / "keep.txt").read_text() == "keep"
    finally:
        (victim_dir / "keep.txt").unlink(missing_ok=True)
        victim_dir.rmdir()
