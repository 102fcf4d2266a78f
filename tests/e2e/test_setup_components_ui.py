"""Interactive setups that need a shared component, driven by the UI robot:
the download-method question (texts, default, Cancel), the local folder
(Cancel, a folder without the package, the right folder) and the download
page (No, then Yes)."""
import subprocess

import pytest

from conftest import HOST
from robot import IDNO, IDOK, IDYES, robot  # noqa: F401
from setuphelpers import build_setup, drive_c, fresh_dir, running_setup, temp_dir

STGTOOL = HOST / "tools" / "stgtool"
QUESTION_TITLE = "Ravudure Dudor"
BROWSER_TITLE = "Browse for Folder"
QUESTION = ("Lumara Ravudure Dudor detected that in order to use UI Product on your computer, you need to install "
            "additional system components.\r\n\r\nHow do you want to proceed?")
PAGE = ('<html><head><title>Download shared Lumara components.</title></head><body bgcolor="#FFFFF0"><p><font '
        'color="#000080" size="4"><strong>Download shared components.</strong></font></p><font size="2"><p>Many of '
        'components are shared by all Lumara applications, so once you downloaded and installed them, you can '
        'tremendously reduce download size for all other products.</p><p>In order to use UI Product on your '
        'computer, you need to install the listed below component(s).</p><p>Just click the links in your Internet '
        'Browser to start download, save all downloaded files in some folder, then start setup again and point to '
        'this folder when will be prompted.</p></font><table><tr><td bgcolor="#800000"><font color="#FFFFFF"><strong>'
        'Required Component</strong></font></td><td bgcolor="#800000" align="center" width="100"><font '
        'color="#FFFFFF"><strong> Size </strong></font></td><td bgcolor="#800000"><font color="#FFFFFF"><strong>Web '
        'Location</strong></font></td></tr><tr><td  bgcolor="#FFF0CA" ><font size="2">Runtime</font></td><td  '
        'bgcolor="#FFF0CA" align="center" width="100"><font size="2">512B</font></td><td  bgcolor="#FFF0CA" ><a '
        'href="http://127.0.0.1:9/rt.stg"><font size="2">http://127.0.0.1:9/rt.stg</font></td></tr></table><p>&nbsp;'
        '</p><p><font size="2"><em><strong>Thank you for using Lumara products.</strong></em></font></p></body></html>'
        '\r\n')


@pytest.fixture
def area(request):
    return fresh_dir(drive_c() / "sxtests" / request.node.name.replace("[", "_").replace("]", ""))


def win(p):
    return "C:\\" + str(p.relative_to(drive_c())).replace("/", "\\")


def make_setup(tmp_path, area):
    """An interactive setup of one file that needs "Runtime" (one library),
    whose LocalAddress points nowhere."""
    (area / "comp.inf").write_text(
        f"[Runtime]\nLocalAddress={win(area)}\\nowhere\\rt.stg\nWebAddress=http://127.0.0.1:9/rt.stg\nWebSize=512\n"
        f"FileCount=1\nFile1={win(area)}\\shared\\rt.dll\n", encoding="latin-1", newline="\r\n")
    project = f"""
[Setup]
DefaultFolder = {win(area / "app")}
ComponentInf = {area / "comp.inf"}
[Strings]
SetupName = UI Setup
ProductName = UI Product
OkButton = OK
[Files]
File = product.txt
[Components]
Component = Runtime
"""
    return build_setup(tmp_path, project, {"product.txt": b"product"}, name="comp_ui")


def choose(robot, way):  # noqa: F811
    robot.wait(QUESTION_TITLE, timeout=30)
    robot.click(QUESTION_TITLE, way)
    robot.click(QUESTION_TITLE, IDOK)


def final_message(robot, text):  # noqa: F811
    robot.wait("Information", timeout=30)
    assert robot.text("Information", 10).rstrip("\r") == text
    robot.click("Information", IDOK)


def run(exe, steps):
    before = {p.name for p in temp_dir().iterdir()}
    with running_setup(exe) as proc:
        steps()
        proc.wait(timeout=60)
    assert not [n for n in {p.name for p in temp_dir().iterdir()} - before if n.startswith("sx~")]


# The question's texts and default choice; Cancel ends the setup.
def test_question_and_cancel(tmp_path, area, robot):  # noqa: F811
    exe = make_setup(tmp_path, area)
    seen = {}

    def steps():
        robot.wait(QUESTION_TITLE, timeout=30)
        controls = {c.id: c for c in robot.list(QUESTION_TITLE)}
        seen.update({cid: controls[cid].text for cid in (100, 101, 102, 103, 1, 2)})
        # OK is the default button. (The robot cannot read a radio button's
        # check; tests/win32/w32_compsetup.cpp checks that the first way is
        # selected.)
        seen["default"] = controls[1].style & 0xF
        robot.click(QUESTION_TITLE, 2)
        final_message(robot, "Setup aborted.")

    run(exe, steps)
    assert seen == {100: QUESTION, 101: "&Download automatically from the Internet",
                    102: "Download &manually, show me how...", 103: "&Use local files that I have downloaded",
                    1: "OK", 2: "Cancel", "default": 1}  # BS_DEFPUSHBUTTON
    assert not (area / "shared" / "rt.dll").exists()


# Local files: Cancel in the browser brings the question back; a folder
# without the package says so; the right folder installs.
def test_local_folder(tmp_path, area, robot):  # noqa: F811
    packages = fresh_dir(area / "downloads")
    (packages / "src").mkdir()
    (packages / "src" / "rt.dll").write_bytes(b"MZ runtime")
    r = subprocess.run([str(STGTOOL), "create", str(packages / "rt.stg"), str(packages / "src" / "rt.dll")],
                       capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r.stderr
    exe = make_setup(tmp_path, area)
    notice = []

    def steps():
        choose(robot, 103)
        robot.folder(BROWSER_TITLE)  # Cancel
        choose(robot, 103)
        robot.folder(BROWSER_TITLE, "C:\\windows")
        notice.append(robot.msgbox("Error")[0])
        robot.click("Error", IDOK)
        choose(robot, 103)
        robot.folder(BROWSER_TITLE, win(packages))
        final_message(robot, "Setup completed.")

    run(exe, steps)
    assert notice == ['Could not find file "C:\\windows\\rt.stg"']
    assert (area / "shared" / "rt.dll").read_bytes() == b"MZ runtime"
    assert (area / "app" / "product.txt").read_bytes() == b"product"


# The download page: No writes nothing and asks again; Yes writes the exact
# page on the desktop and the setup ends as cancelled.
def test_download_page(tmp_path, area, robot):  # noqa: F811
    desktops = [p / "Desktop" for p in (drive_c() / "users").iterdir() if (p / "Desktop").is_dir()]
    pages = [d / "Download Components.htm" for d in desktops]
    for p in pages:
        if p.exists():
            p.unlink()
    exe = make_setup(tmp_path, area)
    questions = []

    def steps():
        for answer in (IDNO, IDYES):
            choose(robot, 102)
            questions.append(robot.msgbox("Confirmation")[0])
            if answer == IDNO:
                assert not [p for p in pages if p.exists()]
            robot.click("Confirmation", answer)
        final_message(robot, "Setup aborted.")

    run(exe, steps)
    assert questions == ['Setup will create on your Windows Desktop \r\nthe HTML file "Download Components.htm"\r\n'
                         'with download instructions.\r\n\r\nDo you wish to proceed?'] * 2
    written = [p for p in pages if p.exists()]
    assert len(written) == 1
    assert written[0].read_bytes() == PAGE.encode("latin-1")
    written[0].unlink()
