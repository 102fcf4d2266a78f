"""The bare stub: a GUI program that imports only Windows' own DLLs and runs."""
import re
import subprocess

from conftest import MINGW, run_wine

# DLLs every Windows has; the stub must not need anything else.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
    "ole32.dll", "oleaut32.dll", "comctl32.dll", "version.dll", "msvcrt.dll",
    "comdlg32.dll", "shlwapi.dll",
}


def pe_info(path):
    return subprocess.run([f"{MINGW}-objdump", "-p", str(path)],
                          capture_output=True, text=True, check=True).stdout


def test_stub_imports_only_system_dlls(stub_exe):
    dlls = {m.lower() for m in re.findall(r"DLL Name: (\S+)", pe_info(stub_exe))}
    assert dlls, "no imports found"
    assert dlls <= SYSTEM_DLLS, f"unexpected imports: {sorted(dlls - SYSTEM_DLLS)}"


def test_stub_is_gui_subsystem(stub_exe):
    info = pe_info(stub_exe)
    assert re.search(r"Subsystem\s+00000002", info), "not a GUI (Windows) subsystem program"


def test_stub_carries_manifest_and_icon(stub_exe):
    data = stub_exe.read_bytes()
    assert b'requestedExecutionLevel level="requireAdministrator"' in data
    assert b"Microsoft.Windows.Common-Controls" in data
    assert b"<dpiAware>true</dpiAware>" in data
    assert "MAINICON".encode("utf-16-le") in data


def test_bare_stub_exits_zero(stub_exe):
    assert run_wine([stub_exe]).returncode == 0
