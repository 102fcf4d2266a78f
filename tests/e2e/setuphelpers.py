"""Helpers of the setup end-to-end tests: build a setup from a project text
with sxbuild, write raw archives for damaged-input cases, run setups under
Wine, read the run log, query the registry and snapshot drive_c."""
import contextlib
import os
import random
import re
import shutil
import struct
import subprocess
import time
import zlib
from pathlib import Path

import pytest

from conftest import HOST, MINGW, ROOT, WIN32, WINE_AVAILABLE, need_wine, wine_env

SXBUILD = HOST / "tools" / "sxbuild"
STUB = WIN32 / "setup" / "setup.exe"
UNINSTALLER = WIN32 / "tools" / "ovUninst.exe"
CLIENT_DLL = WIN32 / "examples" / "samples" / "client" / "ovseClient.dll"
DIALOG_DLL = WIN32 / "examples" / "samples" / "dialoglib" / "DialogLib.dll"

# Option bits of the archive header.
soPassword, soRunCommand, soDefaultFolder, soNumberedFolder = 0x1, 0x2, 0x4, 0x8
soAskFolder, soDeleteTempFiles, soWaitForCommand, soDialogLibrary = 0x10, 0x20, 0x40, 0x80
soClientLibrary, soUninstall, soNoFinalMessage, soSilent = 0x100, 0x200, 0x400, 0x800

SEPARATOR = "\r\n\r\n\r\n" + "*" * 80 + "\r\n"

# Every Wine program of these tests talks to one wineserver: keeping it up
# between programs saves a server start per call (the test scripts stop it
# with "wineserver -k" at the end).
def keep_wineserver():
    if not WINE_AVAILABLE:
        return
    subprocess.Popen(["wineserver", "-p"], env=wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                     start_new_session=True)
    # The first program starts Wine's background services, which then live
    # as long as the server: they must not inherit a pipe that a later
    # caller waits on, so they get none.
    subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), "reg", "query", r"HKCU\Software"], env=wine_env(),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=120)


keep_wineserver()


def prefix():
    need_wine()
    return Path(wine_env()["WINEPREFIX"])


def drive_c():
    return prefix() / "drive_c"


def win_path(path):
    """The Windows form (C:\\...) of a path under drive_c."""
    # Not resolved: shell folders of the prefix are links into the host's home.
    rel = os.path.relpath(os.path.abspath(str(path)), os.path.abspath(str(drive_c())))
    assert not rel.startswith(".."), path
    return "C:\\" + rel.replace("/", "\\") if rel != "." else "C:\\"


def host_path(win):
    """The host path of a C:\\ path."""
    assert win[:3].upper() == "C:\\", win
    return drive_c() / win[3:].replace("\\", "/")


def temp_dir():
    """The host path of the prefix user's temporary folder (GetTempPath)."""
    found = [p / "Temp" for p in (drive_c() / "users").iterdir() if p.name != "Public" and (p / "Temp").is_dir()]
    assert len(found) == 1, found
    return found[0]


def find_file(*candidates):
    for c in candidates:
        if Path(c).is_file():
            return Path(c)
    return None


