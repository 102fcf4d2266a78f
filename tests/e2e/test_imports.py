"""The programs that run from a download folder import only libraries that the
system always takes from its own folder (known DLLs): an import is resolved
before the program's first instruction, when a copy beside the program would
win. Everything else is loaded later, after the program restricted the
library search. Reads the import tables with the cross toolchain's objdump;
needs the win32 tree but not Wine."""
import re
import shutil
import subprocess

import pytest

from conftest import MINGW, WIN32

OBJDUMP = shutil.which(f"{MINGW}-objdump")
ALWAYS_FROM_SYSTEM = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
                      "oleaut32.dll", "msvcrt.dll", "comdlg32.dll", "shlwapi.dll", "imm32.dll", "rpcrt4.dll"}
PROGRAMS = [WIN32 / "setup" / "setup.exe", WIN32 / "tools" / "ovUninst.exe"]


@pytest.mark.skipif(OBJDUMP is None, reason=f"no {MINGW}-objdump")
@pytest.mark.parametrize("program", PROGRAMS, ids=lambda p: p.name)
def test_only_known_system_libraries_are_imported(program):
    if not program.is_file():
        pytest.skip(f"{program} not built")
    dump = subprocess.run([OBJDUMP, "-p", str(program)], capture_output=True, text=True, check=True).stdout
    imported = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
    assert "kernel32.dll" in imported
    assert imported <= ALWAYS_FROM_SYSTEM, sorted(imported - ALWAYS_FROM_SYSTEM)
