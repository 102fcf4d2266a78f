#!/usr/bin/env bash
# Benchmark (prints figures; not a test): builds a setup from the benchmark
# corpus with sxbuild and packs the same corpus with makensis (zlib, the
# same per-file compression), in the same run, and prints the times, sizes
# and throughputs as a Markdown table.
#
#   BUILD_DIR=build-x bash scripts/bench-build.sh [--single-mb N] [--keep]
#
# The corpus comes from scripts/make-corpus.py (fixed seed) and is written to
# $BUILD_DIR/bench-corpus once; outputs go to $BUILD_DIR/bench-out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/${BUILD_DIR:-build}"
sxbuild="$build/host/tools/sxbuild"
stub="$build/win32/setup/setup.exe"
corpus_args=()
label="mixed"
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --single-mb) corpus_args=(--single-mb "$2"); label="single-$2MB"; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--single-mb N] [--keep]" >&2; exit 2 ;;
  esac
done

for tool in "$sxbuild" "$stub"; do
  [ -f "$tool" ] || { echo "missing $tool: run scripts/build.sh first" >&2; exit 1; }
done
command -v makensis >/dev/null || { echo "makensis missing: run scripts/bootstrap.sh" >&2; exit 1; }

corpus="$build/bench-corpus-$label"
out="$build/bench-out"
mkdir -p "$out"
if [ ! -f "$corpus/.done" ]; then
  rm -rf "$corpus"
  python3 "$root/scripts/make-corpus.py" "$corpus" "${corpus_args[@]}"
  touch "$corpus/.done"
fi
bytes=$(find "$corpus" -type f ! -name .done -printf '%s\n' | awk '{s+=$1} END {print s}')
files=$(find "$corpus" -type f ! -name .done | wc -l)

# The sxbuild project: every file of the corpus, default compression (zlib 6).
cat > "$out/bench.ini" <<EOF
[Setup]
DefaultFolder=<ProgramFilesDir>\\Bench
Silent=yes
[Strings]
SetupName=Bench
ProductName=Bench
[Files]
File = $corpus/* | recurse
EOF
# The same corpus for makensis: zlib, files compressed one by one.
cat > "$out/bench.nsi" <<EOF
OutFile "$out/nsis-setup.exe"
SetCompressor zlib
InstallDir "\$PROGRAMFILES\\Bench"
RequestExecutionLevel user
Section
  SetOutPath "\$INSTDIR"
  File /r /x .done "$corpus/*.*"
SectionEnd
EOF

now() { date +%s.%N; }
t0=$(now)
"$sxbuild" "$out/bench.ini" -o "$out/sx-setup.exe" --stub "$stub" --quiet
t1=$(now)
makensis -V1 "$out/bench.nsi" >/dev/null
t2=$(now)

awk -v bytes="$bytes" -v files="$files" -v label="$label" -v t0="$t0" -v t1="$t1" -v t2="$t2" \
    -v sxsize="$(stat -c %s "$out/sx-setup.exe")" -v nssize="$(stat -c %s "$out/nsis-setup.exe")" \
    -v cores="$(nproc)" 'BEGIN {
  mb = bytes / 1048576; sx = t1 - t0; ns = t2 - t1
  printf "Corpus %s: %d files, %.1f MB; %d cores\n\n", label, files, mb, cores
  printf "| Builder | Time (s) | MB/s | Output (MB) | Ratio |\n|---|---|---|---|---|\n"
  printf "| sxbuild (zlib 6, all cores) | %.2f | %.1f | %.1f | %.3f |\n", sx, mb / sx, sxsize / 1048576, sxsize / (mb * 1048576)
  printf "| makensis (zlib) | %.2f | %.1f | %.1f | %.3f |\n", ns, mb / ns, nssize / 1048576, nssize / (mb * 1048576)
  printf "\nsxbuild / makensis time: %.2f\n", sx / ns
}'
if [ "$keep" -eq 0 ]; then
  rm -f "$out/sx-setup.exe" "$out/nsis-setup.exe"
fi
