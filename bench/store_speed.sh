#!/usr/bin/env bash
# Prints, in one run, what a durable page costs: the raw rate of small synced writes on the
# scratch folder's file system, then pipe_bench's page requests with 1, 4 and 16 clients
# against this build's corvd32 (every "OK" is on disk) and, when IN_MEMORY_CORVD32 names a
# corvd32 built before the page store, against that one too. Nothing is judged; the last
# lines set the figures side by side. Usage: bench/store_speed.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
for p in bin/pipe_bench bin/store_bench bin/corvd32; do
  [ -x "$build/$p" ] || { echo "missing $build/$p: build it first" >&2; exit 1; }
done

# items_per_second and p99 of each page run, as "clients pages/s p99_ms".
page_runs() {
  CORVD32="$1" "$build/bin/pipe_bench" --benchmark_filter=PageRequest 2>/dev/null |
    awk '/BM_PageRequest/ {
      split($1, name, "threads:"); rate = ""; p99 = "";
      for (i = 1; i <= NF; i++) {
        if ($i ~ /^items_per_second=/) { rate = substr($i, 18) }
        if ($i ~ /^p99_us=/) { p99 = substr($i, 8) }
      }
      # Google Benchmark writes 1.2k for 1200.
      if (rate ~ /k\/s$/) { sub(/k\/s$/, "", rate); rate *= 1000 } else { sub(/\/s$/, "", rate) }
      if (p99 ~ /k$/) { sub(/k$/, "", p99); p99 *= 1000 }
      printf "%s %.0f %.2f\n", name[2], rate, p99 / 1000 }'
}

fsync_line=$("$build/bin/store_bench" fsync | grep '^fsync:')
echo "$fsync_line"
fsync_rate=$(echo "$fsync_line" | sed -E 's/.*: ([0-9]+) per second.*/\1/')
durable=$(page_runs "$build/bin/corvd32")
memory=""
[ -n "${IN_MEMORY_CORVD32:-}" ] && memory=$(page_runs "$IN_MEMORY_CORVD32")
fsync_after=$("$build/bin/store_bench" fsync | grep '^fsync:')
echo "$fsync_after"

echo
echo "clients  durable pages/s  p99 ms  in-memory pages/s  p99 ms"
while read -r clients rate p99; do
  mem=$(echo "$memory" | awk -v c="$clients" '$1 == c { printf "%17s  %6s", $2, $3 }')
  printf "%7s  %15s  %6s  %s\n" "$clients" "$rate" "$p99" "${mem:-              -       -}"
done <<<"$durable"
one=$(echo "$durable" | awk '$1 == 1 { print $2 }')
echo
echo "1 client: $one durable pages/s against $fsync_rate synced writes/s before the runs:" \
  "$(awk -v f="$fsync_rate" -v p="$one" 'BEGIN { printf "%.2f", p / f }') times the rate of one sync per page"
if [ -n "$memory" ]; then
  # A page costs at least the pipe's round trip (the in-memory build's time per page) plus one
  # sync: the best any store that answers after its sync can do with one client.
  mem_one=$(echo "$memory" | awk '$1 == 1 { print $2 }')
  awk -v f="$fsync_rate" -v m="$mem_one" -v p="$one" 'BEGIN {
    best = 1 / (1 / m + 1 / f)
    printf "1 client: round trip + one sync per page would give %.0f pages/s (%.2f times the bare sync rate);", best, best / f
    printf " measured %.0f, %.2f times slower than that\n", p, best / p }'
fi
