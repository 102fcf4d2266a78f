"""Interactive component downloads from a local HTTP server, driven by the UI
robot: the download dialog's list and texts, the request the setup sends,
one and two packages, failed downloads (WebSize 0, an error page, a hash
that does not match), Abort answered No then Yes against a slow server, the
progress text of a package past 25 MB, and the missing Internet library.

Wine's processes get an environment without proxy variables."""
import hashlib
import re
import subprocess
import time
from pathlib import Path

import pytest

from conftest import HOST, ROOT
from httpserver import PackageServer, header, without_proxy
from robot import IDNO, IDOK, IDYES, robot  # noqa: F401
from setuphelpers import (build_setup, drive_c, fresh_dir, killed_on_exit, seeded_bytes, temp_dir, wait_for, win_path,
                          wine_env)

STGTOOL = HOST / "tools" / "stgtool"
TITLE = "Ravudure Dudor"
LIST, STATUS, TEXT, PROGRESS1, PROGRESS2 = 101, 102, 103, 105, 106
AGENT = "Lumara Ravudure Dudor"


@pytest.fixture
def root(request):
    return fresh_dir(drive_c() / "sxtests" / request.node.name.replace("[", "_").replace("]", ""))


@pytest.fixture
def server():
    with PackageServer(slow_chunk=4096, slow_pause=0.25, extra=300000) as s:
        yield s


