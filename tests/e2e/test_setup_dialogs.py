"""Interactive setups driven by the UI robot, as a person would: the password
prompt (also in unattended mode), the welcome question, the folder browser
with the exit question and the numbered subfolder, Cancel on the progress
dialog, and a file that cannot be created (Abort, Retry, Ignore)."""
import datetime
import os
import shutil
import time

import pytest

from robot import IDABORT, IDIGNORE, IDNO, IDOK, IDRETRY, IDYES, robot  # noqa: F401
from setuphelpers import (CLIENT_DLL, DIALOG_DLL, STUB, build_setup, drive_c, fresh_dir, parse_log, reg_add, reg_delete,
                          running_setup, seeded_bytes,
                          make_resource_module, raw_archive, soDefaultFolder, temp_dir, wait_for, win_path)

STRINGS = """
[Strings]
SetupName = Dialog Setup
ProductName = Dialog Product
WelcomeCaption = Welcome Here
WelcomeText = Install <ProductName>?
ProgressText = Copying files...
FolderCaption = Pick Folder
FolderPrompt = Where should <ProductName> go?
FolderCancelQuestion = Quit the setup now?
PasswordCaption = Setup Password
PasswordPrompt = Type the password:
WrongPassword = Wrong password, try again.
YesButton = &Yes
NoButton = &No
CancelButton = Cancel
OkButton = OK
NumberedFolderPattern = Copy %d
"""
SETUP = "Dialog Setup"
ABORTED = ("Hidden Message", "Setup Message Code 261", "Setup aborted.")
COMPLETED = ("Hidden Message", "Setup Message Code 261", "Setup completed.")


@pytest.fixture
def root(request):
    return fresh_dir(drive_c() / "sxtests" / request.node.name.replace("[", "_").replace("]", ""))


def text_of(robot, title, cid):  # noqa: F811
    """A control's text without the line end of the robot's output."""
    return robot.text(title, cid).rstrip("\r")


def finish(proc, timeout=60):
    proc.wait(timeout=timeout)
    return proc.returncode


def log_of(exe):
    p = drive_c() / (exe.stem + ".log")
    return p.read_bytes().decode("latin-1") if p.exists() else None


def close_final_message(robot, text):
    robot.wait("Information", timeout=30)
    assert text_of(robot, "Information", 10) == text
    robot.click("Information", IDOK)


# The password prompt, unattended (an enciphered archive asks for its
# password even then) and interactive: a wrong password shows the dialog's
# message and lets the user try again; the right one extracts the files.
# Cancel ends the run with "Setup aborted." (unattended: logged, exit 8).
@pytest.mark.parametrize("silent", [True, False])
@pytest.mark.parametrize("answer", ["right", "cancel"])
def test_password_prompt(tmp_path, root, robot, answer, silent):  # noqa: F811
    data = seeded_bytes(3000, 1) + b"x" * 50000
    project = f"""
[Setup]
Silent = {"yes" if silent else "no"}
Password = pass word
DefaultFolder = {win_path(root)}
{STRINGS.replace("WelcomeText = Install <ProductName>?", "")}
[Files]
File = secret.bin
File = plain.txt | compress=no
"""
    exe = build_setup(tmp_path, project, {"secret.bin": data, "plain.txt": b"plain text"}, name="dlg_password")
    with running_setup(exe) as proc:
        robot.wait("Setup Password", timeout=30)
        assert text_of(robot, "Setup Password", 10) == "Type the password:"
        assert text_of(robot, "Setup Password", 12) == ""
        if answer == "right":
            robot.type("Setup Password", 11, "pass wor")
            robot.click("Setup Password", IDOK)
            assert wait_for(lambda: text_of(robot, "Setup Password", 12) == "Wrong password, try again.", 10)
            robot.type("Setup Password", 11, "pass word")
            robot.click("Setup Password", IDOK)
        else:
            robot.click("Setup Password", 2)
        if not silent:
            close_final_message(robot, "Setup completed." if answer == "right" else "Setup aborted.")
        code = finish(proc)
    if answer == "right":
        assert (root / "secret.bin").read_bytes() == data
        assert (root / "plain.txt").read_bytes() == b"plain text"
    else:
        assert not (root / "secret.bin").exists()
    if silent:
        assert code == (0 if answer == "right" else 8)
        assert parse_log(log_of(exe))[1] == [COMPLETED if answer == "right" else ABORTED]
    else:
        assert (code, log_of(exe)) == (0, None)


