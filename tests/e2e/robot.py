"""A thin wrapper over uirobot.exe, the Win32 helper that finds the setup's
dialogs in another process and drives them as a person would, plus fixtures
for the robot, for programs started in the background and for screenshots.

Use in a test module:  from robot import robot, spawn, screenshot  # noqa: F401
"""
import os
import subprocess
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

from conftest import WIN32, WINE_RUN, need_wine, wine_env

ROBOT_EXE = WIN32 / "tests" / "robot" / "uirobot.exe"
GALLERY_EXE = WIN32 / "tests" / "robot" / "dlggallery.exe"

# Button ids of dialogs and system message boxes.
IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO = 1, 2, 3, 4, 5, 6, 7
# The static control of a message box that holds its text.
MSGBOX_TEXT = 0xFFFF


class RobotError(Exception):
    """uirobot failed: code 1 timeout, 2 usage or missing control, 3 action failed."""

    def __init__(self, args, code, stderr):
        super().__init__(f"uirobot {' '.join(map(str, args))}: exit {code}: {stderr.strip()}")
        self.code = code
        self.stderr = stderr


@dataclass
class Control:
    id: int
    cls: str
    style: int
    px: tuple      # x, y, w, h in pixels, relative to the client area
    dlu: tuple     # x, y, w, h in dialog units (estimate, may be off by one)
    text: str


def run_wine_files(args, timeout=120):
    """Like conftest's run_wine, but the output goes through temporary files:
    Wine's helper processes (wineserver, services) that the call happens to
    start inherit its output handles and would keep pipes open for ever.
    Returns (exit code, stdout bytes, stderr bytes)."""
    need_wine()
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.run([str(WINE_RUN)] + [str(a) for a in args], env=wine_env(),
                              stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=timeout)
        out.seek(0)
        err.seek(0)
        return proc.returncode, out.read(), err.read()


def _unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"r": "\r", "n": "\n", "t": "\t", "\\": "\\"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


class Robot:
    def __init__(self, exe=ROBOT_EXE, timeout=10):
        self.exe = Path(exe)
        self.timeout = timeout

    def run(self, *args, timeout=None):
        """Runs one robot command; returns its stdout (text); raises RobotError."""
        t = self.timeout if timeout is None else timeout
        args = [str(a) for a in args] + ["--timeout", str(t)]
        code, out, err = run_wine_files([self.exe] + args, timeout=t + 60)
        if code != 0:
            raise RobotError(args, code, err.decode("cp1252", "replace"))
        return out.decode("cp1252", "replace")

    def wait(self, title, timeout=None):
        """Waits for a visible top-level window titled exactly title; returns its handle."""
        return int(self.run("wait", title, timeout=timeout).strip(), 16)

    def gone(self, title, timeout=None):
        self.run("gone", title, timeout=timeout)

    def exists(self, title):
        return any(t == title for _, _, t in self.windows())

    def windows(self):
        rows = []
        for line in self.run("windows").splitlines():
            handle, cls, title = (line.split("\t") + ["", ""])[:3]
            rows.append((int(handle, 16), cls, title))
        return rows

    def list(self, title):
        controls = []
        for line in self.run("list", title).splitlines():
            cid, cls, style, px, dlu, text = line.split("\t", 5)
            controls.append(Control(int(cid), cls, int(style, 16), tuple(map(int, px.split(","))),
                                    tuple(map(int, dlu.split(","))), _unescape(text)))
        return controls

    def rect(self, title):
        return tuple(map(int, self.run("rect", title).strip().split(",")))

    def text(self, title, cid):
        out = self.run("text", title, cid)
        return out[:-1] if out.endswith("\n") else out

    def title(self, title):
        return self.text(title, "title")

    def type(self, title, cid, text):
        self.run("type", title, cid, text)

    def click(self, title, cid):
        self.run("click", title, cid)

    def command(self, title, cid, code=0):
        self.run("command", title, cid, code)

    def key(self, title, key):
        """key: ENTER, ESCAPE, TAB, SPACE or a virtual-key number."""
        self.run("key", title, key)

    def close(self, title):
        """The title bar's close box; RobotError (code 3) when the window has none."""
        self.run("close", title)

    def msgbox(self, title):
        """A message box: (text, [(button id, label), ...])."""
        lines = self.run("msgbox", title).splitlines()
        buttons = [(int(i), label) for i, label in (l.split("\t", 1) for l in lines[1:])]
        return _unescape(lines[0]), buttons

    def items(self, title, cid):
        """The rows of a list view: a list of lists of column texts."""
        return [[_unescape(t) for t in line.split("\t")] for line in self.run("items", title, cid).splitlines()]

    def folder(self, title, path=None):
        """Folder browser: selects path and presses OK, or presses Cancel when path is None."""
        self.run("folder", title, path if path is not None else "--cancel")


class Spawned:
    """A Windows program running in the background under Wine."""

    def __init__(self, args):
        need_wine()
        self.out = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([str(WINE_RUN)] + [str(a) for a in args], env=wine_env(),
                                     stdin=subprocess.DEVNULL, stdout=self.out, stderr=subprocess.DEVNULL)

    def finish(self, timeout=60):
        """Waits for the end; returns (exit code, stdout text)."""
        self.proc.wait(timeout=timeout)
        self.out.seek(0)
        return self.proc.returncode, self.out.read().decode("cp1252", "replace").replace("\r\n", "\n")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.out.close()


@pytest.fixture(scope="session")
def robot():
    assert ROBOT_EXE.is_file(), f"missing {ROBOT_EXE}: build first"
    return Robot()


@pytest.fixture
def spawn():
    """spawn(args) starts a Windows program in the background; all are killed at the end."""
    started = []

    def start(args):
        s = Spawned(args)
        started.append(s)
        return s

    yield start
    for s in started:
        s.kill()


def take_screenshot(path, crop=None):
    """Writes a PNG of the X display (DISPLAY); crop = (x, y, w, h) in screen pixels."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    cmd = ["import", "-window", "root", "-display", os.environ["DISPLAY"]]
    if crop:
        x, y, w, h = crop
        cmd += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
    subprocess.run(cmd + [str(path)], check=True, timeout=60)
    return path


@pytest.fixture
def screenshot(tmp_path):
    """screenshot(name, crop=None) saves tmp_path/name.png and returns its path."""
    def shoot(name, crop=None):
        time.sleep(0.3)  # let the window paint
        return take_screenshot(tmp_path / f"{name}.png", crop)
    return shoot