def start(exe, extra_env=None):
    env = without_proxy(wine_env())
    if extra_env:
        env.update(extra_env)
    return subprocess.Popen([str(ROOT / "scripts" / "wine-run.sh"), str(exe)], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_package(tmp_path, name, files):
    """A container made by stgtool from files {name: bytes}; returns its bytes."""
    src = Path(tmp_path) / f"src-{name}"
    src.mkdir(parents=True, exist_ok=True)
    paths = []
    for file_name, data in files.items():
        (src / file_name).write_bytes(data)
        paths.append(str(src / file_name))
    out = Path(tmp_path) / f"{name}.stg"
    r = subprocess.run([str(STGTOOL), "create", str(out), *paths], capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stdout + r.stderr
    return out.read_bytes()


def format_size(n):
    """The setup's size text for sizes below 1,024,000 bytes (no separators involved)."""
    return "None" if n == 0 else f"{n}B" if n < 1024 else f"{n // 1024}K"


def format_duration(seconds):
    h, m, s = seconds // 3600, seconds // 60 % 60, seconds % 60
    return f"{h} hour {m} min {s} sec" if h else f"{m} min {s} sec"


def build(tmp_path, root, components):
    """A setup that needs the components [{name, url, size, files: {name: bytes}, sha?}]; each
    file goes to <root>\\<component>\\<file>."""
    inf = []
    for c in components:
        lines = [f"[{c['name']}]", f"Description=The {c['name']} component", f"WebAddress={c['url']}",
                 f"WebSize={c['size']}", f"FileCount={len(c['files'])}"]
        for i, file_name in enumerate(c["files"], 1):
            lines.append(f"File{i}={win_path(root)}\\{c['name']}\\{file_name}")
        if c.get("sha"):
            lines.append(f"WebSHA256={c['sha']}")
        inf.append("\n".join(lines))
    project = f"""
[Setup]
Silent = no
AskFolder = no
NoFinalMessage = yes
DefaultFolder = {win_path(root)}\\product
ComponentInf = {{dir}}/components.inf
[Strings]
SetupName = Download Setup
ProductName = Download Product
[Files]
File = {{dir}}/readme.txt
[Components]
""" + "".join(f"Component = {c['name']}\n" for c in components)
    return build_setup(tmp_path, project, {"readme.txt": b"product\r\n",
                                           "components.inf": "\r\n\r\n".join(inf) + "\r\n"})


def open_download_dialog(robot):  # noqa: F811
    """Answers the question with its default (download automatically) and
    waits for the download dialog, which has the same title."""
    robot.wait(TITLE, timeout=60)
    assert robot.text(TITLE, 101) == "&Download automatically from the Internet"
    robot.click(TITLE, IDOK)

    def has_list():
        try:
            return any(c.cls.lower() == "syslistview32" for c in robot.list(TITLE))
        except Exception:
            return False  # between the two dialogs

    assert wait_for(has_list, timeout=30)


def packages_left(*names):
    """Downloaded packages still in the temporary folder (any subfolder)."""
    return [p for p in temp_dir().rglob("*") if p.is_file() and p.stem in names]


def finish(proc, timeout=90):
    proc.wait(timeout=timeout)
    return proc.returncode


# One package and two: the list (name, size, address), the status bar's
# total and time, the request headers, the dialog closing by itself, the
# files in place, the packages deleted. With two, the second comes slowly:
# while it downloads, the list shows only it and the total drops to its size.
@pytest.mark.parametrize("count", [1, 2])
def test_download_installs_the_components(tmp_path, root, robot, server, count):  # noqa: F811
    components = []
    for i in range(count):
        name = f"Runtime {i + 1}"
        # The second is slow enough (about 50 pieces) to be seen alone in the list.
        files = {f"lib{i + 1}.dll": seeded_bytes(20000 + 180000 * i, 100 + i) + b"x" * 30000,
                 f"data{i + 1}.txt": b"data %d\r\n" % i}
        package = make_package(tmp_path, name, files)
        server.add(f"r{i + 1}.stg", package)
        route = "slow" if i == 1 else "pkg"
        components.append({"name": name, "url": server.url(f"/{route}/r{i + 1}.stg"), "size": len(package),
                           "files": files})
    exe = build(tmp_path, root, components)
    with killed_on_exit(start(exe)) as proc:
        open_download_dialog(robot)
        assert robot.items(TITLE, LIST) == [[c["name"], format_size(c["size"]), c["url"]] for c in components]
        total = sum(c["size"] for c in components)
        assert robot.text(TITLE, STATUS) == (f"The total size is {format_size(total)}. Download time for 28.8 BPS "
                                             f"modem is {format_duration(total // 3600)}")
        assert (robot.text(TITLE, IDOK), robot.text(TITLE, 2)) == ("&Download", "&Abort")
        robot.click(TITLE, IDOK)
        if count == 2:
            second = components[1]
            assert wait_for(lambda: robot.items(TITLE, LIST) == [[second["name"], format_size(second["size"]),
                                                                   second["url"]]], timeout=30)
            assert robot.text(TITLE, STATUS).startswith(f"The total size is {format_size(second['size'])}.")
            assert robot.text(TITLE, PROGRESS1) == f"Downloading {second['name']} ..."
        robot.gone(TITLE, timeout=60)
        assert finish(proc) == 0
    for c in components:
        for file_name, data in c["files"].items():
            assert (root / c["name"] / file_name).read_bytes() == data
        path = "/" + c["url"].split("/", 3)[3]
        requests = server.requests_for(path)
        assert len(requests) == 1, path
        assert requests[0]["method"] == "GET"
        assert header(requests[0], "Accept") == "*/*"
        assert header(requests[0], "User-Agent") == AGENT
    assert packages_left(*(c["name"] for c in components)) == []


# Failed downloads: WebSize 0 fetches nothing; an error page and a package
# whose hash does not match are never opened. The dialog closes by itself,
# nothing is installed, no package is left behind.
@pytest.mark.parametrize("case", ["websize0", "404", "sha-mismatch"])
def test_failed_download_installs_nothing(tmp_path, root, robot, server, case):  # noqa: F811
    files = {"lib.dll": seeded_bytes(5000, 2)}
    package = make_package(tmp_path, "Runtime", files)
    server.add("r.stg", package)
    component = {"name": "Runtime", "url": server.url("/pkg/r.stg"), "size": len(package), "files": files}
    if case == "websize0":
        component["size"] = 0
    elif case == "404":
        component["url"] = server.url("/status/404")
    else:
        component["sha"] = hashlib.sha256(package + b"!").hexdigest()
    exe = build(tmp_path, root, [component])
    with killed_on_exit(start(exe)) as proc:
        open_download_dialog(robot)
        robot.click(TITLE, IDOK)
        robot.gone(TITLE, timeout=60)
        finish(proc)
    assert not (root / "Runtime" / "lib.dll").exists()
    path = "/" + component["url"].split("/", 3)[3]
    assert len(server.requests_for(path)) == (0 if case == "websize0" else 1)
    assert packages_left("Runtime") == []


# Abort during a slow transfer: the question (texts, Yes and No); No lets
# the transfer go on; Yes ends the dialog within about 6 seconds; nothing is
# installed and the partial package is deleted.
def test_abort_no_then_yes(tmp_path, root, robot, server):  # noqa: F811
    files = {"big.dll": seeded_bytes(400000, 3)}
    package = make_package(tmp_path, "Runtime", files)
    server.add("r.stg", package)  # about 100 pieces of 4 KiB, a quarter second each
    exe = build(tmp_path, root, [{"name": "Runtime", "url": server.url("/slow/r.stg"), "size": len(package),
                                  "files": files}])
    with killed_on_exit(start(exe)) as proc:
        open_download_dialog(robot)
        robot.click(TITLE, IDOK)
        assert wait_for(lambda: robot.text(TITLE, PROGRESS2).startswith("%"), timeout=30)
        robot.click(TITLE, 2)
        robot.wait("Confirmation", timeout=20)
        text, buttons = robot.msgbox("Confirmation")
        assert text == ("This will terminate the setup. You can continue it later.\r\n\r\n"
                        "Are you sure you want to exit setup?")
        assert sorted(b for b, _ in buttons) == [IDYES, IDNO]
        robot.click("Confirmation", IDNO)
        robot.gone("Confirmation")
        before = robot.text(TITLE, PROGRESS2)
        assert wait_for(lambda: robot.text(TITLE, PROGRESS2) != before, timeout=20)  # the transfer goes on
        robot.click(TITLE, 2)
        robot.wait("Confirmation", timeout=20)
        started = time.monotonic()
        robot.click("Confirmation", IDYES)
        robot.gone(TITLE, timeout=30)
        assert time.monotonic() - started < 8  # 5 s at most for the thread, plus the robot's own time
        finish(proc)
    assert not (root / "Runtime" / "big.dll").exists()
    assert packages_left("Runtime") == []


# A package past 25 MB, larger than its WebSize: the second progress text
# keeps its form and never shows a negative percent; it passes 100.
def test_large_package_progress_text(tmp_path, root, robot):  # noqa: F811
    files = {"large.bin": seeded_bytes(26 * 1024 * 1024, 4)}
    package = make_package(tmp_path, "Runtime", files)
    with PackageServer(slow_chunk=1024 * 1024, slow_pause=0.6) as slow:
        slow.add("r.stg", package)
        exe = build(tmp_path, root, [{"name": "Runtime", "url": slow.url("/slow/r.stg"),
                                      "size": 22 * 1024 * 1024, "files": files}])
        seen = []
        with killed_on_exit(start(exe)) as proc:
            open_download_dialog(robot)
            robot.click(TITLE, IDOK)
            while robot.exists(TITLE):
                try:
                    seen.append(robot.text(TITLE, PROGRESS2))
                except Exception:
                    break  # the dialog closed between the two calls
            finish(proc)
    percents = [int(m.group(1)) for m in (re.fullmatch(r"%(-?\d+) Done \((.+)\)", t) for t in seen if t) if m]
    assert [t for t in seen if t and not re.fullmatch(r"%\d+ Done \(.+\)", t)
            and t not in ("Connecting to the Internet...",)] == []
    assert percents and min(percents) >= 0
    assert max(percents) > 100
    assert (root / "Runtime" / "large.bin").stat().st_size == len(files["large.bin"])


# Without the Internet library: the fatal box (text, caption) when the
# download starts, and exit code 8.
def test_missing_internet_library(tmp_path, root, robot, server):  # noqa: F811
    files = {"lib.dll": b"x" * 1000}
    package = make_package(tmp_path, "Runtime", files)
    server.add("r.stg", package)
    exe = build(tmp_path, root, [{"name": "Runtime", "url": server.url("/pkg/r.stg"), "size": len(package),
                                  "files": files}])
    overrides = wine_env().get("WINEDLLOVERRIDES", "")
    with killed_on_exit(start(exe, {"WINEDLLOVERRIDES": (overrides + ";" if overrides else "") + "wininet="})) as proc:
        open_download_dialog(robot)
        robot.click(TITLE, IDOK)
        robot.wait("Fatal Error", timeout=30)
        text, buttons = robot.msgbox("Fatal Error")
        assert text == "Failed to load Windows Internet subsystem (wininet.dll)"
        assert [b for b, _ in buttons] == [IDOK]
        robot.click("Fatal Error", IDOK)
        assert finish(proc) == 8
    assert server.requests == []
