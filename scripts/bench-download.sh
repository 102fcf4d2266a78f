#!/usr/bin/env bash
# Benchmark (prints figures; not a test): a 100 MB component package fetched
# over 127.0.0.1 by the setup (question answered, download dialog shown,
# Download pressed, package installed) against a plain read loop of the
# system's Internet library with 64 KiB reads (tests/bench/wininetloop.cpp),
# in the same run and from the same local server (the plain loop also with
# the setup's 4,097-byte reads, to tell the read size's share):
#
#   - wall time of each (median of N runs after one warm-up) and the ratio;
#   - the setup process's anonymous resident memory when Download is pressed
#     and its peak until the dialog closes (it should not grow with the
#     package's size).
#
#   BUILD_DIR=build-x bash scripts/bench-download.sh [--runs N] [--mb SIZE]
#
# Needs a machine that runs 32-bit Windows programs under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=3
mb=100
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --mb) mb="$2"; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--mb SIZE]" >&2; exit 2 ;;
  esac
done

source scripts/env.sh
build="$root/$BUILD_DIR"
for tool in "$build/host/tools/sxbuild" "$build/host/tools/stgtool" "$build/win32/setup/setup.exe" \
            "$build/win32/tests/bench/wininetloop.exe" "$build/win32/tests/robot/uirobot.exe"; do
  [ -f "$tool" ] || { echo "missing $tool: run scripts/build.sh first" >&2; exit 1; }
done
# Wine's Internet library must talk to 127.0.0.1 directly.
unset http_proxy https_proxy ftp_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY NO_PROXY

trap sx_stop_all EXIT
sx_start_display || exit 1
sx_prepare_prefix || exit 1

# The test helpers it uses (robot, server) need the interpreter that has pytest.
py=$(sx_test_python) || exit 1
"$py" - "$build" "$runs" "$mb" <<'EOF'
import os, random, shutil, statistics, subprocess, sys, time
from pathlib import Path