# The welcome question: Yes goes on (progress dialog, files, final message);
# No ends the setup before anything is written. Interactive runs exit with 0.
@pytest.mark.parametrize("answer", [IDYES, IDNO])
def test_welcome_question(tmp_path, root, robot, answer):  # noqa: F811
    project = f"""
[Setup]
DefaultFolder = {win_path(root)}
{STRINGS}
[Files]
File = a.txt
"""
    exe = build_setup(tmp_path, project, {"a.txt": b"hello"}, name="dlg_welcome")
    with running_setup(exe) as proc:
        robot.wait("Welcome Here", timeout=30)
        assert text_of(robot, "Welcome Here", 10) == "Install Dialog Product?"
        robot.click("Welcome Here", answer)
        if answer == IDYES:
            close_final_message(robot, "Setup completed.")
        code = finish(proc)
    assert code == 0
    assert (root / "a.txt").exists() == (answer == IDYES)
    assert log_of(exe) is None


# The folder browser cancelled, then the exit question answered No (the
# browser comes back), then cancelled again and Yes: "Setup aborted.".
def test_folder_browser_cancel_then_quit(tmp_path, root, robot):  # noqa: F811
    project = f"""
[Setup]
AskFolder = yes
{STRINGS.replace("WelcomeText = Install <ProductName>?", "")}
[Files]
File = a.txt
"""
    exe = build_setup(tmp_path, project, {"a.txt": b"hello"}, name="dlg_folder")
    with running_setup(exe) as proc:
        robot.folder("Pick Folder")  # Cancel
        text, buttons = robot.msgbox(SETUP)
        assert text == "Quit the setup now?"
        assert [b for b, _ in buttons] == [IDYES, IDNO]
        robot.click(SETUP, IDNO)
        robot.folder("Pick Folder")
        robot.msgbox(SETUP)
        robot.click(SETUP, IDYES)
        close_final_message(robot, "Setup aborted.")
        code = finish(proc)
    assert code == 0


# A folder chosen in the browser gets the first numbered subfolder that does
# not exist yet: with "Copy 1" and "Copy 2" present, the files go to "Copy 3".
# (The chosen folder is one of the prefix's own: Wine's browser does not
# select, by path, a folder created moments before it starts.)
def test_numbered_subfolder(tmp_path, robot):  # noqa: F811
    public = drive_c() / "users" / "Public"
    copies = [public / f"Copy {n}" for n in (1, 2, 3)]
    for c in copies:
        shutil.rmtree(c, ignore_errors=True)
    copies[0].mkdir()
    copies[1].mkdir()
    project = f"""
[Setup]
AskFolder = yes
NumberedFolder = yes
{STRINGS.replace("WelcomeText = Install <ProductName>?", "")}
[Files]
File = a.txt
File = b.txt | name=sub\\b.txt
"""
    exe = build_setup(tmp_path, project, {"a.txt": b"A", "b.txt": b"B"}, name="dlg_numbered")
    try:
        with running_setup(exe) as proc:
            # The browser fills its tree after it is shown; a selection made
            # before that is lost.
            robot.wait("Pick Folder", timeout=30)
            time.sleep(1.5)
            robot.folder("Pick Folder", win_path(public))
            close_final_message(robot, "Setup completed.")
            code = finish(proc)
            assert code == 0
            assert (copies[2] / "a.txt").read_bytes() == b"A"
            assert (copies[2] / "sub" / "b.txt").read_bytes() == b"B"
            assert not any(copies[1].iterdir())
    finally:
        for c in copies:
            shutil.rmtree(c, ignore_errors=True)


