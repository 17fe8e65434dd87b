#!/usr/bin/env bash
# Prints pages accepted per second through corvhttp's POST /api/v1/pages and through
# corvnet32's SNPP, with 1 and with 16 clients, in one run against the same corvd32 on
# 127.0.0.1 (not a test; nothing is judged). A page counts when its reply said it was taken
# (202, or "250 Message Sent OK"). Clients are Python threads with one kept-alive
# connection each. Usage: bench/http.sh [build-folder] [pages-per-client]
set -euo pipefail
build=""
[ -n "${1:-}" ] && build=$(realpath "$1")
per=${2:-200}
cd "$(dirname "$0")/.."
build=${build:-$(realpath build)}
bin="$build/bin"
for p in corvd32 corvnet32 corvhttp; do
  [ -x "$bin/$p" ] || { echo "missing $bin/$p: build it first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/corvel-measure-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_for() {  # file text seconds
  for _ in $(seq 1 $(($3 * 20))); do grep -qF "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
  echo "timed out waiting for '$2' in $1" >&2; exit 1
}

snpp=$(free_port)
http=$(free_port)
export CORVEL_PIPE="$work/pipe"
# A system whose port does not exist: every page stays queued, so the figures are the front
# doors' and the pipe's, not a modem's. The Main queue holds every page of the run.
cat > "$work/page.ini" <<EOF2
GlobalSection
QueueSize = 29999
PagerSystemsSection
[Metro]
SystemType = Tap
Port = '$work/no-such-port'
SystemPhoneNumber = '5550100'
NameSection
[Ann]
PageID = '12345'
SystemName = 'Metro'
EOF2
printf 'TcpPort=%s\nIdleTimeout=600\n' "$snpp" > "$work/SNPP.INI"
echo "bench-token" > "$work/tokens"
chmod 600 "$work/tokens"
printf 'HttpPort=%s\nBindAddress=127.0.0.1\nTokens=tokens\n' "$http" > "$work/HTTP.INI"

(cd "$work" && exec "$bin/corvd32" > corvd32.out 2>&1) & pids+=($!)
wait_for "$work/log.txt" "CORVD32: Paging server started successfully" 20
(cd "$work" && exec "$bin/corvnet32" > corvnet32.out 2>&1) & pids+=($!)
(cd "$work" && exec "$bin/corvhttp" > corvhttp.out 2>&1) & pids+=($!)
wait_for "$work/log.txt" "CORVNET32: Server started successfully" 20
wait_for "$work/log.txt" "CORVHTTP: Server started successfully" 20

python3 - "$http" "$snpp" "$per" <<'PY'
import http.client, socket, sys, threading, time
http_port, snpp_port, per = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
body = b'{"to": ["Ann"], "text": "bench page"}'
headers = {"Authorization": "Bearer bench-token", "Content-Type": "application/json"}

def http_client(n, ok):
    c = http.client.HTTPConnection("127.0.0.1", http_port, timeout=30)
    for _ in range(n):
        c.request("POST", "/api/v1/pages", body, headers)
        r = c.getresponse(); r.read()
        if r.status == 202: ok.append(1)

def snpp_client(n, ok):
    s = socket.create_connection(("127.0.0.1", snpp_port), timeout=30)
    f = s.makefile("rb")
    f.readline()
    for _ in range(n):
        s.sendall(b"PAGE Ann\r\nMESS bench page\r\nSEND\r\n")
        f.readline(); f.readline()
        if f.readline().startswith(b"250 Message Sent OK"): ok.append(1)
    s.sendall(b"QUIT\r\n"); f.readline(); s.close()

def run(kind, clients):
    ok, threads = [], []
    n = per if clients == 1 else max(1, per // 4)
    start = time.monotonic()
    for _ in range(clients):
        t = threading.Thread(target=http_client if kind == "http" else snpp_client, args=(n, ok))
        t.start(); threads.append(t)
    for t in threads: t.join()
    took = time.monotonic() - start
    print(f"{kind:5} {clients:2} client(s): {len(ok):5} pages in {took:6.2f} s = {len(ok)/took:7.1f} pages/s")

for clients in (1, 16):
    run("http", clients)
    run("snpp", clients)
PY
