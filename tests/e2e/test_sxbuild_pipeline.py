"""The builder in a release pipeline: byte-identical rebuilds, the plan of a
project, the progress line (only on a terminal), signing with osslsigncode,
and a setup made by CPack from a CMake project's install rules.

The tests that install under Wine are marked `wine` and skipped on machines
that cannot run 32-bit programs. The others run on the host."""
import os
import pty
import random
import select
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from conftest import HOST, MINGW, ROOT, WIN32, WINE_AVAILABLE, run_wine, wine_env
from setuphelpers import seeded_bytes, uninstall_after  # noqa: F401

SXBUILD = HOST / "tools" / "sxbuild"
STUB = WIN32 / "setup" / "setup.exe"
EXAMPLES = ROOT / "examples"

wine = pytest.mark.skipif(not WINE_AVAILABLE, reason="needs Wine, and this machine cannot run 32-bit x86 code")


def run(args, env=None, check=True, cwd=None):
    e = dict(os.environ)
    e.pop("SOURCE_DATE_EPOCH", None)
    e.update(env or {})
    r = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=300, env=e, cwd=cwd)
    if check:
        assert r.returncode == 0, f"{args} failed:\n{r.stdout}\n{r.stderr}"
    return r


def sxbuild(*args, **kw):
    return run([SXBUILD, *args], **kw)


def copy_examples(dest):
    """The example project and product in a folder of their own."""
    dest.mkdir(parents=True)
    shutil.copy(EXAMPLES / "example.ini", dest / "example.ini")
    shutil.copytree(EXAMPLES / "product", dest / "product")
    return dest / "example.ini"


def set_times(folder, seconds):
    for p in folder.rglob("*"):
        os.utime(p, (seconds, seconds))


# ---- reproducible output ------------------------------------------------------

# Two copies of the example in different folders, with different file times
# (the example gives its own FileDate), built with different thread counts:
# the same bytes. A stamp date taken from the build then comes from
# SOURCE_DATE_EPOCH, or from the newest input when it is not set.
def test_rebuilds_are_byte_identical(tmp_path):
    a = copy_examples(tmp_path / "one")
    b = copy_examples(tmp_path / "two" / "deeper")
    # A file large enough to be compressed in blocks on several threads.
    rnd = random.Random(13)
    big = bytes(rnd.choice(b"abcdefgh ") for _ in range(9 << 20))
    for p in (a, b):
        (p.parent / "product" / "big.bin").write_bytes(big)
    set_times(a.parent, 1_500_000_000)
    set_times(b.parent, 1_600_000_000)
    sxbuild(a, "-o", tmp_path / "a.exe", "--stub", STUB, "--quiet", "--threads", "1",
            "--set", "Files.File=" + str(a.parent / "product" / "big.bin"))
    time.sleep(1.1)
    sxbuild(b, "-o", tmp_path / "b.exe", "--stub", STUB, "--quiet", "--threads", "4",
            "--set", "Files.File=" + str(b.parent / "product" / "big.bin"))
    assert (tmp_path / "a.exe").read_bytes() == (tmp_path / "b.exe").read_bytes()
    assert "big.bin" in sxbuild("--list", tmp_path / "a.exe").stdout

    # No FileDate: the date of the build.
    for p in (a, b):
        text = p.read_text().replace("FileDate=2024-05-01 12:00:00\n", "")
        p.write_text(text)
    set_times(a.parent, 1_500_000_000)
    set_times(b.parent, 1_600_000_000)
    epoch = {"SOURCE_DATE_EPOCH": "1700000000"}
    sxbuild(a, "-o", tmp_path / "a.exe", "--stub", STUB, "--quiet", env=epoch)
    sxbuild(b, "-o", tmp_path / "b.exe", "--stub", STUB, "--quiet", env=epoch)
    assert (tmp_path / "a.exe").read_bytes() == (tmp_path / "b.exe").read_bytes()
    assert "FileDate: 45244.92592593 (2023-11-14 22:13:20)" in sxbuild("--dump", tmp_path / "a.exe").stdout

    # Without SOURCE_DATE_EPOCH: the newest input, here one file made newer
    # (the uninstaller, an input too, is a copy with an older time).
    uninst = tmp_path / "ovUninst.exe"
    shutil.copy(WIN32 / "tools" / "ovUninst.exe", uninst)
    os.utime(uninst, (1_500_000_000, 1_500_000_000))
    os.utime(a.parent / "product" / "readme.txt", (1_650_000_000, 1_650_000_000))
    sxbuild(a, "-o", tmp_path / "c.exe", "--stub", STUB, "--quiet", "--set", f"Setup.Uninstaller={uninst}")
    assert "(2022-04-15 05:20:00)" in sxbuild("--dump", tmp_path / "c.exe").stdout
    time.sleep(1.1)
    sxbuild(a, "-o", tmp_path / "d.exe", "--stub", STUB, "--quiet", "--set", f"Setup.Uninstaller={uninst}")
    assert (tmp_path / "c.exe").read_bytes() == (tmp_path / "d.exe").read_bytes()

    r = sxbuild(a, "-o", tmp_path / "e.exe", "--stub", STUB, env={"SOURCE_DATE_EPOCH": "tomorrow"}, check=False)
    assert r.returncode == 1 and "SOURCE_DATE_EPOCH" in r.stderr
    assert not (tmp_path / "e.exe").exists()


