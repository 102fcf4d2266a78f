"""The UI robot against the setup's dialogs shown by the dialog gallery, in
another process: finding windows, reading controls, typing, buttons, keys,
the close box, system message boxes and the folder browser."""
import subprocess
import time

import pytest

from robot import (GALLERY_EXE, IDABORT, IDCANCEL, IDIGNORE, IDNO, IDOK, IDRETRY, IDYES, MSGBOX_TEXT,
                   RobotError, robot, screenshot, spawn)  # noqa: F401

CAPTION = "Acme Viewer Setup"
LICENSE_QUESTION = ("Do you accept all of the terms of the preceding License Agreement? If you choose No, "
                    "Setup will close. To continue you must accept this agreement.")


@pytest.fixture(scope="module", autouse=True)
def gallery_built():
    assert GALLERY_EXE.is_file(), f"missing {GALLERY_EXE}: build first"


def show(spawn, robot, which, *extra, title=CAPTION):
    program = spawn([GALLERY_EXE, which, *extra])
    robot.wait(title, timeout=30)
    return program


def still_open(robot, title, seconds=0.5):
    time.sleep(seconds)
    return robot.exists(title)


# The password template as the robot sees it: ids, classes, rectangles in
# dialog units, texts; a wrong password shows the error, typing clears it,
# the right one is accepted.
def test_password_wrong_then_right(spawn, robot):
    program = show(spawn, robot, "password")
    controls = {c.id: c for c in robot.list(CAPTION)}
    assert sorted(controls) == [1, 2, 10, 11, 12, 13]
    assert controls[11].cls.lower() == "edit"
    for cid, rect in {10: (33, 11, 180, 10), 11: (33, 25, 180, 12), 12: (33, 41, 180, 10),
                      1: (109, 54, 50, 14), 2: (163, 54, 50, 14)}.items():
        assert all(abs(a - b) <= 1 for a, b in zip(controls[cid].dlu, rect)), (cid, controls[cid].dlu)
    assert controls[10].text == "Please enter the password to decrypt the files:"
    assert controls[12].text == ""
    assert (controls[1].text, controls[2].text) == ("OK", "Cancel")
    assert controls[11].style & 0x20  # ES_PASSWORD

    robot.type(CAPTION, 11, "wrong")
    robot.key(CAPTION, "ENTER")
    deadline = time.time() + 10
    while robot.text(CAPTION, 12) == "" and time.time() < deadline:
        time.sleep(0.1)
    assert robot.text(CAPTION, 12) == "The password is not correct. Please try again."
    robot.type(CAPTION, 11, "secret")  # replaces the selected wrong text
    assert robot.text(CAPTION, 12) == ""
    robot.click(CAPTION, IDOK)
    robot.gone(CAPTION)
    code, out = program.finish()
    assert out.splitlines() == ["tried=wrong", "tried=secret", "result=true"]
    assert code == 0


# Cancel on the password dialog answers false without a check.
def test_password_cancel(spawn, robot):
    program = show(spawn, robot, "password")
    robot.click(CAPTION, IDCANCEL)
    robot.gone(CAPTION)
    assert program.finish() == (1, "result=false\n")


# Cancel and the close box only ask the progress work to stop; it closes itself.
@pytest.mark.parametrize("how", ["button", "close box"])
def test_progress_cancel(spawn, robot, how):
    program = show(spawn, robot, "progress", "--seconds", "60")
    assert robot.text(CAPTION, 10) == "Extracting the files of Acme Viewer to\r\nC:\\Program Files\\Acme Viewer"
    assert robot.text(CAPTION, 2) == "Cancel"
    if how == "button":
        robot.click(CAPTION, IDCANCEL)
    else:
        robot.close(CAPTION)
    robot.gone(CAPTION)
    code, out = program.finish()
    assert (code, out) == (1, "cancelled=1\nresult=false\n")


