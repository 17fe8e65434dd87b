#!/usr/bin/env bash
# Benchmark of delivery over IP through corvd32 (prints figures; not a test):
#  1. pages per second from corvd32's queues to a local WCTP carrier and to a local
#     TAP-over-TCP terminal (corvsim on 127.0.0.1), with Connections = 1 and 4. The pages
#     are queued first while the carrier is not listening yet, then the carrier starts and
#     the clock runs until the log shows every page sent, so the figure is the delivery
#     path's alone (not the pipe's). corvd32 runs with CORVEL_TIME_SCALE=1000 so the retry
#     waits before the carrier appears cost nothing; that also shortens TAP's fixed pause of
#     one second after "ID=", so the TAP figure is the session's throughput without it.
#  2. the resident memory of corvd32 idle with three IP systems (WCTP, SNPP, TAP over TCP),
#     beside one with a single modem system that has no port.
# Usage: bench/ip_e2e.sh [BUILD_DIR] [PAGES]   (defaults: build 500)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
pages=${2:-500}
scratch=$(mktemp -d /tmp/cvi-XXXXXX)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
now_ms() { date +%s%3N; }

start_server() {  # dir
  (cd "$1" && CORVEL_PIPE="$1/CORVD" CORVEL_TIME_SCALE=1000 exec "$build/bin/corvd32" > corvd32.out 2>&1) &
  pids+=($!)
  server_pid=$!
  for _ in $(seq 1 100); do [ -S "$1/CORVD" ] && break; sleep 0.1; done
}
stop_last() { kill -TERM "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; }

message="Benchmark page: the quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJ"  # 80 characters
echo "== $pages pages of ${#message} characters through corvd32 to a carrier on 127.0.0.1"
printf "%-14s %12s %10s %10s\n" carrier connections seconds pages/s
for kind in wctp tap; do
  for connections in 1 4; do
    dir="$scratch/$kind-$connections"; mkdir -p "$dir"
    port=$(free_port)
    if [ "$kind" = wctp ]; then
      system="SystemType = Wctp\nWctpUrl = 'http://127.0.0.1:$port/wctp'\nWctpSenderID = 'corvel'\n"
      printf "[wctp]\nport = %s\n" "$port" > "$dir/sim.ini"
    else
      system="SystemType = Tap\nTapHost = '127.0.0.1:$port'\nTapPassWord = 'PW'\n"
      printf "[tap-tcp]\nport = %s\npassword = PW\n" "$port" > "$dir/sim.ini"
    fi
    printf "MaxReTrys = 0\nQueueSize = %s\nPagerSystemsSection\n[Net]\n${system}Connections = %s\nNameSection\n[Ann]\nPageID = '1234567'\nPagerType = Alphanumeric\nSystemName = 'Net'\n" \
      "$((pages + 10))" "$connections" > "$dir/page.ini"
    start_server "$dir"
    for _ in $(seq 1 "$pages"); do CORVEL_PIPE="$dir/CORVD" "$build/bin/corvadmin" page Ann "$message" > /dev/null; done
    start=$(now_ms)
    (cd "$dir" && exec "$build/bin/corvsim" - sim.ini record.txt > /dev/null 2>&1) &
    pids+=($!)
    sim_pid=$!
    for _ in $(seq 1 6000); do
      [ "$(grep -c ') sent to Ann' "$dir/log.txt" 2>/dev/null || true)" -ge "$pages" ] && break
      sleep 0.02
    done
    end=$(now_ms)
    sent=$(grep -c ') sent to Ann' "$dir/log.txt" || true)
    awk -v k="$kind" -v c="$connections" -v ms="$((end - start))" -v n="$sent" \
      'BEGIN { printf "%-14s %12d %10.2f %10.1f\n", k, c, ms / 1000.0, n / (ms / 1000.0) }'
    stop_last
    kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true
  done
done

echo "== resident memory of corvd32, idle for 5 s"
dir="$scratch/idle"; mkdir -p "$dir"
printf "PagerSystemsSection\n[Carrier]\nSystemType = Wctp\nWctpUrl = 'http://127.0.0.1:9/wctp'\nWctpSenderID = 'corvel'\nWctpStatus = ClientQuery\n[Snpp]\nSystemType = Snpp\nSnppHost = '127.0.0.1'\nSnppPort = 9\n[Net]\nSystemType = Tap\nTapHost = '127.0.0.1:9'\nConnections = 4\nNameSection\n[Ann]\nPageID = '1'\nPagerType = Alphanumeric\nSystemName = 'Carrier'\n" > "$dir/page.ini"
start_server "$dir"
sleep 5
ip_rss=$(awk '/VmRSS/ { print $2 }' "/proc/$server_pid/status")
ip_threads=$(awk '/Threads/ { print $2 }' "/proc/$server_pid/status")
stop_last
dir="$scratch/modem"; mkdir -p "$dir"
printf "MaxReTrys = 0\nPagerSystemsSection\n[Metro]\nSystemType = Tap\nPort = '/nonexistent/tty1'\nNameSection\n[Ann]\nPageID = '1'\nPagerType = Alphanumeric\nSystemName = 'Metro'\n" > "$dir/page.ini"
start_server "$dir"
sleep 5
modem_rss=$(awk '/VmRSS/ { print $2 }' "/proc/$server_pid/status")
stop_last
printf "%-44s %8s kB (%s threads)\n" "three IP systems (WCTP, SNPP, TAP with 4 connections)" "$ip_rss" "$ip_threads"
printf "%-44s %8s kB\n" "one modem system" "$modem_rss"
rm -rf "$scratch"