def build_setup(tmp_path, project, files=None, name="setup", extra_args=()):
    """Writes the product files (name -> bytes, relative to the project) and
    the project text into tmp_path, builds it with sxbuild and returns the
    setup's path. The project may refer to {dir} (the project folder)."""
    tmp_path = Path(tmp_path)
    for rel, data in (files or {}).items():
        p = tmp_path / rel
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data if isinstance(data, bytes) else data.encode("latin-1"))
    ini = tmp_path / f"{name}.ini"
    ini.write_text(project.replace("{dir}", str(tmp_path)), encoding="latin-1", newline="\r\n")
    out = tmp_path / f"{name}.exe"
    r = subprocess.run([str(SXBUILD), str(ini), "-o", str(out), "--stub", str(STUB), "--quiet", *extra_args],
                       capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, f"sxbuild failed:\n{r.stdout}\n{r.stderr}"
    return out


# ---- raw archives (for inputs the builder refuses to make) ---------------------

def _counted(text):
    b = text.encode("latin-1")
    return struct.pack("<H", len(b)) + b


def raw_archive(options=soSilent, strings=("Setup", "Product"), files=(), folders=(), script=-1,
                temp_folder=-1, default_folder="", table=None):
    """An archive as the setup reads it, without password. files: list of
    (name, data, compressed, folder_index[, damage]); stored data follow the
    header. damage, when given, changes the stored bytes (a function)."""
    out = struct.pack("<Hh", options, 0)
    out += struct.pack("<h", len(files))
    stored = []
    for name, data, compressed, folder, *damage in files:
        body = zlib.compress(data) if compressed else data
        if damage:
            body = damage[0](body)
        out += _counted(name) + struct.pack("<Biiii", 1 if compressed else 0, len(data), 0, len(body), folder)
        stored.append(body)
    out += struct.pack("<hh", temp_folder, script)
    out += _counted(default_folder) + _counted("") + _counted("")
    out += struct.pack("<i", len(folders)) + b"".join(_counted(f) for f in folders)
    out += struct.pack("<i", 0) + struct.pack("<I", 0)
    out += _counted("") * 4
    out += struct.pack("<HH", 0, 0) + struct.pack("<Bd", 0, 0.0) + struct.pack("<B", 0)
    out += _counted("\r\n".join(strings) if table is None else table)
    return out + b"".join(stored)


def make_resource_module(tmp_path, resources, name="archive"):
    """A resource-only DLL holding RCDATA resources (name -> bytes), made with
    the cross tools; the setup can take its archive from such a file."""
    tmp_path = Path(tmp_path)
    rc = tmp_path / f"{name}.rc"
    lines = ["#include <windows.h>"]
    for res, data in resources.items():
        f = tmp_path / f"{name}_{res}.bin"
        f.write_bytes(data)
        lines.append(f'{res} RCDATA "{f.name}"')
    rc.write_text("\n".join(lines) + "\n")
    obj = tmp_path / f"{name}.res.o"
    subprocess.run([f"{MINGW}-windres", "-I", str(tmp_path), str(rc), "-O", "coff", "-o", str(obj)],
                   check=True, cwd=tmp_path, capture_output=True)
    dll = tmp_path / f"{name}.dll"
    subprocess.run([f"{MINGW}-gcc", "-shared", "-nostdlib", "-Wl,-e,0", "-o", str(dll), str(obj)],
                   check=True, capture_output=True)
    return dll


# ---- running ----------------------------------------------------------------

def log_path(exe):
    """C:\\<program name>.log of a setup program, as a host path."""
    return drive_c() / (Path(exe).stem + ".log")


def run_setup(exe, *args, timeout=120, env=None):
    """Runs a setup under Wine (unattended runs end by themselves); removes an
    old log first. Returns (exit code, log text or None)."""
    log = log_path(exe)
    if log.exists():
        log.unlink()
    e = wine_env()
    e.update(env or {})
    r = subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), str(exe), *[str(a) for a in args]], env=e,
                       capture_output=True, timeout=timeout)
    text = log.read_bytes().decode("latin-1") if log.exists() else None
    return r.returncode, text