# ---- the plan -------------------------------------------------------------------

def test_plan_of_the_example(tmp_path):
    r = sxbuild("--plan", EXAMPLES / "example.ini")
    out = r.stdout
    for line in [
        "Target folder: <ProgramFilesDir>\\Example Product  =  C:\\Program Files\\Example Product\n",
        "    -> <ProgramFilesDir>\\Example Product\\docs\\guide.txt  =  "
        "C:\\Program Files\\Example Product\\docs\\guide.txt\n",
        "    -> <TempDir>\\Example Product Setup\\setup.inf  =  C:\\Windows\\Temp\\Example Product Setup\\setup.inf\n",
        "  <ProgramFilesDir>\\Example Product\\docs  =  C:\\Program Files\\Example Product\\docs [recorded",
        "registry: write HKEY_CURRENT_USER\\Software\\Orvale Systems\\Example Product : Version = string 1.0 "
        "[key recorded for uninstall]\n",
        "File dates: every extracted file dated 2024-05-01 12:00:00\n",
        "Uninstall entry: HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Example Product",
        "Offers to remove: Example Product Beta\n",
    ]:
        assert line in out, f"missing {line!r} in:\n{out}"
    assert not list(tmp_path.iterdir())  # nothing written anywhere we look
    # --set and --silent apply to the plan as to a build.
    out = sxbuild("--plan", EXAMPLES / "example.ini", "--silent", "--set",
                  "Setup.Uninstaller=" + str(EXAMPLES / "product" / "readme.txt")).stdout
    assert "Mode: unattended" in out
    assert "-> <CommonFilesDir>\\Orvale Systems\\ovUninst.exe" in out
    assert "does not carry" not in out


def test_plan_reports_mistakes_like_a_build(tmp_path):
    (tmp_path / "a.txt").write_text("a")
    ini = tmp_path / "p.ini"
    for text, says in [
        ("[Strings]\nSetupName=S\n[Files]\nFile=a.txt\nFile=missing.txt\n", "p.ini:5: missing source file"),
        ("[Strings]\nSetupName=S\n\n[Setup]\nAskFolder=perhaps\n", "p.ini:5: AskFolder: expected yes or no"),
    ]:
        ini.write_text(text)
        plan = sxbuild("--plan", ini, check=False)
        build = sxbuild(ini, "-o", tmp_path / "out.exe", "--stub", STUB, check=False)
        assert plan.returncode == 1 and says in plan.stderr, plan.stderr
        assert plan.stderr == build.stderr
        assert plan.stdout == ""
    assert sxbuild("--plan", check=False).returncode == 2


