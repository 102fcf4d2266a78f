"""Setup steps that involve other programs, unattended: a locked file held by
a helper process and its replacement at restart, the client library's hooks
(veto, folder, file skip), and the removal of an earlier product."""
import subprocess

import pytest

from setuphelpers import (CLIENT_DLL, ROOT, build_setup, drive_c, fresh_dir, helper_exe, parse_log, reg_delete,
                          reg_query, run_setup, temp_dir, wait_for, win_path, wine_env)

COMPLETED = ("Hidden Message", "Setup Message Code 261", "Setup completed.")
LOCKED_NOTICE = ("Files were extracted successfully.\r\n\r\nSome files are locked by system, they will \r\n"
                 "be updated after you restart your machine.\r\n")


def wine(*args, **kw):
    return subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), *[str(a) for a in args]], env=wine_env(),
                          capture_output=True, timeout=kw.pop("timeout", 120), **kw)


@pytest.fixture
def root(request):
    return fresh_dir(drive_c() / "sxtests" / request.node.name.replace("[", "_").replace("]", ""))


# A file held open without sharing by another process is written as an
# ov~NNNNN.tmp beside it; the notice is logged instead of running the command;
# the replacement is pending; after a restart of the prefix the new content is
# in place.
def test_locked_file_is_replaced_at_restart(tmp_path, root):
    app = root / "App"
    app.mkdir()
    (app / "locked.dll").write_bytes(b"old content")
    ready, release = root / "ready", root / "release"
    holder = subprocess.Popen([str(ROOT / "scripts" / "wine-run.sh"), str(helper_exe("lockfile")),
                               win_path(app / "locked.dll"), win_path(ready), win_path(release)], env=wine_env(),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    try:
        assert wait_for(ready.exists, 30), "the helper did not lock the file"
        project = f"""
[Setup]
Silent = yes
RunCommand = yes
WaitForCommand = yes
Command = <SystemDir>\\cmd.exe
Parameters = /c echo ran> {win_path(root)}\\ran.txt
[Strings]
SetupName = Locked Setup
ProductName = Locked
[Folders]
app = {win_path(app)}
[Files]
File = locked.dll | folder=app
File = free.txt | folder=app
"""
        exe = build_setup(tmp_path, project, {"locked.dll": b"new content", "free.txt": b"free"}, name="act_locked")
        code, log = run_setup(exe)
        assert code == 0
        assert parse_log(log)[1] == [("Hidden Message", "Locked Files Code 260", LOCKED_NOTICE), COMPLETED]
        temps = sorted(p.name for p in app.iterdir() if p.name.startswith("ov~"))
        assert len(temps) == 1 and temps[0].endswith(".tmp") and len(temps[0]) == len("ov~00000.tmp")
        assert (app / temps[0]).read_bytes() == b"new content"
        assert (app / "locked.dll").read_bytes() == b"old content"
        assert (app / "free.txt").read_bytes() == b"free"
        assert not (root / "ran.txt").exists(), "the command must not run while files wait for a restart"
        pending = reg_query(r"HKLM\System\CurrentControlSet\Control\Session Manager", "PendingFileRenameOperations")
        assert pending and temps[0].lower() in pending[1].lower()
    finally:
        release.write_bytes(b"")
        holder.wait(timeout=60)
    wine("wineboot", "-r", timeout=180)
    assert wait_for(lambda: (app / "locked.dll").read_bytes() == b"new content", 30)
    assert not (app / temps[0]).exists()


def client_project(root, extra="", files_section=None):
    return f"""
[Setup]
Silent = yes
DefaultFolder = {win_path(root)}\\Default
ClientLibrary = {CLIENT_DLL}
TempFolder = temp
DeleteTempFiles = yes
{extra}
[Strings]
SetupName = Client Setup
ProductName = Client
[Folders]
temp = {win_path(root)}\\Tmp
[Files]
{files_section or "File = a.txt" + chr(10) + "File = readme.txt" + chr(10) + "File = b.txt" + chr(10) + "File = s.dat | folder=temp"}
"""


CLIENT_FILES = {"a.txt": b"aaa", "readme.txt": b"read me", "b.txt": b"bbb", "s.dat": b"scratch"}


def run_with_client(tmp_path, root, control, name):
    ini = root / "client.ini"
    ini.write_text(f"[General]\r\nTrace={win_path(root)}\\trace.txt\r\n" + control)
    exe = build_setup(tmp_path, client_project(root), CLIENT_FILES, name=name)
    code, log = run_setup(exe, env={"SX_CLIENT_SCRIPT": win_path(ini)})
    trace = (root / "trace.txt").read_text().splitlines() if (root / "trace.txt").exists() else []
    return code, log, [line.split("\t")[0] for line in trace]


# Without a veto every hook is called in the order of the run (the two delete
# hooks twice each) and the library's folder is gone afterwards.
def test_client_hooks_in_order(tmp_path, root):
    # Folders of runs that other tests killed half-way may be there already.
    before = {p.name for p in temp_dir().iterdir() if p.name.startswith("sx~")}
    code, log, calls = run_with_client(tmp_path, root, "", "act_client_all")
    assert code == 0 and parse_log(log)[1] == [COMPLETED]
    assert calls == ["BeforeExecute", "BeforeGetPassword", "AfterGetPassword", "BeforeAcceptLicense",
                     "AfterAcceptLicense", "BeforeGetTargetFolder", "AfterGetTargetFolder", "BeforeExtractFiles",
                     "GetExtarctedFileName", "GetExtarctedFileName", "GetExtarctedFileName", "GetExtarctedFileName",
                     "AfterExtractFiles", "BeforeExecuteCommand", "AfterExecuteCommand", "AfterExecute",
                     "BeforeDeleteTempFiles", "BeforeDeleteTempFiles", "AfterDeleteTempFiles",
                     "AfterDeleteTempFiles", "BeforeTerminate"]
    assert not any(p.name.lower() == "ovseclient.dll" for p in temp_dir().rglob("*"))
    assert {p.name for p in temp_dir().iterdir() if p.name.startswith("sx~")} <= before


# A veto from any hook ends the run at once: no later hook, no clean-up, no
# final message, and exit code 8 unattended.
@pytest.mark.parametrize("hook", ["BeforeExecute", "AfterGetPassword", "BeforeExtractFiles", "AfterExecute",
                                  "BeforeDeleteTempFiles"])
def test_client_veto_ends_the_run(tmp_path, root, hook):
    code, log, calls = run_with_client(tmp_path, root, f"[Answers]\r\n{hook}=0\r\n", "act_client_veto")
    assert code == 8
    assert log is None
    assert calls[-1] == hook and calls.count(hook) == 1
    extracted = hook in ("AfterExecute", "BeforeDeleteTempFiles")
    assert (root / "Default" / "a.txt").exists() == extracted
    # The veto skips the clean-up: the temporary file stays.
    assert (root / "Tmp" / "s.dat").exists() == extracted


# BeforeGetTargetFolder writing a path makes it the target verbatim;
# GetExtarctedFileName answering false skips that file's data and the next
# file is still correct.
def test_client_chooses_folder_and_skips_a_file(tmp_path, root):
    chosen = win_path(root) + "\\Chosen"
    code, log, calls = run_with_client(
        tmp_path, root, f"[Buffer]\r\nBeforeGetTargetFolder={chosen}\r\n[Skip]\r\nreadme.txt=1\r\n", "act_client_dir")
    assert code == 0 and parse_log(log)[1] == [COMPLETED]
    assert (root / "Chosen" / "a.txt").read_bytes() == b"aaa"
    assert not (root / "Chosen" / "readme.txt").exists()
    assert (root / "Chosen" / "b.txt").read_bytes() == b"bbb"
    assert not (root / "Default").exists() or not any((root / "Default").iterdir())


# An earlier product registered for uninstall: unattended, the question
# becomes the error entry "Setup Message Code 262" and the run ends with 8
# before anything is extracted.
def test_previous_product_unattended_is_an_error(tmp_path, root):
    key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\SX Old Product"
    wine("reg", "add", key, "/v", "UninstallString", "/d", "cmd /c exit", "/f")
    try:
        project = f"""
[Setup]
Silent = yes
DefaultFolder = {win_path(root)}
[Strings]
SetupName = New Setup
ProductName = SX Old
[PreviousProducts]
Product = <ProductName> Product
[Files]
File = a.txt
"""
        exe = build_setup(tmp_path, project, {"a.txt": b"a"}, name="act_previous")
        code, log = run_setup(exe)
        assert code == 8
        assert parse_log(log)[1] == [("Error", "Setup Message Code 262",
                                      "Do you want setup to remove existing SX Old Product from your system "
                                      "before continue? (recommended)")]
        assert not (root / "a.txt").exists()
    finally:
        reg_delete(key)
