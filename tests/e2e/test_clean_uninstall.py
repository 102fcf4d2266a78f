"""Install, then uninstall through the registered command: the machine is as
it was before (drive_c and the registry), apart from the unattended run log.
Also the shared uninstaller's count across two products and a reinstall,
content the user added, and the entry's values in Wine's list of programs."""
import subprocess

import pytest

from conftest import need_wine, run_wine
from robot import IDOK, IDYES, RobotError, robot, spawn  # noqa: F401
from setuphelpers import (ROOT, build_setup, drive_c, drop_empty_maker_keys, drop_if_empty, host_path, reg_delete,
                          reg_query, registry_snapshot, run_setup, temp_dir, wait_for, wine_env)
from test_setup_full import WINE_NOISE, _drive_c_files, _registry_diff

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
SHARED_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs"
OV_UNINST = r"C:\Program Files\Common Files\Orvale Systems\ovUninst.exe"


@pytest.fixture(autouse=True)
def _wine():
    need_wine()


def project(product):
    return f"""
[Setup]
Silent = yes
DefaultFolder = <ProgramFilesDir>\\{product}
AskFolder = no
Uninstall = yes
UninstallFolder = <ProgramFilesDir>\\{product}
UninstallIcon = <ProgramFilesDir>\\{product}\\app.exe
Script = script.inf | folder=tmp
TempFolder = tmp
DeleteTempFiles = yes
[Strings]
SetupName = {product} Setup
ProductName = {product}
[Folders]
app = <ProgramFilesDir>\\{product} | register
tmp = <TempDir>\\{product} Setup
[Files]
File = app.exe | folder=app
File = readme.txt | folder=app | name=docs\\readme.txt
[Version]
ProductVersion = 2.5.1.0
CompanyName = SX Test Maker
FileDescription = {product} Setup
URLInfoAbout = https://example.invalid/{product.replace(" ", "-")}
"""


SCRIPT = "[HKEY_CURRENT_USER]\n-(uk)Software\\Orvale Systems\\{product}:Version=2.5\n"
FILES = {"app.exe": b"MZ" + b"a" * 3000, "readme.txt": b"read me " * 200}


def build(tmp_path, product):
    files = dict(FILES, **{"script.inf": SCRIPT.format(product=product)})
    return build_setup(tmp_path / product.replace(" ", "_"), project(product), files, name="clean")


def wine(*args, timeout=120):
    r = run_wine(list(args), timeout=timeout)
    return r.returncode


def registered_command(product):
    """The QuietUninstallString as (program, [arguments])."""
    text = reg_query(rf"{UNINSTALL_KEY}\{product}", "QuietUninstallString")[1]
    assert text.startswith(f'"{OV_UNINST}"  /silent "'), text
    record = text[len(f'"{OV_UNINST}"  /silent '):].strip().strip('"')
    return OV_UNINST, ["/silent", record]


def shared_count():
    v = reg_query(SHARED_KEY, OV_UNINST)
    return None if v is None else int(v[1], 16)


def fresh_start(*products):
    """No earlier installation of these products and no uninstaller."""
    for product in products:
        reg_delete(rf"{UNINSTALL_KEY}\{product}")
        reg_delete(rf"HKCU\Software\Orvale Systems\{product}")
    subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), "reg", "delete", SHARED_KEY, "/v", OV_UNINST, "/f"],
                   env=wine_env(), capture_output=True, timeout=60)
    shared = host_path(OV_UNINST)
    if shared.exists():
        shared.unlink()
    if shared.parent.exists() and not any(shared.parent.iterdir()):
        shared.parent.rmdir()
    drop_empty_maker_keys()
    drop_if_empty(SHARED_KEY)


def machine():
    return _drive_c_files(), registry_snapshot()


def assert_unchanged(before):
    files_before, reg_before = before
    files_after = _drive_c_files()
    assert (sorted(set(files_after) - set(files_before)), sorted(set(files_before) - set(files_after))) == ([], [])
    diff = _registry_diff(reg_before, registry_snapshot())
    assert {k: v for k, v in diff.items() if not any(n in k[1] for n in WINE_NOISE)} == {}


def uninstall_silent(product):
    program, args = registered_command(product)
    assert wine(program, *args) == 0


def uninstall_interactive(product, robot, spawn):
    program, args = registered_command(product)
    running = spawn([program, args[1]])
    robot.wait("Uninstall", timeout=30)
    robot.click("Uninstall", IDYES)

    def reported():
        try:
            return robot.msgbox("Uninstall")[0].startswith(f"{product} was removed")
        except RobotError:
            return False
    assert wait_for(reported, timeout=30)
    robot.click("Uninstall", IDOK)
    assert running.finish()[0] == 0


