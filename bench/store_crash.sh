#!/usr/bin/env bash
# bench/store_crash.sh - the long crash run of the page store: 1000 pages from four pipe
# clients to persons on three TAP systems behind corvsim pagers, corvd32 killed (SIGKILL)
# five times at random moments and restarted, then the same with SIGTERM. Prints the seed,
# the pages accepted, delivered and delivered twice, and the pages resent after a restart.
#   bash bench/store_crash.sh [BUILD_DIR] [PAGES] [SEED]
set -euo pipefail
build=${1:-build}
export CORVEL_CRASH_PAGES=${2:-1000}
if [[ -n "${3:-}" ]]; then export CORVEL_CRASH_SEED=$3; fi
exec "$build/tests/store_crash_test" --gtest_filter='StoreCrash.*'