# ---- the progress line ------------------------------------------------------------

def big_project(tmp_path):
    data = tmp_path / "data"
    data.mkdir()
    for i in range(6):
        (data / f"f{i}.bin").write_bytes(seeded_bytes(1 << 20, 200 + i) + bytes(1 << 20))
    ini = tmp_path / "big.ini"
    ini.write_text("[Strings]\nSetupName=Big\n[Files]\nFile=data/*.bin\n")
    return ini


def run_on_pty(args, env):
    """Runs args with stdout and stderr on a terminal; returns all it wrote."""
    master, slave = pty.openpty()
    e = dict(os.environ)
    e.update(env)
    p = subprocess.Popen([str(a) for a in args], stdout=slave, stderr=slave, stdin=subprocess.DEVNULL, env=e)
    os.close(slave)
    out = b""
    while True:
        ready, _, _ = select.select([master], [], [], 60)
        if not ready:
            break
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        out += chunk
    p.wait(timeout=60)
    os.close(master)
    assert p.returncode == 0, out
    return out.decode("latin-1")


def test_progress_line_only_on_a_terminal(tmp_path):
    ini = big_project(tmp_path)
    now = {"SXBUILD_PROGRESS_AFTER_MS": "0"}
    # Redirected: never the line, even when it would show at once; the
    # summary stays.
    r = sxbuild(ini, "-o", tmp_path / "a.sxa", "--archive-only", env=now)
    assert "files" in r.stdout and "MB/s" not in r.stdout + r.stderr and "\r" not in r.stdout + r.stderr
    # On a terminal: files, bytes and rate, then the summary.
    out = run_on_pty([SXBUILD, ini, "-o", tmp_path / "b.sxa", "--archive-only"], now)
    assert "\r  " in out and "/6 files" in out and "MB/s" in out, out
    assert "b.sxa: 6 files" in out
    # --quiet: nothing at all.
    out = run_on_pty([SXBUILD, ini, "-o", tmp_path / "c.sxa", "--archive-only", "--quiet"], now)
    assert out == "", out
    # A build shorter than the delay shows no line.
    out = run_on_pty([SXBUILD, ini, "-o", tmp_path / "d.sxa", "--archive-only"],
                     {"SXBUILD_PROGRESS_AFTER_MS": "600000"})
    assert "MB/s" not in out and "d.sxa: 6 files" in out, out


# ---- signing ------------------------------------------------------------------

def make_cert(folder, password=None):
    key, cert = folder / "key.pem", folder / "cert.pem"
    args = ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-keyout", key, "-out", cert, "-days", "30",
            "-subj", "/CN=Pipeline Test Signer", "-addext", "extendedKeyUsage=codeSigning",
            "-addext", "keyUsage=digitalSignature"]
    if password:
        (folder / "pass.txt").write_text(password + "\n")
        args += ["-passout", "file:" + str(folder / "pass.txt")]
    else:
        args += ["-nodes"]
    run(args)
    return cert, key


needs_signing_tools = pytest.mark.skipif(not shutil.which("osslsigncode") or not shutil.which("openssl"),
                                         reason="osslsigncode or openssl missing")