# Cancel on the progress dialog stops at the next progress step: the files
# before carry the archive's date, the file written just before the stop is
# there without it (it never reached the end of its step), no later file is
# written, and the run ends with "Setup aborted.". The sample client library
# holds each file for a tenth of a second, so the extraction is still running
# when the click comes, however fast the machine.
def test_cancel_on_progress_dialog(tmp_path, root, robot):  # noqa: F811
    count = 100
    files = {f"f{i:04d}.bin": seeded_bytes(20000, 1000 + i) for i in range(count)}
    lines = "\n".join(f"File = {n} | compress=no" for n in sorted(files))
    control = root.with_name(root.name + "-client.ini")  # beside the target folder, not in it
    control.write_text("[General]\r\nDelay=100\r\n")
    project = f"""
[Setup]
DefaultFolder = {win_path(root)}
StampDate = yes
FileDate = 2001-01-01 01:01:00
ClientLibrary = {CLIENT_DLL}
{STRINGS.replace("WelcomeText = Install <ProductName>?", "")}
[Files]
{lines}
"""
    exe = build_setup(tmp_path, project, files, name="dlg_progress")
    with running_setup(exe, env={"SX_CLIENT_SCRIPT": win_path(control)}) as proc:
        robot.wait(SETUP, timeout=30)
        assert text_of(robot, SETUP, 10) == "Copying files..."
        robot.click(SETUP, 2)
        close_final_message(robot, "Setup aborted.")
        code = finish(proc)
    assert code == 0
    written = sorted(p.name for p in root.iterdir())
    assert 0 < len(written) < count
    assert written == sorted(files)[:len(written)]
    stamp = datetime.datetime(2001, 1, 1, 1, 1)
    dated = [datetime.datetime.fromtimestamp(os.stat(root / n).st_mtime) == stamp for n in written]
    assert dated == [True] * (len(written) - 1) + [False]
    for n in written:
        assert (root / n).read_bytes() == files[n], n


# A file that cannot be created: Abort, Retry and Ignore. Retry once the
# obstacle is gone writes the file; Ignore passes over exactly its stored
# bytes so the next file is correct; the message names the path unchanged.
def test_cannot_create_retry_and_ignore(tmp_path, root, robot):  # noqa: F811
    (root / "new" / "b.dll").mkdir(parents=True)
    (root / "new" / "d.dll").mkdir(parents=True)
    files = {"a.txt": b"a" * 1000, "b.dll": seeded_bytes(7000, 2), "c.txt": b"c" * 3000,
             "d.dll": seeded_bytes(9000, 3) + b"z" * 9000, "e.txt": seeded_bytes(5000, 4)}
    project = f"""
[Setup]
DefaultFolder = {win_path(root)}
{STRINGS.replace("WelcomeText = Install <ProductName>?", "")}
[Files]
File = a.txt
File = b.dll | name=new\\b.dll
File = c.txt
File = d.dll | name=new\\d.dll
File = e.txt
"""
    exe = build_setup(tmp_path, project, files, name="dlg_retry")
    with running_setup(exe) as proc:
        text, buttons = robot.msgbox("Error")
        assert text.startswith('Cannot write to file:\r\n"' + win_path(root) + '\\new\\b.dll"\r\n\r\nPossible reasons:')
        assert [b for b, _ in buttons] == [IDABORT, IDRETRY, IDIGNORE]
        (root / "new" / "b.dll").rmdir()
        robot.click("Error", IDRETRY)
        text, _ = robot.msgbox("Error")
        assert '\\new\\d.dll"' in text
        robot.click("Error", IDIGNORE)
        close_final_message(robot, "Setup completed.")
        code = finish(proc)
    assert code == 0
    assert (root / "new" / "b.dll").read_bytes() == files["b.dll"]
    assert (root / "c.txt").read_bytes() == files["c.txt"]
    assert (root / "new" / "d.dll").is_dir()
    assert (root / "e.txt").read_bytes() == files["e.txt"]


# Abort stops the extraction: "Setup aborted.", no later file.
def test_cannot_create_abort(tmp_path, root, robot):  # noqa: F811
    (root / "b.dll").mkdir(parents=True)
    project = f"""
[Setup]
DefaultFolder = {win_path(root)}
{STRINGS.replace("WelcomeText = Install <ProductName>?", "")}
[Files]
File = a.txt
File = b.dll
File = c.txt
"""
    exe = build_setup(tmp_path, project, {"a.txt": b"a", "b.dll": b"b", "c.txt": b"c"}, name="dlg_abort")
    with running_setup(exe) as proc:
        robot.msgbox("Error")
        robot.click("Error", IDABORT)
        close_final_message(robot, "Setup aborted.")
        code = finish(proc)
    assert code == 0
    assert (root / "a.txt").exists() and not (root / "c.txt").exists()


