#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, in <build>/fuzz), makes their seed inputs with
# the project's own tools, and runs them.
#
#   scripts/fuzz.sh [SECONDS]          each harness SECONDS (default 600) on its
#                                      corpus; the corpus grows in <build>/fuzz/corpus
#   scripts/fuzz.sh --smoke [SECONDS]  every regression input once, then each
#                                      harness SECONDS (default 5) on its seeds
#   scripts/fuzz.sh ... HARNESS...     only these (archive, container, pe, project)
#
# Exits non-zero when a harness crashes, leaks or times out; the input that
# did it is kept in <build>/fuzz/findings/<harness>/. Every reproducer of a
# fixed fault belongs in tests/fuzz/regressions/<harness>/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/${BUILD_DIR:-build}/fuzz"
win32="$root/${BUILD_DIR:-build}/win32"
jobs=${JOBS:-2}

smoke=0
seconds=""
only=()
for a in "$@"; do
  case "$a" in
    --smoke) smoke=1 ;;
    ''|*[!0-9]*) only+=("$a") ;;
    *) seconds=$a ;;
  esac
done
if [ -z "$seconds" ]; then
  if [ $smoke -eq 1 ]; then seconds=5; else seconds=600; fi
fi
harnesses=(archive container pe project)
if [ ${#only[@]} -gt 0 ]; then harnesses=("${only[@]}"); fi

for tool in clang clang++; do
  command -v $tool >/dev/null || { echo "fuzz: $tool is missing (scripts/bootstrap.sh installs it)" >&2; exit 2; }
done
cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSX_FUZZ=ON \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$out" -j "$jobs" >/dev/null

# ---- Seeds, made by the project's own tools (sanitized builds of them).
seeds="$out/seeds"
work="$out/seed-work"
rm -rf "$seeds" "$work"
mkdir -p "$work/product/sub"
for h in archive container pe project; do mkdir -p "$seeds/$h"; done
printf 'hello\r\n' > "$work/product/a.txt"
printf '' > "$work/product/empty.txt"
head -c 3000 /dev/zero | tr '\0' 'z' > "$work/product/sub/z.bin"
seq 1 400 > "$work/product/sub/numbers.txt"
cat > "$work/plain.ini" <<'EOF'
[Setup]
Silent = yes
DefaultFolder = <ProgramFilesDir>\Fuzz
[Strings]
SetupName = Fuzz Setup
ProductName = Fuzz
WelcomeText = Install <ProductName>?
[Folders]
extra = <TempDir>\Fuzz
[Files]
File = product/a.txt
File = product/empty.txt | compress=no
File = product/sub/* | name=sub | recurse | folder=extra
EOF
cat > "$work/password.ini" <<'EOF'
[Setup]
Password = fuzz
Uninstall = yes
UninstallFolder = <ProgramFilesDir>\Fuzz
RunCommand = yes
Command = <ThisDir>\a.txt
[Strings]
SetupName = Fuzz Setup
[Files]
File = product/a.txt
File = product/sub/z.bin | compress=no
EOF
for p in plain password; do
  "$out/tools/sxbuild" "$work/$p.ini" --archive-only -o "$seeds/archive/$p.sxa" --quiet
  cp "$work/$p.ini" "$seeds/project/$p.ini"
done
cp "$root/examples/example.ini" "$seeds/project/example.ini"
i=0
for flags in "" "--packed" "--scrambled" "--encrypted" "--packed --scrambled --encrypted --password fuzz" \
             "--packed --auto-compact --version 0x0100" "--encrypted --no-password-check"; do
  # shellcheck disable=SC2086
  "$out/tools/stgtool" create "$seeds/container/c$i.stg" "$work/product" $flags >/dev/null
  i=$((i + 1))
done
"$out/tools/stgtool" delete "$seeds/container/c5.stg" a.txt >/dev/null
# Images: the setup stub and a setup made from it, when the win32 tree is built.
if [ -f "$win32/setup/setup.exe" ]; then
  cp "$win32/setup/setup.exe" "$seeds/pe/stub.exe"
  "$out/tools/sxbuild" "$work/plain.ini" --stub "$win32/setup/setup.exe" -o "$seeds/pe/setup.exe" --quiet
fi
cp "$root"/tests/fuzz/regressions/pe/* "$seeds/pe/"

# ---- Runs.
status=0
summary=()
for h in "${harnesses[@]}"; do
  bin="$out/tests/fuzz/fuzz_$h"
  [ -x "$bin" ] || { echo "fuzz: no harness $h" >&2; exit 2; }
  corpus="$out/corpus/$h"
  findings="$out/findings/$h"
  mkdir -p "$corpus" "$findings"
  cp -n "$seeds/$h"/* "$corpus/" 2>/dev/null || true
  dict=()
  if [ -f "$root/tests/fuzz/$h.dict" ]; then dict=(-dict="$root/tests/fuzz/$h.dict"); fi
  # One allocation above 64 MB is a finding: inputs are small, and every
  # size a reader trusts must be checked against the bytes it has.
  common=(-rss_limit_mb=2048 -malloc_limit_mb=64 -timeout=20 -artifact_prefix="$findings/")
  log="$out/$h.log"
  regressions=("$root/tests/fuzz/regressions/$h"/*)
  if [ -e "${regressions[0]}" ]; then
    if ! "$bin" "${common[@]}" "${regressions[@]}" >"$log.regressions" 2>&1; then
      echo "fuzz: $h FAILED on a regression input (see $log.regressions)" >&2
      status=1
      continue
    fi
  fi
  if "$bin" "${common[@]}" "${dict[@]}" -max_total_time="$seconds" -print_final_stats=1 \
        "$corpus" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  summary+=("$h: ${runs:-?} executions in ${seconds} s, ${result}$([ "$result" = ok ] || echo " (see $log)")")
done
for line in "${summary[@]}"; do echo "fuzz: $line"; done
exit $status
