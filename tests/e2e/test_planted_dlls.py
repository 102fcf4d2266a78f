"""DLLs planted beside the programs (as in a browser's Downloads folder) are
never loaded: setup.exe and ovUninst.exe are copied into a folder that also
holds DLLs named like libraries Windows looks for beside a program first, and
Wine is told to prefer such native copies. Each planted DLL writes a marker
file when it is loaded; after unattended runs and runs that show every
dialog, no marker may exist."""
import shutil
import subprocess
import time

import pytest

from conftest import MINGW, WIN32, run_wine
from robot import IDNO, IDOK, IDYES, RobotError, robot, spawn  # noqa: F401
from setuphelpers import build_setup, drive_c, fresh_dir, run_setup, running_setup, wait_for, win_path

# Libraries that are not among the ones the system always takes from its own
# folder, and that programs (or the system's own libraries) load by name.
PLANTED = ["version", "uxtheme", "dwmapi", "cryptbase", "userenv", "propsys", "profapi"]
PUBLIC_WIN = r"C:\users\Public"
OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d;" + ",".join(PLANTED) + "=n,b"

PLANTED_SOURCE = r"""
#include <windows.h>
/* Writes <SX_PLANT_MARKERS>\<own file name>.loaded when loaded into a process. */
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char dir[MAX_PATH], module[MAX_PATH], path[2 * MAX_PATH + 16];
        DWORD n = GetEnvironmentVariableA("SX_PLANT_MARKERS", dir, sizeof dir);
        if (n > 0 && n < sizeof dir && GetModuleFileNameA(self, module, sizeof module)) {
            const char* base = module;
            for (const char* p = module; *p; ++p)
                if (*p == '\\' || *p == '/')
                    base = p + 1;
            wsprintfA(path, "%s\\%s.loaded", dir, base);
            HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (h != INVALID_HANDLE_VALUE) {
                /* The program that loaded it, for the failure message. */
                char program[MAX_PATH];
                DWORD written = 0, length = GetModuleFileNameA(NULL, program, sizeof program);
                WriteFile(h, program, length, &written, NULL);
                CloseHandle(h);
            }
        }
    }
    return TRUE;
}
"""


def planted_dll():
    """Builds (once per build tree) the marker-writing DLL."""
    out_dir = WIN32 / "e2e-helpers"
    out_dir.mkdir(parents=True, exist_ok=True)
    dll = out_dir / "planted.dll"
    src = out_dir / "planted.c"
    if not dll.exists() or not src.exists() or src.read_text() != PLANTED_SOURCE:
        src.write_text(PLANTED_SOURCE)
        subprocess.run([f"{MINGW}-gcc", "-O1", "-shared", "-o", str(dll), str(src), "-static"],
                       check=True, capture_output=True)
    return dll


@pytest.fixture
def planted(monkeypatch):
    """A fresh folder on drive C: holding the planted DLLs, and an empty marker
    folder; Wine prefers native DLLs of those names while the test runs."""
    folder = fresh_dir(drive_c() / "sxtests" / "planted")
    markers = fresh_dir(drive_c() / "sxtests" / "planted-markers")
    dll = planted_dll()
    for name in PLANTED:
        shutil.copyfile(dll, folder / f"{name}.dll")
    monkeypatch.setenv("WINEDLLOVERRIDES", OVERRIDES)
    monkeypatch.setenv("SX_PLANT_MARKERS", win_path(markers))
    return folder, markers


# Wine's own user32.dll imports version.dll (Windows' does not), so under Wine
# a planted version.dll preferred as native is loaded into every program that
# uses user32 before the program runs a single instruction of its own. That
# marker says nothing about the program and is left out of the checks below;
# the program's own use of the version library is by full path all the same.
LOADED_BY_WINE_ITSELF = {"version.dll.loaded"}


def loaded(markers, count_wine_own=False):
    """The markers, each as "<dll>.loaded by <program>"."""
    found = sorted(p for p in markers.iterdir() if count_wine_own or p.name not in LOADED_BY_WINE_ITSELF)
    return [f"{p.name} by {p.read_text(errors='replace')}" for p in found]


# The marker DLL itself works: loaded by full path, it leaves its marker.
def test_the_planted_dll_leaves_a_marker(planted):
    folder, markers = planted
    run_wine(["rundll32.exe", win_path(folder / "version.dll") + ",Nothing"])
    assert any(m.startswith("version.dll.loaded by ") for m in loaded(markers, count_wine_own=True))