# The dialog library carried in the archive: the dialogs come from its
# templates (loaded as a data file), and its run folder in the temporary
# folder is gone when the setup ends.
def test_dialog_library(tmp_path, root, robot):  # noqa: F811
    project = f"""
[Setup]
DefaultFolder = {win_path(root)}
DialogLibrary = {DIALOG_DLL}
{STRINGS}
[Files]
File = a.txt
"""
    exe = build_setup(tmp_path, project, {"a.txt": b"hello"}, name="dlg_library")
    temp = temp_dir()
    before = {p.name for p in temp.iterdir()}
    with running_setup(exe) as proc:
        robot.wait("Welcome Here", timeout=30)
        labels = [c.text for c in robot.list("Welcome Here") if c.id in (-1, 0xFFFF)]
        assert "Sample dialog library" in labels
        during = {p.name for p in temp.iterdir()} - before
        assert any(n.startswith("sx~") for n in during)
        robot.click("Welcome Here", IDYES)
        robot.wait("Information", timeout=30)
        assert "Sample dialog library" in [c.text for c in robot.list("Information") if c.id in (-1, 0xFFFF)]
        robot.click("Information", IDOK)
        code = finish(proc)
    assert code == 0
    assert (root / "a.txt").read_bytes() == b"hello"
    assert not any(p.name.startswith("sx~") for p in temp.iterdir() if p.name not in before)


# Removal of an earlier product: the question names it; Yes runs its
# "SilentUninstall" command (preferred over "UninstallString") and the setup
# goes on.
def test_previous_product_removed_with_silent_command(tmp_path, root, robot):  # noqa: F811
    key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\SX Earlier Product"
    marker = win_path(root) + "\\marker.txt"
    reg_add(key, "SilentUninstall", f"cmd /c echo silent> {marker}")
    reg_add(key, "UninstallString", f"cmd /c echo plain> {marker}")
    try:
        project = f"""
[Setup]
DefaultFolder = {win_path(root)}\\App
{STRINGS.replace("WelcomeText = Install <ProductName>?", "")}
[PreviousProducts]
Product = SX Earlier Product
[Files]
File = a.txt
"""
        exe = build_setup(tmp_path, project, {"a.txt": b"new"}, name="dlg_previous")
        with running_setup(exe) as proc:
            robot.wait(SETUP, timeout=30)
            assert text_of(robot, SETUP, 10) == ("Do you want setup to remove existing SX Earlier Product from "
                                                 "your system before continue? (recommended)")
            robot.click(SETUP, IDYES)
            close_final_message(robot, "Setup completed.")
            code = finish(proc)
        assert code == 0
        assert (root / "marker.txt").read_bytes().strip() == b"silent"
        assert (root / "App" / "a.txt").read_bytes() == b"new"
    finally:
        reg_delete(key)


# An archive whose header cannot be read, interactively: the "Invalid file
# format." box, then the run ends with exit code 0 and no log.
def test_invalid_format_box(tmp_path, robot):  # noqa: F811
    dll = make_resource_module(tmp_path, {"SX_STORAGE": b"\x00\x08\x05"})
    with running_setup(STUB, "Z:" + str(dll).replace("/", "\\")) as proc:
        text, buttons = robot.msgbox("Error")
        assert text.rstrip("\r") == "Invalid file format."
        assert [b for b, _ in buttons] == [IDOK]
        robot.click("Error", IDOK)
        code = finish(proc)
    assert code == 0


# Damaged data of a file, interactively: its bytes were read, so the message
# offers OK and Cancel only, and either stops the extraction ("Setup
# aborted."); the damaged file is not left behind.
@pytest.mark.parametrize("button", [IDOK, 2])
def test_damaged_data_offers_ok_and_cancel(tmp_path, root, robot, button):  # noqa: F811
    archive = raw_archive(options=soDefaultFolder, default_folder=win_path(root),
                          strings=["Dialog Setup", "Dialog Product"],
                          files=[("ok.txt", b"fine", False, -1), ("bad.bin", b"x" * 5000, True, -1, lambda b: b[:-6]),
                                 ("after.txt", b"after", False, -1)])
    dll = make_resource_module(tmp_path, {"SX_STORAGE": archive})
    with running_setup(STUB, "Z:" + str(dll).replace("/", "\\")) as proc:
        text, buttons = robot.msgbox("Error")
        assert text.startswith('Cannot write to file:\r\n"' + win_path(root) + '\\bad.bin"')
        assert [b for b, _ in buttons] == [IDOK, 2]
        robot.click("Error", button)
        close_final_message(robot, "Setup aborted.")
        code = finish(proc)
    assert code == 0
    assert (root / "ok.txt").read_bytes() == b"fine"
    assert not (root / "bad.bin").exists() and not (root / "after.txt").exists()