# A progress work that runs to its end closes with true.
def test_progress_completes(spawn, robot):
    program = show(spawn, robot, "progress", "--seconds", "1")
    robot.gone(CAPTION, timeout=30)
    assert program.finish() == (0, "result=true\n")


# The message dialog: its texts, and Enter closes it (it always answers false).
def test_message(spawn, robot):
    program = show(spawn, robot, "message")
    assert robot.text(CAPTION, 10) == "Acme Viewer has been installed successfully.\r\n\r\nClick OK to finish."
    assert robot.text(CAPTION, IDOK) == "OK"
    robot.key(CAPTION, "ENTER")
    robot.gone(CAPTION)
    assert program.finish() == (1, "result=false\n")


# Each way of answering the confirmation, as a person would.
@pytest.mark.parametrize("action, expected", [
    (("click", IDYES), True), (("click", IDNO), False), (("key", "ENTER"), True),
    (("key", "ESCAPE"), False), (("close",), False)])
def test_confirm_answers(spawn, robot, action, expected):
    program = show(spawn, robot, "confirm")
    assert robot.text(CAPTION, 6) == "&Yes"
    assert robot.text(CAPTION, 7) == "&No"
    getattr(robot, action[0])(CAPTION, *action[1:])
    robot.gone(CAPTION)
    code, out = program.finish()
    assert out == f"result={'true' if expected else 'false'}\n"
    assert code == (0 if expected else 1)


# The license dialog keeps its own title and has no close box; Enter does
# nothing; Yes accepts.
def test_license(spawn, robot):
    title = "License Agreement"
    program = show(spawn, robot, "license", title=title)
    assert robot.text(title, 10).startswith("END-USER LICENSE AGREEMENT\r\n\r\nPlease read")
    assert robot.text(title, -1) == LICENSE_QUESTION
    with pytest.raises(RobotError) as err:
        robot.close(title)
    assert err.value.code == 3
    robot.key(title, "ENTER")
    assert still_open(robot, title)
    robot.type(title, 10, "typed")  # read-only
    assert "typed" not in robot.text(title, 10)
    robot.click(title, IDYES)
    robot.gone(title)
    assert program.finish() == (0, "result=true\n")


# Escape declines the license.
def test_license_escape(spawn, robot):
    title = "License Agreement"
    program = show(spawn, robot, "license", title=title)
    robot.key(title, "ESCAPE")
    robot.gone(title)
    assert program.finish() == (1, "result=false\n")


# A system message box: its text from control 0xFFFF and its buttons by id.
@pytest.mark.parametrize("button", [IDABORT, IDRETRY, IDIGNORE])
def test_message_box(spawn, robot, button):
    program = show(spawn, robot, "msgbox", title="Error")
    text, buttons = robot.msgbox("Error")
    assert text == "Cannot create file C:\\Program Files\\Acme Viewer\\viewer.exe."
    assert robot.text("Error", MSGBOX_TEXT) == text
    assert sorted(i for i, _ in buttons) == [IDABORT, IDRETRY, IDIGNORE]
    robot.click("Error", button)
    robot.gone("Error")
    code, out = program.finish()
    assert out.splitlines()[0] == f"answer={button}"


# The folder browser: a selected folder comes back; Cancel leaves it unchanged.
def test_folder_browser(spawn, robot):
    program = show(spawn, robot, "folder")
    robot.folder(CAPTION, "C:\\windows\\system32")
    robot.gone(CAPTION)
    code, out = program.finish()
    assert code == 0
    assert out.lower() == "folder=c:\\windows\\system32\nresult=true\n"

    program = show(spawn, robot, "folder")
    robot.folder(CAPTION, None)
    robot.gone(CAPTION)
    assert program.finish() == (1, "folder=C:\\unchanged\nresult=false\n")


