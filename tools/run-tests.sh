#!/usr/bin/env bash
# Builds and runs every test: the plain build (warnings as errors) with all unit and
# end-to-end tests, the unit tests again under AddressSanitizer and UBSan, the paging
# server core under ThreadSanitizer, the Debian package, and the bounded fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash tools/install-deps.sh
for setup in tools/setup-*.sh; do [ -f "$setup" ] && bash "$setup"; done

echo "== plain build and all tests"
cmake -S . -B build -DCORVEL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest -j"$((jobs * 2))" --output-on-failure --timeout 600)

echo "== unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCORVEL_WERROR=ON -DCORVEL_SANITIZE=address,undefined \
  -DCORVEL_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest -L unit -j"$jobs" --output-on-failure --timeout 600)

echo "== paging server core under ThreadSanitizer"
cmake -S . -B build-tsan -DCORVEL_WERROR=ON -DCORVEL_SANITIZE=thread \
  -DCORVEL_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-tsan -j"$jobs"
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest -L tsan -j"$jobs" --output-on-failure --timeout 600)

echo "== the Debian package: built, checked with lintian, unpacked and its corvd32 run once"
CORVEL_JOBS="$jobs" bash tests/install_package.sh

if [ -f tools/fuzz.sh ]; then
  echo "== bounded fuzz runs: every *_fuzz.cpp, 120 s of fuzzing shared among them"
  FUZZ_TOTAL_SECONDS="${FUZZ_TOTAL_SECONDS:-120}" bash tools/fuzz.sh
fi