@needs_signing_tools
def test_signed_setup_verifies_and_dumps(tmp_path):
    cert, key = make_cert(tmp_path, password="s3cret pass")
    out = tmp_path / "signed.exe"
    # Every build carries the same uninstaller, also the one whose stub is a
    # setup outside the build tree.
    uninst = "Setup.Uninstaller=" + str(WIN32 / "tools" / "ovUninst.exe")
    r = sxbuild(EXAMPLES / "example.ini", "-o", out, "--stub", STUB, "--sign-cert", cert, "--sign-key", key,
                "--sign-pass-file", tmp_path / "pass.txt", "--set", uninst)
    assert "signed setup" in r.stdout
    v = run(["osslsigncode", "verify", "-CAfile", cert, "-in", out])
    assert "Succeeded" in v.stdout
    d = sxbuild("--dump", out, "--verify")
    assert "Verify: all 6 files decode to their sizes." in d.stdout
    # The signature is only added: the unsigned build is the same image before it.
    sxbuild(EXAMPLES / "example.ini", "-o", tmp_path / "plain.exe", "--stub", STUB, "--quiet", "--set", uninst)
    plain = (tmp_path / "plain.exe").read_bytes()
    assert len(out.read_bytes()) > len(plain)
    assert not [p for p in tmp_path.iterdir() if ".part" in p.name or p.name.endswith(".log")]
    # A signed setup as the stub: its signature is dropped (it would no longer
    # match), the new setup reads back, and it can be signed again.
    again = tmp_path / "again.exe"
    sxbuild(EXAMPLES / "example.ini", "-o", again, "--stub", out, "--quiet", "--set", uninst)
    assert again.read_bytes() == plain
    r = run(["osslsigncode", "verify", "-CAfile", cert, "-in", again], check=False)
    assert r.returncode != 0
    sxbuild(EXAMPLES / "example.ini", "-o", again, "--stub", out, "--quiet", "--sign-cert", cert, "--sign-key", key,
            "--sign-pass-file", tmp_path / "pass.txt", "--set", uninst)
    run(["osslsigncode", "verify", "-CAfile", cert, "-in", again])


@needs_signing_tools
def test_signing_is_reproducible_with_source_date_epoch(tmp_path):
    cert, key = make_cert(tmp_path)
    env = {"SOURCE_DATE_EPOCH": "1700000000"}
    for name in ("a.exe", "b.exe"):
        sxbuild(EXAMPLES / "example.ini", "-o", tmp_path / name, "--stub", STUB, "--quiet",
                "--sign-cert", cert, "--sign-key", key, env=env)
        time.sleep(1.1)
    assert (tmp_path / "a.exe").read_bytes() == (tmp_path / "b.exe").read_bytes()


@needs_signing_tools
def test_signing_failures_leave_nothing(tmp_path):
    cert, key = make_cert(tmp_path, password="right")
    out = tmp_path / "out.exe"
    out.write_bytes(b"older file")
    (tmp_path / "wrong.txt").write_text("wrong\n")
    cases = [
        # Without the tool on the PATH: a clear error before any work.
        ({"PATH": "/nonexistent"}, ["--sign-pass-file", tmp_path / "pass.txt"], "osslsigncode is not installed"),
        ({}, ["--sign-pass-file", tmp_path / "wrong.txt"], "Signing failed"),
        ({}, [], "Signing failed"),  # an enciphered key without its password
    ]
    for env, extra, says in cases:
        r = sxbuild(EXAMPLES / "example.ini", "-o", out, "--stub", STUB, "--sign-cert", cert, "--sign-key", key,
                    *extra, env=env, check=False)
        assert r.returncode == 1 and says in r.stderr, r.stderr
        assert out.read_bytes() == b"older file"
        assert sorted(p.name for p in tmp_path.iterdir()) == ["cert.pem", "key.pem", "out.exe", "pass.txt",
                                                               "wrong.txt"]
    r = sxbuild(EXAMPLES / "example.ini", "--sign-cert", cert, check=False)
    assert r.returncode == 1 and "--sign-cert needs --sign-key" in r.stderr
    r = sxbuild(EXAMPLES / "example.ini", "--archive-only", "--sign-cert", cert, "--sign-key", key, check=False)
    assert r.returncode == 2


