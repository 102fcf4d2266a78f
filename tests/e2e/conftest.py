"""Shared fixtures of the end-to-end tests: paths of the built programs and a
runner for Windows programs under Wine with the build tree's private prefix."""
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / os.environ.get("BUILD_DIR", "build")
HOST = BUILD / "host"
# SX_WIN_TREE: the Windows build tree whose programs the tests run ("win64"
# on machines that can run only 64-bit Windows programs, see
# scripts/test-win64.sh).
WIN32 = BUILD / os.environ.get("SX_WIN_TREE", "win32")
WINE_RUN = ROOT / "scripts" / "wine-run.sh"
# The cross tools of that tree, for the helpers the tests compile themselves.
MINGW = "x86_64-w64-mingw32" if WIN32.name == "win64" else "i686-w64-mingw32"

# The test command sets SX_WINE=0 on a machine that cannot execute 32-bit x86
# code (no compatibility mode in its kernel): Wine cannot start a Windows
# program there, so every test that needs one is skipped with that reason.
WINE_AVAILABLE = os.environ.get("SX_WINE", "1") != "0"


def need_wine():
    """Skips the calling test when Windows programs cannot run here."""
    if not WINE_AVAILABLE:
        pytest.skip("needs Wine, and this machine cannot run 32-bit x86 code")


def wine_env():
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", str(BUILD / "wineprefix"))
    env["WINEDEBUG"] = "-all"
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d")
    return env


def run_wine(args, timeout=120, **kw):
    """Runs a Windows program (path first) under Wine; returns CompletedProcess."""
    need_wine()
    return subprocess.run([str(WINE_RUN)] + [str(a) for a in args], env=wine_env(),
                          capture_output=True, timeout=timeout, **kw)


@pytest.fixture(scope="session")
def stub_exe():
    p = WIN32 / "setup" / "setup.exe"
    assert p.is_file(), f"missing {p}: build first"
    return p


@pytest.fixture(scope="session")
def drive_c():
    need_wine()
    return Path(wine_env()["WINEPREFIX"]) / "drive_c"
