#!/usr/bin/env bash
# Benchmark of the modem path (prints figures; not a test):
#  1. pages delivered per minute in TAP multiple-message mode through corvd32 and a corvsim
#     modem throttled to 2400 and 9600 baud, against the line-rate bound (the bytes that
#     crossed the line during the calls divided by baud/10: what a line busy all the time
#     would need);
#  2. the CPU corvd32 uses while idle for a minute with three serial ports.
# Usage: bench/modem.sh [BUILD_DIR] [PAGES] [IDLE_SECONDS]   (defaults: build 60 60)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
pages=${2:-60}
idle=${3:-60}
scratch=$(mktemp -d /tmp/cvb-XXXXXX)  # short: a port name holds 29 characters
pids=()
cleanup() { for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

system() {  # name port number
  printf "[%s]\nSystemType = Tap\nPort = '%s'\nBaud = 9600\nParity = Even\nDataBits = 7\nStopBits = 1\n" "$1" "$2"
  printf "TapPassWord = 'PW'\nSystemPhoneNumber = '%s'\n" "$3"
}

start_sim() {  # dir port baud
  printf "[modem]\ndial_ms = 300\n[number 5551234]\nresult = CONNECT %s\npassword = PW\nbaud = %s\n" "$3" "$3" > "$1/sim-$3.ini"
  (cd "$1" && exec "$build/bin/corvsim" "$2" "sim-$3.ini" "record-$(basename "$2").txt" > /dev/null 2>&1) &
  pids+=($!)
  for _ in $(seq 1 50); do [ -L "$2" ] && break; sleep 0.1; done
}

start_server() {  # dir
  (cd "$1" && CORVEL_PIPE="$1/CORVD" exec "$build/bin/corvd32" > corvd32.out 2>&1) &
  pids+=($!)
  for _ in $(seq 1 100); do [ -S "$1/CORVD" ] && break; sleep 0.1; done
}

message="Benchmark page: the quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJ"  # 80 characters
echo "== TAP multiple-message mode, $pages pages of ${#message} characters"
printf "%-6s %8s %10s %12s %14s %10s\n" baud calls seconds pages/min bound-pages/min of-bound
for baud in 2400 9600; do
  dir="$scratch/b$baud"; mkdir -p "$dir"
  port="$dir/p"
  start_sim "$dir" "$port" "$baud"
  { echo "MaxReTrys = 0"; echo "PagerSystemsSection"; system Sim "$port" 5551234
    printf "NameSection\n[Ann]\nPageID = '1234567'\nPagerType = Alphanumeric\nSystemName = 'Sim'\n"; } > "$dir/page.ini"
  start_server "$dir"
  for i in $(seq 1 "$pages"); do CORVEL_PIPE="$dir/CORVD" "$build/bin/corvadmin" page Ann "$message" > /dev/null; done
  for _ in $(seq 1 3000); do
    grep -q "Message(#$pages) sent" "$dir/log.txt" 2>/dev/null && break
    sleep 0.1
  done
  sleep 0.5
  awk -v baud="$baud" -v pages="$pages" '
    /^CALL / { for (i = 1; i <= NF; i++) if ($i ~ /^t=/) { t = substr($i, 3) + 0; if (first == "") first = t } calls++ }
    /^WIRE / { for (i = 1; i <= NF; i++) { if ($i ~ /^t=/) last = substr($i, 3) + 0
                                           if ($i ~ /^in=/) bytes += substr($i, 4); if ($i ~ /^out=/) bytes += substr($i, 5) } }
    /^PAGE / { sent++ }
    END {
      secs = (last - first) / 1000.0; bound = bytes * 10.0 / baud
      printf "%-6s %8d %10.1f %12.1f %14.1f %9.0f%%\n", baud, calls, secs, sent / secs * 60, sent / bound * 60, bound / secs * 100
    }' "$dir/record-p.txt"
  cleanup; pids=()
done

echo "== idle corvd32 with three ports, ${idle} s"
dir="$scratch/idle"; mkdir -p "$dir"
{ echo "PagerSystemsSection"
  for n in 1 2 3; do start_sim "$dir" "$dir/p$n" 9600; system "S$n" "$dir/p$n" 5551234; done
  printf "NameSection\n[Ann]\nPageID = '1'\nPagerType = Alphanumeric\nSystemName = 'S1'\n"; } > "$dir/page.ini"
start_server "$dir"
server=${pids[-1]}
sleep 3
ticks() { awk '{ print $14 + $15 }' "/proc/$server/stat"; }
before=$(ticks); sleep "$idle"; after=$(ticks)
hz=$(getconf CLK_TCK)
awk -v d=$((after - before)) -v hz="$hz" -v s="$idle" \
  'BEGIN { printf "cpu time %.3f s in %d s = %.3f%% of one core\n", d / hz, s, d / hz / s * 100 }'
rm -rf "$scratch"
