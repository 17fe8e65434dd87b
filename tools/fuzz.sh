#!/usr/bin/env bash
# Fuzzing of every parser that reads outside input: builds each *_fuzz.cpp of the tree as a
# libFuzzer program (clang, -fsanitize=fuzzer,address,undefined) and runs them one after the
# other. A crash, sanitizer report, leak, broken invariant (a target's __builtin_trap) or hang
# fails the run; the input that did it is kept in build-fuzz/artifacts/.
#
# Budgets:
#   FUZZ_TOTAL_SECONDS  the whole run's fuzzing time, shared evenly (default 120: CI, where
#                       the stage, build included, stays under five minutes)
#   FUZZ_SECONDS        seconds per target instead, for a long run (FUZZ_SECONDS=600)
#   FUZZ_TARGETS="a b"  only these targets
#   FUZZ_BUILD_DIR      the build folder (default build-fuzz)
#   FUZZ_CXX, FUZZ_CC   the compilers (default: the first clang++ / clang found)
# The executions per second of each run are printed at the end.
#
# Adding a target (nothing here needs to change):
#   1. Write NAME_fuzz.cpp in the folder of the code it feeds, with
#        extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
#      (and LLVMFuzzerInitialize when it needs set-up, e.g. the log file to /dev/null). It is
#      linked with that folder's library; a folder's corvel_module(... FUZZ_DEPS lib ...)
#      adds more libraries. Call __builtin_trap() when a result breaks a rule the rest of
#      the system relies on, so silent damage is found too.
#   2. Seeds (a few typical inputs, one per file) go in fuzz/corpus/NAME/.
#   3. Optionally fuzz/NAME.dict: the format's keywords, one "word" per line.
#   4. A crash found becomes a unit test next to the code, and its mend.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${FUZZ_BUILD_DIR:-$root/build-fuzz}
total=${FUZZ_TOTAL_SECONDS:-120}

find_tool() {
  for c in "$@"; do
    if command -v "$c" >/dev/null 2>&1; then echo "$c"; return; fi
  done
}
cxx=${FUZZ_CXX:-$(find_tool clang++ clang++-16 clang++-15 clang++-14)}
cc=${FUZZ_CC:-$(find_tool clang clang-16 clang-15 clang-14)}
if [ -z "$cxx" ] || [ -z "$cc" ]; then
  echo "fuzz.sh: clang not found (install the packages of tools/packages/fuzz.txt)" >&2
  exit 1
fi

echo "== building the fuzz targets with $cxx"
mkdir -p "$out"
# -O1 with line tables: quick to build (the CI stage includes the build) and fast enough to
# fuzz, with stack traces that name the lines.
cmake -S "$root" -B "$out" -DCORVEL_FUZZ=ON -DCORVEL_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_CXX_FLAGS="-O1 -gline-tables-only" -DCMAKE_C_FLAGS="-O1 -gline-tables-only" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" >"$out/configure.log" 2>&1 ||
  { cat "$out/configure.log" >&2; exit 1; }
cmake --build "$out" --target corvel_fuzz -j2

all=$(find "$out/fuzz" -maxdepth 1 -type f -name '*_fuzz' -executable -printf '%f\n' | sort)
wanted=${FUZZ_TARGETS:-$all}
count=$(echo "$wanted" | wc -w)
if [ "$count" -eq 0 ]; then echo "fuzz.sh: no targets built" >&2; exit 1; fi
per=${FUZZ_SECONDS:-$(( total / count ))}
[ "$per" -lt 5 ] && per=5

mkdir -p "$out/artifacts" "$out/corpus"
summary=""
failed=0
for name in $wanted; do
  if [ ! -x "$out/fuzz/$name" ]; then echo "fuzz.sh: no target $name" >&2; exit 1; fi
  # The run's corpus grows in the build folder; the seeds in the tree stay as they are.
  mkdir -p "$out/corpus/$name"
  rm -f "$out/artifacts/$name-"*
  if [ -d "fuzz/corpus/$name" ]; then cp -n fuzz/corpus/"$name"/* "$out/corpus/$name/" 2>/dev/null || true; fi
  dictarg=()
  if [ -f "fuzz/$name.dict" ]; then dictarg=(-dict="$root/fuzz/$name.dict"); fi
  echo "== fuzzing $name for ${per}s"
  status=0
  (cd "$out" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ./fuzz/"$name" -max_total_time="$per" -timeout=10 -rss_limit_mb=2048 -max_len=65536 "${dictarg[@]}" \
    -artifact_prefix="$out/artifacts/$name-" -print_final_stats=1 "$out/corpus/$name" \
    >"$out/$name.log" 2>&1) || status=$?
  tail -n 8 "$out/$name.log"
  runs=$(awk '/stat::number_of_executed_units:/ {print $2; exit}' "$out/$name.log")
  runs=${runs:-0}
  summary+="$name: $runs runs in ${per}s, $(( runs / per )) exec/s"$'\n'
  # A slow-unit file only says the shared machine stalled once; a true hang ends the run
  # with a timeout file and a failed status.
  if [ "$status" -ne 0 ] || ls "$out/artifacts/$name-"{crash,leak,timeout,oom}-* >/dev/null 2>&1; then
    echo "fuzz.sh: $name failed (status $status); the input is in $out/artifacts" >&2
    failed=1
  fi
done
echo "== fuzz summary"
printf '%s' "$summary"
if [ "$failed" -ne 0 ]; then exit 1; fi
echo "fuzz.sh: no crash, report or hang in ${per}s for each of $count targets"
