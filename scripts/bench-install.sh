#!/usr/bin/env bash
# Benchmark (prints figures; not a test): installs the benchmark corpus under
# Wine with our setup and with an NSIS installer of the same corpus (Debian's
# nsis, zlib, not solid, run as "/S /D=..."), in the same run:
#
#   - wall time of each install (warm wineserver, one warm-up run, median of
#     5, target folder deleted between runs) and the ratio, for the ~200 MB
#     mixed corpus and for a single 300 MB file;
#   - the decode loop's throughput against plain zlib inflate of the same data
#     (tests/win32/w32_extract_bench.cpp);
#   - the peak memory of the setup process while it installs the 300 MB file,
#     minus its memory right after loading (anonymous resident memory of the
#     Wine process, sampled every 10 ms);
#   - the wall time of uninstalling the mixed corpus, ovUninst.exe /silent
#     against the NSIS installer's own uninstaller run silently in place
#     ("/S _?=..."), median of N, each after a fresh untimed install;
#   - the size of the setup stub next to the NSIS stub (an empty installer).
#
#   BUILD_DIR=build-x bash scripts/bench-install.sh [--runs N] [--win64]
#
# --win64: the 64-bit build (build/win64, scripts/test-win64.sh builds it)
# against NSIS's amd64-unicode stubs, under 64-bit Wine with its own prefix,
# for machines that cannot run 32-bit programs.
#
# Corpora come from scripts/make-corpus.py (fixed seed) and are shared with
# scripts/bench-build.sh ($BUILD_DIR/bench-corpus-*).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=5
tree=win32
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --win64) tree=win64; shift ;;
    *) echo "usage: $0 [--runs N] [--win64]" >&2; exit 2 ;;
  esac
done

source scripts/env.sh
build="$root/$BUILD_DIR"
if [ "$tree" = win64 ]; then
  export WINEPREFIX="$build/wineprefix64" WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64 SX_WINE_LOADER=/usr/lib/wine/wine64
fi
for tool in "$build/host/tools/sxbuild" "$build/$tree/setup/setup.exe" "$build/$tree/tools/ovUninst.exe" \
            "$build/$tree/tests/w32_extract_bench.exe"; do
  [ -f "$tool" ] || { echo "missing $tool: run scripts/build.sh first" >&2; exit 1; }
done
command -v makensis >/dev/null || { echo "makensis missing: run scripts/bootstrap.sh" >&2; exit 1; }

trap sx_stop_all EXIT
sx_start_display || exit 1
sx_prepare_prefix || exit 1