def start_setup(exe, *args, env=None):
    """Starts a setup in the background (for the UI robot); returns the Popen."""
    need_wine()
    log = log_path(exe)
    if log.exists():
        log.unlink()
    e = wine_env()
    e.update(env or {})
    return subprocess.Popen([str(ROOT / "scripts" / "wine-run.sh"), str(exe), *[str(a) for a in args]], env=e,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


@contextlib.contextmanager
def killed_on_exit(proc):
    """Yields the process and kills it when the block ends with it still
    running, so that a test failing half-way through a dialog leaves no
    program behind for the next test."""
    try:
        yield proc
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def running_setup(exe, *args, env=None):
    """start_setup for a with-block: `with running_setup(exe) as proc:`."""
    return killed_on_exit(start_setup(exe, *args, env=env))


def seeded_bytes(size, seed):
    """size bytes that look random (zlib cannot shrink them) and are the
    same in every run, so that a failure can be reproduced."""
    return random.Random(seed).randbytes(size)


def parse_log(text):
    """Splits a run log into its first line and its entries [(kind, tag, message)]."""
    parts = text.split(SEPARATOR)
    entries = []
    for p in parts[1:]:
        m = re.match(r"(Error|Hidden Message) \((.*?)\): \r\n\r\n(.*)\Z", p, re.S)
        assert m, f"malformed entry: {p!r}"
        entries.append((m.group(1), m.group(2), m.group(3)))
    return parts[0], entries


# ---- registry ---------------------------------------------------------------

def reg_query(key, value=None):
    """The data of a value (None when missing), or with value None a dict of
    all values of the key (None when the key is missing). Types are kept as
    (type, text) pairs."""
    args = ["reg", "query", key]
    r = subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), *args], env=wine_env(), capture_output=True,
                       timeout=60)
    if r.returncode != 0:
        return None
    values = {}
    for line in r.stdout.decode("latin-1").splitlines():
        m = re.match(r"^    (.*?)    (REG_\w+)    ?(.*)$", line)
        if m:
            name = "" if m.group(1) == "(Default)" else m.group(1)
            values[name] = (m.group(2), m.group(3).rstrip("\r"))
    if value is None:
        return values
    return values.get(value)


def reg_add(key, name, data):
    """Writes a string value (creating the key)."""
    subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), "reg", "add", key, "/v", name, "/d", data, "/f"],
                   env=wine_env(), capture_output=True, timeout=60, check=True)


def reg_delete(key):
    subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), "reg", "delete", key, "/f"], env=wine_env(),
                   capture_output=True, timeout=60)


def uninstall_registered(product):
    """Runs the QuietUninstallString registered for product, when there is
    one; returns the uninstaller's exit code, or None when the product is not
    registered."""
    quiet = reg_query(rf"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{product}",
                      "QuietUninstallString")
    if not quiet:
        return None
    program, _, record = quiet[1].partition(" /silent ")
    r = subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), program.strip().strip('"'), "/silent",
                        record.strip().strip('"')], env=wine_env(), capture_output=True, timeout=180)
    return r.returncode


@pytest.fixture
def uninstall_after():
    """uninstall_after(product): the product is removed through its
    registered uninstall when the test ends, whatever its outcome, so that
    the prefix is left as the test found it for the tests that follow."""
    products = []
    yield products.append
    for product in products:
        assert uninstall_registered(product) in (0, None), product


def flush_registry():
    """Stops the wineserver so that it writes the registry files, then starts
    it again."""
    subprocess.run(["wineserver", "-k"], env=wine_env(), capture_output=True, timeout=120)
    subprocess.run(["wineserver", "-w"], env=wine_env(), capture_output=True, timeout=120)
    keep_wineserver()


def drop_if_empty(key):
    """Deletes a key that holds no values and no subkeys (left by other tests)."""
    r = subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), "reg", "query", key], env=wine_env(),
                       capture_output=True, timeout=60)
    if r.returncode != 0:
        return
    lines = [l for l in r.stdout.decode("latin-1").splitlines() if l.strip()]
    if all(l.strip().upper() == key.upper().replace("HKLM", "HKEY_LOCAL_MACHINE").replace("HKCU", "HKEY_CURRENT_USER")
           for l in lines):
        reg_delete(key)


def drop_empty_maker_keys():
    """The maker's shared keys, when other tests left them empty: an uninstall
    removes them once empty, so a test that compares the registry before and
    after starts without them."""
    for key in (r"HKLM\Software\Orvale Systems\Uninstall Icons", r"HKLM\Software\Orvale Systems",
                r"HKCU\Software\Orvale Systems"):
        drop_if_empty(key)


def registry_snapshot():
    """The registry files' keys and values, without the lines Wine rewrites
    on its own (time stamps of keys, the volatile parts)."""
    flush_registry()
    snap = {}
    for name in ("system.reg", "user.reg"):
        key = None
        for line in (prefix() / name).read_text(encoding="latin-1").splitlines():
            if line.startswith("["):
                key = re.sub(r"\]\s+\d+$", "]", line)
                snap.setdefault((name, key), set())
            elif key and line and not line.startswith("#"):
                snap[(name, key)].add(line)
    return snap