# Install, then the registered uninstall (unattended, or asked and answered
# Yes), then a restart for what was in use: nothing is left.
@pytest.mark.parametrize("mode", ["silent", "interactive"])
def test_install_then_uninstall_leaves_the_machine_as_before(tmp_path, mode, robot, spawn):
    product = f"SX Clean {mode}"
    exe = build(tmp_path, product)
    fresh_start(product)
    before = machine()

    code, log = run_setup(exe)
    assert code == 0, log
    target = drive_c() / "Program Files" / product
    assert (target / "docs" / "readme.txt").exists()
    assert not (temp_dir() / f"{product} Setup").exists()
    values = reg_query(rf"{UNINSTALL_KEY}\{product}")
    assert values["DisplayVersion"] == ("REG_SZ", "2.5.1.0")
    assert values["Publisher"] == ("REG_SZ", "SX Test Maker")
    assert values["URLInfoAbout"] == ("REG_SZ", f"https://example.invalid/{product.replace(' ', '-')}")
    product_bytes = sum(len(b) for b in FILES.values())
    assert values["EstimatedSize"] == ("REG_DWORD", hex((product_bytes + 1023) // 1024))
    assert shared_count() == 1

    if mode == "silent":
        uninstall_silent(product)
    else:
        uninstall_interactive(product, robot, spawn)
    assert wine("wineboot", "-r") == 0
    assert_unchanged(before)


# Two products share the uninstaller: it stays for the second, which it
# still removes, and goes (with its folder and its count) after the last.
def test_two_products_share_the_uninstaller(tmp_path):
    first, second = "SX Shared One", "SX Shared Two"
    exes = [build(tmp_path, first), build(tmp_path, second)]
    fresh_start(first, second)
    before = machine()
    for exe in exes:
        code, log = run_setup(exe)
        assert code == 0, log
    assert shared_count() == 2

    uninstall_silent(first)
    assert shared_count() == 1
    assert host_path(OV_UNINST).exists()
    assert reg_query(rf"{UNINSTALL_KEY}\{second}") is not None

    uninstall_silent(second)
    assert shared_count() is None
    assert reg_query(rf"{UNINSTALL_KEY}\{second}") is None
    assert wine("wineboot", "-r") == 0
    assert not host_path(OV_UNINST).exists()
    assert not host_path(OV_UNINST).parent.exists()
    assert_unchanged(before)


# The same product installed twice over itself is counted once: one
# uninstall leaves nothing.
def test_reinstall_then_one_uninstall(tmp_path):
    product = "SX Clean Again"
    exe = build(tmp_path, product)
    fresh_start(product)
    before = machine()
    for _ in range(2):
        code, log = run_setup(exe)
        assert code == 0, log
    assert shared_count() == 1
    uninstall_silent(product)
    assert wine("wineboot", "-r") == 0
    assert_unchanged(before)


# What the user added stays, with the folder and the key that hold it.
def test_user_content_is_kept(tmp_path):
    product = "SX Clean Kept"
    exe = build(tmp_path, product)
    fresh_start(product)
    code, log = run_setup(exe)
    assert code == 0, log
    target = drive_c() / "Program Files" / product
    (target / "notes.txt").write_text("mine")
    subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), "reg", "add", r"HKCU\Software\Orvale Systems", "/v",
                    "UserValue", "/d", "mine", "/f"], env=wine_env(), capture_output=True, timeout=60, check=True)
    uninstall_silent(product)
    assert (target / "notes.txt").read_text() == "mine"
    assert not (target / "app.exe").exists()
    assert reg_query(r"HKCU\Software\Orvale Systems", "UserValue") == ("REG_SZ", "mine")
    assert reg_query(rf"HKCU\Software\Orvale Systems\{product}") is None
    (target / "notes.txt").unlink()
    target.rmdir()
    reg_delete(r"HKCU\Software\Orvale Systems")


# Wine's own list of installed programs finds the product; the values it
# shows come from the entry.
def test_listed_by_the_system(tmp_path):
    product = "SX Clean Listed"
    exe = build(tmp_path, product)
    fresh_start(product)
    code, log = run_setup(exe)
    assert code == 0, log
    r = run_wine(["uninstaller", "--list"])
    assert r.returncode == 0
    assert product in r.stdout.decode("latin-1")
    values = reg_query(rf"{UNINSTALL_KEY}\{product}")
    assert values["DisplayVersion"][1] == "2.5.1.0" and values["Publisher"][1] == "SX Test Maker"
    uninstall_silent(product)
    assert reg_query(rf"{UNINSTALL_KEY}\{product}") is None