build, runs, mb = Path(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
root = build.parent
sys.path.insert(0, str(root / "tests" / "e2e"))
sys.path.insert(0, str(root / "scripts"))
from benchproc import find_pid, status  # noqa: E402
from httpserver import PackageServer  # noqa: E402
from robot import Robot  # noqa: E402

wine_run = str(root / "scripts" / "wine-run.sh")
drive_c = Path(os.environ["WINEPREFIX"]) / "drive_c"
out = build / "bench-download"
out.mkdir(exist_ok=True)
quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
subprocess.Popen(["wineserver", "-p"], start_new_session=True, **quiet)
subprocess.run([wine_run, "reg", "query", r"HKCU\Software"], **quiet)

# The package: one incompressible file of the given size, stored as it is.
payload = out / "payload.bin"
if not payload.exists() or payload.stat().st_size != mb * 1048576:
    rng = random.Random(1)
    with open(payload, "wb") as f:
        for _ in range(mb):
            f.write(rng.randbytes(1048576))
package = out / "bench.stg"
subprocess.run([str(build / "host" / "tools" / "stgtool"), "create", str(package), str(payload)], check=True, **quiet)

TITLE = "Ravudure Dudor"
robot = Robot(timeout=30)


def wait_for_list_dialog(deadline):
    # The question and the download dialog share their title: the download
    # dialog is the one with the list view.
    while time.time() < deadline:
        try:
            if any(c.cls.lower() == "syslistview32" for c in robot.list(TITLE)):
                return
        except Exception:
            pass
        time.sleep(0.1)
    raise RuntimeError("the download dialog did not appear")


with PackageServer() as server:
    server.add("bench.stg", package.read_bytes())
    url = server.url("/pkg/bench.stg")
    inf = out / "components.inf"
    inf.write_text(f"""[Bench Runtime]
Description=Benchmark component
WebAddress={url}
WebSize={package.stat().st_size}
FileCount=1
File1=C:\\bench\\comp\\payload.bin
""")
    small = out / "readme.txt"
    small.write_text("benchmark product\n")
    ini = out / "bench.ini"
    ini.write_text(f"""[Setup]
Silent=no
AskFolder=no
NoFinalMessage=yes
DefaultFolder=C:\\bench\\prod
ComponentInf={inf}
[Strings]
SetupName=Bench Download
ProductName=Bench Download
[Files]
File = {small}
[Components]
Component=Bench Runtime
""")
    exe = out / "bench-download.exe"
    subprocess.run([str(build / "host" / "tools" / "sxbuild"), str(ini), "-o", str(exe), "--stub",
                    str(build / "win32" / "setup" / "setup.exe"), "--quiet"], check=True)

    def through_setup():
        shutil.rmtree(drive_c / "bench", ignore_errors=True)
        proc = subprocess.Popen([wine_run, str(exe)], **quiet)
        try:
            robot.wait(TITLE, timeout=60)
            robot.click(TITLE, 1)  # the question: download automatically (the default)
            wait_for_list_dialog(time.time() + 60)
            pid = find_pid(exe.name, time.time() + 10)
            baseline = status(pid).get("RssAnon", 0) if pid else 0
            peak = baseline
            started = time.perf_counter()
            robot.click(TITLE, 1)  # Download
            while proc.poll() is None and robot.exists(TITLE):
                if pid:
                    peak = max(peak, status(pid).get("RssAnon", 0))
                time.sleep(0.01)
            elapsed = time.perf_counter() - started
            proc.wait(timeout=120)
        finally:
            if proc.poll() is None:
                proc.kill()
        installed = drive_c / "bench" / "comp" / "payload.bin"
        assert installed.exists() and installed.stat().st_size == payload.stat().st_size, "component not installed"
        return elapsed, baseline, peak

    def plain_loop(block=65536):
        target = drive_c / "bench" / "loop.bin"
        target.parent.mkdir(parents=True, exist_ok=True)
        started = time.perf_counter()
        proc = subprocess.Popen([wine_run, str(build / "win32" / "tests" / "bench" / "wininetloop.exe"), url,
                                 "C:\\bench\\loop.bin", str(block)], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, text=True)
        # The loop's own memory, for comparison with the setup's: first and
        # peak anonymous resident memory while it runs.
        pid = find_pid("wininetloop.exe", time.time() + 10)
        first = peak = 0
        while proc.poll() is None and pid:
            anon = status(pid).get("RssAnon", 0)
            first = first or anon
            peak = max(peak, anon)
            time.sleep(0.01)
        output = proc.communicate()[0]
        elapsed = time.perf_counter() - started
        assert proc.returncode == 0, output
        assert target.stat().st_size == package.stat().st_size
        loop_memory.append((block, first, peak))
        return elapsed

    loop_memory = []
    through_setup()
    plain_loop()
    setup_runs = [through_setup() for _ in range(runs)]
    loop_runs = [plain_loop() for _ in range(runs)]
    small_runs = [plain_loop(4097) for _ in range(runs)]

setup_t = statistics.median(r[0] for r in setup_runs)
loop_t = statistics.median(loop_runs)
size_mb = package.stat().st_size / 1048576
print(f"## Downloading a {size_mb:.0f} MB component package over 127.0.0.1\n")
print(f"Wine, warm wineserver, one warm-up run, median of {runs}.\n")
print("| Way | Seconds | MiB/s |")
print("|---|---|---|")
print(f"| setup.exe: download + install, dialog shown (4,097-byte reads) | {setup_t:.2f} | {size_mb / setup_t:.1f} |")
print(f"| plain read loop, 64 KiB reads | {loop_t:.2f} | {size_mb / loop_t:.1f} |")
small_t = statistics.median(small_runs)
print(f"| plain read loop, 4,097-byte reads (the setup's block) | {small_t:.2f} | {size_mb / small_t:.1f} |")
print(f"\nRatio setup / plain loop: {setup_t / loop_t:.2f} (target at most 1.5).")
for block, first, peak in loop_memory[1:]:
    print(f"Plain loop, {block}-byte reads: anonymous resident memory {first} KiB at its first sample, "
          f"peak {peak} KiB, growth {peak - first} KiB.")
for i, (_, baseline, peak) in enumerate(setup_runs, 1):
    print(f"Run {i}: anonymous resident memory {baseline} KiB when Download was pressed, peak {peak} KiB, "
          f"growth {peak - baseline} KiB.")
EOF