@wine
@needs_signing_tools
def test_signed_setup_installs(tmp_path, uninstall_after):
    cert, key = make_cert(tmp_path)
    out = tmp_path / "signed-silent.exe"
    sxbuild(EXAMPLES / "example.ini", "-o", out, "--stub", STUB, "--quiet", "--silent",
            "--sign-cert", cert, "--sign-key", key)
    target = Path(wine_env()["WINEPREFIX"]) / "drive_c" / "Program Files" / "Example Product"
    if target.exists():
        shutil.rmtree(target)
    uninstall_after("Example Product")
    r = run_wine([out], timeout=180)
    assert r.returncode == 0, r.stdout + r.stderr
    for rel in ["readme.txt", "example.ini", "docs/guide.txt", "docs/changes.txt"]:
        assert (target / rel).read_bytes() == (EXAMPLES / "product" / rel).read_bytes(), rel


# ---- CPack ------------------------------------------------------------------------

@pytest.fixture(scope="module")
def cpack_setup(tmp_path_factory):
    if not shutil.which("cpack") or not shutil.which(f"{MINGW}-gcc-posix"):
        pytest.skip("cpack or the mingw compiler missing")
    build = tmp_path_factory.mktemp("cpack")
    run(["cmake", "-S", EXAMPLES / "cpack", "-B", build,
         "-DCMAKE_TOOLCHAIN_FILE=" + str(ROOT / "cmake" / ("mingw-x86_64.cmake" if MINGW.startswith("x86_64")
                                                           else "mingw-i686.cmake")),
         "-DCPACK_SX_SXBUILD=" + str(SXBUILD), "-DCPACK_SX_STUB=" + str(STUB),
         "-DCPACK_SX_SILENT=ON"])
    run(["cmake", "--build", build])
    r = run(["cpack", "-G", "External"], cwd=build)
    setup = build / "Hello-1.2.0-win32.exe"
    assert setup.is_file(), r.stdout + r.stderr
    return build, setup


def test_cpack_makes_the_setup(cpack_setup):
    build, setup = cpack_setup
    d = sxbuild("--dump", setup, "--verify").stdout
    # The four staged files, and the uninstaller that the uninstall
    # registration carries.
    assert "Verify: all 5 files decode to their sizes." in d, d
    listing = sxbuild("--list", setup).stdout.splitlines()
    names = sorted(line.split(None, 1)[1] for line in listing)
    assert names == ["<CommonFilesDir>\\Orvale Systems\\ovUninst.exe", "<ProgramFilesDir>\\Hello\\README.txt", "<ProgramFilesDir>\\Hello\\doc\\usage.txt",
                     "<ProgramFilesDir>\\Hello\\hello.exe", "<TempDir>\\Hello Example Setup\\setup.inf"], listing
    assert "soUninstall" in d and "soSilent" in d
    # The installed program is the one the build made, byte for byte.
    staged = (build / "hello.exe").read_bytes()
    line = next(l for l in listing if l.endswith("hello.exe"))
    assert int(line.split()[0]) == len(staged)
    plan = sxbuild("--plan", build / "_CPack_Packages" / "win32" / "External" / "sxsetup" / "setup.ini").stdout
    assert "link in the programs menu: Hello\\Hello.lnk" in plan
    assert "    target <ProgramFilesDir>\\Hello\\hello.exe" in plan
    assert "Uninstall entry: HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Hello " \
           "Example" in plan


@wine
def test_cpack_setup_installs(cpack_setup, uninstall_after):
    build, setup = cpack_setup
    target = Path(wine_env()["WINEPREFIX"]) / "drive_c" / "Program Files" / "Hello"
    if target.exists():
        shutil.rmtree(target)
    uninstall_after("Hello Example")
    r = run_wine([setup], timeout=180)
    assert r.returncode == 0, r.stdout + r.stderr
    assert (target / "hello.exe").read_bytes() == (build / "hello.exe").read_bytes()
    assert (target / "doc" / "usage.txt").read_bytes() == (EXAMPLES / "cpack" / "doc" / "usage.txt").read_bytes()
    r = run_wine([target / "hello.exe"], timeout=60)
    assert r.returncode == 0 and b"Hello from the CPack example." in r.stdout