SETUP_STRINGS = """
[Strings]
SetupName = Planted Setup
ProductName = Planted Product
WelcomeCaption = Planted Welcome
WelcomeText = Install <ProductName>?
ProgressText = Copying files...
FolderCaption = Planted Folder
FolderPrompt = Where should <ProductName> go?
FolderCancelQuestion = Quit the setup now?
PasswordCaption = Planted Password
PasswordPrompt = Type the password:
WrongPassword = Wrong password, try again.
"""


def test_unattended_setup_loads_no_planted_dll(planted):
    folder, markers = planted
    exe = build_setup(folder, f"""
[Setup]
Silent = yes
DefaultFolder = {win_path(folder)}\\out
{SETUP_STRINGS.replace("WelcomeText = Install <ProductName>?", "")}
[Files]
File = payload.txt
""", {"payload.txt": b"payload"}, name="planted_silent")
    code, log = run_setup(exe)
    assert code == 0, log
    assert (folder / "out" / "payload.txt").read_bytes() == b"payload"
    assert loaded(markers) == []


# Every dialog of the setup: the password prompt, the welcome question, the
# folder browser (cancelled once: the exit question, answered No), the
# progress dialog and the final message.
def test_interactive_setup_loads_no_planted_dll(planted, robot):  # noqa: F811
    folder, markers = planted
    exe = build_setup(folder, f"""
[Setup]
Password = pw
AskFolder = yes
DefaultFolder = {win_path(folder)}\\out
{SETUP_STRINGS}
[Files]
File = payload.txt
""", {"payload.txt": b"payload"}, name="planted_dialogs")
    with running_setup(exe) as proc:
        seen = []
        deadline = time.time() + 60
        while time.time() < deadline and proc.poll() is None:
            if robot.exists("Planted Password"):
                robot.type("Planted Password", 11, "pw")
                robot.click("Planted Password", IDOK)
                seen.append("password")
            elif robot.exists("Planted Welcome"):
                robot.click("Planted Welcome", IDYES)
                seen.append("welcome")
            elif robot.exists("Planted Folder"):
                if "folder" not in seen:
                    robot.folder("Planted Folder")  # Cancel: the exit question follows; No goes back
                    robot.msgbox("Planted Setup")
                    robot.click("Planted Setup", IDNO)
                    seen.append("folder")
                else:
                    # A folder of the prefix (the browser does not select one made moments ago).
                    robot.folder("Planted Folder", PUBLIC_WIN)
                    seen.append("chosen")
            elif robot.exists("Information"):
                robot.click("Information", IDOK)
                seen.append("final")
            else:
                time.sleep(0.2)
        proc.wait(timeout=30)
    landed = drive_c() / "users" / "Public" / "payload.txt"
    try:
        assert {"password", "welcome", "folder", "chosen", "final"} <= set(seen), seen
        assert landed.read_bytes() == b"payload"
    finally:
        if landed.exists():
            landed.unlink()
    assert loaded(markers) == []


def test_uninstaller_loads_no_planted_dll(planted, robot, spawn):  # noqa: F811
    folder, markers = planted
    uninst = folder / "ovUninst.exe"
    shutil.copyfile(WIN32 / "tools" / "ovUninst.exe", uninst)
    for mode in ("silent", "interactive"):
        app = fresh_dir(folder / "App")
        (app / "a.txt").write_text("a")
        record = app / "p.del"
        record.write_bytes(("\r\n".join([
            "[Files]", win_path(app / "a.txt"),
            "[Folders]", win_path(app),
            "[General]", "ProgramName=Planted Product",
        ]) + "\r\n").encode("latin-1"))
        if mode == "silent":
            program = spawn([uninst, "/silent", win_path(record)])
        else:
            program = spawn([uninst, win_path(record)])
            robot.wait("Uninstall", timeout=30)
            robot.click("Uninstall", IDYES)

            def final_box():
                try:
                    return robot.msgbox("Uninstall")[0].startswith("Planted Product was removed")
                except RobotError:
                    return False
            assert wait_for(final_box, 30)
            robot.click("Uninstall", IDOK)
        assert program.finish()[0] == 0, mode
        assert not app.exists(), mode
        assert loaded(markers) == [], mode