# The robot's own failures: a timeout, a missing control, a bad command.
def test_robot_failures(spawn, robot):
    with pytest.raises(RobotError) as err:
        robot.wait("No Such Window", timeout=0.5)
    assert err.value.code == 1 and "timeout" in err.value.stderr
    program = show(spawn, robot, "message")
    with pytest.raises(RobotError) as err:
        robot.text(CAPTION, 4242)
    assert err.value.code == 2 and "4242" in err.value.stderr
    with pytest.raises(RobotError) as err:
        robot.run("dance", CAPTION)
    assert err.value.code == 2
    robot.click(CAPTION, IDOK)
    robot.gone(CAPTION)
    assert program.finish()[0] == 1


# A screenshot of a shown dialog is a real picture of it, not an empty screen.
def test_screenshot_shows_dialog(spawn, robot, screenshot):
    show(spawn, robot, "confirm")
    x, y, w, h = robot.rect(CAPTION)
    png = screenshot("confirm", crop=(x, y, w, h))
    colors = int(subprocess.run(["identify", "-format", "%k", str(png)], capture_output=True, text=True,
                                check=True).stdout)
    assert colors > 8
    robot.key(CAPTION, "ESCAPE")
    robot.gone(CAPTION)


# A folder the browser cannot select is reported as a timeout, and OK is
# not pressed: the browser stays open until Cancel.
def test_folder_browser_missing_folder(spawn, robot):
    program = show(spawn, robot, "folder")
    with pytest.raises(RobotError) as err:
        robot.run("folder", CAPTION, "C:\\no\\such\\folder", timeout=2)
    assert err.value.code == 1 and "does not select" in err.value.stderr
    assert robot.exists(CAPTION)
    robot.folder(CAPTION, None)
    robot.gone(CAPTION)
    assert program.finish() == (1, "folder=C:\\unchanged\nresult=false\n")


# The component download template in another process: the controls and
# rectangles as tabled, the list's rows through the robot's "items", the
# progress look after OK, and the end through the command 200.
def test_inet_setup_dialog(spawn, robot):
    title = "Ravudure Dudor"
    program = show(spawn, robot, "inetsetup", title=title)
    controls = {c.id: c for c in robot.list(title)}
    assert {1, 2, 100, 101, 102, 103, 104, 105, 106} <= set(controls)
    for cid, rect in {1: (226, 12, 47, 14), 2: (226, 30, 47, 14), 103: (39, 14, 178, 65),
                      104: (21, 54, 184, 8), 105: (21, 41, 175, 10), 106: (21, 65, 175, 10)}.items():
        assert all(abs(a - b) <= 1 for a, b in zip(controls[cid].dlu, rect)), (cid, controls[cid].dlu)
    assert controls[101].cls.lower() == "syslistview32"
    assert controls[102].cls.lower() == "msctls_statusbar32"
    assert (controls[1].text, controls[2].text) == ("&Download", "&Abort")
    assert not controls[104].style & 0x10000000  # WS_VISIBLE: hidden until the transfer
    assert robot.items(title, 101) == [
        ["Acme Runtime", "1.5M", "http://downloads.example.com/acme/runtime.stg"],
        ["Acme Graphics", "640K", "http://downloads.example.com/acme/graphics.stg"],
    ]
    assert robot.text(title, 102).startswith("The total size is 2.2M.")

    robot.click(title, IDOK)
    deadline = time.time() + 10
    while robot.text(title, 106) == "" and time.time() < deadline:
        time.sleep(0.1)
    controls = {c.id: c for c in robot.list(title)}
    assert controls[105].text == "Downloading Acme Runtime ..."
    assert controls[106].text == "%42 Done (645K)"
    assert controls[104].style & 0x10000000 and not controls[103].style & 0x10000000
    assert 150 in controls  # the animation
    robot.key(title, "ESCAPE")  # Cancel's event ends the gallery's dialog with 2
    robot.gone(title)
    code, out = program.finish()
    assert (code, out.splitlines()) == (1, ["ended=2", "result=false"])
