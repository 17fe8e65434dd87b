#!/usr/bin/env bash
# Prints two figures of the web front end and the command-line client, measured on this
# machine against the real programs on 127.0.0.1 (not a test; nothing is judged):
#  - corvsend wall time for one page through the local corvnet32 to corvd32;
#  - requests per second of corvweb's status view run by lighttpd (CGI, one process each).
# Usage: bench/web.sh [build-folder]   (default: build)
set -euo pipefail
build=""
[ -n "${1:-}" ] && build=$(realpath "$1")
cd "$(dirname "$0")/.."
build=${build:-$(realpath build)}
bin="$build/bin"
for p in corvd32 corvnet32 corvsend corvweb; do
  [ -x "$bin/$p" ] || { echo "missing $bin/$p: build it first" >&2; exit 1; }
done
command -v lighttpd >/dev/null || { echo "lighttpd is not installed (tools/packages/web.txt)" >&2; exit 1; }

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
web=$(free_port)
export CORVEL_PIPE="$work/pipe"
cat > "$work/page.ini" <<EOF
GlobalSection
HostName = '127.0.0.1'
TcpPort = $snpp
MaxReTrys = 1000
PagerSystemsSection
[Metro]
Port = '$work/no-such-port'
NameSection
[Ann]
PageID = '1001'
PagerType = Alphanumeric
SystemName = 'Metro'
EOF
echo "TcpPort=$snpp" > "$work/SNPP.INI"
(cd "$work" && exec "$bin/corvd32" > corvd32.out 2>&1) & pids+=($!)
wait_for "$work/log.txt" "Paging server started successfully" 10
(cd "$work" && exec "$bin/corvnet32" > corvnet32.out 2>&1) & pids+=($!)
wait_for "$work/log.txt" "CORVNET32: Server started successfully" 10

runs=50
times=()
for _ in $(seq 1 $runs); do
  start=$(date +%s%N)
  out=$(cd "$work" && "$bin/corvsend" Ann "Measured page")
  end=$(date +%s%N)
  [ -z "$out" ] || { echo "corvsend said: $out" >&2; exit 1; }
  times+=($(( (end - start) / 1000 )))
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
median=$(echo "$sorted" | sed -n "$((runs / 2))p")
echo "corvsend, one page through corvnet32 to corvd32 ($runs runs, whole process incl. page.ini load):"
printf '  min %.1f ms   median %.1f ms   max %.1f ms\n' \
  "$(echo "$sorted" | head -1 | awk '{print $1/1000}')" "$(echo "$median" | awk '{print $1/1000}')" \
  "$(echo "$sorted" | tail -1 | awk '{print $1/1000}')"
queued=$(grep -c "CORVNET32: Queued page for: Ann" "$work/log.txt" || true)
echo "  pages queued by corvnet32: $queued of $runs"

mkdir -p "$work/htdocs/cgi-bin" "$work/htdocs/snpp-bin"
ln -s "$bin/corvweb" "$work/htdocs/cgi-bin/corvweb"
ln -s "$bin/corvweb" "$work/htdocs/snpp-bin/corvweb"
printf 'HostName = "127.0.0.1"\nTcpPort = %s\n' "$snpp" > "$work/htdocs/snpp-bin/wwwpage.ini"
cat > "$work/lighttpd.conf" <<EOF
server.document-root = "$work/htdocs"
server.bind = "127.0.0.1"
server.port = $web
server.modules = ("mod_cgi", "mod_setenv")
server.errorlog = "$work/lighttpd-error.log"
\$HTTP["url"] =~ "^/(cgi|snpp)-bin/" { cgi.assign = ("" => "") }
setenv.add-environment = ("CORVEL_PIPE" => "$CORVEL_PIPE")
EOF
lighttpd -D -f "$work/lighttpd.conf" > "$work/lighttpd.out" 2>&1 & pids+=($!)
for _ in $(seq 1 100); do python3 -c "import socket; socket.create_connection(('127.0.0.1',$web),0.2)" 2>/dev/null && break; sleep 0.05; done

python3 - "$web" <<'EOF'
import sys, threading, time, urllib.request
port = int(sys.argv[1])
def worker(url, count, failures):
    for _ in range(count):
        with urllib.request.urlopen(url, timeout=10) as r:
            body = r.read()
            if not body.startswith(b"<PRE>\nCorvel.  Version"):
                failures.append(body[:80])
for mode, folder in (("pipe mode to corvd32", "cgi-bin"), ("SNPP mode through corvnet32", "snpp-bin")):
  url = f"http://127.0.0.1:{port}/{folder}/corvweb?status"
  print(f"corvweb status view under lighttpd (CGI, {mode}):")
  for clients, per in ((1, 400), (2, 300), (4, 150)):
    failures = []
    threads = [threading.Thread(target=worker, args=(url, per, failures)) for _ in range(clients)]
    start = time.monotonic()
    for t in threads: t.start()
    for t in threads: t.join()
    took = time.monotonic() - start
    total = clients * per
    print(f"  {clients} client(s): {total} requests in {took:.2f} s = {total / took:.0f} requests/s"
          f"{'' if not failures else f'  ({len(failures)} wrong answers)'}")
EOF
