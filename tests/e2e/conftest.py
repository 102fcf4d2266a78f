"""Shared fixtures of the end-to-end tests: paths of the built programs and a
runner for Windows programs under Wine with the build tree's private prefix."""
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / os.environ.get("BUILD_DIR", "build")
HOST = BUILD / "host"
WIN32 = BUILD / "win32"
WINE_RUN = ROOT / "scripts" / "wine-run.sh"


def wine_env():
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", str(BUILD / "wineprefix"))
    env["WINEDEBUG"] = "-all"
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d")
    return env


def run_wine(args, timeout=120, **kw):
    """Runs a Windows program (path first) under Wine; returns CompletedProcess."""
    return subprocess.run([str(WINE_RUN)] + [str(a) for a in args], env=wine_env(),
                          capture_output=True, timeout=timeout, **kw)


@pytest.fixture(scope="session")
def stub_exe():
    p = WIN32 / "setup" / "setup.exe"
    assert p.is_file(), f"missing {p}: build first"
    return p


@pytest.fixture(scope="session")
def drive_c():
    return Path(wine_env()["WINEPREFIX"]) / "drive_c"