def tree_snapshot(root):
    """Relative path -> size of every file (and folder, size None) under root."""
    root = Path(root)
    snap = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for d in dirnames:
            snap[os.path.relpath(os.path.join(dirpath, d), root)] = None
        for f in filenames:
            p = os.path.join(dirpath, f)
            try:
                snap[os.path.relpath(p, root)] = os.path.getsize(p)
            except OSError:
                pass
    return snap


def wait_for(predicate, timeout=20.0, step=0.1):
    end = time.time() + timeout
    while time.time() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def fresh_dir(path):
    path = Path(path)
    if path.exists():
        shutil.rmtree(path)
    path.mkdir(parents=True)
    return path


# ---- small Windows helpers, compiled on first use -----------------------------

_HELPERS = {
    # Reads a shell link through the shell's link object: prints its target,
    # arguments and icon location, one per line.
    "lnkread": r'''
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    CoInitialize(NULL);
    IShellLinkA* link = NULL;
    if (FAILED(CoCreateInstance(&CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, &IID_IShellLinkA, (void**)&link)))
        return 3;
    IPersistFile* file = NULL;
    if (FAILED(link->lpVtbl->QueryInterface(link, &IID_IPersistFile, (void**)&file))) return 3;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, wide, MAX_PATH);
    if (FAILED(file->lpVtbl->Load(file, wide, STGM_READ))) return 4;
    char path[MAX_PATH] = "", args[1024] = "", icon[MAX_PATH] = "";
    int index = 0;
    link->lpVtbl->GetPath(link, path, MAX_PATH, NULL, SLGP_RAWPATH);
    link->lpVtbl->GetArguments(link, args, sizeof(args));
    link->lpVtbl->GetIconLocation(link, icon, MAX_PATH, &index);
    printf("%s\n%s\n%s\n", path, args, icon);
    return 0;
}
''',
    # Holds a file open without sharing until a release file appears (or 60 s).
    "lockfile": r'''
#include <windows.h>
int main(int argc, char** argv)
{
    if (argc < 4) return 2;
    HANDLE h = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return 3;
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    CloseHandle(ready);
    for (int i = 0; i < 600 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
    CloseHandle(h);
    return 0;
}
''',
}


def helper_exe(name):
    """Builds (once per build tree) and returns a small helper program."""
    out_dir = WIN32 / "e2e-helpers"
    out_dir.mkdir(parents=True, exist_ok=True)
    exe = out_dir / f"{name}.exe"
    src = out_dir / f"{name}.c"
    if not exe.exists() or not src.exists() or src.read_text() != _HELPERS[name]:
        src.write_text(_HELPERS[name])
        subprocess.run([f"{MINGW}-gcc", "-O1", "-o", str(exe), str(src), "-lole32", "-luuid", "-static"],
                       check=True, capture_output=True)
    return exe


def read_link(lnk):
    """(target, arguments, icon) of a .lnk file, read through the shell link object."""
    r = subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), str(helper_exe("lnkread")), win_path(lnk)],
                       env=wine_env(), capture_output=True, timeout=60)
    assert r.returncode == 0, r
    lines = r.stdout.decode("latin-1").replace("\r", "").split("\n")
    return lines[0], lines[1], lines[2]


_SHELL_FOLDERS = {}


def private_desktop():
    """Wine links the prefix user's desktop to the host's home folder, which
    every prefix on the machine shares; links made by the tests belong in the
    prefix. Makes the desktop a folder of its own (once)."""
    desktop = shell_folder("Desktop")
    if desktop.is_symlink():
        desktop.unlink()
        desktop.mkdir()
    return desktop


def shell_folder(name):
    """The host path of a shell folder of the prefix's user ("Desktop", "Programs")."""
    if not _SHELL_FOLDERS:
        _SHELL_FOLDERS.update(reg_query(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"))
    return host_path(_SHELL_FOLDERS[name][1])