for spec in "mixed:" "single-300MB:--single-mb 300"; do
  label=${spec%%:*}
  args=${spec#*:}
  corpus="$build/bench-corpus-$label"
  if [ ! -f "$corpus/.done" ]; then
    rm -rf "$corpus"
    # shellcheck disable=SC2086
    python3 scripts/make-corpus.py "$corpus" $args
    touch "$corpus/.done"
  fi
done

python3 - "$build" "$runs" "$tree" <<'EOF'
import os, re, shutil, statistics, subprocess, sys, time
from pathlib import Path

build, runs, tree = Path(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
root = build.parent
sys.path.insert(0, str(root / "scripts"))
from benchproc import find_pid, status  # noqa: E402
wine_run = str(root / "scripts" / "wine-run.sh")
drive_c = Path(os.environ["WINEPREFIX"]) / "drive_c"
out = build / "bench-install"
out.mkdir(exist_ok=True)
sxbuild = build / "host" / "tools" / "sxbuild"
stub = build / tree / "setup" / "setup.exe"
uninstaller = build / tree / "tools" / "ovUninst.exe"
# NSIS's stubs for the same processor as our build.
nsis_target = "Target amd64-unicode\n" if tree == "win64" else ""
quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

# A warm wineserver for the whole run; its services get no pipes of ours.
subprocess.Popen(["wineserver", "-p"], start_new_session=True, **quiet)
subprocess.run([wine_run, "reg", "query", r"HKCU\Software"], **quiet)


def make_setups(label, uninstall=False):
    """Our setup and an NSIS installer of the corpus; with uninstall, both
    register an uninstaller (ours: ovUninst.exe and its record; NSIS: its own
    uninst.exe, whose section removes the folder)."""
    corpus = build / f"bench-corpus-{label}"
    tag = f"{tree}-{label}" + ("-uninst" if uninstall else "")
    ini = out / f"sx-{tag}.ini"
    # Files of a registered folder are recorded for the uninstaller.
    registration = (f"Uninstall=yes\nUninstallFolder=C:\\bench\\sx\nUninstaller={uninstaller}\n"
                    if uninstall else "")
    folders = "[Folders]\napp = C:\\bench\\sx | register\n" if uninstall else ""
    into = " | folder=app" if uninstall else ""
    ini.write_text(f"""[Setup]
Silent=yes
NoFinalMessage=yes
DefaultFolder=C:\\bench\\sx
{registration}[Strings]
SetupName=Bench
ProductName=Bench
{folders}[Files]
File = {corpus}/* | recurse{into}
""")
    sx = out / f"sx-{tag}.exe"
    if not sx.exists() or sx.stat().st_mtime < stub.stat().st_mtime:
        subprocess.run([str(sxbuild), str(ini), "-o", str(sx), "--stub", str(stub), "--quiet"], check=True)
    nsi = out / f"nsis-{tag}.nsi"
    nsis = out / f"nsis-{tag}.exe"
    writer = '  WriteUninstaller "$INSTDIR\\uninst.exe"\n' if uninstall else ""
    remover = 'Section "Uninstall"\n  RMDir /r "$INSTDIR"\nSectionEnd\n' if uninstall else ""
    nsi.write_text(f"""{nsis_target}OutFile "{nsis}"
SetCompressor zlib
InstallDir "C:\\bench\\nsis"
RequestExecutionLevel user
Section
  SetOutPath "$INSTDIR"
  File /r /x .done "{corpus}/*.*"
{writer}SectionEnd
{remover}""")
    if not nsis.exists():
        subprocess.run(["makensis", "-V1", str(nsi)], check=True, **quiet)
    return sx, nsis


def install(exe, args, target):
    shutil.rmtree(target, ignore_errors=True)
    t = time.perf_counter()
    rc = subprocess.run([wine_run, str(exe), *args], **quiet).returncode
    elapsed = time.perf_counter() - t
    assert rc == 0, f"{exe.name} exited with {rc}"
    return elapsed


def timed(exe, args, target):
    install(exe, args, target)  # warm-up
    times = [install(exe, args, target) for _ in range(runs)]
    return statistics.median(times)


def tree_bytes(path):
    return sum(f.stat().st_size for f in Path(path).rglob("*") if f.is_file())


print(f"## Installing a setup: setup.exe next to an NSIS installer ({tree} build, {os.cpu_count()} cores)\n")
print(f"Wine, warm wineserver, one warm-up run, median of {runs}, target folder deleted between runs.\n")
print("| Corpus | Files | MB | setup.exe (s) | NSIS (s) | Ratio |")
print("|---|---|---|---|---|---|")
for label in ("mixed", "single-300MB"):
    corpus = build / f"bench-corpus-{label}"
    files = [f for f in corpus.rglob("*") if f.is_file() and f.name != ".done"]
    mb = sum(f.stat().st_size for f in files) / 1048576
    sx, nsis = make_setups(label)
    sx_t = timed(sx, [], drive_c / "bench" / "sx")
    assert tree_bytes(drive_c / "bench" / "sx") == sum(f.stat().st_size for f in files)
    ns_t = timed(nsis, ["/S", r"/D=C:\bench\nsis"], drive_c / "bench" / "nsis")
    print(f"| {label} | {len(files)} | {mb:.1f} | {sx_t:.2f} | {ns_t:.2f} | {sx_t / ns_t:.2f} |")
    shutil.rmtree(drive_c / "bench", ignore_errors=True)



# Uninstalling the mixed corpus: each timed run follows an untimed install.
def uninstall_time(setup, setup_args, command, target):
    install(setup, setup_args, target)
    t = time.perf_counter()
    rc = subprocess.run([wine_run, *command], **quiet).returncode
    elapsed = time.perf_counter() - t
    assert rc == 0, f"{command[0]} exited with {rc}"
    left = [f for f in Path(target).rglob("*") if f.is_file()] if Path(target).exists() else []
    assert len(left) <= 1, f"{len(left)} files left in {target}"  # NSIS's uninst.exe stays when run in place
    return elapsed


sx, nsis = make_setups("mixed", uninstall=True)
shared = r"C:\Program Files\Common Files\Orvale Systems\ovUninst.exe"
sx_cmd = [shared, "/silent", r"C:\bench\sx\Bench.del"]
ns_cmd = [r"C:\bench\nsis\uninst.exe", "/S", r"_?=C:\bench\nsis"]
sx_u = statistics.median(uninstall_time(sx, [], sx_cmd, drive_c / "bench" / "sx") for _ in range(runs))
ns_u = statistics.median(uninstall_time(nsis, ["/S", r"/D=C:\bench\nsis"], ns_cmd, drive_c / "bench" / "nsis")
                         for _ in range(runs))
print(f"\nUninstall of the mixed corpus (median of {runs}, each after an untimed install): "
      f"ovUninst.exe /silent {sx_u:.2f} s; NSIS uninstaller /S {ns_u:.2f} s; ratio {sx_u / ns_u:.2f}.")
shutil.rmtree(drive_c / "bench", ignore_errors=True)

# Decode loop against plain inflate.
r = subprocess.run([wine_run, str(build / tree / "tests" / "w32_extract_bench.exe"),
                    "--gtest_also_run_disabled_tests", "--gtest_filter=*DecodeLoop*"],
                   capture_output=True, text=True, stdin=subprocess.DEVNULL)
m = re.search(r"DECODE_BENCH mb=(\S+) zlib_mbs=(\S+) decode_mbs=(\S+) ratio=(\S+)", r.stdout)
print()
if m:
    print(f"Decode loop (window over memory, inflate, 61,440-byte chunks) on {m.group(1)} MiB: "
          f"{m.group(3)} MiB/s; plain zlib inflate: {m.group(2)} MiB/s; ratio {m.group(4)}.")
else:
    print("Decode loop benchmark did not run:", r.stdout[-500:], r.stderr[-500:])


# Memory of the setup process while it installs the 300 MB file.
sx, _ = make_setups("single-300MB")
target = drive_c / "bench" / "sx"
shutil.rmtree(target, ignore_errors=True)
proc = subprocess.Popen([wine_run, str(sx)], **quiet)
pid = find_pid(sx.name, time.time() + 30)
baseline = None
peak_anon = 0
peak_rss = 0
while proc.poll() is None and pid:
    s = status(pid)
    if not s:
        break
    anon = s.get("RssAnon", 0)
    peak_anon = max(peak_anon, anon)
    peak_rss = max(peak_rss, s.get("VmRSS", 0))
    if baseline is None and target.exists() and any(target.iterdir()):
        baseline = anon  # the archive is loaded: extraction has begun
    time.sleep(0.01)
proc.wait()
if baseline is None:
    print("\nMemory: the extraction start was not observed.")
else:
    print(f"\nMemory while installing the 300 MB file: anonymous resident memory {baseline} KiB right after "
          f"loading, peak {peak_anon} KiB, growth {peak_anon - baseline} KiB (peak resident set including the "
          f"mapped setup file: {peak_rss / 1024:.1f} MiB).")
shutil.rmtree(drive_c / "bench", ignore_errors=True)

# Stub sizes: our stub and an NSIS installer that installs nothing.
empty = out / "nsis-empty.nsi"
empty.write_text(f'{nsis_target}OutFile "{out / "nsis-empty.exe"}"\nSetCompressor zlib\nRequestExecutionLevel user\n'
                 "Section\nSectionEnd\n")
subprocess.run(["makensis", "-V1", str(empty)], check=True, **quiet)
ours, theirs = stub.stat().st_size, (out / "nsis-empty.exe").stat().st_size
print(f"\nStub: setup.exe {ours / 1024:.0f} KB; empty NSIS installer {theirs / 1024:.0f} KB; ratio {ours / theirs:.2f}.")
EOF
